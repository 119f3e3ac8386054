#include "bench/PeakMemory.h"

#if defined(__linux__)
#include <fstream>
#include <string>
#endif

namespace korvane::bench {

namespace {

#if defined(__linux__)
// A "VmRSS:   1234 kB" line of /proc/self/status, in bytes.
std::optional<std::int64_t> StatusBytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        if (name == field + ':') {
            std::int64_t kibibytes = 0;
            if (status >> kibibytes)
                return kibibytes * 1024;
            return std::nullopt;
        }
        status.ignore(4096, '\n');
    }
    return std::nullopt;
}

// "5" sets the high-water mark (VmHWM) back to the present resident size (VmRSS).
bool ResetPeak()
{
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return static_cast<bool>(clearRefs);
}
#endif

} // namespace

PeakMemoryGrowth::PeakMemoryGrowth()
{
#if defined(__linux__)
    if (ResetPeak())
        m_start = StatusBytes("VmRSS");
#endif
}

std::optional<std::int64_t> PeakMemoryGrowth::growth() const
{
#if defined(__linux__)
    if (!m_start)
        return std::nullopt;
    const std::optional<std::int64_t> peak = StatusBytes("VmHWM");
    if (!peak)
        return std::nullopt;
    return *peak - *m_start;
#else
    return std::nullopt;
#endif
}

} // namespace korvane::bench
