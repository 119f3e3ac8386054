#include "ProcessSecrets.h"
#include "detail/Platform.h"

#include "detail/SecureWipe.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#ifdef _WIN32
#include <iterator>
#include <random>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace korvane::detail {

std::uint32_t OsRandomWord()
{
#ifdef _WIN32
    // The Microsoft library's random_device reads the system generator (rand_s).
    std::random_device device;
    return static_cast<std::uint32_t>(device());
#else
    std::uint32_t word = 0;
    if (getentropy(&word, sizeof word) != 0) {
        throw std::system_error(errno, std::generic_category(), "getentropy");
    }
    return word;
#endif
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) noexcept
{
#ifdef _WIN32
    wchar_t wideMode[8]{};
    for (std::size_t i = 0; i + 1 < std::size(wideMode) && mode[i] != '\0'; ++i) {
        wideMode[i] = static_cast<wchar_t>(mode[i]);
    }
    return _wfopen(path.c_str(), wideMode);
#else
    return std::fopen(path.c_str(), mode);
#endif
}

} // namespace korvane::detail

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
    detail::SecureWipe(value, taken.size());
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
    return taken;
}

} // namespace korvane
