#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace korvane::test {

namespace {

std::map<std::string, ChildTask, std::less<>>& Tasks()
{
    static std::map<std::string, ChildTask, std::less<>> tasks;
    return tasks;
}

} // namespace

std::string RegisterChildTask(std::string_view name, ChildTask task)
{
    Tasks().emplace(std::string(name), std::move(task));
    return std::string(name);
}

#ifdef _WIN32

// The checks that need a process of their own are POSIX ones (privileges, limits, signals).
ChildOutcome RunChildTask(std::string_view name, const ChildArgs&, const ChildOptions&)
{
    return {std::nullopt, "the child task \"" + std::string(name) + "\" needs a POSIX system"};
}

std::optional<int> RunChildTaskIfAsked(int, char**)
{
    return std::nullopt;
}

#else

namespace {

constexpr std::string_view kTaskFlag = "--korvane-child-task";
constexpr std::string_view kWithoutRootFlag = "--without-root";
constexpr std::string_view kAsIsFlag = "--as-is";
constexpr uid_t kNobody = 65534;

// Exit statuses of a child that never got to report.
constexpr int kCouldNotDropRoot = 125;
constexpr int kUnknownTask = 126;
constexpr int kTaskThrew = 124;
constexpr int kCouldNotReport = 123;

// This test binary, for starting it again.
std::string SelfPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("/proc/self/exe");
}

bool DropRoot()
{
    if (geteuid() != 0) {
        return true;
    }
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0 && geteuid() != 0;
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DescribeStatus(int status)
{
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
        case kCouldNotDropRoot: return "could not give up root";
        case kUnknownTask: return "does not know the task";
        case kTaskThrew: return "threw";
        case kCouldNotReport: return "could not write its answer";
        default: return "exited with status " + std::to_string(WEXITSTATUS(status));
        }
    }
    if (WIFSIGNALED(status)) {
        return std::string("was killed by signal ") + strsignal(WTERMSIG(status));
    }
    return "ended abnormally";
}

// Reads `fd` to its end, or until the deadline; false when the deadline came first.
bool ReadUntilEnd(int fd, std::string& into, std::chrono::steady_clock::time_point deadline)
{
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled == 0) {
            return false;
        }
        if (polled < 0) {
            return true;   // nothing more to read; the wait for the child still has its deadline
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return true;
        }
    }
}

// Waits for `child` until the deadline; nullopt when it is still running then.
std::optional<int> WaitUntil(pid_t child, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            return status;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

ChildOutcome RunChildTask(std::string_view name, const ChildArgs& args, const ChildOptions& options)
{
    const std::string what = "the child task \"" + std::string(name) + "\" ";
    const std::string self = SelfPath();
    std::vector<std::string> argvStrings{self, std::string(kTaskFlag), std::string(name),
                                         std::string(options.withoutRoot ? kWithoutRootFlag : kAsIsFlag), "--"};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);

    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) {
        return {std::nullopt, what + "got no pipe: " + std::strerror(errno)};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, channel[1], STDOUT_FILENO);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(channel[1]);
    if (spawned != 0) {
        close(channel[0]);
        return {std::nullopt, what + "did not start: " + std::strerror(spawned)};
    }

    const auto deadline = std::chrono::steady_clock::now() + options.deadline;
    std::string answer;
    const bool readToEnd = ReadUntilEnd(channel[0], answer, deadline);
    close(channel[0]);
    const std::optional<int> status = readToEnd ? WaitUntil(child, deadline) : std::nullopt;
    if (!status) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return {std::nullopt, what + "did not finish within " + std::to_string(options.deadline.count())
                                  + " s and was killed"};
    }
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        return {std::nullopt, what + DescribeStatus(*status)};
    }
    return {std::move(answer), {}};
}

std::optional<int> RunChildTaskIfAsked(int argc, char** argv)
{
    if (argc < 5 || argv[1] != kTaskFlag || argv[4] != std::string_view("--")) {
        return std::nullopt;
    }
    if (argv[3] == kWithoutRootFlag && !DropRoot()) {
        std::fprintf(stderr, "child task: could not give up root: %s\n", std::strerror(errno));
        return kCouldNotDropRoot;
    }
    const auto task = Tasks().find(std::string_view(argv[2]));
    if (task == Tasks().end()) {
        std::fprintf(stderr, "child task: no task named %s\n", argv[2]);
        return kUnknownTask;
    }
    std::string answer;
    try {
        answer = task->second(ChildArgs(argv + 5, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "child task %s threw: %s\n", argv[2], e.what());
        return kTaskThrew;
    }
    return WriteAll(STDOUT_FILENO, answer) ? 0 : kCouldNotReport;
}

#endif

} // namespace korvane::test
