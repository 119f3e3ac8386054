#include "GostFiles.h"

#include "clsCrypGost.h"
#include "detail/Layout.h"
#include "detail/Platform.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace korvane {
namespace {

namespace fs = std::filesystem;
using Failure = FileOperationResult::Failure;

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::error_code LastSystemError() noexcept
{
    const int error = errno;
    return error != 0 ? std::error_code(error, std::generic_category())
                      : std::make_error_code(std::errc::io_error);
}

// True when the length of the file at `path` can be read; `reason` says why not otherwise.
bool FileExist(const fs::path& path, std::error_code& reason) noexcept
{
    reason.clear();
    static_cast<void>(fs::file_size(path, reason));
    return !reason;
}

std::error_code ReadWholeFile(const fs::path& path, std::vector<std::uint8_t>& bytes)
{
    errno = 0;
    const FilePtr file(detail::OpenFile(path, "rb"));
    if (!file) {
        return LastSystemError();
    }
    std::error_code reason;
    const std::uintmax_t length = fs::file_size(path, reason);
    if (reason) {
        return reason;
    }
    if (length > std::numeric_limits<std::size_t>::max()) {
        return std::make_error_code(std::errc::file_too_large);
    }
    bytes.resize(static_cast<std::size_t>(length));
    errno = 0;
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        // A file that shrank after its length was taken reads short without an error of its own.
        return std::ferror(file.get()) != 0 ? LastSystemError() : std::make_error_code(std::errc::io_error);
    }
    return {};
}

fs::path TemporaryPathBeside(const fs::path& target)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::uint32_t word = detail::OsRandomWord();
    std::string suffix = ".";
    for (int i = 0; i < 8; ++i, word >>= 4) {
        suffix += kDigits[word & 0xF];
    }
    suffix += ".tmp";
    fs::path temporary = target;
    temporary += suffix;
    return temporary;
}

// Writes `bytes` to a new file beside `target` and renames it over `target` once it is complete
// and closed, so a failure at any point leaves `target` as it was.
std::error_code WriteFileReplacing(const fs::path& target, const std::vector<std::uint8_t>& bytes)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const fs::path temporary = TemporaryPathBeside(target);
        errno = 0;
        FilePtr file(detail::OpenFile(temporary, "wbx"));
        if (!file) {
            if (errno == EEXIST) {
                continue;
            }
            return LastSystemError();
        }
        std::error_code reason;
        errno = 0;
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
            reason = LastSystemError();
        }
        errno = 0;
        if (std::fclose(file.release()) != 0 && !reason) {
            reason = LastSystemError();
        }
        if (!reason) {
            fs::rename(temporary, target, reason);
        }
        if (reason) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
        }
        return reason;
    }
    return std::make_error_code(std::errc::file_exists);
}

FileOperationResult RunFileOperation(clsCrypGost& cipher, const fs::path& inFile, const fs::path& outFile,
                                     bool overwrite, std::string_view key, bool encrypt) noexcept
{
    FileOperationResult result;
    Failure stage = Failure::InputMissing;
    try {
        if (!FileExist(inFile, result.systemError)) {
            result.failure = Failure::InputMissing;
            return result;
        }
        std::error_code ignored;
        if (FileExist(outFile, ignored) && !overwrite) {
            result.failure = Failure::OutputExists;
            return result;
        }

        stage = Failure::ReadFailed;
        std::vector<std::uint8_t> bytes;
        if (const std::error_code reason = ReadWholeFile(inFile, bytes)) {
            result.failure = Failure::ReadFailed;
            result.systemError = reason;
            return result;
        }

        stage = Failure::CipherFailed;
        if (encrypt) {
            cipher.EncryptByte(bytes, key);
        } else {
            // The empty array would decrypt to itself: no layout is shorter than two blocks.
            if (bytes.size() < detail::kMinLayoutLength) {
                throw GostError::IncorrectSizeDescriptor();
            }
            cipher.DecryptByte(bytes, key);
        }

        stage = Failure::WriteFailed;
        if (const std::error_code reason = WriteFileReplacing(outFile, bytes)) {
            result.failure = Failure::WriteFailed;
            result.systemError = reason;
            return result;
        }
        return result;
    } catch (const GostError& error) {
        result.cipherError = error;
    } catch (const std::system_error& error) {
        result.systemError = error.code();
    } catch (const std::bad_alloc&) {
        result.systemError = std::make_error_code(std::errc::not_enough_memory);
    } catch (...) {
        // A Progress handler's own exception: the operation failed, with no reason of ours.
    }
    result.failure = stage;
    return result;
}

} // namespace

FileOperationResult EncryptFileWithReason(clsCrypGost& Cipher, const fs::path& InFile, const fs::path& OutFile,
                                          bool Overwrite, std::string_view Key) noexcept
{
    return RunFileOperation(Cipher, InFile, OutFile, Overwrite, Key, true);
}

FileOperationResult DecryptFileWithReason(clsCrypGost& Cipher, const fs::path& InFile, const fs::path& OutFile,
                                          bool Overwrite, std::string_view Key) noexcept
{
    return RunFileOperation(Cipher, InFile, OutFile, Overwrite, Key, false);
}

} // namespace korvane
