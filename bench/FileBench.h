#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane::bench {

struct FileTiming {
    std::string name;
    double seconds = 0;                    // median
    std::optional<double> peakGrowthBytes; // the file operations only: the largest of their runs
};

struct FileReport {
    std::string folder;
    double megabytes = 0;
    std::size_t bufferBytes = 0;
    int runs = 0;
    std::vector<FileTiming> timings;
    double encryptVsMemory = 0;
    double decryptVsMemory = 0;
    std::optional<double> peakRssMegabytes;
};

// EncryptFile and DecryptFile on a 256 MiB file in the page cache, beside EncryptByte and
// DecryptByte on the same bytes in memory and a plain read/write copy of the file through a
// buffer of the size the file operations use; openssl's AES-256-CBC on the same file for
// reference. Ends the program with a message when a run fails or comes out wrong.
FileReport MeasureFiles();

void PrintFiles(const FileReport& report);

} // namespace korvane::bench
