#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

// The operating system calls of the cipher library, all in one place.
namespace korvane::detail {

// 32 bits from the operating system's entropy source. Throws std::system_error when the source
// cannot be read; there is deliberately no weaker fallback.
[[nodiscard]] std::uint32_t OsRandomWord();

// std::fopen for a native path (wide on Windows). Returns nullptr with errno set on failure.
// `mode` is one of the plain ASCII modes, e.g. "rb" or "wbx".
[[nodiscard]] std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) noexcept;

} // namespace korvane::detail
