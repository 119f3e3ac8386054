#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace korvane::bench {

// A benchmark that cannot measure what it set out to measure stops the whole run: a figure from a
// broken setup would be worse than none.
[[noreturn]] inline void Fail(const std::string& what)
{
    std::fprintf(stderr, "korvane-bench: %s\n", what.c_str());
    std::exit(1);
}

// Wall-clock seconds that `work` takes.
inline double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU seconds that `work` takes in this process: a single-threaded computation is then not
// charged for the time the machine gave to other processes.
inline double CpuSeconds(const std::function<void()>& work)
{
    const std::clock_t start = std::clock();
    work();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

// The middle value of repeated measurements: one run disturbed by the machine does not move it.
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace korvane::bench
