#pragma once

#include <cstdint>
#include <optional>

namespace korvane::bench {

// How much this process's resident memory rose above its level at construction, at its peak
// since then. The peak is the kernel's own high-water mark, reset at construction, so nothing
// short-lived between two samples is missed. Only where the system keeps such a mark (Linux
// procfs); elsewhere growth() answers nothing.
class PeakMemoryGrowth {
public:
    PeakMemoryGrowth();
    std::optional<std::int64_t> growth() const;   // bytes

private:
    std::optional<std::int64_t> m_start;
};

} // namespace korvane::bench
