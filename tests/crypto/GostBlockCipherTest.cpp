#include "tests/crypto/CryptoTestSupport.h"

#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/GostBlockCipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <random>

namespace korvane::detail {
namespace {

TEST(GostTables, EachSBoxRowIsAPermutation)
{
    for (const auto& row : kSBox) {
        auto sorted = row;
        std::sort(sorted.begin(), sorted.end());
        std::array<std::uint8_t, 16> identity{};
        std::iota(identity.begin(), identity.end(), std::uint8_t{0});
        EXPECT_EQ(sorted, identity);
    }
}

TEST(GostTables, CombinedTableSpotValues)
{
    struct Case {
        const SubstTable& table;
        const char* name;
        std::uint8_t at00;
        std::uint8_t atFF;
    };
    const Case cases[] = {
        {SubstTable0, "SubstTable0", 0xE6, 0x2F},
        {SubstTable1, "SubstTable1", 0x86, 0xF9},
        {SubstTable2, "SubstTable2", 0x5A, 0x9C},
        {SubstTable3, "SubstTable3", 0x62, 0x05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.table[0x00], c.at00);
        EXPECT_EQ(c.table[0xFF], c.atFF);
    }
}

TEST(GostRoundFunction, KnownValuesWithSubkeyZero)
{
    struct Case {
        std::uint32_t x;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {0x00000000, 0xD4373312}, {0x00000001, 0xD437330A}, {0x12345678, 0xC4968956},
        {0x7FFFFFFF, 0xE7CA782C}, {0x80000000, 0xD433B312}, {0x80000001, 0xCC2BAB0A},
        // Split into its plain bytes 0xFFFFFFFF would give 0xE7C9782C.
        {0xFFFFFFFF, 0xD437302A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "X=0x" << c.x);
        EXPECT_EQ(GostBlockCipher::RoundFunction(c.x, 0), c.expected);
    }
}

TEST(GostRoundFunction, AddsTheSubkeyModulo2To32)
{
    // Only the sum matters, wrapping included.
    EXPECT_EQ(GostBlockCipher::RoundFunction(0x12345670, 0x00000008), GostBlockCipher::RoundFunction(0x12345678, 0));
    EXPECT_EQ(GostBlockCipher::RoundFunction(0xFFFFFFFF, 1), GostBlockCipher::RoundFunction(0, 0));
    EXPECT_EQ(GostBlockCipher::RoundFunction(0x7FFFFFFF, 1), GostBlockCipher::RoundFunction(0x80000000, 0));
}

// The round function written out step by step: repeated signed division toward zero, the byte
// tables, and the rotation byte by byte. The folded tables must agree with it everywhere.
std::uint32_t StepByStepRound(std::uint32_t x, std::uint32_t k)
{
    auto s = static_cast<std::int32_t>(x + k);
    const auto b3 = static_cast<std::uint8_t>(s & 0xFF);
    s /= 256;
    const auto b2 = static_cast<std::uint8_t>(s & 0xFF);
    s /= 256;
    const auto b1 = static_cast<std::uint8_t>(s & 0xFF);
    s /= 256;
    const auto b0 = static_cast<std::uint8_t>(s & 0xFF);
    const unsigned t0 = SubstTable0[b0];
    const unsigned t1 = SubstTable1[b1];
    const unsigned t2 = SubstTable2[b2];
    const unsigned t3 = SubstTable3[b3];
    const unsigned r0 = ((t3 & 31) * 8) | (t2 >> 5);
    const unsigned r1 = ((t0 & 31) * 8) | (t3 >> 5);
    const unsigned r2 = ((t1 & 31) * 8) | (t0 >> 5);
    const unsigned r3 = ((t2 & 31) * 8) | (t1 >> 5);
    return r0 | (r1 << 8) | (r2 << 16) | (r3 << 24);
}

// Sums where the split of a negative sum is not its raw bytes plus one per upper byte (low byte
// zero, so the division carries), where an upper byte plus one wraps from 0xFF to 0, and the
// sign boundary itself.
const std::uint32_t kSplitEdgeSums[] = {
    0x00000000, 0x00000001, 0x000000FF, 0x00000100, 0x0000FFFF, 0x00010000, 0x00FFFF00, 0x7FFFFF00,
    0x7FFFFFFF, 0x80000000, 0x80000001, 0x800000FF, 0x80000100, 0x8000FF00, 0x8000FF01, 0x80010000,
    0x80FF0000, 0x80FF0001, 0x80FFFF00, 0x80FFFF01, 0x80FFFFFF, 0x81000000, 0xFE000000, 0xFEFFFF01,
    0xFF000000, 0xFF000001, 0xFF00FF00, 0xFF00FF01, 0xFFFF0000, 0xFFFF0001, 0xFFFFFF00, 0xFFFFFF01,
    0xFFFFFFFE, 0xFFFFFFFF,
};

TEST(GostRoundFunction, AgreesWithTheStepByStepForm)
{
    std::mt19937 words(20240611);
    std::vector<std::uint32_t> sums(std::begin(kSplitEdgeSums), std::end(kSplitEdgeSums));
    for (int i = 0; i < 200000; ++i) {
        sums.push_back(words());
    }
    for (int i = 0; i < 20000; ++i) {
        // Negative with a zero low byte; and negative with upper bytes 0xFF that wrap.
        sums.push_back((words() | 0x80000000u) & 0xFFFFFF00u);
        std::uint32_t wraps = words() | 0x80000001u;
        for (const std::uint32_t byte : {0x0000FF00u, 0x00FF0000u, 0xFF000000u}) {
            if (words() % 2 == 0) {
                wraps |= byte;
            }
        }
        sums.push_back(wraps);
    }
    for (const std::uint32_t sum : sums) {
        // The subkey varies; only the sum decides the result.
        const std::uint32_t k = words();
        ASSERT_EQ(GostBlockCipher::RoundFunction(sum - k, k), StepByStepRound(sum - k, k))
            << std::hex << "sum 0x" << sum << " k 0x" << k;
    }
}

struct BlockCase {
    std::uint32_t a;
    std::uint32_t b;
    std::uint32_t encryptedA;
    std::uint32_t encryptedB;
};

TEST(GostBlock, KnownAnswersWithTheAllZeroKeyBothWays)
{
    const BlockCase cases[] = {
        {0x00000000, 0x00000000, 0x6945C8C5, 0xBB8D0AD1},
        {0x6945C8C5, 0xBB8D0AD1, 0x460C66EA, 0x9A3B71E7},
    };
    const GostBlockCipher cipher;
    for (const BlockCase& c : cases) {
        std::uint32_t a = c.a;
        std::uint32_t b = c.b;
        cipher.EncryptBlock(a, b);
        EXPECT_EQ(a, c.encryptedA);
        EXPECT_EQ(b, c.encryptedB);

        // The inverse takes the encrypted words exchanged and gives them back exchanged.
        std::uint32_t first = c.encryptedB;
        std::uint32_t second = c.encryptedA;
        cipher.DecryptBlock(first, second);
        EXPECT_EQ(first, c.b);
        EXPECT_EQ(second, c.a);
    }
}

TEST(GostBlock, DecryptWithExchangedWordsUndoesEncryptUnderAnyKey)
{
    std::mt19937 words(7);
    GostBlockCipher cipher;
    test::KeyBlockCipher(cipher, "a key of some length, \xE9\x80 included");
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t a0 = words();
        const std::uint32_t b0 = words();
        std::uint32_t a = a0;
        std::uint32_t b = b0;
        cipher.EncryptBlock(a, b);
        std::swap(a, b);
        cipher.DecryptBlock(a, b);
        ASSERT_EQ(a, b0);
        ASSERT_EQ(b, a0);
    }
}

TEST(GostKeySchedule, KeyBlockCyclesOverTheKeyText)
{
    struct Case {
        std::string_view key;
        std::string_view expectedBlock;
    };
    const Case cases[] = {
        {"a", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"abc", "abcabcabcabcabcabcabcabcabcabcab"},
        {"0123456789abcdefghijklmnopqrstuv", "0123456789abcdefghijklmnopqrstuv"},
        {"0123456789abcdefghijklmnopqrstuvWXYZ", "0123456789abcdefghijklmnopqrstuv"},
        {"\xE9\x80", "\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80"
                     "\xE9\x80\xE9\x80\xE9\x80\xE9\x80\xE9\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const KeyBlock block = MakeKeyBlock(c.key);
        EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()), c.expectedBlock);
    }
}

TEST(GostKeySchedule, EmptyKeyTextIsDivisionByZero)
{
    try {
        static_cast<void>(MakeKeyBlock(""));
        FAIL() << "no error";
    } catch (const GostError& error) {
        EXPECT_EQ(error.Number(), 11);
        EXPECT_EQ(error.Description(), "Division by zero");
    }
}

TEST(GostKeySchedule, SubkeysAreLittleEndianWordsOfTheKeyBlock)
{
    GostBlockCipher cipher;
    EXPECT_EQ(cipher.SubKey(), GostBlockCipher::SubKeys{});

    test::KeyBlockCipher(cipher, "a");
    for (const std::uint32_t k : cipher.SubKey()) {
        EXPECT_EQ(k, 0x61u * 0x01010101u);
    }

    // Three characters c1 c2 c3: K0 = K3 = K6 hold (c1 c2 c3 c1), K1 = K4 = K7 (c2 c3 c1 c2),
    // K2 = K5 (c3 c1 c2 c3), least significant byte first.
    test::KeyBlockCipher(cipher, "\x01\x02\x03");
    const GostBlockCipher::SubKeys expected{0x01030201, 0x02010302, 0x03020103, 0x01030201,
                                            0x02010302, 0x03020103, 0x01030201, 0x02010302};
    EXPECT_EQ(cipher.SubKey(), expected);

    cipher.Wipe();
    EXPECT_EQ(cipher.SubKey(), GostBlockCipher::SubKeys{});
}

TEST(GostByteOrder, WordsAndBytes)
{
    const std::uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(load_be32(bytes), 0x01020304u);
    EXPECT_EQ(load_le32(bytes), 0x04030201u);

    std::uint8_t out[4] = {};
    store_be32(out, 0x01020304);
    EXPECT_TRUE(std::equal(out, out + 4, bytes));
    store_le32(out, 0x04030201);
    EXPECT_TRUE(std::equal(out, out + 4, bytes));
}

} // namespace
} // namespace korvane::detail
