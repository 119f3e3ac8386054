#pragma once

#include <cstdio>
#include <cstdlib>

// A property a fuzz target asserts. A violation aborts, which libFuzzer records as a crash and
// keeps the input that caused it.
namespace korvane::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
    std::abort();
}

} // namespace korvane::fuzz

#define FUZZ_CHECK(condition) ((condition) ? void() : ::korvane::fuzz::Fail(#condition, __FILE__, __LINE__))
