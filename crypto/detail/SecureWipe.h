#pragma once

#include <cstddef>

namespace korvane::detail {

// Overwrites key material with zeros. The stores go through a volatile pointer, so the compiler
// cannot drop them as dead even when the memory is freed right afterwards.
inline void SecureWipe(void* data, std::size_t size) noexcept
{
    auto* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        p[i] = 0;
    }
}

} // namespace korvane::detail
