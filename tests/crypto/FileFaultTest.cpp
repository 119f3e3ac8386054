// EncryptFile and DecryptFile when the file system refuses: whatever fails, an OutFile that was
// there is still there byte for byte, and nothing is left beside it.
#ifndef _WIN32

#include "tests/crypto/CryptoTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileSizeLimit.h"

#include "crypto/GostFiles.h"
#include "crypto/clsCrypGost.h"
#include "crypto/detail/FileSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using ByteVector = std::vector<std::uint8_t>;
using Failure = FileOperationResult::Failure;

constexpr std::string_view kKey = "chave do cofre";
const ByteVector kPlain(5000, 0x5A);
const ByteVector kOldOut(300, 0xEE);

// Every entry under `root`: its type and permissions, a link's target, a file's bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const fs::file_status status = fs::symlink_status(entry.path());
        std::ostringstream text;
        text << static_cast<int>(status.type()) << ' ' << std::oct << static_cast<int>(status.permissions()) << ' ';
        if (fs::is_symlink(status)) {
            text << fs::read_symlink(entry.path()).string();
        } else if (fs::is_regular_file(status)) {
            const ByteVector bytes = ReadFile(entry.path());
            text.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        // Lexically: fs::relative would follow the links and name their targets instead.
        entries[entry.path().lexically_relative(root).string()] = text.str();
    }
    return entries;
}

std::set<std::string> Listing(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

ByteVector EncryptedPlain()
{
    clsCrypGost gost;
    ByteVector bytes = kPlain;
    gost.EncryptByte(bytes, kKey);
    return bytes;
}

struct Operation {
    fs::path in;
    fs::path out;
    bool encrypt = true;
    bool overwrite = true;
};

struct FileFaultCase {
    const char* name;
    std::function<Operation(const fs::path& dir)> arrange;
    Failure failure;
    std::errc reason;
    enum class Condition {
        AsIs,
        WithoutRoot, // permissions that root would pass by
        FullDisk,    // a file-size limit stands in for a disk that fills during the write
        AsRoot,      // making a device node takes root
    } condition;
    fs::file_type outFileType = fs::file_type::none;
};

using Condition = FileFaultCase::Condition;
constexpr rlim_t kRoomForLessThanTheFile = 4096;

// The result as text, so it can come back from an unprivileged child process.
std::string Describe(const FileOperationResult& result)
{
    std::ostringstream text;
    text << static_cast<int>(result.failure) << ' ' << result.systemError.value() << ' '
         << static_cast<int>(result.outFileType);
    return text.str();
}

std::string RunOperation(const Operation& op)
{
    clsCrypGost gost;
    return Describe(op.encrypt ? EncryptFileWithReason(gost, op.in, op.out, op.overwrite, kKey)
                               : DecryptFileWithReason(gost, op.in, op.out, op.overwrite, kKey));
}

// The same operation in a process of its own, for the cases that run without root's privileges.
// Arguments: encrypt|decrypt, InFile, OutFile, overwrite|keep.
const std::string kOperationTask = test::RegisterChildTask("file-fault-operation", [](const test::ChildArgs& args) {
    Operation op;
    op.encrypt = args.at(0) == "encrypt";
    op.in = args.at(1);
    op.out = args.at(2);
    op.overwrite = args.at(3) == "overwrite";
    return RunOperation(op);
});

class FileFaultTest : public ::testing::TestWithParam<FileFaultCase> {
protected:
    void TearDown() override
    {
        // Folders and files made read-only or unreadable must open up again to be removed.
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            std::error_code ignored;
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }

    test::TempDir dir;
};

TEST_P(FileFaultTest, FailsWithItsReasonAndLeavesEveryFileAsItWas)
{
    const FileFaultCase& c = GetParam();
    if (c.condition == Condition::AsRoot && geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    Operation op;
    try {
        op = c.arrange(dir.path());
    } catch (const std::system_error& error) {
        if (c.condition == Condition::AsRoot) {
            GTEST_SKIP() << "cannot arrange it here: " << error.what(); // a container without mknod
        }
        throw;
    }
    const auto before = Snapshot(dir.path());

    std::string outcome;
    if (c.condition == Condition::WithoutRoot) {
        const test::ChildOutcome child = test::RunChildTask(
            kOperationTask,
            {op.encrypt ? "encrypt" : "decrypt", op.in.string(), op.out.string(), op.overwrite ? "overwrite" : "keep"},
            {.withoutRoot = true});
        ASSERT_TRUE(child.answer.has_value()) << child.failure;
        outcome = *child.answer;
    } else {
        std::optional<test::FileSizeLimit> limit;
        if (c.condition == Condition::FullDisk) {
            limit.emplace(kRoomForLessThanTheFile);
            ASSERT_TRUE(limit->applied());
        }
        outcome = RunOperation(op);
    }

    FileOperationResult expected;
    expected.failure = c.failure;
    expected.systemError = std::make_error_code(c.reason);
    expected.outFileType = c.outFileType;
    EXPECT_EQ(outcome, Describe(expected));
    EXPECT_EQ(Snapshot(dir.path()), before) << "a file changed, went missing or was left behind";
}

// A readable layout of kPlain in `dir`/in, and an old OutFile where the case wants it.
Operation Arrange(const fs::path& in, const fs::path& out, bool encrypt)
{
    WriteFile(in, encrypt ? kPlain : EncryptedPlain());
    if (fs::is_directory(out.parent_path())) {
        WriteFile(out, kOldOut);
    }
    return {in, out, encrypt};
}

Operation UnreadableInput(const fs::path& dir, bool encrypt)
{
    Operation op = Arrange(dir / "in", dir / "out", encrypt);
    fs::permissions(op.in, fs::perms::none);
    return op;
}

Operation ReadOnlyOutputFolder(const fs::path& dir, bool encrypt)
{
    fs::create_directory(dir / "protegida");
    Operation op = Arrange(dir / "in", dir / "protegida" / "out", encrypt);
    fs::permissions(dir / "protegida", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read
                                           | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    return op;
}

Operation SamePathInAReadOnlyFolder(const fs::path& dir, bool encrypt)
{
    Operation op = ReadOnlyOutputFolder(dir, encrypt);
    fs::permissions(dir / "protegida", fs::perms::owner_write, fs::perm_options::add);
    fs::rename(op.in, op.out);
    fs::permissions(dir / "protegida", fs::perms::owner_write, fs::perm_options::remove);
    op.in = op.out;
    return op;
}

Operation MissingOutputFolder(const fs::path& dir, bool encrypt)
{
    WriteFile(dir / "out", kOldOut);   // a file of that name beside the missing folder
    return Arrange(dir / "in", dir / "nao-existe" / "out", encrypt);
}

Operation OldOutFileOnAFullDisk(const fs::path& dir, bool encrypt)
{
    return Arrange(dir / "in", dir / "out", encrypt);
}

Operation SamePathOnAFullDisk(const fs::path& dir, bool encrypt)
{
    Operation op = Arrange(dir / "file", dir / "other", encrypt);
    fs::remove(op.out);
    op.out = op.in;
    return op;
}

// Wrong key in place: the one input is also the only copy of the data.
Operation SamePathWithTheWrongKey(const fs::path& dir, bool)
{
    clsCrypGost gost;
    ByteVector bytes = kPlain;
    gost.EncryptByte(bytes, "outra chave");
    WriteFile(dir / "file", bytes);
    return {dir / "file", dir / "file", false};
}

// OutFile is something other than a regular file: refused whatever Overwrite says, and never
// opened (a FIFO opened for writing would hold the operation until a reader came).
Operation FolderAtOutFile(const fs::path& dir, bool encrypt)
{
    Operation op = Arrange(dir / "in", dir / "other", encrypt);
    fs::create_directory(dir / "out");
    WriteFile(dir / "out" / "inside", kOldOut);
    op.out = dir / "out";
    return op;
}

Operation FifoAtOutFile(const fs::path& dir, bool encrypt)
{
    Operation op = Arrange(dir / "in", dir / "other", encrypt);
    op.out = dir / "out";
    if (mkfifo(op.out.c_str(), 0644) != 0) {
        throw std::system_error(errno, std::generic_category(), "mkfifo");
    }
    return op;
}

Operation FifoAtOutFileWithoutOverwrite(const fs::path& dir, bool encrypt)
{
    Operation op = FifoAtOutFile(dir, encrypt);
    op.overwrite = false;
    return op;
}

Operation SocketAtOutFile(const fs::path& dir, bool encrypt)
{
    Operation op = Arrange(dir / "in", dir / "other", encrypt);
    op.out = dir / "out";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = op.out.string();
    if (path.size() >= sizeof address.sun_path) {
        throw std::length_error("socket path too long: " + path);
    }
    path.copy(address.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd); // the socket file stays
    }
    if (!bound) {
        throw std::system_error(errno, std::generic_category(), "bind");
    }
    return op;
}

// The same device as /dev/null, made inside the test's folder: a mistake replaces only that.
Operation DeviceAtOutFile(const fs::path& dir, bool encrypt)
{
    Operation op = Arrange(dir / "in", dir / "other", encrypt);
    op.out = dir / "out";
    if (mknod(op.out.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        throw std::system_error(errno, std::generic_category(), "mknod");
    }
    return op;
}

Operation LinkToAFifoAtOutFile(const fs::path& dir, bool encrypt)
{
    Operation op = FifoAtOutFile(dir, encrypt);
    fs::create_symlink("out", dir / "link");
    op.out = dir / "link";
    return op;
}

// A link to nothing is an OutFile that exists: Overwrite is needed to make its target.
Operation DanglingLinkWithoutOverwrite(const fs::path& dir, bool encrypt)
{
    Operation op = Arrange(dir / "in", dir / "other", encrypt);
    fs::create_symlink("nowhere", dir / "out");
    op.out = dir / "out";
    op.overwrite = false;
    return op;
}

template <Operation (*Arranger)(const fs::path&, bool), bool Encrypt>
Operation Both(const fs::path& dir)
{
    return Arranger(dir, Encrypt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileFaultTest,
    ::testing::Values(
        FileFaultCase{"EncryptUnreadableInput", Both<UnreadableInput, true>,
                      Failure::ReadFailed, std::errc::permission_denied, Condition::WithoutRoot},
        FileFaultCase{"DecryptUnreadableInput", Both<UnreadableInput, false>,
                      Failure::ReadFailed, std::errc::permission_denied, Condition::WithoutRoot},
        FileFaultCase{"EncryptIntoReadOnlyFolder", Both<ReadOnlyOutputFolder, true>,
                      Failure::WriteFailed, std::errc::permission_denied, Condition::WithoutRoot},
        FileFaultCase{"DecryptIntoReadOnlyFolder", Both<ReadOnlyOutputFolder, false>,
                      Failure::WriteFailed, std::errc::permission_denied, Condition::WithoutRoot},
        FileFaultCase{"EncryptInPlaceInReadOnlyFolder", Both<SamePathInAReadOnlyFolder, true>,
                      Failure::WriteFailed, std::errc::permission_denied, Condition::WithoutRoot},
        FileFaultCase{"DecryptInPlaceInReadOnlyFolder", Both<SamePathInAReadOnlyFolder, false>,
                      Failure::WriteFailed, std::errc::permission_denied, Condition::WithoutRoot},
        FileFaultCase{"EncryptIntoMissingFolder", Both<MissingOutputFolder, true>,
                      Failure::WriteFailed, std::errc::no_such_file_or_directory, Condition::AsIs},
        FileFaultCase{"DecryptIntoMissingFolder", Both<MissingOutputFolder, false>,
                      Failure::WriteFailed, std::errc::no_such_file_or_directory, Condition::AsIs},
        FileFaultCase{"EncryptOnFullDisk", Both<OldOutFileOnAFullDisk, true>,
                      Failure::WriteFailed, std::errc::file_too_large, Condition::FullDisk},
        FileFaultCase{"DecryptOnFullDisk", Both<OldOutFileOnAFullDisk, false>,
                      Failure::WriteFailed, std::errc::file_too_large, Condition::FullDisk},
        FileFaultCase{"EncryptInPlaceOnFullDisk", Both<SamePathOnAFullDisk, true>,
                      Failure::WriteFailed, std::errc::file_too_large, Condition::FullDisk},
        FileFaultCase{"DecryptInPlaceOnFullDisk", Both<SamePathOnAFullDisk, false>,
                      Failure::WriteFailed, std::errc::file_too_large, Condition::FullDisk},
        FileFaultCase{"EncryptOntoFolder", Both<FolderAtOutFile, true>, Failure::OutputNotAFile, std::errc{},
                      Condition::AsIs, fs::file_type::directory},
        FileFaultCase{"DecryptOntoFolder", Both<FolderAtOutFile, false>, Failure::OutputNotAFile, std::errc{},
                      Condition::AsIs, fs::file_type::directory},
        FileFaultCase{"EncryptOntoFifo", Both<FifoAtOutFile, true>, Failure::OutputNotAFile, std::errc{},
                      Condition::AsIs, fs::file_type::fifo},
        FileFaultCase{"DecryptOntoFifo", Both<FifoAtOutFile, false>, Failure::OutputNotAFile, std::errc{},
                      Condition::AsIs, fs::file_type::fifo},
        FileFaultCase{"EncryptOntoFifoWithoutOverwrite", Both<FifoAtOutFileWithoutOverwrite, true>,
                      Failure::OutputNotAFile, std::errc{}, Condition::AsIs, fs::file_type::fifo},
        FileFaultCase{"EncryptOntoSocket", Both<SocketAtOutFile, true>, Failure::OutputNotAFile, std::errc{},
                      Condition::AsIs, fs::file_type::socket},
        FileFaultCase{"DecryptOntoDevice", Both<DeviceAtOutFile, false>, Failure::OutputNotAFile, std::errc{},
                      Condition::AsRoot, fs::file_type::character},
        FileFaultCase{"EncryptThroughALinkOntoAFifo", Both<LinkToAFifoAtOutFile, true>, Failure::OutputNotAFile,
                      std::errc{}, Condition::AsIs, fs::file_type::fifo},
        FileFaultCase{"EncryptOntoDanglingLinkWithoutOverwrite", Both<DanglingLinkWithoutOverwrite, true>,
                      Failure::OutputExists, std::errc{}, Condition::AsIs},
        FileFaultCase{"DecryptOntoDanglingLinkWithoutOverwrite", Both<DanglingLinkWithoutOverwrite, false>,
                      Failure::OutputExists, std::errc{}, Condition::AsIs}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileFaultInPlace, WrongKeyLeavesTheOnlyCopyAsItWas)
{
    test::TempDir dir;
    const Operation op = SamePathWithTheWrongKey(dir.path(), false);
    const ByteVector before = ReadFile(op.in);
    clsCrypGost gost;
    const FileOperationResult result = DecryptFileWithReason(gost, op.in, op.out, true, kKey);
    EXPECT_EQ(result.failure, Failure::CipherFailed);
    ASSERT_TRUE(result.cipherError.has_value());
    EXPECT_EQ(result.cipherError->Number(), GostError::kIncorrectSizeDescriptor);
    EXPECT_EQ(ReadFile(op.in), before);
    EXPECT_EQ(Snapshot(dir.path()).size(), 1u);
}

// What must hold when the replace succeeds: the new bytes are where OutFile leads, and nothing
// else in the folder changed or was added.
class FileReplaceTest : public ::testing::Test {
protected:
    // Encrypts kPlain into `out` with Overwrite, then decrypts `out` into "back".
    void RoundTripThrough(const fs::path& out)
    {
        clsCrypGost gost;
        const FileOperationResult encrypted = EncryptFileWithReason(gost, dir / "in", out, true, kKey);
        ASSERT_TRUE(encrypted.Written()) << Describe(encrypted);
        const FileOperationResult decrypted = DecryptFileWithReason(gost, out, dir / "back", true, kKey);
        ASSERT_TRUE(decrypted.Written()) << Describe(decrypted);
        EXPECT_EQ(ReadFile(dir / "back"), kPlain);
        fs::remove(dir / "back");
    }

    test::TempDir dir;
};

TEST_F(FileReplaceTest, SymbolicLinkAtOutFileIsFollowedAndKept)
{
    struct Link {
        const char* name;
        const char* points; // what the link holds
    };
    struct Case {
        const char* name;
        std::vector<Link> links; // the first is the OutFile given; all lead to "target"
        bool targetExists;
    };
    const Case cases[] = {
        {"beside", {{"link", "target"}}, true},
        {"from another folder", {{"sub/link", "../target"}}, true},
        {"chain of two", {{"first", "sub/link"}, {"sub/link", "../target"}}, true},
        {"dangling, with Overwrite", {{"link", "target"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir.path());
        fs::create_directories(dir / "sub");
        WriteFile(dir / "in", kPlain);
        if (c.targetExists) {
            WriteFile(dir / "target", kOldOut);
        }
        for (const Link& link : c.links) {
            fs::create_symlink(link.points, dir / link.name);
        }
        auto before = Snapshot(dir.path());

        RoundTripThrough(dir / c.links.front().name);

        EXPECT_EQ(fs::file_size(dir / "target"), 5016u);
        auto after = Snapshot(dir.path());
        before.erase("target");
        after.erase("target");
        EXPECT_EQ(after, before) << "a link was replaced, or something was left beside";
    }
}

// Decrypting into a private file must not make its plaintext readable by others.
TEST_F(FileReplaceTest, ReplacedFileKeepsItsPermissions)
{
    WriteFile(dir / "in", kPlain);
    for (const fs::perms mode : {fs::perms(0600), fs::perms(0640), fs::perms(0444), fs::perms(0755)}) {
        SCOPED_TRACE(static_cast<int>(mode));
        WriteFile(dir / "out", kOldOut);
        fs::permissions(dir / "out", mode);
        RoundTripThrough(dir / "out");
        EXPECT_EQ(fs::status(dir / "out").permissions(), mode);

        // The SaveFile with a named temporary file, where the system has no unnamed ones.
        detail::SaveFile save;
        ASSERT_FALSE(save.Open(dir / "out", true, detail::SaveFile::Temporary::Named));
        ASSERT_FALSE(save.Write(kPlain.data(), kPlain.size()));
        ASSERT_FALSE(save.Commit());
        EXPECT_EQ(ReadFile(dir / "out"), kPlain);
        EXPECT_EQ(fs::status(dir / "out").permissions(), mode);
        EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"in", "out"}));
    }

    // A new file is made as any new file is: 0666 less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    RoundTripThrough(dir / "new");
    EXPECT_EQ(static_cast<mode_t>(fs::status(dir / "new").permissions()), 0666 & ~mask);
}

TEST_F(FileReplaceTest, ReplacedFileKeepsItsOwnerAndGroupWhereTheProcessMaySetThem)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root may give a file to another user";
    }
    constexpr uid_t kNobody = 65534;
    WriteFile(dir / "in", kPlain);
    WriteFile(dir / "out", kOldOut);
    ASSERT_EQ(chown((dir / "out").c_str(), kNobody, kNobody), 0);
    RoundTripThrough(dir / "out");
    struct stat info {};
    ASSERT_EQ(stat((dir / "out").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kNobody);
    EXPECT_EQ(info.st_gid, kNobody);
}

// The temporary file's name does not grow with OutFile's, so the longest name the file system
// takes works, new and replaced.
TEST_F(FileReplaceTest, OutFileNameAsLongAsTheFileSystemAllows)
{
    const long longest = pathconf(dir.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(longest, 16);
    const std::string name(static_cast<std::size_t>(longest), 'n');
    WriteFile(dir / "in", kPlain);
    RoundTripThrough(dir / name);
    RoundTripThrough(dir / name);
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"in", name}));
}

// What korvane-gost's signal handler calls removes a named temporary file under way; the
// operation can then no longer put it in OutFile's place.
TEST_F(FileReplaceTest, NamedTemporaryFileIsShortAndDiscardedFromASignalHandler)
{
    WriteFile(dir / "out", kOldOut);
    detail::SaveFile save;
    ASSERT_FALSE(save.Open(dir / "out", true, detail::SaveFile::Temporary::Named));
    const fs::path temporary = save.TemporaryPath();
    EXPECT_EQ(temporary.parent_path(), dir.path());
    EXPECT_LE(temporary.filename().string().size(), 20u);
    EXPECT_TRUE(fs::is_regular_file(temporary));
    ASSERT_FALSE(save.Write(kPlain.data(), kPlain.size()));

    DiscardUnfinishedFiles();

    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_TRUE(save.Commit());
    EXPECT_EQ(ReadFile(dir / "out"), kOldOut);
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"out"}));
}

#if defined(__linux__) && defined(KORVANE_GOST_PATH)
// korvane-gost in a process of its own (posix_spawn: nothing of this process runs in the child),
// killed if it is still there when this ends.
class GostProcess {
public:
    GostProcess(const std::vector<std::string>& args, const std::string& key)
    {
        std::vector<std::string> strings{KORVANE_GOST_PATH};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : strings) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::string keyVariable = "KORVANE_GOST_KEY=" + key;
        char* envp[] = {keyVariable.data(), nullptr};

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
        }
        // The signals at their defaults and unblocked, whatever this process was started with.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes, &signals);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&signals, s);
        }
        posix_spawnattr_setsigdefault(&attributes, &signals);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const int error = posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(), envp);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            m_pid = -1;
        }
    }
    ~GostProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    GostProcess(const GostProcess&) = delete;
    GostProcess& operator=(const GostProcess&) = delete;

    [[nodiscard]] pid_t pid() const { return m_pid; }

    // True once the process holds open a file in `folder` other than `input`: its output.
    [[nodiscard]] bool WritesIn(const fs::path& folder, const fs::path& input) const
    {
        std::error_code ignored;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(m_pid) + "/fd", ignored)) {
            const fs::path open = fs::read_symlink(fd.path(), ignored);
            if (open.parent_path() == folder && open != input) {
                return true;
            }
        }
        return false;
    }

    // The wait status once it has ended; nullopt if it has not yet.
    std::optional<int> Ended()
    {
        int status = 0;
        if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return status;
        }
        return std::nullopt;
    }

private:
    pid_t m_pid = -1;
};

class SignalMidFileTest : public ::testing::TestWithParam<int> {};

TEST_P(SignalMidFileTest, EndsTheToolAndLeavesOnlyWhatWasThere)
{
    using Clock = std::chrono::steady_clock;
    const int signal = GetParam();
    test::TempDir dir;
    // Long enough that encrypting it takes a good part of a second even on a fast machine.
    WriteFile(dir / "in", ByteVector(std::size_t{64} << 20, 0x33));
    WriteFile(dir / "out", kOldOut);

    GostProcess gost({"encrypt-file", (dir / "in").string(), (dir / "out").string(), "--overwrite"}, "chave");
    ASSERT_GT(gost.pid(), 0) << "korvane-gost did not start";
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    std::optional<int> status;
    while (!gost.WritesIn(dir.path(), dir / "in") && !(status = gost.Ended()) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(status.has_value()) << "korvane-gost ended before it began to write";
    ASSERT_LT(Clock::now(), deadline) << "korvane-gost did not begin to write within 20 s";

    kill(gost.pid(), signal);
    while (!(status = gost.Ended()) && Clock::now() < deadline + std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(status.has_value()) << "korvane-gost did not end within 20 s of the signal";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal)
        << "it should end by the signal itself; wait status " << *status;
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"in", "out"}));
    EXPECT_EQ(ReadFile(dir / "out"), kOldOut);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalMidFileTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });
#endif

} // namespace
} // namespace korvane

#endif
