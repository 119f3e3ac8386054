#include "process/ProcessSecrets.h"
#include "process/SecretText.h"

#include <cstdlib>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace korvane {

bool KeepSecretsOutOfCoreDumps() noexcept
{
#ifdef _WIN32
    // Windows writes no core files of its own; crash dumps are an administrator's setting.
    return true;
#else
    bool kept = true;
    const rlimit none{0, 0};
    kept = setrlimit(RLIMIT_CORE, &none) == 0 && kept;
#ifdef __linux__
    // A pipe in core_pattern (systemd-coredump, apport) may ignore the limit; this it may not.
    kept = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && kept;
#endif
    return kept;
#endif
}

std::optional<std::string> TakeSecretFromEnvironment(const char* name)
{
    char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string taken(value);
    WipeSecret(value, taken.size());
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
    return taken;
}

} // namespace korvane
