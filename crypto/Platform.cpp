#include "crypto/detail/Platform.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <iterator>
#include <random>
#else
#include <unistd.h>
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
