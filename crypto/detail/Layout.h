#pragma once

#include "crypto/detail/GostBlockCipher.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>

// The encrypted layout and the progress rule shared by encryption and decryption.
namespace korvane::detail {

// Offsets within the layout before block encryption.
inline constexpr std::size_t kRandomWord1Offset = 0;
inline constexpr std::size_t kRandomWord2Offset = 4;
inline constexpr std::size_t kSizeDescriptorOffset = 8;
inline constexpr std::size_t kDataOffset = 12;
// The random block and the block holding the size descriptor.
inline constexpr std::size_t kMinLayoutLength = 16;
// Layout positions are signed 32-bit: the largest multiple of 8 below 2^31.
inline constexpr std::size_t kMaxLayoutLength = 2147483640;
inline constexpr std::size_t kMaxDataLength = kMaxLayoutLength - kDataOffset;
// Random words are drawn in 0..2^31-1, so byte 3 of each always has its top bit clear.
inline constexpr std::uint32_t kRandomWordMask = 0x7FFFFFFF;

// N + 12 rounded up to a multiple of 8: T - N always lies in 12..19.
[[nodiscard]] constexpr std::size_t EncryptedLength(std::size_t dataLength) noexcept
{
    return (dataLength + kDataOffset + 7) & ~std::size_t{7};
}

[[nodiscard]] constexpr bool SizeDescriptorFits(std::size_t layoutLength, std::int32_t dataLength) noexcept
{
    if (dataLength < 0) {
        return false;
    }
    const auto slack = static_cast<std::int64_t>(layoutLength) - dataLength;
    return slack >= 12 && slack <= 19;
}

// Reports the advance through a layout of `total` bytes: 0 at the first block, afterwards at the
// first block whose offset has reached one byte beyond the next whole percent, and 100 at the
// end. The percentage is computed in double precision with the division first; the exact
// sequence of reported values is part of the class's behaviour (for a total of 800 it skips 58,
// because 464/800*100 is 57.99999999999999).
class ProgressReporter {
public:
    ProgressReporter(const std::function<void(std::int32_t&)>& handler, std::size_t total) noexcept
        : m_handler(handler), m_total(static_cast<double>(total)), m_totalBytes(total)
    {
    }

    // Where the run of blocks that starts at `offset` (a block offset) ends: just past the first
    // block whose offset reaches the next report, or at the end of the layout. Processing a run
    // and then calling Step with the offset of its last block raises the very events that
    // calling Step after every block would.
    [[nodiscard]] std::size_t RunEnd(std::size_t offset) const noexcept
    {
        const std::size_t firstReporting = (m_next + (kBlockSize - 1)) / kBlockSize * kBlockSize;
        const std::size_t last = std::max(offset, firstReporting);
        return last >= m_totalBytes ? m_totalBytes : last + kBlockSize;
    }

    void Step(std::size_t offset)
    {
        if (offset >= m_next) {
            Report(offset);
        }
    }

    // The handler may have written into the percentage; a 100 left there suppresses this event.
    void Finish()
    {
        if (m_percent != 100) {
            m_percent = 100;
            if (m_handler) {
                m_handler(m_percent);
            }
        }
    }

private:
    void Report(std::size_t offset)
    {
        m_percent = static_cast<std::int32_t>(std::floor(static_cast<double>(offset) / m_total * 100.0));
        m_next = static_cast<std::size_t>(std::nearbyint((m_percent + 1) / 100.0 * m_total + 1.0));
        if (m_handler) {
            m_handler(m_percent);
        }
    }

    const std::function<void(std::int32_t&)>& m_handler;
    double m_total;
    std::size_t m_totalBytes;
    std::int32_t m_percent = 0;
    std::size_t m_next = 0;
};

} // namespace korvane::detail
