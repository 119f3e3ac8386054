#pragma once

#include <cstdint>

// The cipher moves 32-bit words between words and bytes in two fixed orders: data words most
// significant byte first, subkeys, the size descriptor and the random words least significant
// byte first. Every load and store names its order so the two cannot be confused.
namespace korvane::detail {

[[nodiscard]] constexpr std::uint32_t load_be32(const std::uint8_t* p) noexcept
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8)
        | std::uint32_t{p[3]};
}

constexpr void store_be32(std::uint8_t* p, std::uint32_t w) noexcept
{
    p[0] = static_cast<std::uint8_t>(w >> 24);
    p[1] = static_cast<std::uint8_t>(w >> 16);
    p[2] = static_cast<std::uint8_t>(w >> 8);
    p[3] = static_cast<std::uint8_t>(w);
}

[[nodiscard]] constexpr std::uint32_t load_le32(const std::uint8_t* p) noexcept
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16)
        | (std::uint32_t{p[3]} << 24);
}

constexpr void store_le32(std::uint8_t* p, std::uint32_t w) noexcept
{
    p[0] = static_cast<std::uint8_t>(w);
    p[1] = static_cast<std::uint8_t>(w >> 8);
    p[2] = static_cast<std::uint8_t>(w >> 16);
    p[3] = static_cast<std::uint8_t>(w >> 24);
}

} // namespace korvane::detail
