#ifdef __linux__

#include "tests/support/ChildProcess.h"

#include "process/ProcessSecrets.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

#include <sys/prctl.h>
#include <sys/resource.h>

namespace korvane {
namespace {

// The hardening changes the whole process, so it is checked in a process of its own: the test
// process itself stays dumpable for debuggers and sanitizers.
const std::string kCoreState = test::RegisterChildTask("process-secrets-core", [](const test::ChildArgs&) {
    const bool kept = KeepSecretsOutOfCoreDumps();
    rlimit core{};
    getrlimit(RLIMIT_CORE, &core);
    return std::to_string(kept) + " " + std::to_string(core.rlim_cur) + " " + std::to_string(core.rlim_max) + " "
        + std::to_string(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0));
});

const std::string kEnvironment = test::RegisterChildTask("process-secrets-environment", [](const test::ChildArgs&) {
    setenv("KORVANE_TEST_SECRET", "palavra-passe", 1);
    const char* where = std::getenv("KORVANE_TEST_SECRET");
    const std::optional<std::string> taken = TakeSecretFromEnvironment("KORVANE_TEST_SECRET");
    const bool overwritten = std::string_view(where, 13) == std::string_view("\0\0\0\0\0\0\0\0\0\0\0\0\0", 13);
    return taken.value_or("(none)") + " " + std::to_string(overwritten) + " "
        + std::to_string(std::getenv("KORVANE_TEST_SECRET") == nullptr) + " "
        + TakeSecretFromEnvironment("KORVANE_TEST_SECRET").value_or("(none)");
});

TEST(ProcessSecrets, NoCoreFileAndNotDumpable)
{
    const test::ChildOutcome state = test::RunChildTask(kCoreState, {});
    ASSERT_TRUE(state.answer.has_value()) << state.failure;
    EXPECT_EQ(*state.answer, "1 0 0 0");
}

// The value leaves the environment, and the characters where it lay are overwritten: on Linux
// that memory is what /proc/<pid>/environ shows to whoever may read it.
TEST(ProcessSecrets, SecretTakenOutOfTheEnvironment)
{
    const test::ChildOutcome state = test::RunChildTask(kEnvironment, {});
    ASSERT_TRUE(state.answer.has_value()) << state.failure;
    EXPECT_EQ(*state.answer, "palavra-passe 1 1 (none)");
}

} // namespace
} // namespace korvane

#endif
