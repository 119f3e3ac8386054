#pragma once

#ifndef _WIN32
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>

namespace korvane::test {

// Runs `work` in a child process and hands back what it returned: for checks that change the
// state of the whole process (its limits, its privileges) without changing the test's own.
// The child shares the parent's files as they were at the fork; it may only use what is safe
// after a fork in a process with threads (no locks another thread held, no gtest assertions),
// and ends with _exit so no destructor or handler of the parent's runs twice. `prepare` runs
// in the child first; when it returns false the child gives up.
//
// nullopt when the child gave up or did not end normally.
inline std::optional<std::string> RunInChild(const std::function<std::string()>& work,
                                             const std::function<bool()>& prepare = {})
{
    int channel[2];
    if (pipe(channel) != 0) {
        return std::nullopt;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return std::nullopt;
    }
    if (child == 0) {
        close(channel[0]);
        if (prepare && !prepare()) {
            _exit(125);
        }
        const std::string answer = work();
        std::size_t written = 0;
        while (written < answer.size()) {
            const ssize_t n = write(channel[1], answer.data() + written, answer.size() - written);
            if (n <= 0) {
                _exit(124);
            }
            written += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(channel[1]);
    std::string answer;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(channel[0], buffer, sizeof buffer);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return answer;
}

// Root reads and writes whatever the permission bits say, so a test of a read-only folder or an
// unreadable file shows nothing when it runs as root (as CI does). This runs `work` in a child
// that has given up root for the unprivileged user "nobody" (uid and gid 65534); a test that
// does not run as root runs `work` in place. Anything the child must reach (the folders of the
// test) needs permissions that let "nobody" in.
inline std::optional<std::string> RunUnprivileged(const std::function<std::string()>& work)
{
    if (geteuid() != 0) {
        return work();
    }
    constexpr uid_t kNobody = 65534;
    return RunInChild(work, [] {
        return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0 && geteuid() != 0;
    });
}

} // namespace korvane::test
#endif
