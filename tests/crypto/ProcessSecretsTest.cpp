#ifdef __linux__

#include "ChildProcess.h"

#include "ProcessSecrets.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/resource.h>

namespace korvane {
namespace {

// In a child, so the test process itself stays dumpable for debuggers and sanitizers.
TEST(ProcessSecrets, NoCoreFileAndNotDumpable)
{
    const std::optional<std::string> state = test::RunInChild([] {
        const bool kept = KeepSecretsOutOfCoreDumps();
        rlimit core{};
        getrlimit(RLIMIT_CORE, &core);
        return std::to_string(kept) + " " + std::to_string(core.rlim_cur) + " " + std::to_string(core.rlim_max)
            + " " + std::to_string(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0));
    });
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(*state, "1 0 0 0");
}

} // namespace
} // namespace korvane

#endif
