#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

// The file system calls of EncryptFile and DecryptFile (POSIX, with a plainer form for Windows).
// Every function reports failure as the system's reason and throws nothing.
namespace korvane::detail {

// A regular file open for reading, with the length the open file has.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::error_code Open(const std::filesystem::path& path) noexcept;
    [[nodiscard]] std::uint64_t Length() const noexcept { return m_length; }
    // Exactly `size` bytes; a file that ends sooner gives io_error.
    std::error_code Read(std::uint8_t* into, std::size_t size) noexcept;
    // io_error unless the file ends here: it grew while it was read.
    std::error_code ExpectEnd() noexcept;

private:
#ifdef _WIN32
    std::FILE* m_file = nullptr;
#else
    int m_fd = -1;
#endif
    std::uint64_t m_length = 0;
};

// A new file that takes the place of `target` only on Commit, the way QSaveFile does: until then
// `target` is as it was, and the new file is gone when this object ends without a Commit, or
// when DiscardUnfinishedSaves runs. Where the file system allows (Linux O_TMPFILE) the new file
// has no name until it is complete; elsewhere it is a short hidden name in target's folder, so
// a target name as long as the file system allows still works.
class SaveFile {
public:
    enum class Temporary {
        Unnamed, // when the file system can, else Named
        Named,
    };

    SaveFile() = default;
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Creates the new file in target's folder. When `replacing`, target is a regular file whose
    // permission bits the new file takes, and its owner and group where the process may set
    // them; otherwise the new file is made as a plain new file would be.
    std::error_code Open(const std::filesystem::path& target, bool replacing,
                         Temporary temporary = Temporary::Unnamed) noexcept;
    std::error_code Write(const std::uint8_t* data, std::size_t size) noexcept;
    // Flushes the data to the disk, puts the file in target's place, flushes the folder.
    std::error_code Commit() noexcept;

    // The new file's current name in the folder; empty while it has none. For tests.
    [[nodiscard]] std::filesystem::path TemporaryPath() const;

private:
    void Discard() noexcept;

    std::filesystem::path m_target;
    std::filesystem::path m_temporaryName; // within the folder; empty while the file has none
    int m_slot = -1;                       // its entry for DiscardUnfinishedSaves
#ifdef _WIN32
    std::FILE* m_file = nullptr;
#else
    int m_fd = -1;
    int m_folder = -1;
    std::uint64_t m_written = 0;
#endif
};

// Removes the named temporary file of every SaveFile under way in this process. Only
// async-signal-safe calls: for a signal handler that then ends the process.
void DiscardUnfinishedSaves() noexcept;

} // namespace korvane::detail
