#pragma once

#include "GostError.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace korvane {

class clsCrypGost;

// What clsCrypGost::EncryptFile and DecryptFile did, for callers that must say why they failed.
struct FileOperationResult {
    enum class Failure {
        None,         // OutFile was written
        InputMissing, // the length of InFile cannot be read; systemError says why
        OutputExists, // OutFile exists and Overwrite is false
        ReadFailed,   // InFile could not be read; systemError says why
        CipherFailed, // the byte operation failed; cipherError holds its error when it raised one,
                      // systemError is set when memory or the entropy source ran out
        WriteFailed,  // OutFile could not be written or replaced; systemError says why
    };

    Failure failure = Failure::None;
    std::error_code systemError;
    std::optional<GostError> cipherError;

    [[nodiscard]] bool Written() const noexcept { return failure == Failure::None; }
};

// The file operations of clsCrypGost with their reason. The output is written to a temporary
// file beside OutFile, which is then renamed over it, so OutFile is either the complete new file
// or exactly what it was before. Key is assigned only once the input has been read (and, for
// decryption, is at least 16 bytes long). Never throws.
FileOperationResult EncryptFileWithReason(clsCrypGost& Cipher, const std::filesystem::path& InFile,
                                          const std::filesystem::path& OutFile, bool Overwrite,
                                          std::string_view Key = {}) noexcept;
FileOperationResult DecryptFileWithReason(clsCrypGost& Cipher, const std::filesystem::path& InFile,
                                          const std::filesystem::path& OutFile, bool Overwrite,
                                          std::string_view Key = {}) noexcept;

} // namespace korvane
