#include "tools/Terminal.h"

#include <iterator>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace korvane::terminal {

#ifdef _WIN32

bool StdinIsTerminal() noexcept { return _isatty(_fileno(stdin)) != 0; }

bool StderrIsTerminal() noexcept { return _isatty(_fileno(stderr)) != 0; }

namespace {

std::wstring Widen(std::string_view utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view wide)
{
    if (wide.empty()) {
        return {};
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr,
                        nullptr);
    return utf8;
}

} // namespace

std::optional<std::string> ReadSecretLine(std::string_view prompt)
{
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
        if (output != INVALID_HANDLE_VALUE) {
            CloseHandle(output);
        }
        CloseHandle(input);
        return std::nullopt;
    }
    SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    const std::wstring widePrompt = Widen(prompt);
    DWORD written = 0;
    WriteConsoleW(output, widePrompt.data(), static_cast<DWORD>(widePrompt.size()), &written, nullptr);

    std::wstring line;
    wchar_t buffer[256];
    DWORD count = 0;
    while (ReadConsoleW(input, buffer, static_cast<DWORD>(std::size(buffer)), &count, nullptr) && count > 0) {
        line.append(buffer, count);
        if (line.find(L'\n') != std::wstring::npos) {
            break;
        }
    }
    SetConsoleMode(input, mode);
    WriteConsoleW(output, L"\r\n", 2, &written, nullptr);
    CloseHandle(output);
    CloseHandle(input);

    const std::size_t end = line.find_first_of(L"\r\n");
    std::string secret = Narrow(std::wstring_view(line).substr(0, end));
    SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
    SecureZeroMemory(buffer, sizeof buffer);
    return secret;
}

#else

bool StdinIsTerminal() noexcept { return isatty(STDIN_FILENO) == 1; }

bool StderrIsTerminal() noexcept { return isatty(STDERR_FILENO) == 1; }

namespace {

// The terminal whose echo is off while a secret is typed, for the signal handler to restore.
int gTerminal = -1;
termios gSavedMode{};

extern "C" void RestoreEchoAndDie(int signal)
{
    tcsetattr(gTerminal, TCSAFLUSH, &gSavedMode);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

std::optional<std::string> ReadSecretLine(std::string_view prompt)
{
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        close(fd);
        return std::nullopt;
    }
    gTerminal = fd;
    gSavedMode = saved;
    const int signals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
    void (*previous[std::size(signals)])(int) = {};
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        previous[i] = std::signal(signals[i], RestoreEchoAndDie);
    }

    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ICANON;
    tcsetattr(fd, TCSAFLUSH, &quiet);
    WriteAll(fd, prompt);

    std::string line;
    line.reserve(256); // fewer reallocations leaving pieces of the secret behind
    char c = 0;
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n != 1 || c == '\n') {
            break;
        }
        line += c;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }

    tcsetattr(fd, TCSAFLUSH, &saved);
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        std::signal(signals[i], previous[i]);
    }
    WriteAll(fd, "\n");
    close(fd);
    gTerminal = -1;
    return line;
}

#endif

} // namespace korvane::terminal
