#pragma once

#include "crypto/GostError.h"
#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/SecureWipe.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The 64-bit block primitive behind clsCrypGost. Internal: only the class and its tests use it.
namespace korvane::detail {

inline constexpr std::size_t kBlockSize = 8;
inline constexpr std::size_t kKeyBlockSize = 32;
inline constexpr std::size_t kSubKeyCount = 8;

// Row r is substitution box Sr; each row is a permutation of 0..15.
inline constexpr std::array<std::array<std::uint8_t, 16>, 8> kSBox{{
    {6, 5, 1, 7, 14, 0, 4, 10, 11, 9, 3, 13, 8, 12, 2, 15},
    {14, 13, 9, 0, 8, 10, 12, 4, 7, 15, 6, 11, 3, 1, 5, 2},
    {6, 5, 1, 7, 2, 4, 10, 0, 11, 13, 14, 3, 8, 12, 15, 9},
    {8, 7, 3, 9, 6, 4, 14, 5, 2, 13, 0, 12, 1, 11, 10, 15},
    {10, 9, 6, 11, 5, 1, 8, 4, 0, 13, 7, 2, 14, 3, 15, 12},
    {5, 3, 0, 6, 11, 13, 4, 14, 10, 7, 1, 12, 2, 8, 15, 9},
    {2, 1, 12, 3, 11, 13, 15, 7, 10, 6, 9, 14, 0, 8, 4, 5},
    {6, 5, 1, 7, 8, 9, 4, 2, 15, 3, 13, 12, 10, 14, 11, 0},
}};

using SubstTable = std::array<std::uint8_t, 256>;

// The two boxes that act on one byte, merged: high box on the high nibble, low box on the low.
constexpr SubstTable CombineBoxes(std::size_t highBox, std::size_t lowBox) noexcept
{
    SubstTable table{};
    for (std::size_t n = 0; n < table.size(); ++n) {
        table[n] = static_cast<std::uint8_t>((kSBox[highBox][n >> 4] << 4) | kSBox[lowBox][n & 15]);
    }
    return table;
}

// SubstTable0 acts on the most significant byte of the round sum, SubstTable3 on the least.
inline constexpr SubstTable SubstTable0 = CombineBoxes(1, 0);
inline constexpr SubstTable SubstTable1 = CombineBoxes(3, 2);
inline constexpr SubstTable SubstTable2 = CombineBoxes(5, 4);
inline constexpr SubstTable SubstTable3 = CombineBoxes(7, 6);

using RoundTable = std::array<std::uint32_t, 256>;

// The substituted byte from SubstTableN lands in byte N of the assembled word (the byte taken
// from the most significant end of the sum becomes the least significant), and the word is then
// rotated left by 11. Rotation moves bits without mixing them, so each table can hold its byte
// already placed and rotated, and a round is four lookups ORed together.
constexpr RoundTable FoldRound(const SubstTable& subst, int bytePosition) noexcept
{
    RoundTable table{};
    for (std::size_t n = 0; n < table.size(); ++n) {
        table[n] = std::rotl(std::uint32_t{subst[n]} << (8 * bytePosition), 11);
    }
    return table;
}

inline constexpr std::array<RoundTable, 4> kRoundTables{
    FoldRound(SubstTable0, 0), FoldRound(SubstTable1, 1), FoldRound(SubstTable2, 2),
    FoldRound(SubstTable3, 3)};

// The round sum s is split into bytes by dividing it, read as signed, toward zero. For s >= 0
// these are the plain bytes of s. For s < 0 the three upper bytes are those of s - 1, each plus
// one (they come from s + 0xFF, s + 0xFFFF and s + 0xFFFFFF), and the low byte is that of s. So
// a round takes the bytes of w = (s < 0 ? s - 1 : s) and, for a negative sum, reads the three
// upper tables one entry further on: entry 256 repeats entry 0 for a byte 0xFF that wraps.
// No branch, and no carry to fix up per byte: the form of the portable and interleaved runs.
//
// When the low byte of a negative sum is not zero, s - 1 borrows nothing, so the split is also
// the raw bytes of s with one added to each upper byte: the two middle tables are read one
// entry further on as before, and the top byte needs no sign at all, since it is 0x80 or more
// exactly when s < 0: kSignedTop holds for those bytes the entry of the byte plus one. Nothing
// then waits for the sign before the bytes are taken, which shortens a chain of rounds. A
// negative sum with a zero low byte (one in 512) borrows from the upper bytes: those sums go the
// step-by-step way instead. (A zero low byte of a sum >= 0 needs nothing: its bytes are plain.)
//
// kFlippedTop is kSignedTop for the sum with bit 31 inverted, s ^ 0x80000000, which a round can
// form as x + (k ^ 0x80000000) at no extra cost: on that sum one test of bits 31 and 0..7 finds
// exactly the negative sums with a zero low byte, the only ones that need the division.
inline constexpr std::size_t kSplitStride = 264; // 257 entries, padded to a multiple of 8
inline constexpr std::size_t kTopByte = 0;       // w >> 24, kRoundTables[0]
inline constexpr std::size_t kByte2 = kSplitStride;      // bits 16..23 of w, kRoundTables[1]
inline constexpr std::size_t kByte1 = 2 * kSplitStride;  // bits 8..15 of w, kRoundTables[2]
inline constexpr std::size_t kLowByte = 3 * kSplitStride; // bits 0..7 of s, kRoundTables[3]
inline constexpr std::size_t kSignedTop = kLowByte + 256; // s >> 24, kRoundTables[0], sign included
inline constexpr std::size_t kFlippedTop = kSignedTop + 256; // (s ^ 0x80000000) >> 24, the same entries
inline constexpr std::uint32_t kSignBit = 0x80000000;

struct alignas(64) SplitTables {
    std::array<std::uint32_t, kFlippedTop + 256> words;
};

constexpr SplitTables MakeSplitTables() noexcept
{
    SplitTables tables{};
    for (std::size_t n = 0; n <= 256; ++n) {
        tables.words[kTopByte + n] = kRoundTables[0][n & 0xFF];
        tables.words[kByte2 + n] = kRoundTables[1][n & 0xFF];
        tables.words[kByte1 + n] = kRoundTables[2][n & 0xFF];
    }
    for (std::size_t n = 0; n < 256; ++n) {
        tables.words[kLowByte + n] = kRoundTables[3][n];
        tables.words[kSignedTop + n] = kRoundTables[0][n < 0x80 ? n : (n + 1) & 0xFF];
    }
    for (std::size_t n = 0; n < 256; ++n) {
        tables.words[kFlippedTop + n] = tables.words[kSignedTop + (n ^ 0x80)];
    }
    return tables;
}

inline constexpr SplitTables kSplit = MakeSplitTables();

using KeyBlock = std::array<std::uint8_t, kKeyBlockSize>;

// The 32 key bytes: the key text's bytes repeated from its start, or its first 32 bytes.
// Throws GostError 11 for the empty text, which has no length to cycle over.
[[nodiscard]] inline KeyBlock MakeKeyBlock(std::string_view keyText)
{
    if (keyText.empty()) {
        throw GostError::DivisionByZero();
    }
    KeyBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(keyText[i % keyText.size()]);
    }
    return block;
}

class GostBlockCipher {
public:
    using SubKeys = std::array<std::uint32_t, kSubKeyCount>;

    GostBlockCipher() noexcept = default;
    ~GostBlockCipher() { Wipe(); }
    GostBlockCipher(const GostBlockCipher&) = delete;
    GostBlockCipher& operator=(const GostBlockCipher&) = delete;

    // Subkey j is bytes 4j..4j+3 of the key block, least significant byte first. The previous
    // subkeys are overwritten in place.
    void SetKey(const KeyBlock& keyBlock) noexcept
    {
        for (std::size_t j = 0; j < kSubKeyCount; ++j) {
            m_subKey[j] = load_le32(keyBlock.data() + 4 * j);
        }
    }
    [[nodiscard]] const SubKeys& SubKey() const noexcept { return m_subKey; }
    void Wipe() noexcept { SecureWipe(m_subKey.data(), sizeof(m_subKey)); }

    // The sum is split into bytes after reading it as signed and dividing by 256 with rounding
    // toward zero, so a sum with bit 31 set does not split into its plain bytes. Encrypted data
    // depends on this exact split. The tables above take it from the raw bytes of the sum; a
    // negative sum with a zero low byte, whose split needs the carry, goes to the division itself.
    [[nodiscard]] static std::uint32_t RoundFunction(std::uint32_t X, std::uint32_t K) noexcept
    {
        const std::uint32_t s = X + K;
        if ((s & (kSignBit | 0xFF)) == kSignBit) [[unlikely]] {
            return RoundFunctionByDivision(s);
        }
        const std::uint32_t* const t = kSplit.words.data() + (s >> 31);
        return kSplit.words[kSignedTop + (s >> 24)] ^ t[kByte2 + ((s >> 16) & 0xFF)]
            ^ t[kByte1 + ((s >> 8) & 0xFF)] ^ kSplit.words[kLowByte + (s & 0xFF)];
    }

    // Signed division by a power of two compiles to a shift with a sign-dependent bias.
    [[nodiscard]] static std::uint32_t RoundFunctionByDivision(std::uint32_t sum) noexcept
    {
        const auto s = static_cast<std::int32_t>(sum);
        const auto b3 = static_cast<std::uint32_t>(s) & 0xFFu;
        const auto b2 = static_cast<std::uint32_t>(s / 0x100) & 0xFFu;
        const auto b1 = static_cast<std::uint32_t>(s / 0x10000) & 0xFFu;
        const auto b0 = static_cast<std::uint32_t>(s / 0x1000000) & 0xFFu;
        return kRoundTables[0][b0] | kRoundTables[1][b1] | kRoundTables[2][b2] | kRoundTables[3][b3];
    }

    // 32 rounds in place. The words are never exchanged, not even at the end: the inverse is
    // DecryptBlock called with the two words swapped.
    void EncryptBlock(std::uint32_t& A, std::uint32_t& B) const noexcept
    {
        const SubKeys& k = m_subKey;
        std::uint32_t a = A;
        std::uint32_t b = B;
        for (int pass = 0; pass < 3; ++pass) {
            ForwardRounds(a, b, k);
        }
        BackwardRounds(a, b, k);
        A = a;
        B = b;
    }

    void DecryptBlock(std::uint32_t& A, std::uint32_t& B) const noexcept
    {
        const SubKeys& k = m_subKey;
        std::uint32_t a = A;
        std::uint32_t b = B;
        ForwardRounds(a, b, k);
        for (int pass = 0; pass < 3; ++pass) {
            BackwardRounds(a, b, k);
        }
        A = a;
        B = b;
    }

private:
    static void ForwardRounds(std::uint32_t& a, std::uint32_t& b, const SubKeys& k) noexcept
    {
        b ^= RoundFunction(a, k[0]);
        a ^= RoundFunction(b, k[1]);
        b ^= RoundFunction(a, k[2]);
        a ^= RoundFunction(b, k[3]);
        b ^= RoundFunction(a, k[4]);
        a ^= RoundFunction(b, k[5]);
        b ^= RoundFunction(a, k[6]);
        a ^= RoundFunction(b, k[7]);
    }

    static void BackwardRounds(std::uint32_t& a, std::uint32_t& b, const SubKeys& k) noexcept
    {
        b ^= RoundFunction(a, k[7]);
        a ^= RoundFunction(b, k[6]);
        b ^= RoundFunction(a, k[5]);
        a ^= RoundFunction(b, k[4]);
        b ^= RoundFunction(a, k[3]);
        a ^= RoundFunction(b, k[2]);
        b ^= RoundFunction(a, k[1]);
        a ^= RoundFunction(b, k[0]);
    }

    SubKeys m_subKey{};
};

} // namespace korvane::detail
