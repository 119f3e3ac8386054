#include "tests/crypto/CryptoTestSupport.h"
#include "tests/support/FileSizeLimit.h"

#include "crypto/GostFiles.h"
#include "crypto/clsCrypGost.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace korvane {
namespace {

namespace fs = std::filesystem;
using test::FixedWords;
using test::ProgressLog;
using test::ReadFile;
using test::WriteFile;
using ByteVector = std::vector<std::uint8_t>;
using Failure = FileOperationResult::Failure;

class FileOperations : public ::testing::Test {
protected:
    // The names in the folder: a temporary file left behind would show here.
    std::set<std::string> Listing() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    ByteVector Encrypted(const ByteVector& plain, std::string_view key)
    {
        ByteVector bytes = plain;
        gost.EncryptByte(bytes, key);
        return bytes;
    }

    test::TempDir dir;
    clsCrypGost gost;
    const ByteVector plain = test::Bytes("48 65 6C 6C 6F 2C 20 6D 75 6E 64 6F");
    const ByteVector oldContent = ByteVector(100, 0xEE);
};

TEST_F(FileOperations, EncryptFileWritesExactlyTheLayoutOfEncryptByte)
{
    const std::pair<std::size_t, std::size_t> lengths[] = {{0, 16}, {1, 16}, {5, 24}, {13, 32}};
    for (const auto& [n, t] : lengths) {
        SCOPED_TRACE(n);
        const ByteVector input(n, 0x61);
        WriteFile(dir / "in", input);
        clsCrypGost fixed(FixedWords(3, 4));
        ASSERT_TRUE(fixed.EncryptFile(dir / "in", dir / "out", true, "k"));
        const ByteVector output = ReadFile(dir / "out");
        EXPECT_EQ(output.size(), t);
        ByteVector expected = input;
        clsCrypGost reference(FixedWords(3, 4));
        reference.EncryptByte(expected, "k");
        EXPECT_EQ(output, expected);

        ASSERT_TRUE(gost.DecryptFile(dir / "out", dir / "back", true, "k"));
        EXPECT_EQ(ReadFile(dir / "back"), input);
    }
    EXPECT_EQ(Listing(), (std::set<std::string>{"in", "out", "back"}));
}

TEST_F(FileOperations, ExistingOutFileNeedsOverwrite)
{
    struct Case {
        const char* name;
        bool decrypt;
    };
    for (const Case& c : {Case{"encrypt", false}, Case{"decrypt", true}}) {
        SCOPED_TRACE(c.name);
        const ByteVector input = c.decrypt ? Encrypted(plain, "k") : plain;
        WriteFile(dir / "in", input);
        WriteFile(dir / "out", oldContent);
        auto run = [&](bool overwrite) {
            return c.decrypt ? gost.DecryptFile(dir / "in", dir / "out", overwrite, "k")
                             : gost.EncryptFile(dir / "in", dir / "out", overwrite, "k");
        };

        ProgressLog log(gost);
        EXPECT_FALSE(run(false));
        EXPECT_TRUE(log.events.empty());
        EXPECT_EQ(ReadFile(dir / "in"), input);
        EXPECT_EQ(ReadFile(dir / "out"), oldContent);

        // The old, longer file is replaced by exactly the new bytes.
        EXPECT_TRUE(run(true));
        const ByteVector output = ReadFile(dir / "out");
        if (c.decrypt) {
            EXPECT_EQ(output, plain);
        } else {
            EXPECT_EQ(output.size(), 24u);
        }
        EXPECT_EQ(log.events, (std::vector<std::int32_t>{0, 33, 66, 100}));
        EXPECT_EQ(Listing(), (std::set<std::string>{"in", "out"}));
    }
}

TEST_F(FileOperations, SamePathInAndOut)
{
    WriteFile(dir / "file", plain);
    EXPECT_FALSE(gost.EncryptFile(dir / "file", dir / "file", false, "k"));
    EXPECT_EQ(ReadFile(dir / "file"), plain);

    ASSERT_TRUE(gost.EncryptFile(dir / "file", dir / "file", true, "k"));
    EXPECT_EQ(ReadFile(dir / "file").size(), 24u);
    ASSERT_TRUE(gost.DecryptFile(dir / "file", dir / "file", true, "k"));
    EXPECT_EQ(ReadFile(dir / "file"), plain);
    EXPECT_EQ(Listing(), (std::set<std::string>{"file"}));
}

TEST_F(FileOperations, MissingInFileIsFalseWithoutEventsOrKey)
{
    clsCrypGost fixed(FixedWords());
    ProgressLog log(fixed);
    fs::create_directory(dir / "folder");
    for (const fs::path& in : {dir / "missing", dir / "folder"}) {
        SCOPED_TRACE(in.string());
        EXPECT_FALSE(fixed.EncryptFile(in, dir / "out", true, "a key"));
        EXPECT_FALSE(fixed.DecryptFile(in, dir / "out", true, "a key"));
        const FileOperationResult result = EncryptFileWithReason(fixed, in, dir / "out", true);
        EXPECT_EQ(result.failure, Failure::InputMissing);
        EXPECT_TRUE(result.systemError);
    }
    EXPECT_EQ(EncryptFileWithReason(fixed, dir / "missing", dir / "out", true).systemError,
              std::make_error_code(std::errc::no_such_file_or_directory));
    EXPECT_TRUE(log.events.empty());
    EXPECT_FALSE(fs::exists(dir / "out"));
    // Never assigned: the zero key's known answer still comes out.
    EXPECT_EQ(fixed.EncryptString("", {}, true), test::HexText(test::KnownAnswers().front().cipher));
}

TEST_F(FileOperations, WrongKeyWritesNothingAndKeepsAnOldOutFile)
{
    WriteFile(dir / "in", Encrypted(plain, "right"));

    EXPECT_FALSE(gost.DecryptFile(dir / "in", dir / "out", false, "wrong"));
    EXPECT_FALSE(fs::exists(dir / "out"));

    WriteFile(dir / "out", oldContent);
    const FileOperationResult result = DecryptFileWithReason(gost, dir / "in", dir / "out", true, "wrong");
    EXPECT_EQ(result.failure, Failure::CipherFailed);
    ASSERT_TRUE(result.cipherError.has_value());
    EXPECT_EQ(result.cipherError->Number(), -2147221504);
    EXPECT_EQ(result.cipherError->Description(), "Incorrect size descriptor in Gost decryption");
    EXPECT_EQ(ReadFile(dir / "out"), oldContent);
    EXPECT_EQ(Listing(), (std::set<std::string>{"in", "out"}));
}

TEST_F(FileOperations, DecryptFileRefusesFilesShorterThanTwoBlocks)
{
    clsCrypGost fixed(FixedWords());
    const ByteVector layout = Encrypted(ByteVector(3, 0x33), "k"); // 16 bytes
    for (const std::size_t length : {0u, 1u, 8u, 15u}) {
        SCOPED_TRACE(length);
        WriteFile(dir / "in", ByteVector(layout.begin(), layout.begin() + static_cast<std::ptrdiff_t>(length)));
        ProgressLog log(fixed);
        EXPECT_FALSE(fixed.DecryptFile(dir / "in", dir / "out", true, "k"));
        EXPECT_FALSE(fs::exists(dir / "out"));
        EXPECT_TRUE(log.events.empty());
        const FileOperationResult result = DecryptFileWithReason(fixed, dir / "in", dir / "out", true, "k");
        ASSERT_TRUE(result.cipherError.has_value());
        EXPECT_EQ(result.cipherError->Number(), GostError::kIncorrectSizeDescriptor);
    }
    EXPECT_EQ(fixed.EncryptString("", {}, true), test::HexText(test::KnownAnswers().front().cipher));
}

// Lengths on both sides of the pieces the file operations stream through: every byte, every
// Progress event and its order as EncryptByte and DecryptByte give them on the whole array.
TEST_F(FileOperations, StreamedFilesMatchTheByteOperationsAcrossPieces)
{
    const std::size_t piece = kFileBufferSize;
    const std::size_t lengths[] = {piece - 13, piece - 12, piece - 11, piece - 4, piece, piece + 1,
                                   2 * piece - 12, 2 * piece + 5};
    for (const std::size_t n : lengths) {
        SCOPED_TRACE(n);
        ByteVector input(n);
        for (std::size_t i = 0; i < n; ++i) {
            input[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        }
        WriteFile(dir / "in", input);

        clsCrypGost fromFile(FixedWords(0x12345678, 0x7ABCDEF0));
        ProgressLog fileEvents(fromFile);
        ASSERT_TRUE(fromFile.EncryptFile(dir / "in", dir / "out", true, "chave"));
        clsCrypGost inMemory(FixedWords(0x12345678, 0x7ABCDEF0));
        ProgressLog memoryEvents(inMemory);
        ByteVector expected = input;
        inMemory.EncryptByte(expected, "chave");
        EXPECT_TRUE(ReadFile(dir / "out") == expected);
        EXPECT_EQ(fileEvents.events, memoryEvents.events);

        fileEvents.events.clear();
        memoryEvents.events.clear();
        ASSERT_TRUE(fromFile.DecryptFile(dir / "out", dir / "back", true));
        inMemory.DecryptByte(expected);
        EXPECT_TRUE(ReadFile(dir / "back") == input);
        EXPECT_EQ(fileEvents.events, memoryEvents.events);
    }
    EXPECT_EQ(Listing(), (std::set<std::string>{"in", "out", "back"}));
}

// The length comes from the opened file; one that grows or shrinks while it is read (here from
// a Progress handler, between two pieces) is a read failure, and OutFile stays as it was.
TEST_F(FileOperations, InFileThatChangesLengthWhileReadIsAReadFailure)
{
    const ByteVector big(3 * kFileBufferSize, 0x61);
    for (const bool grow : {true, false}) {
        for (const bool decrypt : {false, true}) {
            SCOPED_TRACE(std::string(grow ? "grows" : "shrinks") + (decrypt ? ", decrypt" : ", encrypt"));
            WriteFile(dir / "in", decrypt ? Encrypted(big, "k") : big);
            WriteFile(dir / "out", oldContent);
            bool changed = false;
            gost.Progress = [&](std::int32_t& percent) {
                if (percent >= 10 && !changed) {
                    changed = true;
                    if (grow) {
                        std::ofstream(dir / "in", std::ios::binary | std::ios::app) << "more";
                    } else {
                        fs::resize_file(dir / "in", 2 * kFileBufferSize);
                    }
                }
            };
            const FileOperationResult result = decrypt
                ? DecryptFileWithReason(gost, dir / "in", dir / "out", true, "k")
                : EncryptFileWithReason(gost, dir / "in", dir / "out", true, "k");
            gost.Progress = nullptr;
            EXPECT_TRUE(changed);
            EXPECT_EQ(result.failure, Failure::ReadFailed);
            EXPECT_EQ(result.systemError, std::make_error_code(std::errc::io_error));
            EXPECT_EQ(ReadFile(dir / "out"), oldContent);
            EXPECT_EQ(Listing(), (std::set<std::string>{"in", "out"}));
        }
    }
}

TEST_F(FileOperations, OutFileInAMissingFolderIsAFailedWrite)
{
    WriteFile(dir / "in", plain);
    const FileOperationResult result = EncryptFileWithReason(gost, dir / "in", dir / "no" / "out", false, "k");
    EXPECT_EQ(result.failure, Failure::WriteFailed);
    EXPECT_EQ(result.systemError, std::make_error_code(std::errc::no_such_file_or_directory));
}

TEST_F(FileOperations, ProgressHandlerThatThrowsIsAFailureThatKeepsOutFile)
{
    WriteFile(dir / "in", plain);
    WriteFile(dir / "out", oldContent);
    gost.Progress = [](std::int32_t& percent) {
        if (percent > 0) {
            throw std::runtime_error("cancelled");
        }
    };
    EXPECT_FALSE(gost.EncryptFile(dir / "in", dir / "out", true, "k"));
    EXPECT_EQ(ReadFile(dir / "out"), oldContent);
}

#ifndef _WIN32
using korvane::test::FileSizeLimit;

TEST_F(FileOperations, FailedWriteLeavesTheOldOutFileIntact)
{
    const ByteVector big(64 * 1024, 0x42);
    WriteFile(dir / "in", big);
    WriteFile(dir / "out", oldContent);
    FileOperationResult result;
    {
        const FileSizeLimit limit(4096);
        result = EncryptFileWithReason(gost, dir / "in", dir / "out", true, "k");
    }
    EXPECT_EQ(result.failure, Failure::WriteFailed);
    EXPECT_EQ(result.systemError, std::make_error_code(std::errc::file_too_large));
    EXPECT_EQ(ReadFile(dir / "out"), oldContent);
    EXPECT_EQ(Listing(), (std::set<std::string>{"in", "out"}));
}
#endif

} // namespace
} // namespace korvane
