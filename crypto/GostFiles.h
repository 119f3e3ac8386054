#pragma once

#include "crypto/GostError.h"
#include "crypto/detail/LayoutStream.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace korvane {

class clsCrypGost;

// What clsCrypGost::EncryptFile and DecryptFile did, for callers that must say why they failed.
struct FileOperationResult {
    enum class Failure {
        None,           // OutFile was written
        InputMissing,   // the length of InFile cannot be read; systemError says why
        OutputExists,   // OutFile exists (a dangling symbolic link included) and Overwrite is false
        OutputNotAFile, // OutFile, after any symbolic links, is a folder, FIFO, socket or device:
                        // never replaced, whatever Overwrite says; outFileType says which
        ReadFailed,     // InFile could not be read, or changed length while read; systemError says why
        CipherFailed,   // the byte operation failed; cipherError holds its error when it raised one,
                        // systemError is set when memory or the entropy source ran out
        WriteFailed,    // OutFile could not be written or replaced; systemError says why
    };

    Failure failure = Failure::None;
    std::error_code systemError;
    std::optional<GostError> cipherError;
    std::filesystem::file_type outFileType = std::filesystem::file_type::none;

    [[nodiscard]] bool Written() const noexcept { return failure == Failure::None; }
};

// The size of the one buffer EncryptFile and DecryptFile stream through, whatever the file's size.
inline constexpr std::size_t kFileBufferSize = detail::kStreamBufferSize;

// The file operations of clsCrypGost with their reason. They stream: the input is read, ciphered
// and written in pieces through one buffer of a fixed size, whatever the file's size, with the
// same output and Progress events as EncryptByte and DecryptByte on the whole file.
//
// OutFile is replaced the way QSaveFile replaces a file: the output goes to a new file in
// OutFile's folder (unnamed until complete where the system allows), flushed to the disk and
// then renamed over OutFile, and the folder flushed; so OutFile is either the complete new file
// or exactly what it was before, and the new file never stays behind after a failure. A
// symbolic link at OutFile is followed and kept: its target is replaced. A replaced file keeps
// its permission bits, and its owner and group where the process may set them.
//
// Key is assigned only once the first piece of the input has been read (and, for decryption,
// the input is at least 16 bytes long). Never throws.
FileOperationResult EncryptFileWithReason(clsCrypGost& Cipher, const std::filesystem::path& InFile,
                                          const std::filesystem::path& OutFile, bool Overwrite,
                                          std::string_view Key = {}) noexcept;
FileOperationResult DecryptFileWithReason(clsCrypGost& Cipher, const std::filesystem::path& InFile,
                                          const std::filesystem::path& OutFile, bool Overwrite,
                                          std::string_view Key = {}) noexcept;

// The checks both operations make before any work (InputMissing, OutputExists, OutputNotAFile),
// for a front end that asks for a key only when there is work to do. Never throws.
FileOperationResult CheckFileOperation(const std::filesystem::path& InFile, const std::filesystem::path& OutFile,
                                       bool Overwrite) noexcept;

// Removes the temporary file of every EncryptFile and DecryptFile under way in this process,
// with async-signal-safe calls only: for the handler of a signal that ends the program (SIGINT,
// SIGTERM, SIGHUP), which must then end it. Where the temporary file has no name (Linux), the
// system removes it with the process anyway.
void DiscardUnfinishedFiles() noexcept;

} // namespace korvane
