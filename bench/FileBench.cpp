// The file operations against what they are made of: EncryptFile on a 256 MiB file in the page
// cache, over the time of EncryptByte on the same bytes in memory plus a plain read/write copy
// of the file through a buffer of the same size as the file operations'; likewise DecryptFile.
// A ratio near 1 means the file operations add nothing to the cipher and the copying they cannot
// avoid. Each time is the median of a few runs, alternated so any drift falls on all alike.
//
// The files live in KORVANE_BENCH_DIR, else in /dev/shm where it exists: the whole measurement is
// then in memory, the flush to disk that ends every replace costs nothing, and the figures show
// the work of this program rather than the speed of a disk shared with others.
//
// Memory: the rise of this process's resident memory at its peak during one file operation (the
// kernel's high-water mark, reset just before it), the larger of encryption and decryption.
//
// openssl enc -aes-256-cbc -pbkdf2 on the same file is timed beside, for reference only: it is
// what people use to encrypt a file, with a different cipher.

#include "bench/FileBench.h"
#include "bench/BenchSupport.h"
#include "bench/PeakMemory.h"

#include "crypto/GostFiles.h"
#include "crypto/clsCrypGost.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane::bench {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFileSize = std::size_t{256} << 20;
// The copy goes through a buffer of the size the file operations stream through.
constexpr std::size_t kCopyBufferSize = korvane::kFileBufferSize;
constexpr int kRuns = 3;
constexpr const char* kKey = "Korvane bench key for files";

fs::path BenchFolder()
{
    if (const char* chosen = std::getenv("KORVANE_BENCH_DIR"); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    std::error_code ignored;
    if (fs::is_directory("/dev/shm", ignored)) {
        return "/dev/shm";
    }
    return fs::temp_directory_path();
}

// A folder of this run's own, removed with everything in it.
class RunFolder {
public:
    explicit RunFolder(const fs::path& parent)
    {
        std::string pattern = (parent / "korvane-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot make a folder in " + parent.string() + ": " + std::strerror(errno));
        }
        m_path = pattern;
    }
    ~RunFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, const fs::path& path)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Fail("cannot write " + path.string() + ": " + std::strerror(errno));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// read() and write() through one buffer of `bufferSize`: the least any file operation must do.
void CopyFile(const fs::path& from, const fs::path& to, Bytes& buffer)
{
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) {
        Fail("cannot open " + from.string() + " or " + to.string() + ": " + std::strerror(errno));
    }
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            Fail("cannot read " + from.string() + ": " + std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        WriteAll(out, buffer.data(), static_cast<std::size_t>(n), to);
    }
    close(in);
    if (close(out) != 0) {
        Fail("cannot close " + to.string() + ": " + std::strerror(errno));
    }
}

// Compares through a small buffer, so the check adds nothing to the memory measured.
bool SameContent(const fs::path& a, const fs::path& b)
{
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(1 << 20);
    std::vector<char> bb(1 << 20);
    while (same) {
        const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0) {
            break;
        }
    }
    if (fa != nullptr) {
        std::fclose(fa);
    }
    if (fb != nullptr) {
        std::fclose(fb);
    }
    return same;
}

// Runs `arguments` (found on PATH) with its output thrown away; false when it cannot run or fails.
bool RunProgram(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    std::vector<std::string> copies = arguments;
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Bytes RandomBytes(std::size_t size)
{
    Bytes bytes(size);
    std::mt19937 random(20261210);
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        const std::uint32_t word = random();
        std::memcpy(&bytes[i], &word, 4);
    }
    return bytes;
}

} // namespace

FileReport MeasureFiles()
{
    FileReport report;
    const fs::path parent = BenchFolder();
    const RunFolder folder(parent);
    const fs::path plain = folder.path() / "plain";
    const fs::path encrypted = folder.path() / "encrypted";
    const fs::path decrypted = folder.path() / "decrypted";
    const fs::path copy = folder.path() / "copy";
    const fs::path aes = folder.path() / "aes";
    const fs::path aesBack = folder.path() / "aes-back";

    Bytes memory = RandomBytes(kFileSize);
    {
        const int fd = open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            Fail("cannot create " + plain.string() + ": " + std::strerror(errno));
        }
        WriteAll(fd, memory.data(), memory.size(), plain);
        close(fd);
    }
    const Bytes original = memory;
    memory.reserve(kFileSize + 32); // EncryptByte grows it in place, as in the CBC part
    Bytes copyBuffer(kCopyBufferSize);

    korvane::clsCrypGost cipher;
    cipher.Key(kKey);
    std::vector<double> encryptFile, decryptFile, encryptMemory, decryptMemory, copies, aesEncrypt, aesDecrypt;
    std::optional<double> encryptGrowth;
    std::optional<double> decryptGrowth;
    const auto measureGrowth = [](std::optional<double>& peak, const std::function<void()>& work) {
        const PeakMemoryGrowth growth;
        const double seconds = Seconds(work);
        if (const std::optional<std::int64_t> bytes = growth.growth()) {
            peak = std::max(peak.value_or(0.0), static_cast<double>(*bytes));
        }
        return seconds;
    };
    const std::string pass = std::string("pass:") + kKey;
    bool opensslRan = true;

    for (int run = 0; run < kRuns; ++run) {
        copies.push_back(Seconds([&] { CopyFile(plain, copy, copyBuffer); }));

        encryptFile.push_back(measureGrowth(encryptGrowth, [&] {
            if (!cipher.EncryptFile(plain, encrypted, true)) {
                Fail("EncryptFile failed");
            }
        }));
        encryptMemory.push_back(Seconds([&] { cipher.EncryptByte(memory); }));

        decryptFile.push_back(measureGrowth(decryptGrowth, [&] {
            if (!cipher.DecryptFile(encrypted, decrypted, true)) {
                Fail("DecryptFile failed");
            }
        }));
        decryptMemory.push_back(Seconds([&] { cipher.DecryptByte(memory); }));
        if (memory != original) {
            Fail("EncryptByte and DecryptByte did not give back the bytes");
        }
        if (!SameContent(plain, decrypted)) {
            Fail("EncryptFile and DecryptFile did not give back the file");
        }

        if (opensslRan) {
            aesEncrypt.push_back(Seconds([&] {
                opensslRan = RunProgram({"openssl", "enc", "-aes-256-cbc", "-pbkdf2", "-in", plain.string(), "-out",
                                         aes.string(), "-pass", pass});
            }));
            aesDecrypt.push_back(Seconds([&] {
                opensslRan = opensslRan
                    && RunProgram({"openssl", "enc", "-d", "-aes-256-cbc", "-pbkdf2", "-in", aes.string(), "-out",
                                   aesBack.string(), "-pass", pass});
            }));
        }
    }
    if (!SameContent(plain, copy)) {
        Fail("the plain copy differs from its file");
    }

    report.folder = parent.string();
    report.megabytes = static_cast<double>(kFileSize) / 1e6;
    report.bufferBytes = kCopyBufferSize;
    report.runs = kRuns;
    const double copySeconds = Median(copies);
    report.timings = {
        {"EncryptFile", Median(encryptFile), encryptGrowth},
        {"EncryptByte in memory", Median(encryptMemory), std::nullopt},
        {"DecryptFile", Median(decryptFile), decryptGrowth},
        {"DecryptByte in memory", Median(decryptMemory), std::nullopt},
        {"read/write copy", copySeconds, std::nullopt},
    };
    if (opensslRan) {
        report.timings.push_back({"openssl enc -aes-256-cbc -pbkdf2", Median(aesEncrypt), std::nullopt});
        report.timings.push_back({"openssl enc -d -aes-256-cbc -pbkdf2", Median(aesDecrypt), std::nullopt});
    }
    report.encryptVsMemory = Median(encryptFile) / (Median(encryptMemory) + copySeconds);
    report.decryptVsMemory = Median(decryptFile) / (Median(decryptMemory) + copySeconds);
    if (encryptGrowth && decryptGrowth) {
        report.peakRssMegabytes = std::max(*encryptGrowth, *decryptGrowth) / double(1 << 20);
    }
    return report;
}

void PrintFiles(const FileReport& report)
{
    std::printf("Files of %.0f MiB in the page cache (%s), buffer %zu KiB, median of %d\n",
                report.megabytes * 1e6 / double(1 << 20), report.folder.c_str(), report.bufferBytes / 1024, report.runs);
    std::printf("%-38s %9s %9s %16s\n", "operation", "seconds", "MB/s", "peak RSS MiB");
    for (const FileTiming& t : report.timings) {
        char growth[32] = "-";
        if (t.peakGrowthBytes) {
            std::snprintf(growth, sizeof growth, "%.1f", *t.peakGrowthBytes / double(1 << 20));
        }
        std::printf("%-38s %9.3f %9.1f %16s\n", t.name.c_str(), t.seconds, report.megabytes / t.seconds, growth);
    }
    std::printf("file_encrypt_vs_memory %.3f\n", report.encryptVsMemory);
    std::printf("file_decrypt_vs_memory %.3f\n", report.decryptVsMemory);
    if (report.peakRssMegabytes) {
        std::printf("file_peak_rss_mb %.1f\n", *report.peakRssMegabytes);
    } else {
        std::printf("file_peak_rss_mb n/a\n");
    }
}

} // namespace korvane::bench
