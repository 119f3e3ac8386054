#pragma once

// Checks that need a process of their own (dropped privileges, process-wide limits, signals)
// run in a fresh one: the test binary starts itself again through posix_spawn, and the new
// process runs one registered task before anything else and reports on its standard output.
// Nothing runs in a forked copy of a process that has threads: such a copy can inherit a lock
// (malloc's, a sanitizer's, a driver's) that another thread held at the fork, and wait on it for
// ever.
//
// A test file registers its tasks at namespace scope:
//
//     const std::string kTask = korvane::test::RegisterChildTask("name", [](const ChildArgs& args) {
//         ...
//         return std::string("answer");
//     });
//
// and the test runs it with RunChildTask(kTask, {args...}). The binary's main must be
// korvane_test_main (TestMain.cpp), which hands the process to the task when asked.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::test {

using ChildArgs = std::vector<std::string>;
using ChildTask = std::function<std::string(const ChildArgs& args)>;

// Registers `task` under `name` and returns the name, for a namespace-scope constant that the
// tests then run. A name registered twice keeps the first task.
std::string RegisterChildTask(std::string_view name, ChildTask task);

struct ChildOptions {
    // Give up root for the user "nobody" (uid and gid 65534) before the task, as root reads and
    // writes whatever the permission bits say. Ignored when the test does not run as root.
    bool withoutRoot = false;
    // Past this the child is killed and the run reported as failed.
    std::chrono::seconds deadline{60};
};

struct ChildOutcome {
    std::optional<std::string> answer;   // what the task returned, when it ended normally
    std::string failure;                 // otherwise, what went wrong, for the test's message
};

// Starts the task in a fresh process and waits, up to the deadline, for its answer.
ChildOutcome RunChildTask(std::string_view name, const ChildArgs& args, const ChildOptions& options = {});

// For main: when this process was started to run a task, runs it and returns the process's exit
// status; otherwise nullopt, and main goes on with the tests.
std::optional<int> RunChildTaskIfAsked(int argc, char** argv);

} // namespace korvane::test
