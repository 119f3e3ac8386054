#include "tests/tools/ProcessRunner.h"

#include "crypto/Windows1252.h"
#include "crypto/clsCrypGost.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include <sys/stat.h>

namespace korvane {
namespace {

namespace fs = std::filesystem;
using test::ProcessOptions;
using test::ProcessResult;
using Bytes = std::vector<std::uint8_t>;

const fs::path kGost = KORVANE_GOST_PATH;
const std::string kWrongKeyLine =
    "korvane-gost: wrong key or damaged data: -2147221504 Incorrect size descriptor in Gost decryption\n";

void WriteFile(const fs::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One line on stderr, prefixed with the program's name.
::testing::AssertionResult IsOneLineReason(const std::string& err)
{
    if (err.rfind("korvane-gost: ", 0) != 0 || err.empty() || err.back() != '\n'
        || err.find('\n') != err.size() - 1) {
        return ::testing::AssertionFailure() << "stderr is not one reason line: '" << err << "'";
    }
    return ::testing::AssertionSuccess();
}

class GostTool : public ::testing::Test {
protected:
    GostTool()
    {
        std::random_device device;
        m_dir = fs::temp_directory_path() / ("korvane-gost-tool-test-" + std::to_string(device()) + std::to_string(device()));
        fs::create_directories(m_dir);
    }
    ~GostTool() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    fs::path Path(const std::string& name) const { return m_dir / name; }

    // With the key in KORVANE_GOST_KEY, or no key at all when `key` is empty.
    static ProcessResult Run(const std::vector<std::string>& args, const std::string& key = {})
    {
        ProcessOptions options;
        if (!key.empty()) {
            options.environment["KORVANE_GOST_KEY"] = key;
        }
        return test::RunProcess(kGost, args, options);
    }

    std::string KeyFile(std::string_view content)
    {
        const fs::path path = Path("key-" + std::to_string(m_keyFiles++));
        WriteFile(path, content);
        return path.string();
    }

private:
    fs::path m_dir;
    int m_keyFiles = 0;
};

TEST_F(GostTool, HelpListsTheCommandsAndNeedsNoKey)
{
    const ProcessResult result = Run({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* word : {"encrypt-file", "decrypt-file", "encrypt-string", "decrypt-string", "--overwrite",
                             "--key-file", "KORVANE_GOST_KEY"}) {
        EXPECT_NE(result.out.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(result.err, "");
}

TEST_F(GostTool, UsageErrorsExit2WithOneLine)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"encrypt-string"},
        {"encrypt-string", "a", "b"},
        {"encrypt-file", "in"},
        {"decrypt-file", "in", "out", "more"},
        {"--bogus", "encrypt-string", "a"},
        {"encrypt-string", "a", "--key-file"},
        {"encrypt-string", "a", "--overwrite"},
        {"--key", "secret", "encrypt-string", "a"},
        {"--key=secret", "encrypt-string", "a"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const ProcessResult result = Run(args, "k");
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(IsOneLineReason(result.err));
        EXPECT_EQ(result.out, "");
    }
    EXPECT_NE(Run({"--key", "secret", "encrypt-string", "a"}).err.find("never taken from the command line"),
              std::string::npos);
}

TEST_F(GostTool, NoKeyAndNoTerminalIsAUsageError)
{
    const ProcessResult result = Run({"encrypt-string", "a"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(IsOneLineReason(result.err));
    EXPECT_NE(result.err.find("--key-file"), std::string::npos);
}

TEST_F(GostTool, StringsRoundTripInUtf8)
{
    for (const std::string text : {"", "a", "Ol\xC3\xA1, \xE2\x82\xAC 100", "-starts with a dash"}) {
        SCOPED_TRACE(text);
        const ProcessResult encrypted = Run({"encrypt-string", "--", text}, "key \xC3\xA9\xE2\x82\xAC");
        ASSERT_EQ(encrypted.exitCode, 0) << encrypted.err;
        ASSERT_GE(encrypted.out.size(), 33u);
        const std::string hex = encrypted.out.substr(0, encrypted.out.size() - 1);
        EXPECT_EQ(encrypted.out.back(), '\n');
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);

        const ProcessResult decrypted = Run({"decrypt-string", hex}, "key \xC3\xA9\xE2\x82\xAC");
        EXPECT_EQ(decrypted.exitCode, 0) << decrypted.err;
        EXPECT_EQ(decrypted.out, text + "\n");
        EXPECT_EQ(decrypted.err, "");
    }
}

TEST_F(GostTool, AgreesWithTheLibraryInWindows1252)
{
    // The tool's key and text are UTF-8; the library sees their Windows-1252 bytes.
    const std::string utf8Key = "\xC3\xA9\xE2\x82\xAC";
    const std::string cp1252Key = "\xE9\x80";
    clsCrypGost gost;

    const ProcessResult fromTool = Run({"encrypt-string", "caf\xC3\xA9"}, utf8Key);
    ASSERT_EQ(fromTool.exitCode, 0) << fromTool.err;
    std::string hex = fromTool.out.substr(0, fromTool.out.size() - 1);
    EXPECT_EQ(gost.DecryptString(hex, cp1252Key, true), "caf\xE9");

    const std::string fromLibrary = gost.EncryptString("\x80 and \xFF", cp1252Key, true);
    const ProcessResult decrypted = Run({"decrypt-string", fromLibrary}, utf8Key);
    EXPECT_EQ(decrypted.exitCode, 0) << decrypted.err;
    EXPECT_EQ(decrypted.out, "\xE2\x82\xAC and \xC3\xBF\n");
}

TEST_F(GostTool, WrongKeyOnAStringNamesTheError)
{
    const std::string hex = Run({"encrypt-string", "secret"}, "right").out;
    const ProcessResult result = Run({"decrypt-string", hex.substr(0, hex.size() - 1)}, "wrong");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, kWrongKeyLine);
    EXPECT_EQ(result.out, "");

    const ProcessResult garbage = Run({"decrypt-string", "not hex at all"}, "right");
    EXPECT_EQ(garbage.exitCode, 1);
    EXPECT_EQ(garbage.err, kWrongKeyLine);
}

TEST_F(GostTool, TextOutsideWindows1252IsRefused)
{
    struct Case {
        std::vector<std::string> args;
        std::string key;
        std::string reasonStart;
    };
    const Case cases[] = {
        {{"encrypt-string", "\xE4\xB8\xAD"}, "k", "korvane-gost: TEXT: character U+4E2D at byte 0"},
        {{"encrypt-string", "caf\xE9"}, "k", "korvane-gost: TEXT: invalid UTF-8 at byte 3"},
        {{"decrypt-string", "\xE2\x82\xAC\xC4\x80"}, "k", "korvane-gost: HEX: character U+0100 at byte 3"},
        {{"encrypt-string", "a"}, "\xE4\xB8\xAD", "korvane-gost: key: character U+4E2D at byte 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reasonStart);
        const ProcessResult result = Run(c.args, c.key);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(IsOneLineReason(result.err));
        EXPECT_EQ(result.err.rfind(c.reasonStart, 0), 0u) << result.err;
    }
}

TEST_F(GostTool, KeySources)
{
    clsCrypGost gost;
    // Decrypts what the tool printed with the library and the expected key.
    auto keyUsed = [&gost](const ProcessResult& result, const std::string& expectedKey) {
        if (result.exitCode != 0) {
            return false;
        }
        std::string hex = result.out.substr(0, result.out.size() - 1);
        try {
            return gost.DecryptString(hex, expectedKey, true) == "probe";
        } catch (const GostError&) {
            return false;
        }
    };

    struct Case {
        const char* name;
        std::string fileContent; // empty: no --key-file
        std::string variable;    // empty: not set
        std::string expectedKey;
    };
    const Case cases[] = {
        {"file without line end", "file key", "", "file key"},
        {"file with a newline", "file key\n", "", "file key"},
        {"file with CR LF", "file key\r\n", "", "file key"},
        {"only one line end is dropped", "file key\n\n", "", "file key\n"},
        {"a lone CR stays", "file key\r", "", "file key\r"},
        {"file before the variable", "file key\n", "variable key", "file key"},
        {"the variable", "", "variable key", "variable key"},
        {"UTF-8 file", "cl\xC3\xA9\n", "", "cl\xE9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"encrypt-string", "probe"};
        if (!c.fileContent.empty()) {
            args.insert(args.begin(), {"--key-file", KeyFile(c.fileContent)});
        }
        EXPECT_TRUE(keyUsed(Run(args, c.variable), c.expectedKey));
    }

    const ProcessResult equalsForm = Run({"--key-file=" + KeyFile("k2"), "encrypt-string", "probe"});
    EXPECT_TRUE(keyUsed(equalsForm, "k2"));
}

TEST_F(GostTool, KeyFileProblemsExit1)
{
    const ProcessResult missing = Run({"--key-file", Path("absent").string(), "encrypt-string", "a"}, "k");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "korvane-gost: cannot read key file '" + Path("absent").string()
                               + "': No such file or directory\n");

    for (const std::string& empty : {std::string(""), std::string("\n"), std::string("\r\n")}) {
        const ProcessResult result = Run({"--key-file", KeyFile(empty), "encrypt-string", "a"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "korvane-gost: the key is empty\n");
    }
    EXPECT_EQ(Run({"encrypt-string", "a"}, "").exitCode, 2); // not set at all
    ProcessOptions emptyVariable;
    emptyVariable.environment["KORVANE_GOST_KEY"] = "";
    EXPECT_EQ(test::RunProcess(kGost, {"encrypt-string", "a"}, emptyVariable).err, "korvane-gost: the key is empty\n");
}

TEST_F(GostTool, FilesRoundTripWithTheLibrary)
{
    std::string content;
    for (int i = 0; i < 1000; ++i) {
        content += static_cast<char>(i * 7);
    }
    WriteFile(Path("plain"), content);
    ProcessResult result = Run({"encrypt-file", Path("plain").string(), Path("enc").string()}, "k");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(fs::file_size(Path("enc")), 1016u);

    clsCrypGost gost;
    ASSERT_TRUE(gost.DecryptFile(Path("enc"), Path("by-library"), false, "k"));
    EXPECT_EQ(ReadFile(Path("by-library")), content);

    ASSERT_TRUE(gost.EncryptFile(Path("plain"), Path("enc2"), false, "k"));
    result = Run({"decrypt-file", Path("enc2").string(), Path("by-tool").string()}, "k");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(Path("by-tool")), content);
}

TEST_F(GostTool, EmptyFileEncryptsToSixteenBytes)
{
    WriteFile(Path("empty"), "");
    ASSERT_EQ(Run({"encrypt-file", Path("empty").string(), Path("enc").string()}, "k").exitCode, 0);
    EXPECT_EQ(fs::file_size(Path("enc")), 16u);
    ASSERT_EQ(Run({"decrypt-file", Path("enc").string(), Path("back").string()}, "k").exitCode, 0);
    EXPECT_EQ(fs::file_size(Path("back")), 0u);
}

TEST_F(GostTool, MissingInputExits1WithoutAskingForAKey)
{
    for (const char* command : {"encrypt-file", "decrypt-file"}) {
        SCOPED_TRACE(command);
        const ProcessResult result = Run({command, Path("absent").string(), Path("out").string()});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err,
                  "korvane-gost: cannot read input '" + Path("absent").string() + "': No such file or directory\n");
        EXPECT_FALSE(fs::exists(Path("out")));
    }
}

TEST_F(GostTool, ExistingOutputNeedsOverwrite)
{
    WriteFile(Path("plain"), "data");
    WriteFile(Path("out"), "old content");
    for (const char* command : {"encrypt-file", "decrypt-file"}) {
        SCOPED_TRACE(command);
        const ProcessResult result = Run({command, Path("plain").string(), Path("out").string()}, "k");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "korvane-gost: output '" + Path("out").string()
                                  + "' exists; use --overwrite to replace it\n");
        EXPECT_EQ(ReadFile(Path("out")), "old content");
    }
    const ProcessResult replaced =
        Run({"encrypt-file", "--overwrite", Path("plain").string(), Path("out").string()}, "k");
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_EQ(fs::file_size(Path("out")), 16u);
}

// Refused before a key is asked for: there is no key here and no terminal to ask on.
TEST_F(GostTool, OutputThatIsNoRegularFileIsNeverReplaced)
{
    WriteFile(Path("plain"), "data");
    fs::create_directory(Path("folder"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
    const std::pair<const char*, const char*> cases[] = {{"folder", "a folder"}, {"fifo", "a FIFO"}};
    for (const auto& [name, kind] : cases) {
        SCOPED_TRACE(name);
        const ProcessResult result = Run({"encrypt-file", "--overwrite", Path("plain").string(), Path(name).string()});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "korvane-gost: output '" + Path(name).string() + "' is " + kind
                                  + ", not a regular file; it is never replaced\n");
    }
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));
    EXPECT_TRUE(fs::is_empty(Path("folder")));
}

TEST_F(GostTool, SamePathInAndOutWithOverwrite)
{
    WriteFile(Path("file"), "in place");
    ASSERT_EQ(Run({"encrypt-file", Path("file").string(), Path("file").string(), "--overwrite"}, "k").exitCode, 0);
    EXPECT_NE(ReadFile(Path("file")), "in place");
    ASSERT_EQ(Run({"decrypt-file", Path("file").string(), Path("file").string(), "--overwrite"}, "k").exitCode, 0);
    EXPECT_EQ(ReadFile(Path("file")), "in place");
}

TEST_F(GostTool, WrongKeyLeavesOutAbsentOrUntouched)
{
    WriteFile(Path("plain"), "secret data");
    ASSERT_EQ(Run({"encrypt-file", Path("plain").string(), Path("enc").string()}, "right").exitCode, 0);

    ProcessResult result = Run({"decrypt-file", Path("enc").string(), Path("out").string()}, "wrong");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, kWrongKeyLine);
    EXPECT_FALSE(fs::exists(Path("out")));

    WriteFile(Path("out"), "old content");
    result = Run({"decrypt-file", Path("enc").string(), Path("out").string(), "--overwrite"}, "wrong");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, kWrongKeyLine);
    EXPECT_EQ(ReadFile(Path("out")), "old content");

    // Too short to hold an encrypted layout at all: the same answer.
    WriteFile(Path("short"), "0123456789");
    result = Run({"decrypt-file", Path("short").string(), Path("out2").string()}, "right");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, kWrongKeyLine);
    EXPECT_FALSE(fs::exists(Path("out2")));
}

TEST_F(GostTool, WriteFailureGivesTheSystemsReason)
{
    WriteFile(Path("plain"), "data");
    const fs::path out = Path("no-such-folder") / "out";
    const ProcessResult result = Run({"encrypt-file", Path("plain").string(), out.string()}, "k");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "korvane-gost: cannot write output '" + out.string() + "': No such file or directory\n");
}

TEST_F(GostTool, InputThatIsAFolderIsRefused)
{
    const ProcessResult result = Run({"encrypt-file", Path("").string(), Path("out").string()}, "k");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(IsOneLineReason(result.err));
    EXPECT_NE(result.err.find("cannot read input"), std::string::npos);
}

TEST_F(GostTool, KeyTypedOnTheTerminalIsNotEchoed)
{
    ProcessOptions options;
    options.onTerminal = true;
    options.prompt = "Key: ";
    options.typed = "typed s\xC3\xA9" "cret";
    const ProcessResult result = test::RunProcess(kGost, {"encrypt-string", "probe"}, options);
    ASSERT_EQ(result.exitCode, 0) << result.err << result.terminal;
    EXPECT_NE(result.terminal.find("Key: "), std::string::npos);
    EXPECT_EQ(result.terminal.find("cret"), std::string::npos) << result.terminal;

    clsCrypGost gost;
    std::string hex = result.out.substr(0, result.out.size() - 1);
    EXPECT_EQ(gost.DecryptString(hex, "typed s\xE9" "cret", true), "probe");
}

TEST_F(GostTool, ProgressBarOnlyWhenStderrIsATerminal)
{
    WriteFile(Path("big"), std::string(1024 * 1024, 'x'));
    ProcessOptions options;
    options.environment["KORVANE_GOST_KEY"] = "k";
    options.onTerminal = true;
    options.stderrOnTerminal = true;
    ProcessResult result = test::RunProcess(kGost, {"encrypt-file", Path("big").string(), Path("enc").string()}, options);
    ASSERT_EQ(result.exitCode, 0) << result.terminal;
    EXPECT_NE(result.terminal.find("] 0%"), std::string::npos);
    EXPECT_NE(result.terminal.find("] 100%"), std::string::npos);

    options.stderrOnTerminal = false;
    result = test::RunProcess(kGost, {"decrypt-file", Path("enc").string(), Path("dec").string()}, options);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.terminal, "");
    EXPECT_EQ(fs::file_size(Path("dec")), 1024u * 1024u);
}

} // namespace
} // namespace korvane
