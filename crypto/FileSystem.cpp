#include "crypto/detail/FileSystem.h"

#include "crypto/detail/Platform.h"

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
        pthread_sigmask(SIG_BLOCK, &all, &m_previous);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t m_previous{};
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
    if (m_fd >= 0) {
        close(m_fd);
    }
}

std::error_code InputFile::Open(const fs::path& path) noexcept
{
    // Without O_NONBLOCK a FIFO put in the file's place would hold the open until a writer came.
    m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        return LastSystemError();
    }
    struct stat info {};
    if (fstat(m_fd, &info) != 0) {
        return LastSystemError();
    }
    if (!S_ISREG(info.st_mode)) {
        return std::make_error_code(S_ISDIR(info.st_mode) ? std::errc::is_a_directory : std::errc::not_supported);
    }
    if (fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        return LastSystemError();
    }
    m_length = static_cast<std::uint64_t>(info.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
    static_cast<void>(posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL));
#endif
    return {};
}

std::error_code InputFile::Read(std::uint8_t* into, std::size_t size) noexcept
{
    while (size > 0) {
        const ssize_t n = read(m_fd, into, size);
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
        const ssize_t n = read(m_fd, &extra, 1);
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
        m_target = target;
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        m_folder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
        if (m_folder < 0 && errno == EACCES) {
            // A folder we may write in but not list: names still work through O_PATH.
            m_folder = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
#endif
        if (m_folder < 0) {
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
            m_fd = openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
            if (m_fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != ENOENT && errno != EINVAL) {
                return LastSystemError();
            }
        }
#else
        static_cast<void>(temporary);
#endif
        if (m_fd < 0) {
            const SignalsHeld held;
            for (int attempt = 0; attempt < kNameAttempts && m_fd < 0; ++attempt) {
                const std::string name = TemporaryName();
                m_fd = openat(m_folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
                if (m_fd >= 0) {
                    m_temporaryName = name;
                    m_slot = RegisterPending(m_folder, name);
                } else if (errno != EEXIST) {
                    return LastSystemError();
                }
            }
            if (m_fd < 0) {
                return std::make_error_code(std::errc::file_exists);
            }
        }

        if (replacing) {
            // Owner and group as far as the process may give them; the bits exactly, umask aside.
            if (fchown(m_fd, old.st_uid, old.st_gid) != 0) {
                static_cast<void>(fchown(m_fd, static_cast<uid_t>(-1), old.st_gid));
            }
            if (fchmod(m_fd, mode) != 0) {
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
    if (const std::error_code reason = WriteAll(m_fd, data, size)) {
        return reason;
    }
#ifdef SYNC_FILE_RANGE_WRITE
    // Starts the writeback of this piece without waiting for it: the disk works while the next
    // piece is ciphered, and the fsync of Commit finds most of the file already there.
    static_cast<void>(sync_file_range(m_fd, static_cast<off_t>(m_written), static_cast<off_t>(size),
                                      SYNC_FILE_RANGE_WRITE));
#endif
    m_written += size;
    return {};
}

std::error_code SaveFile::Commit() noexcept
{
    try {
        if (fsync(m_fd) != 0) {
            return LastSystemError();
        }
        if (m_temporaryName.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
            const SignalsHeld held;
            for (int attempt = 0; attempt < kNameAttempts && m_temporaryName.empty(); ++attempt) {
                const std::string name = TemporaryName();
                if (linkat(AT_FDCWD, self.c_str(), m_folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                    m_temporaryName = name;
                    m_slot = RegisterPending(m_folder, name);
                } else if (errno != EEXIST) {
                    return LastSystemError();
                }
            }
            if (m_temporaryName.empty()) {
                return std::make_error_code(std::errc::file_exists);
            }
        }
        if (renameat(m_folder, m_temporaryName.c_str(), m_folder, m_target.filename().c_str()) != 0) {
            return LastSystemError();
        }
        m_temporaryName.clear();
        if (!ReleasePending(m_slot)) {
            m_folder = -1; // a signal handler holds it: it is left open for the little time that remains
        }
        m_slot = -1;
        close(m_fd);
        m_fd = -1;
        // The rename itself reaches the disk only with the folder. Some file systems cannot
        // flush a folder (EINVAL), and one opened without read access cannot be (EBADF).
        if (m_folder >= 0 && fsync(m_folder) != 0 && errno != EINVAL && errno != EBADF) {
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
    if (m_temporaryName.empty()) {
        return {};
    }
    return (m_target.has_parent_path() ? m_target.parent_path() : fs::path(".")) / m_temporaryName;
}

void SaveFile::Discard() noexcept
{
    bool folderFree = true;
    if (!m_temporaryName.empty() && m_folder >= 0) {
        folderFree = ReleasePending(m_slot);
        if (folderFree) {
            unlinkat(m_folder, m_temporaryName.c_str(), 0);
        }
        m_temporaryName.clear();
    }
    m_slot = -1;
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (m_folder >= 0 && folderFree) {
        close(m_folder);
    }
    m_folder = -1;
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
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

std::error_code InputFile::Open(const fs::path& path) noexcept
{
    m_file = OpenFile(path, "rb");
    if (m_file == nullptr) {
        return LastSystemError();
    }
    struct _stat64 info {};
    if (_fstat64(_fileno(m_file), &info) != 0) {
        return LastSystemError();
    }
    if ((info.st_mode & _S_IFMT) != _S_IFREG) {
        return std::make_error_code(std::errc::not_supported);
    }
    m_length = static_cast<std::uint64_t>(info.st_size);
    return {};
}

std::error_code InputFile::Read(std::uint8_t* into, std::size_t size) noexcept
{
    errno = 0;
    if (std::fread(into, 1, size, m_file) != size) {
        return std::ferror(m_file) != 0 ? LastSystemError() : std::make_error_code(std::errc::io_error);
    }
    return {};
}

std::error_code InputFile::ExpectEnd() noexcept
{
    errno = 0;
    if (std::fgetc(m_file) != EOF) {
        return std::make_error_code(std::errc::io_error);
    }
    return std::ferror(m_file) != 0 ? LastSystemError() : std::error_code{};
}

SaveFile::~SaveFile() { Discard(); }

std::error_code SaveFile::Open(const fs::path& target, bool, Temporary) noexcept
{
    try {
        m_target = target;
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const std::string name = TemporaryName();
            errno = 0;
            m_file = OpenFile(folder / name, "wbx");
            if (m_file != nullptr) {
                m_temporaryName = name;
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
    if (std::fwrite(data, 1, size, m_file) != size) {
        return LastSystemError();
    }
    return {};
}

std::error_code SaveFile::Commit() noexcept
{
    errno = 0;
    if (std::fflush(m_file) != 0 || _commit(_fileno(m_file)) != 0) {
        return LastSystemError();
    }
    std::FILE* file = m_file;
    m_file = nullptr;
    if (std::fclose(file) != 0) {
        return LastSystemError();
    }
    std::error_code reason;
    fs::rename(TemporaryPath(), m_target, reason);
    if (!reason) {
        m_temporaryName.clear();
    }
    return reason;
}

fs::path SaveFile::TemporaryPath() const
{
    if (m_temporaryName.empty()) {
        return {};
    }
    return (m_target.has_parent_path() ? m_target.parent_path() : fs::path(".")) / m_temporaryName;
}

void SaveFile::Discard() noexcept
{
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_temporaryName.empty()) {
        std::error_code ignored;
        fs::remove(TemporaryPath(), ignored);
        m_temporaryName.clear();
    }
}

// Windows runs console control handlers on a thread of their own; nothing to do from here.
void DiscardUnfinishedSaves() noexcept {}

#endif

} // namespace korvane::detail
