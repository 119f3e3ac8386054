#include "crypto/detail/BlockRuns.h"

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define KORVANE_VBMI_RUN 1
#endif

#ifdef KORVANE_VBMI_RUN

#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/SecureWipe.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

// GCC 12's AVX-512 headers build each result from _mm512_undefined_epi32(), which trips
// -Wmaybe-uninitialized wherever the intrinsics are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

// Only the functions marked so use AVX-512; the rest of the file, and every inline function it
// shares with other files, is built for the baseline CPU, so nothing here can run on a CPU
// without the instructions unless VbmiRunAvailable() said yes.
#define KORVANE_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#define KORVANE_VBMI_INLINE KORVANE_VBMI inline __attribute__((always_inline))

namespace korvane::detail {
namespace {

// One lane per block, sixteen blocks per register. The round, per lane:
//   s = x + k; m = s >> 31 (arithmetic); u = bytewise (s + m) - m.
// For s < 0 that is s - 1 with one added to every byte: its low byte is that of s and its upper
// bytes are those of the sum divided toward zero, which is the split the round needs; for
// s >= 0 it is s. The bytes of u are then permuted within each word so that, after the eight
// boxes, only a rotation by 3 remains of the byte reversal and the rotation by 11. The boxes
// are two 64-byte tables for vpermb: index = nibble | 16 * byte position, low and high nibble
// apart, the high nibble's results already shifted into place.
struct alignas(64) NibbleTables {
    std::array<std::uint8_t, 64> low;
    std::array<std::uint8_t, 64> high;
    std::array<std::uint8_t, 64> placeBytes;
    std::array<std::uint8_t, 64> swapWords;
};

constexpr NibbleTables MakeNibbleTables() noexcept
{
    NibbleTables t{};
    for (std::size_t position = 0; position < 4; ++position) {
        // Byte `position` of the permuted word holds the byte that SubstTable(position + 3) % 4
        // substitutes: that table's result lands there once the word is rotated.
        const std::size_t table = (position + 3) % 4;
        for (std::size_t n = 0; n < 16; ++n) {
            t.low[16 * position + n] = kSBox[2 * table][n];
            t.high[16 * position + n] = static_cast<std::uint8_t>(kSBox[2 * table + 1][n] << 4);
        }
    }
    for (std::size_t word = 0; word < 16; ++word) {
        const auto base = static_cast<std::uint8_t>(4 * (word % 4));
        // Bytes (0, 1, 2, 3) of a word become (0, 3, 2, 1): the byte reversal of the
        // assembled word followed by its rotation by 8.
        t.placeBytes[4 * word + 0] = base;
        t.placeBytes[4 * word + 1] = static_cast<std::uint8_t>(base + 3);
        t.placeBytes[4 * word + 2] = static_cast<std::uint8_t>(base + 2);
        t.placeBytes[4 * word + 3] = static_cast<std::uint8_t>(base + 1);
        // Data words are big-endian in the array.
        for (std::size_t byte = 0; byte < 4; ++byte) {
            t.swapWords[4 * word + byte] = static_cast<std::uint8_t>(base + 3 - byte);
        }
    }
    return t;
}

constexpr NibbleTables kNibble = MakeNibbleTables();

struct RoundConstants {
    __m512i low;
    __m512i high;
    __m512i placeBytes;
    __m512i positions;
    __m512i lowNibbles;
};

KORVANE_VBMI_INLINE __m512i Round(__m512i x, __m512i k, const RoundConstants& c) noexcept
{
    const __m512i s = _mm512_add_epi32(x, k);
    const __m512i m = _mm512_srai_epi32(s, 31);
    __m512i u = _mm512_sub_epi8(_mm512_add_epi32(s, m), m);
    u = _mm512_shuffle_epi8(u, c.placeBytes);
    // (u & 0x0F) | position, in one ternary-logic operation (0xEA = A & B | C).
    const __m512i lowIndex = _mm512_ternarylogic_epi32(u, c.lowNibbles, c.positions, 0xEA);
    const __m512i highIndex = _mm512_ternarylogic_epi32(_mm512_srli_epi32(u, 4), c.lowNibbles, c.positions, 0xEA);
    const __m512i substituted = _mm512_or_si512(_mm512_permutexvar_epi8(lowIndex, c.low),
                                                _mm512_permutexvar_epi8(highIndex, c.high));
    return _mm512_rol_epi32(substituted, 3);
}

// Groups of 16 blocks side by side: one group alone waits on the latency of its round.
inline constexpr std::size_t kGroups = 4;
inline constexpr std::size_t kLanes = 16;
inline constexpr std::size_t kGroupBytes = kLanes * kBlockSize;

template <std::size_t G, std::size_t... g>
KORVANE_VBMI_INLINE void Step(__m512i (&a)[G], __m512i (&b)[G], __m512i kb, __m512i ka, const RoundConstants& c,
                              std::index_sequence<g...>) noexcept
{
    ((b[g] = _mm512_xor_si512(b[g], Round(a[g], kb, c))), ...);
    ((a[g] = _mm512_xor_si512(a[g], Round(b[g], ka, c))), ...);
}

// Decrypts G groups of 16 blocks at `data`. `previous` holds the ciphertext block before them
// in its last 8 bytes, as the array holds it, and receives the last ciphertext block of these.
template <std::size_t G>
KORVANE_VBMI_INLINE void DecryptGroups(const __m512i (&k)[kSubKeyCount], const RoundConstants& c,
                                       std::uint8_t* data, __m512i& previous) noexcept
{
    constexpr auto groups = std::make_index_sequence<G>{};
    const __m512i swapWords = _mm512_load_si512(kNibble.swapWords.data());
    const __m512i evenWords = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i oddWords = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    __m512i a[G];
    __m512i b[G];
    for (std::size_t i = 0; i < G; ++i) {
        const __m512i v0 = _mm512_shuffle_epi8(_mm512_loadu_si512(data + kGroupBytes * i), swapWords);
        const __m512i v1 = _mm512_shuffle_epi8(_mm512_loadu_si512(data + kGroupBytes * i + 64), swapWords);
        b[i] = _mm512_permutex2var_epi32(v0, evenWords, v1); // first words
        a[i] = _mm512_permutex2var_epi32(v0, oddWords, v1);  // second words: DecryptBlock(R, L)
    }
    Step(a, b, k[0], k[1], c, groups);
    Step(a, b, k[2], k[3], c, groups);
    Step(a, b, k[4], k[5], c, groups);
    Step(a, b, k[6], k[7], c, groups);
    for (int pass = 0; pass < 3; ++pass) {
        Step(a, b, k[7], k[6], c, groups);
        Step(a, b, k[5], k[4], c, groups);
        Step(a, b, k[3], k[2], c, groups);
        Step(a, b, k[1], k[0], c, groups);
    }
    const __m512i lowBlocks = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i highBlocks = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    for (std::size_t i = 0; i < G; ++i) {
        // The ciphertext is still in the array: the groups are written back only here, in order,
        // and each reads its own bytes before it writes them.
        std::uint8_t* const p = data + kGroupBytes * i;
        const __m512i cipher0 = _mm512_loadu_si512(p);
        const __m512i cipher1 = _mm512_loadu_si512(p + 64);
        // CBC: each block is XORed with the ciphertext block before it, byte for byte.
        const __m512i before0 = _mm512_alignr_epi64(cipher0, previous, 7);
        const __m512i before1 = _mm512_alignr_epi64(cipher1, cipher0, 7);
        const __m512i plain0 = _mm512_shuffle_epi8(_mm512_permutex2var_epi32(b[i], lowBlocks, a[i]), swapWords);
        const __m512i plain1 = _mm512_shuffle_epi8(_mm512_permutex2var_epi32(b[i], highBlocks, a[i]), swapWords);
        _mm512_storeu_si512(p, _mm512_xor_si512(plain0, before0));
        _mm512_storeu_si512(p + 64, _mm512_xor_si512(plain1, before1));
        previous = cipher1;
    }
}

KORVANE_VBMI std::size_t DecryptVbmi(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount,
                                     ChainWords& chain) noexcept
{
    const RoundConstants c{
        _mm512_load_si512(kNibble.low.data()),
        _mm512_load_si512(kNibble.high.data()),
        _mm512_load_si512(kNibble.placeBytes.data()),
        _mm512_set1_epi32(0x30201000),
        _mm512_set1_epi32(0x0F0F0F0F),
    };
    __m512i k[kSubKeyCount];
    for (std::size_t j = 0; j < kSubKeyCount; ++j) {
        k[j] = _mm512_set1_epi32(static_cast<int>(subKeys[j]));
    }
    // The chaining block as the array would hold it, in the top 8 bytes.
    std::uint8_t chainBytes[kBlockSize];
    store_be32(chainBytes, chain.c1);
    store_be32(chainBytes + 4, chain.c2);
    std::uint64_t chainQword = 0;
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        chainQword |= std::uint64_t{chainBytes[i]} << (8 * i);
    }
    __m512i previous = _mm512_set1_epi64(static_cast<long long>(chainQword));

    std::size_t done = 0;
    for (; done + kGroups * kLanes <= blockCount; done += kGroups * kLanes) {
        DecryptGroups<kGroups>(k, c, data + done * kBlockSize, previous);
    }
    for (; done + kLanes <= blockCount; done += kLanes) {
        DecryptGroups<1>(k, c, data + done * kBlockSize, previous);
    }
    if (done != 0) {
        alignas(64) std::uint8_t last[64];
        _mm512_store_si512(last, previous);
        chain = {load_be32(last + 56), load_be32(last + 60)};
    }
    // The broadcast subkeys may have been spilled to this frame; they go with the run.
    SecureWipe(k, sizeof k);
    return done;
}

bool CpuHasVbmi() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vbmi");
}

} // namespace

bool VbmiRunAvailable() noexcept
{
    static const bool available = CpuHasVbmi();
    return available;
}

void DecryptRunVbmi(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept
{
    const std::size_t done = DecryptVbmi(subKeys, data, blockCount, chain);
    DecryptRunInterleaved(subKeys, data + done * kBlockSize, blockCount - done, chain);
}

} // namespace korvane::detail

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#else // no AVX-512 code in this build

namespace korvane::detail {

bool VbmiRunAvailable() noexcept { return false; }

void DecryptRunVbmi(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept
{
    DecryptRunInterleaved(subKeys, data, blockCount, chain);
}

} // namespace korvane::detail

#endif
