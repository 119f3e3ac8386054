#include "crypto/GostFiles.h"

#include "crypto/clsCrypGost.h"
#include "crypto/detail/FileSystem.h"
#include "crypto/detail/LayoutStream.h"

#include <new>

namespace korvane {
namespace {

namespace fs = std::filesystem;
using Failure = FileOperationResult::Failure;

// A failure of the input or the output, thrown through the stream with the stage it ends.
struct StageFailure {
    Failure failure;
    std::error_code reason;
};

// True when the length of the file at `path` can be read; `reason` says why not otherwise.
bool FileExist(const fs::path& path, std::error_code& reason) noexcept
{
    reason.clear();
    static_cast<void>(fs::file_size(path, reason));
    return !reason;
}

// Where OutFile leads.
struct OutFileTarget {
    fs::path path;                              // OutFile with its symbolic links followed
    bool exists = false;                        // something is at OutFile, a dangling link included
    fs::file_type type = fs::file_type::not_found; // what the links lead to
};

// Linux's own limit on links followed in one path.
constexpr int kMaxLinks = 40;

std::error_code ResolveOutFile(const fs::path& outFile, OutFileTarget& target)
{
    target.path = outFile;
    std::error_code reason;
    fs::file_status status = fs::symlink_status(outFile, reason);
    if (status.type() == fs::file_type::not_found) {
        return {};
    }
    if (reason) {
        return reason;
    }
    target.exists = true;
    for (int links = 0; fs::is_symlink(status); ++links) {
        if (links == kMaxLinks) {
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        }
        const fs::path link = fs::read_symlink(target.path, reason);
        if (reason) {
            return reason;
        }
        target.path = link.is_absolute() ? link : target.path.parent_path() / link;
        status = fs::symlink_status(target.path, reason);
        if (status.type() == fs::file_type::not_found) {
            break; // a dangling link: its target is where the file will be made
        }
        if (reason) {
            return reason;
        }
    }
    target.type = status.type();
    return {};
}

FileOperationResult Check(const fs::path& inFile, const fs::path& outFile, bool overwrite, OutFileTarget& target)
{
    FileOperationResult result;
    if (!FileExist(inFile, result.systemError)) {
        result.failure = Failure::InputMissing;
        return result;
    }
    if (const std::error_code reason = ResolveOutFile(outFile, target)) {
        result.failure = Failure::WriteFailed;
        result.systemError = reason;
        return result;
    }
    if (target.type != fs::file_type::not_found && target.type != fs::file_type::regular) {
        result.failure = Failure::OutputNotAFile;
        result.outFileType = target.type;
    } else if (target.exists && !overwrite) {
        result.failure = Failure::OutputExists;
    }
    return result;
}

// The input file and the file that replaces OutFile, as the two ends of the stream.
class FileEnds final : public detail::StreamEnds {
public:
    FileEnds(detail::InputFile& input, const OutFileTarget& target)
        : m_input(input), m_target(target), m_remaining(input.Length())
    {
    }

    void Read(std::uint8_t* into, std::size_t size) override
    {
        Require(Failure::ReadFailed, m_input.Read(into, size));
        m_remaining -= size;
        if (m_remaining == 0) {
            CheckEnd();
        }
    }

    void OpenOutput() override
    {
        Require(Failure::WriteFailed, m_save.Open(m_target.path, m_target.type == fs::file_type::regular));
    }

    void Write(const std::uint8_t* data, std::size_t size) override
    {
        Require(Failure::WriteFailed, m_save.Write(data, size));
    }

    // After the stream: the input ended where it should, and the new file takes OutFile's place.
    void Commit()
    {
        if (!m_endChecked) {
            CheckEnd();
        }
        Require(Failure::WriteFailed, m_save.Commit());
    }

private:
    static void Require(Failure stage, const std::error_code& reason)
    {
        if (reason) {
            throw StageFailure{stage, reason};
        }
    }

    // A file that grew while it was read is as unreadable as one that shrank.
    void CheckEnd()
    {
        m_endChecked = true;
        Require(Failure::ReadFailed, m_input.ExpectEnd());
    }

    detail::InputFile& m_input;
    const OutFileTarget& m_target;
    detail::SaveFile m_save;
    std::uint64_t m_remaining;
    bool m_endChecked = false;
};

FileOperationResult RunFileOperation(clsCrypGost& cipher, const fs::path& inFile, const fs::path& outFile,
                                     bool overwrite, std::string_view key, bool encrypt) noexcept
{
    FileOperationResult result;
    try {
        OutFileTarget target;
        result = Check(inFile, outFile, overwrite, target);
        if (!result.Written()) {
            return result;
        }

        detail::InputFile input;
        if (const std::error_code reason = input.Open(inFile)) {
            result.failure = Failure::ReadFailed;
            result.systemError = reason;
            return result;
        }
        FileEnds ends(input, target);
        if (encrypt) {
            detail::LayoutStream::Encrypt(cipher, ends, input.Length(), key);
        } else {
            detail::LayoutStream::Decrypt(cipher, ends, input.Length(), key);
        }
        ends.Commit();
        return result;
    } catch (const StageFailure& failure) {
        result.failure = failure.failure;
        result.systemError = failure.reason;
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
    result.failure = Failure::CipherFailed;
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

FileOperationResult CheckFileOperation(const fs::path& InFile, const fs::path& OutFile, bool Overwrite) noexcept
{
    try {
        OutFileTarget target;
        return Check(InFile, OutFile, Overwrite, target);
    } catch (...) {
        FileOperationResult result; // only memory can run out here
        result.failure = Failure::WriteFailed;
        result.systemError = std::make_error_code(std::errc::not_enough_memory);
        return result;
    }
}

void DiscardUnfinishedFiles() noexcept { detail::DiscardUnfinishedSaves(); }

} // namespace korvane
