// EncryptFile and DecryptFile when the file system refuses: whatever fails, an OutFile that was
// there is still there byte for byte, and nothing is left beside it.
#ifndef _WIN32

#include "CryptoTestSupport.h"
#include "FileSizeLimit.h"
#include "ChildProcess.h"

#include "GostFiles.h"
#include "clsCrypGost.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>

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

// Every entry under `root` with the bytes of each file.
std::map<std::string, ByteVector> Snapshot(const fs::path& root)
{
    std::map<std::string, ByteVector> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        entries[name] = entry.is_regular_file() ? ReadFile(entry.path()) : ByteVector{};
    }
    return entries;
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
    } condition;
};

using Condition = FileFaultCase::Condition;
constexpr rlim_t kRoomForLessThanTheFile = 4096;

// The result as text, so it can come back from an unprivileged child process.
std::string Describe(const FileOperationResult& result)
{
    std::ostringstream text;
    text << static_cast<int>(result.failure) << ' ' << result.systemError.value();
    return text.str();
}

std::string RunOperation(bool encrypt, const fs::path& in, const fs::path& out)
{
    clsCrypGost gost;
    return Describe(encrypt ? EncryptFileWithReason(gost, in, out, true, kKey)
                            : DecryptFileWithReason(gost, in, out, true, kKey));
}

// The same operation in a process of its own, for the cases that run without root's privileges.
const std::string kOperationTask = test::RegisterChildTask("file-fault-operation", [](const test::ChildArgs& args) {
    return RunOperation(args.at(0) == "encrypt", args.at(1), args.at(2));
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
    const Operation op = c.arrange(dir.path());
    const auto before = Snapshot(dir.path());

    std::string outcome;
    if (c.condition == Condition::WithoutRoot) {
        const test::ChildOutcome child = test::RunChildTask(
            kOperationTask, {op.encrypt ? "encrypt" : "decrypt", op.in.string(), op.out.string()}, {.withoutRoot = true});
        ASSERT_TRUE(child.answer.has_value()) << child.failure;
        outcome = *child.answer;
    } else {
        std::optional<test::FileSizeLimit> limit;
        if (c.condition == Condition::FullDisk) {
            limit.emplace(kRoomForLessThanTheFile);
            ASSERT_TRUE(limit->applied());
        }
        outcome = RunOperation(op.encrypt, op.in, op.out);
    }

    FileOperationResult expected;
    expected.failure = c.failure;
    expected.systemError = std::make_error_code(c.reason);
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
                      Failure::WriteFailed, std::errc::file_too_large, Condition::FullDisk}),
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

} // namespace
} // namespace korvane

#endif
