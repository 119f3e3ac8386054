#include "crypto/detail/BlockRuns.h"

#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/SecureWipe.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#if defined(__GNUC__) || defined(__clang__)
#define KORVANE_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define KORVANE_ALWAYS_INLINE __forceinline
#else
#define KORVANE_ALWAYS_INLINE inline
#endif

namespace korvane::detail {
namespace {

// y XOR RoundFunction(x, k), the form the interleaved loop keeps to: it needs few registers,
// and its sign test compiles to flag arithmetic rather than a branch.
KORVANE_ALWAYS_INLINE std::uint32_t XorRound(std::uint32_t y, std::uint32_t x, std::uint32_t k) noexcept
{
    const std::uint32_t s = x + k;
    y ^= kSplit.words[kLowByte + (s & 0xFF)];
    const std::uint32_t w = static_cast<std::int32_t>(s) < 0 ? s - 1 : s;
    const std::uint32_t* const t = kSplit.words.data() + (s >> 31);
    y ^= t[kByte1 + std::size_t{static_cast<std::uint8_t>(w >> 8)}];
    y ^= t[kByte2 + std::size_t{static_cast<std::uint8_t>(w >> 16)}];
    y ^= t[kTopByte + std::size_t{w >> 24}];
    return y;
}

// Encryption's rounds are one dependency chain, so what a round needs of its subkey besides the
// subkey itself (the subkey minus one, the subkey with bit 31 inverted) is formed once per run,
// and the sums come from x in parallel instead of one after the other.
struct RoundKey {
    std::uint32_t k;
    std::uint32_t kMinus1;
    std::uint32_t kSignFlipped;
};
using RoundKeys = std::array<RoundKey, kSubKeyCount>;

// A copy on the stack: stores through the byte pointer of a run cannot alias it, so the
// compiler need not reload the subkeys after every block. Wiped when the run ends.
class RunKeys {
public:
    explicit RunKeys(const SubKeys& subKeys) noexcept
    {
        for (std::size_t j = 0; j < kSubKeyCount; ++j) {
            m_keys[j] = {subKeys[j], subKeys[j] - 1, subKeys[j] ^ kSignBit};
        }
    }
    ~RunKeys() { SecureWipe(m_keys.data(), sizeof(m_keys)); }
    RunKeys(const RunKeys&) = delete;
    RunKeys& operator=(const RunKeys&) = delete;

    [[nodiscard]] const RoundKey& operator[](std::size_t j) const noexcept { return m_keys[j]; }

private:
    RoundKeys m_keys{};
};

KORVANE_ALWAYS_INLINE std::uint32_t XorRoundPortable(std::uint32_t y, std::uint32_t x, const RoundKey& key) noexcept
{
    const std::uint32_t s = x + key.k;
    const std::uint32_t d = x + key.kMinus1;
    const std::uint32_t w = static_cast<std::int32_t>(s) < 0 ? d : s;
    const std::uint32_t* const t = kSplit.words.data() + (s >> 31);
    return y ^ kSplit.words[kLowByte + (s & 0xFF)] ^ t[kTopByte + std::size_t{w >> 24}]
        ^ t[kByte2 + std::size_t{static_cast<std::uint8_t>(w >> 16)}]
        ^ t[kByte1 + std::size_t{static_cast<std::uint8_t>(w >> 8)}];
}

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define KORVANE_X86_64_ROUND 1
// Negative sums with a zero low byte (see kSignedTop) take the round function, which divides them.
// Deliberately not cold: the calls then stay inside the run's own code instead of a distant
// section, and the run measured about 4 % faster so, the rare jump there being mispredicted anyway.
[[gnu::noinline]] std::uint32_t XorRoundExact(std::uint32_t y, std::uint32_t x, std::uint32_t k) noexcept
{
    return y ^ GostBlockCipher::RoundFunction(x, k);
}

// The round from the raw bytes of the sum. Encryption is one dependency chain, so what counts
// is the path from x to the result: add, shift, load, xor, as in standard GOST. The sign picks
// the middle tables' base in parallel with the shifts. The four loads are xored into the result
// one after the other, each as it arrives, which measured faster than pairing them first.
//
// The round works on the sum with bit 31 inverted (x plus the flipped subkey, kFlippedTop for
// its top byte), so that one macro-fused test and branch finds the negative sums with a zero low
// byte; they are 1 in 512 and the branch stays predicted. Shifts, cmov and branches all compete
// for the same two execution ports on current x86 cores, and the round is short of those, not of
// anything else: the top byte is therefore taken with bswap, which runs on another port. The
// movzbl go to other registers than they read, which lets the CPU drop them at register renaming.
// Written in assembly because the compilers turn the sign choice into a branch that mispredicts
// on half the rounds.
KORVANE_ALWAYS_INLINE std::uint32_t XorRoundX86(std::uint32_t y, std::uint32_t x, const RoundKey& key) noexcept
{
    std::uint32_t out;
    std::uint32_t s;
    std::uint32_t i1;
    std::uint32_t i2;
    std::uint32_t i3;
    std::uint32_t j1;
    std::uint32_t j2;
    const std::uint32_t* t;
    asm goto("mov %[x], %[s]\n\t"
             "mov %[tables], %[t]\n\t"
             "add %[k], %[s]\n\t"
             "cmovns %[shifted], %[t]\n\t"
             "test $0x800000FF, %[s]\n\t"
             "jz %l[exact]\n\t"
             "mov %[s], %[i2]\n\t"
             "shr $16, %[i2]\n\t"
             "mov %[s], %[i1]\n\t"
             "shr $8, %[i1]\n\t"
             "movzbl %b[i2], %[j2]\n\t"
             "movzbl %b[i1], %[j1]\n\t"
             "movzbl %b[s], %[i3]\n\t"
             "bswap %[s]\n\t"
             "mov %[y], %[out]\n\t"
             "movzbl %b[s], %[i1]\n\t"
             "xor %c[low](%[tables],%q[i3],4), %[out]\n\t"
             "xor %c[top](%[tables],%q[i1],4), %[out]\n\t"
             "xor %c[byte2](%[t],%q[j2],4), %[out]\n\t"
             "xor %c[byte1](%[t],%q[j1],4), %[out]"
             : [out] "=&r"(out), [s] "=&r"(s), [i1] "=&r"(i1), [i2] "=&r"(i2), [i3] "=&r"(i3), [j1] "=&r"(j1),
               [j2] "=&r"(j2), [t] "=&r"(t)
             : [y] "r"(y), [x] "r"(x), [k] "m"(key.kSignFlipped), [tables] "r"(kSplit.words.data()),
               [shifted] "r"(kSplit.words.data() + 1), [low] "i"(4 * kLowByte), [top] "i"(4 * kFlippedTop),
               [byte2] "i"(4 * kByte2), [byte1] "i"(4 * kByte1), "m"(kSplit)
             : "cc"
             : exact);
    return out;
exact:
    return XorRoundExact(y, x, key.k);
}
#endif

using EncryptRound = std::uint32_t (*)(std::uint32_t, std::uint32_t, const RoundKey&) noexcept;

template <EncryptRound Round>
KORVANE_ALWAYS_INLINE void EncryptRounds(std::uint32_t& a, std::uint32_t& b, const RunKeys& k) noexcept
{
    for (int pass = 0; pass < 3; ++pass) {
        b = Round(b, a, k[0]);
        a = Round(a, b, k[1]);
        b = Round(b, a, k[2]);
        a = Round(a, b, k[3]);
        b = Round(b, a, k[4]);
        a = Round(a, b, k[5]);
        b = Round(b, a, k[6]);
        a = Round(a, b, k[7]);
    }
    b = Round(b, a, k[7]);
    a = Round(a, b, k[6]);
    b = Round(b, a, k[5]);
    a = Round(a, b, k[4]);
    b = Round(b, a, k[3]);
    a = Round(a, b, k[2]);
    b = Round(b, a, k[1]);
    a = Round(a, b, k[0]);
}

template <EncryptRound Round>
void EncryptRunWith(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept
{
    const RunKeys keys(subKeys);
    std::uint32_t c1 = chain.c1;
    std::uint32_t c2 = chain.c2;
    for (std::size_t n = 0; n < blockCount; ++n, data += kBlockSize) {
        std::uint32_t l = load_be32(data) ^ c1;
        std::uint32_t r = load_be32(data + 4) ^ c2;
        EncryptRounds<Round>(l, r, keys);
        store_be32(data, l);
        store_be32(data + 4, r);
        c1 = l;
        c2 = r;
    }
    chain = {c1, c2};
}

// Decryption keeps the plain subkeys; the copy exists for the aliasing reason above.
class PlainRunKeys {
public:
    explicit PlainRunKeys(const SubKeys& subKeys) noexcept : m_keys(subKeys) {}
    ~PlainRunKeys() { SecureWipe(m_keys.data(), sizeof(m_keys)); }
    PlainRunKeys(const PlainRunKeys&) = delete;
    PlainRunKeys& operator=(const PlainRunKeys&) = delete;

    [[nodiscard]] const SubKeys& Keys() const noexcept { return m_keys; }

private:
    SubKeys m_keys;
};

// One round step of DecryptBlock(R, L) for every block of a group: b ^= F(a, kb), a ^= F(b, ka).
template <std::size_t N, std::size_t... w>
KORVANE_ALWAYS_INLINE void GroupStep(std::uint32_t (&a)[N], std::uint32_t (&b)[N], std::uint32_t kb, std::uint32_t ka,
                                     std::index_sequence<w...>) noexcept
{
    ((b[w] = XorRound(b[w], a[w], kb)), ...);
    ((a[w] = XorRound(a[w], b[w], ka)), ...);
}

template <std::size_t N>
KORVANE_ALWAYS_INLINE void DecryptGroup(const SubKeys& k, std::uint8_t* data, ChainWords& chain) noexcept
{
    constexpr auto lanes = std::make_index_sequence<N>{};
    std::uint32_t cipherL[N];
    std::uint32_t cipherR[N];
    std::uint32_t a[N];
    std::uint32_t b[N];
    for (std::size_t i = 0; i < N; ++i) {
        cipherL[i] = load_be32(data + kBlockSize * i);
        cipherR[i] = load_be32(data + kBlockSize * i + 4);
        a[i] = cipherR[i];
        b[i] = cipherL[i];
    }
    GroupStep(a, b, k[0], k[1], lanes);
    GroupStep(a, b, k[2], k[3], lanes);
    GroupStep(a, b, k[4], k[5], lanes);
    GroupStep(a, b, k[6], k[7], lanes);
    for (int pass = 0; pass < 3; ++pass) {
        GroupStep(a, b, k[7], k[6], lanes);
        GroupStep(a, b, k[5], k[4], lanes);
        GroupStep(a, b, k[3], k[2], lanes);
        GroupStep(a, b, k[1], k[0], lanes);
    }
    // Every ciphertext word was read above, so writing over the group in place is safe.
    std::uint32_t c1 = chain.c1;
    std::uint32_t c2 = chain.c2;
    for (std::size_t i = 0; i < N; ++i) {
        store_be32(data + kBlockSize * i, b[i] ^ c1);
        store_be32(data + kBlockSize * i + 4, a[i] ^ c2);
        c1 = cipherL[i];
        c2 = cipherR[i];
    }
    chain = {c1, c2};
}

} // namespace

void EncryptRun(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept
{
#ifdef KORVANE_X86_64_ROUND
    EncryptRunWith<XorRoundX86>(subKeys, data, blockCount, chain);
#else
    EncryptRunWith<XorRoundPortable>(subKeys, data, blockCount, chain);
#endif
}

void EncryptRunPortable(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept
{
    EncryptRunWith<XorRoundPortable>(subKeys, data, blockCount, chain);
}

void DecryptRunSerial(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept
{
    const PlainRunKeys keys(subKeys);
    for (std::size_t n = 0; n < blockCount; ++n, data += kBlockSize) {
        DecryptGroup<1>(keys.Keys(), data, chain);
    }
}

void DecryptRunInterleaved(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount,
                           ChainWords& chain) noexcept
{
    const PlainRunKeys keys(subKeys);
    std::size_t n = 0;
    for (; n + kInterleave <= blockCount; n += kInterleave, data += kInterleave * kBlockSize) {
        DecryptGroup<kInterleave>(keys.Keys(), data, chain);
    }
    for (; n < blockCount; ++n, data += kBlockSize) {
        DecryptGroup<1>(keys.Keys(), data, chain);
    }
}

void DecryptRun(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept
{
    if (VbmiRunAvailable()) {
        DecryptRunVbmi(subKeys, data, blockCount, chain);
    } else {
        DecryptRunInterleaved(subKeys, data, blockCount, chain);
    }
}

} // namespace korvane::detail
