#include "detail/FileSystem.h"

#include "detail/Platform.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvane::detail {
namespace {

namespace fs = std::filesystem;

std::error_code SystemError(int error) noexcept
{
    return error != 0 ? std::error_code(error, std::generic_category()) : std::make_error_code(std::errc::io_error);
}

std::error_code LastSystemError() noexcept { return SystemError(errno); }

// A name of the temporary file in the target's folder: short, whatever the target's length.
std::string TemporaryName()
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::uint32_t word = OsRandomWord();
    std::string name = ".korvane-";
    for (int i = 0; i < 8; ++i, word >>= 4) {
        name += kDigits[word & 0xF];
    }
    return name;
}

constexpr int kNameAttempts = 16;

#ifndef _WIN32

// The named temporary files under way, for DiscardUnfinishedSaves to remove from a signal
// handler: each entry is a folder descriptor and a short name, handed over through an atomic
// state so that the handler reads only entries that are complete and that no one reuses.
enum SlotState : int { kFree, kFilling, kSet, kClaimedByHandler };
struct PendingName {
    std::atomic<int> state{kFree};
    int folder = -1;
    char name[32]{};
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may use only lock-free atomics");
constexpr int kPendingSlots = 64;
PendingName g_pending[kPendingSlots];

// The slot now holding `name` in `folder`, or -1 when all are taken (the file then cannot be
// removed on a signal; 64 saves at once in one process do not happen here).
int RegisterPending(int folder, const std::string& name) noexcept
{
    if (name.size() >= sizeof PendingName::name) {
        return -1;
    }
    for (int i = 0; i < kPendingSlots; ++i) {
        int expected = kFree;
        if (g_pending[i].state.compare_exchange_strong(expected, kFilling)) {
            g_pending[i].folder = folder;
            std::memcpy(g_pending[i].name, name.c_str(), name.size() + 1);
            g_pending[i].state.store(kSet, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

// False when a signal handler has taken the entry: it may still be using the folder descriptor.
bool ReleasePending(int slot) noexcept
{
    if (slot < 0) {
        return true;
    }
    int expected = kSet;
    return g_pending[slot].state.compare_exchange_strong(expected, kFree);
}

// Holds back every signal while a named file is created and registered, so that a handler
// never meets a file it does not know of.
class SignalsHeld {
public:
    SignalsHeld() noexcept
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_{};
};

std::error_code WriteAll(int fd, const std::uint8_t* data, std::size_t size) noexcept
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return LastSystemError();
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

#endif

} // namespace

#ifndef _WIN32

InputFile::~InputFile()
{
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::error_code InputFile::Open(const fs::path& path) noexcept
{
    // Without O_NONBLOCK a FIFO put in the file's place would hold the open until a writer came.
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        return LastSystemError();
    }
    struct stat info {};
    if (fstat(fd_, &info) != 0) {
        return LastSystemError();
    }
    if (!S_ISREG(info.st_mode)) {
        return std::make_error_code(S_ISDIR(info.st_mode) ? std::errc::is_a_directory : std::errc::not_supported);
    }
    if (fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) {
        return LastSystemError();
    }
    length_ = static_cast<std::uint64_t>(info.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
    static_cast<void>(posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL));
#endif
    return {};
}

std::error_code InputFile::Read(std::uint8_t* into, std::size_t size) noexcept
{
    while (size > 0) {
        const ssize_t n = read(fd_, into, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return LastSystemError();
        }
        if (n == 0) {
            return std::make_error_code(std::errc::io_error); // shorter than when it was opened
        }
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

std::error_code InputFile::ExpectEnd() noexcept
{
    std::uint8_t extra = 0;
    for (;;) {
        const ssize_t n = read(fd_, &extra, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return LastSystemError();
        }
        return n == 0 ? std::error_code{} : std::make_error_code(std::errc::io_error);
    }
}

SaveFile::~SaveFile() { Discard(); }

std::error_code SaveFile::Open(const fs::path& target, bool replacing, Temporary temporary) noexcept
{
    try {
        target_ = target;
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        folder_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
        if (folder_ < 0 && errno == EACCES) {
            // A folder we may write in but not list: names still work through O_PATH.
            folder_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
#endif
        if (folder_ < 0) {
            return LastSystemError();
        }

        struct stat old {};
        if (replacing) {
            replacing = stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
        }
        const mode_t mode = replacing ? (old.st_mode & 0777) : 0666;

#ifdef O_TMPFILE
        // The unnamed file is linked in at Commit through /proc/self/fd, which needs no privilege.
        if (temporary == Temporary::Unnamed && access("/proc/self/fd", X_OK) == 0) {
            fd_ = openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != ENOENT && errno != EINVAL) {
                return LastSystemError();
            }
        }
#else
        static_cast<void>(temporary);
#endif
        if (fd_ < 0) {
            const SignalsHeld held;
            for (int attempt = 0; attempt < kNameAttempts && fd_ < 0; ++attempt) {
                const std::string name = TemporaryName();
                fd_ = openat(folder_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
                if (fd_ >= 0) {
                    temporaryName_ = name;
                    slot_ = RegisterPending(folder_, name);
                } else if (errno != EEXIST) {
                    return LastSystemError();
                }
            }
            if (fd_ < 0) {
                return std::make_error_code(std::errc::file_exists);
            }
        }

        if (replacing) {
            // Owner and group as far as the process may give them; the bits exactly, umask aside.
            if (fchown(fd_, old.st_uid, old.st_gid) != 0) {
                static_cast<void>(fchown(fd_, static_cast<uid_t>(-1), old.st_gid));
            }
            if (fchmod(fd_, mode) != 0) {
                return LastSystemError();
            }
        }
        return {};
    } catch (const std::system_error& error) {
        return error.code(); // the entropy source behind the temporary name
    } catch (...) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

std::error_code SaveFile::Write(const std::uint8_t* data, std::size_t size) noexcept
{
    if (const std::error_code reason = WriteAll(fd_, data, size)) {
        return reason;
    }
#ifdef SYNC_FILE_RANGE_WRITE
    // Starts the writeback of this piece without waiting for it: the disk works while the next
    // piece is ciphered, and the fsync of Commit finds most of the file already there.
    static_cast<void>(sync_file_range(fd_, static_cast<off_t>(written_), static_cast<off_t>(size),
                                      SYNC_FILE_RANGE_WRITE));
#endif
    written_ += size;
    return {};
}

std::error_code SaveFile::Commit() noexcept
{
    try {
        if (fsync(fd_) != 0) {
            return LastSystemError();
        }
        if (temporaryName_.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_);
            const SignalsHeld held;
            for (int attempt = 0; attempt < kNameAttempts && temporaryName_.empty(); ++attempt) {
                const std::string name = TemporaryName();
                if (linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                    temporaryName_ = name;
                    slot_ = RegisterPending(folder_, name);
                } else if (errno != EEXIST) {
                    return LastSystemError();
                }
            }
            if (temporaryName_.empty()) {
                return std::make_error_code(std::errc::file_exists);
            }
        }
        if (renameat(folder_, temporaryName_.c_str(), folder_, target_.filename().c_str()) != 0) {
            return LastSystemError();
        }
        temporaryName_.clear();
        if (!ReleasePending(slot_)) {
            folder_ = -1; // a signal handler holds it: it is left open for the little time that remains
        }
        slot_ = -1;
        close(fd_);
        fd_ = -1;
        // The rename itself reaches the disk only with the folder. Some file systems cannot
        // flush a folder (EINVAL), and one opened without read access cannot be (EBADF).
        if (folder_ >= 0 && fsync(folder_) != 0 && errno != EINVAL && errno != EBADF) {
            return LastSystemError();
        }
        return {};
    } catch (const std::system_error& error) {
        return error.code(); // the entropy source behind the temporary name
    } catch (...) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

fs::path SaveFile::TemporaryPath() const
{
    if (temporaryName_.empty()) {
        return {};
    }
    return (target_.has_parent_path() ? target_.parent_path() : fs::path(".")) / temporaryName_;
}

void SaveFile::Discard() noexcept
{
    bool folderFree = true;
    if (!temporaryName_.empty() && folder_ >= 0) {
        folderFree = ReleasePending(slot_);
        if (folderFree) {
            unlinkat(folder_, temporaryName_.c_str(), 0);
        }
        temporaryName_.clear();
    }
    slot_ = -1;
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (folder_ >= 0 && folderFree) {
        close(folder_);
    }
    folder_ = -1;
}

void DiscardUnfinishedSaves() noexcept
{
    for (PendingName& pending : g_pending) {
        int expected = kSet;
        if (pending.state.compare_exchange_strong(expected, kClaimedByHandler)) {
            unlinkat(pending.folder, pending.name, 0);
        }
    }
}

#else // _WIN32: plain C runtime calls; the temporary file always has a (short) name.

InputFile::~InputFile()
{
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

std::error_code InputFile::Open(const fs::path& path) noexcept
{
    file_ = OpenFile(path, "rb");
    if (file_ == nullptr) {
        return LastSystemError();
    }
    struct _stat64 info {};
    if (_fstat64(_fileno(file_), &info) != 0) {
        return LastSystemError();
    }
    if ((info.st_mode & _S_IFMT) != _S_IFREG) {
        return std::make_error_code(std::errc::not_supported);
    }
    length_ = static_cast<std::uint64_t>(info.st_size);
    return {};
}

std::error_code InputFile::Read(std::uint8_t* into, std::size_t size) noexcept
{
    errno = 0;
    if (std::fread(into, 1, size, file_) != size) {
        return std::ferror(file_) != 0 ? LastSystemError() : std::make_error_code(std::errc::io_error);
    }
    return {};
}

std::error_code InputFile::ExpectEnd() noexcept
{
    errno = 0;
    if (std::fgetc(file_) != EOF) {
        return std::make_error_code(std::errc::io_error);
    }
    return std::ferror(file_) != 0 ? LastSystemError() : std::error_code{};
}

SaveFile::~SaveFile() { Discard(); }

std::error_code SaveFile::Open(const fs::path& target, bool, Temporary) noexcept
{
    try {
        target_ = target;
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const std::string name = TemporaryName();
            errno = 0;
            file_ = OpenFile(folder / name, "wbx");
            if (file_ != nullptr) {
                temporaryName_ = name;
                return {};
            }
            if (errno != EEXIST) {
                return LastSystemError();
            }
        }
        return std::make_error_code(std::errc::file_exists);
    } catch (const std::system_error& error) {
        return error.code(); // the entropy source behind the temporary name
    } catch (...) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

std::error_code SaveFile::Write(const std::uint8_t* data, std::size_t size) noexcept
{
    errno = 0;
    if (std::fwrite(data, 1, size, file_) != size) {
        return LastSystemError();
    }
    return {};
}

std::error_code SaveFile::Commit() noexcept
{
    errno = 0;
    if (std::fflush(file_) != 0 || _commit(_fileno(file_)) != 0) {
        return LastSystemError();
    }
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        return LastSystemError();
    }
    std::error_code reason;
    fs::rename(TemporaryPath(), target_, reason);
    if (!reason) {
        temporaryName_.clear();
    }
    return reason;
}

fs::path SaveFile::TemporaryPath() const
{
    if (temporaryName_.empty()) {
        return {};
    }
    return (target_.has_parent_path() ? target_.parent_path() : fs::path(".")) / temporaryName_;
}

void SaveFile::Discard() noexcept
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporaryName_.empty()) {
        std::error_code ignored;
        fs::remove(TemporaryPath(), ignored);
        temporaryName_.clear();
    }
}

// Windows runs console control handlers on a thread of their own; nothing to do from here.
void DiscardUnfinishedSaves() noexcept {}

#endif

} // namespace korvane::detail
