// korvane-gost: clsCrypGost from the command line. Parses the command, finds the key, converts
// text between UTF-8 and Windows-1252 and turns the library's results into exit codes.

#include "crypto/GostFiles.h"
#include "crypto/Windows1252.h"
#include "crypto/clsCrypGost.h"
#include "process/ProcessSecrets.h"
#include "process/SecretText.h"
#include "tools/Terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using korvane::FileOperationResult;
using korvane::SecretText;

constexpr std::string_view kProgram = "korvane-gost";
constexpr std::string_view kKeyVariable = "KORVANE_GOST_KEY";
// Below this a file is done before a bar would mean anything.
constexpr std::uintmax_t kProgressBarMinimum = 1024 * 1024;

constexpr std::string_view kHelp = R"(Usage: korvane-gost [--key-file FILE] COMMAND ARGUMENTS

Encrypts and decrypts files and text with the Korvane GOST cipher (clsCrypGost).

Commands:
  encrypt-file IN OUT [--overwrite]  encrypt the file IN into OUT
  decrypt-file IN OUT [--overwrite]  decrypt the file IN into OUT
  encrypt-string TEXT                print the encrypted TEXT as hexadecimal digits
  decrypt-string HEX                 print the text that the hexadecimal digits HEX hold
  --help                             show this help

Options:
  --key-file FILE  read the key from FILE (its text without one trailing line end)
  --overwrite      replace an existing OUT; without it an existing OUT is an error
  --               end of options: what follows is taken as it stands

The key is taken from --key-file, else from the environment variable KORVANE_GOST_KEY, else
asked for on the terminal without echo. It is never taken from the command line itself.
Text is UTF-8 and must be representable in Windows-1252, which the cipher works in.

OUT is replaced only by a complete file: on any failure, or when interrupted, an existing OUT
stays as it was and nothing is left beside it. A replaced OUT keeps its permissions; a symbolic
link OUT is followed and kept (its target is replaced); an OUT that is a folder, FIFO, socket or
device is never replaced.

Exit status: 0 success, 1 failure (the reason is on standard error), 2 usage error.
)";

// Exit 2: the command line itself is wrong.
class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Exit 1: the command was understood but could not be done.
class Failure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Command { EncryptFile, DecryptFile, EncryptString, DecryptString };

struct Invocation {
    Command command{};
    std::vector<std::string> operands;
    bool overwrite = false;
    std::optional<fs::path> keyFile;
};

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// nullopt for --help.
std::optional<Invocation> Parse(const std::vector<std::string_view>& args)
{
    Invocation invocation;
    std::vector<std::string_view> positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            return std::nullopt;
        } else if (arg == "--overwrite") {
            invocation.overwrite = true;
        } else if (arg == "--key-file") {
            if (i + 1 == args.size()) {
                throw UsageError("--key-file needs a FILE");
            }
            invocation.keyFile = fs::path(std::string(args[++i]));
        } else if (arg.substr(0, 11) == "--key-file=") {
            invocation.keyFile = fs::path(std::string(arg.substr(11)));
        } else if (arg == "--key" || arg.substr(0, 6) == "--key=") {
            throw UsageError("the key is never taken from the command line; use --key-file FILE or KORVANE_GOST_KEY");
        } else {
            throw UsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    if (positional.empty()) {
        throw UsageError("no command given");
    }

    struct Known {
        std::string_view name;
        Command command;
        std::size_t operands;
    };
    static constexpr Known kCommands[] = {
        {"encrypt-file", Command::EncryptFile, 2},
        {"decrypt-file", Command::DecryptFile, 2},
        {"encrypt-string", Command::EncryptString, 1},
        {"decrypt-string", Command::DecryptString, 1},
    };
    const std::string_view name = positional.front();
    const Known* known = nullptr;
    for (const Known& k : kCommands) {
        if (k.name == name) {
            known = &k;
        }
    }
    if (known == nullptr) {
        throw UsageError("unknown command '" + std::string(name) + "'");
    }
    if (positional.size() - 1 != known->operands) {
        throw UsageError(std::string(name) + (known->operands == 2 ? " needs IN and OUT" : " needs one argument"));
    }
    const bool onFiles = known->operands == 2;
    if (invocation.overwrite && !onFiles) {
        throw UsageError("--overwrite applies only to encrypt-file and decrypt-file");
    }
    invocation.command = known->command;
    invocation.operands.assign(positional.begin() + 1, positional.end());
    return invocation;
}

std::error_code LastSystemError()
{
    return errno != 0 ? std::error_code(errno, std::generic_category()) : std::make_error_code(std::errc::io_error);
}

SecretText ReadKeyFile(const fs::path& path)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Failure("cannot read key file " + Quoted(path) + ": " + LastSystemError().message());
    }
    SecretText key(std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    if (in.bad()) {
        throw Failure("cannot read key file " + Quoted(path) + ": " + LastSystemError().message());
    }
    std::string& text = key.text();
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
    }
    return key;
}

// The key in Windows-1252, from the first source that is there.
SecretText ObtainKey(const Invocation& invocation)
{
    SecretText utf8;
    if (invocation.keyFile) {
        utf8 = ReadKeyFile(*invocation.keyFile);
    } else if (std::optional<std::string> variable = korvane::TakeSecretFromEnvironment(kKeyVariable.data())) {
        utf8 = SecretText(std::move(*variable));
    } else if (std::optional<std::string> typed = korvane::terminal::ReadSecretLine("Key: ")) {
        utf8 = SecretText(std::move(*typed));
    } else {
        throw UsageError("no key: give --key-file FILE or set KORVANE_GOST_KEY (there is no terminal to ask on)");
    }
    if (utf8.text().empty()) {
        throw Failure("the key is empty");
    }
    try {
        return SecretText(korvane::Utf8ToWindows1252(utf8.text()));
    } catch (const korvane::TextConversionError& error) {
        throw Failure(std::string("key: ") + error.what());
    }
}

std::string ToWindows1252(std::string_view utf8, std::string_view what)
{
    try {
        return korvane::Utf8ToWindows1252(utf8);
    } catch (const korvane::TextConversionError& error) {
        throw Failure(std::string(what) + ": " + error.what());
    }
}

std::string WrongKeyOrDamaged(const korvane::GostError& error)
{
    return "wrong key or damaged data: " + std::to_string(error.Number()) + " " + error.Description();
}

// Redrawn on standard error at each Progress event; ends its line at 100.
void DrawProgress(std::int32_t percent)
{
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(percent) * kWidth / 100;
    std::string bar = "\r[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), ' ');
    bar += "] " + std::to_string(percent) + "%";
    if (percent >= 100) {
        bar += '\n';
    }
    std::fputs(bar.c_str(), stderr);
    std::fflush(stderr);
}

std::string KindOf(fs::file_type type)
{
    switch (type) {
    case fs::file_type::directory:
        return "a folder";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    case fs::file_type::character:
    case fs::file_type::block:
        return "a device";
    default:
        return "something other than a file";
    }
}

std::string Describe(const FileOperationResult& result, bool decrypt, const fs::path& in, const fs::path& out)
{
    using F = FileOperationResult::Failure;
    switch (result.failure) {
    case F::None:
        break;
    case F::InputMissing:
    case F::ReadFailed:
        return "cannot read input " + Quoted(in) + ": " + result.systemError.message();
    case F::OutputExists:
        return "output " + Quoted(out) + " exists; use --overwrite to replace it";
    case F::OutputNotAFile:
        return "output " + Quoted(out) + " is " + KindOf(result.outFileType)
            + ", not a regular file; it is never replaced";
    case F::CipherFailed:
        if (result.cipherError && decrypt) {
            return WrongKeyOrDamaged(*result.cipherError);
        }
        if (result.cipherError) {
            return "cannot encrypt " + Quoted(in) + ": " + std::to_string(result.cipherError->Number()) + " "
                + result.cipherError->Description();
        }
        return std::string(decrypt ? "cannot decrypt " : "cannot encrypt ") + Quoted(in)
            + (result.systemError ? ": " + result.systemError.message() : "");
    case F::WriteFailed:
        return "cannot write output " + Quoted(out) + ": " + result.systemError.message();
    }
    return {};
}

// A signal that ends the program in the middle of a file: the unfinished output goes first,
// then the signal takes its usual course. Only async-signal-safe calls.
extern "C" void DiscardOutputAndDie(int signal)
{
    korvane::DiscardUnfinishedFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void DiscardOutputOnSignals()
{
#ifdef SIGHUP
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
#else
    const int signals[] = {SIGINT, SIGTERM};
#endif
    for (const int signal : signals) {
        // A signal ignored from the start (nohup) stays ignored.
        if (std::signal(signal, DiscardOutputAndDie) == SIG_IGN) {
            std::signal(signal, SIG_IGN);
        }
    }
}

void RunFileCommand(const Invocation& invocation)
{
    const bool decrypt = invocation.command == Command::DecryptFile;
    const fs::path in(invocation.operands[0]);
    const fs::path out(invocation.operands[1]);

    // The checks the library makes first, made here before asking for a key.
    if (const FileOperationResult checked = korvane::CheckFileOperation(in, out, invocation.overwrite);
        !checked.Written()) {
        throw Failure(Describe(checked, decrypt, in, out));
    }

    const SecretText key = ObtainKey(invocation);
    korvane::clsCrypGost cipher;
    std::error_code ignored;
    if (fs::file_size(in, ignored) >= kProgressBarMinimum && !ignored && korvane::terminal::StderrIsTerminal()) {
        cipher.Progress = [](std::int32_t& percent) { DrawProgress(percent); };
    }
    DiscardOutputOnSignals();
    const FileOperationResult result = decrypt
        ? korvane::DecryptFileWithReason(cipher, in, out, invocation.overwrite, key.text())
        : korvane::EncryptFileWithReason(cipher, in, out, invocation.overwrite, key.text());
    if (!result.Written()) {
        throw Failure(Describe(result, decrypt, in, out));
    }
}

void PrintLine(std::string_view text)
{
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::cout.put('\n');
    std::cout.flush();
    if (!std::cout) {
        throw Failure("cannot write to standard output");
    }
}

void RunStringCommand(const Invocation& invocation)
{
    const bool decrypt = invocation.command == Command::DecryptString;
    std::string text = ToWindows1252(invocation.operands[0], decrypt ? "HEX" : "TEXT");
    const SecretText key = ObtainKey(invocation);
    korvane::clsCrypGost cipher;
    if (!decrypt) {
        PrintLine(cipher.EncryptString(text, key.text(), true));
        return;
    }
    try {
        SecretText plain(cipher.DecryptString(text, key.text(), true));
        PrintLine(korvane::Windows1252ToUtf8(plain.text()));
    } catch (const korvane::GostError& error) {
        throw Failure(WrongKeyOrDamaged(error));
    }
}

void Complain(std::string_view reason)
{
    std::cerr << kProgram << ": " << reason << '\n';
}

} // namespace

int main(int argc, char** argv)
{
    // The key must not outlive the process in a core file.
    static_cast<void>(korvane::KeepSecretsOutOfCoreDumps());
    try {
        const std::vector<std::string_view> args(argv + 1, argv + argc);
        const std::optional<Invocation> invocation = Parse(args);
        if (!invocation) {
            std::cout << kHelp;
            std::cout.flush();
            return std::cout ? 0 : 1;
        }
        if (invocation->command == Command::EncryptFile || invocation->command == Command::DecryptFile) {
            RunFileCommand(*invocation);
        } else {
            RunStringCommand(*invocation);
        }
        return 0;
    } catch (const UsageError& error) {
        Complain(std::string(error.what()) + " (see korvane-gost --help)");
        return 2;
    } catch (const Failure& error) {
        Complain(error.what());
        return 1;
    } catch (const korvane::GostError& error) {
        Complain(std::to_string(error.Number()) + " " + error.Description());
        return 1;
    } catch (const std::exception& error) {
        Complain(error.what());
        return 1;
    }
}
