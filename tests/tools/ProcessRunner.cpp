#include "tests/tools/ProcessRunner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane::test {
namespace {

std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& extra)
{
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string_view::npos) {
            variables[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
        }
    }
    variables.erase("KORVANE_GOST_KEY");
    for (const auto& [name, value] : extra) {
        variables[name] = value;
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) {
        result.push_back(name + "=" + value);
    }
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Appends what is there; false once the descriptor has nothing more to give.
bool Drain(int fd, std::string& into)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            return true;
        }
        return false; // end of file, or EIO from a terminal whose other side is gone
    }
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

} // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const ProcessOptions& options)
{
    std::vector<std::string> argvStrings{program.string()};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv = Pointers(argvStrings);
    std::vector<std::string> envStrings = ChildEnvironment(options.environment);
    std::vector<char*> envp = Pointers(envStrings);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    int master = -1;
    int slaveInParent = -1;
    std::string slaveName;
    if (options.onTerminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "pseudo-terminal: " << std::strerror(errno);
            return {};
        }
        slaveName = ptsname(master);
        // Held open here so the terminal outlives the child until its output has been read.
        slaveInParent = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }

    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int in = -1;
        int err = errPipe[1];
        if (options.onTerminal) {
            in = open(slaveName.c_str(), O_RDWR); // becomes the controlling terminal
            if (options.stderrOnTerminal) {
                err = in;
            }
        } else {
            in = open("/dev/null", O_RDONLY);
        }
        dup2(in, STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    ProcessResult result;
    SetNonBlocking(outPipe[0]);
    SetNonBlocking(errPipe[0]);
    if (master >= 0) {
        SetNonBlocking(master);
    }
    bool outOpen = true;
    bool errOpen = true;
    bool typed = false;
    bool exited = false;
    int status = 0;
    // A safety net only: every run here takes milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!exited || outOpen || errOpen) {
        pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {master, POLLIN, 0}};
        poll(fds, master >= 0 ? 3 : 2, 20);
        if (outOpen) {
            outOpen = Drain(outPipe[0], result.out);
        }
        if (errOpen) {
            errOpen = Drain(errPipe[0], result.err);
        }
        if (master >= 0) {
            Drain(master, result.terminal);
            if (!typed && !options.prompt.empty() && result.terminal.find(options.prompt) != std::string::npos) {
                const std::string line = options.typed + "\n";
                static_cast<void>(write(master, line.data(), line.size()));
                typed = true;
            }
        }
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the child did not finish";
            break;
        }
    }
    if (master >= 0) {
        Drain(master, result.terminal);
        close(slaveInParent);
        close(master);
    }
    close(outPipe[0]);
    close(errPipe[0]);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace korvane::test
