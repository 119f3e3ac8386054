#include "tests/crypto/CryptoTestSupport.h"

#include "crypto/clsCrypGost.h"
#include "crypto/detail/Layout.h"

#include <gtest/gtest.h>

#include <set>

namespace korvane {
namespace {

using test::Bytes;
using test::FixedWords;
using test::ProgressLog;

using ByteVector = std::vector<std::uint8_t>;

TEST(EncryptByte, KnownAnswersWithRandomWordsZero)
{
    for (const test::KnownAnswer& c : test::KnownAnswers()) {
        SCOPED_TRACE(c.name);
        clsCrypGost gost(FixedWords(0, 0));
        if (!c.key.empty())
            gost.Key(c.key);
        ByteVector bytes = c.plain;
        gost.EncryptByte(bytes);
        EXPECT_EQ(bytes, c.cipher);
    }
}

// The rows without a key: decrypted by an instance that never had one.
TEST(DecryptByte, KnownAnswers)
{
    for (const test::KnownAnswer& c : test::KnownAnswers()) {
        SCOPED_TRACE(c.name);
        clsCrypGost gost;
        if (!c.key.empty())
            gost.Key(c.key);
        ByteVector bytes = c.cipher;
        gost.DecryptByte(bytes);
        EXPECT_EQ(bytes, c.plain);
    }
}

TEST(EncryptByte, LengthIsDataPlus12RoundedUpTo8)
{
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 16}, {4, 16}, {5, 24}, {12, 24}, {13, 32}, {20, 32}, {21, 40}};
    for (const auto& [n, t] : cases) {
        ByteVector bytes(n, 0xAB);
        clsCrypGost gost;
        gost.EncryptByte(bytes, "k");
        EXPECT_EQ(bytes.size(), t) << "N=" << n;
        EXPECT_EQ(detail::EncryptedLength(n), t);
    }
    // The largest layout whose positions stay within signed 32 bits.
    EXPECT_EQ(detail::EncryptedLength(detail::kMaxDataLength), 2147483640u);
    EXPECT_GT(detail::EncryptedLength(detail::kMaxDataLength + 1), 2147483647u);
}

TEST(EncryptByte, LayoutHoldsRandomWordsSizeDescriptorDataAndZeroPadding)
{
    // The source's top bit is dropped: random words lie in 0..2^31-1.
    clsCrypGost gost(FixedWords(0x12345678, 0xFFFFFFFF));
    ByteVector bytes = Bytes("48 65 6C 6C 6F");
    gost.EncryptByte(bytes);

    const detail::GostBlockCipher zeroKey;
    const ByteVector layout = test::RawCbcDecrypt(zeroKey, bytes);
    EXPECT_EQ(layout, Bytes("78 56 34 12 FF FF FF 7F 05 00 00 00 48 65 6C 6C 6F 00 00 00 00 00 00 00"));
}

TEST(EncryptByte, SameBytesTwiceDifferAndBothDecrypt)
{
    clsCrypGost gost;
    const ByteVector plain = Bytes("48 65 6C 6C 6F");
    ByteVector first = plain;
    ByteVector second = plain;
    gost.EncryptByte(first, "key");
    gost.EncryptByte(second);
    EXPECT_NE(first, second);
    gost.DecryptByte(first);
    gost.DecryptByte(second);
    EXPECT_EQ(first, plain);
    EXPECT_EQ(second, plain);
}

TEST(EncryptByte, OsRandomWordsVaryAndKeepTheirTopBitClear)
{
    clsCrypGost gost;
    detail::GostBlockCipher cipher;
    test::KeyBlockCipher(cipher, "key");
    std::set<ByteVector> randomBlocks;
    for (int i = 0; i < 64; ++i) {
        ByteVector bytes;
        gost.EncryptByte(bytes, "key");
        const ByteVector layout = test::RawCbcDecrypt(cipher, bytes);
        ASSERT_EQ(layout[3] & 0x80, 0);
        ASSERT_EQ(layout[7] & 0x80, 0);
        randomBlocks.insert(ByteVector(layout.begin(), layout.begin() + 8));
    }
    EXPECT_EQ(randomBlocks.size(), 64u);
}

TEST(ByteArray, EveryLengthUpTo100RoundTrips)
{
    clsCrypGost gost;
    gost.Key("round trip");
    for (std::size_t n = 0; n <= 100; ++n) {
        ByteVector plain(n);
        for (std::size_t i = 0; i < n; ++i) {
            plain[i] = static_cast<std::uint8_t>(i * 37 + n);
        }
        ByteVector bytes = plain;
        gost.EncryptByte(bytes);
        gost.DecryptByte(bytes);
        ASSERT_EQ(bytes, plain) << "N=" << n;
    }
}

TEST(ByteArray, KeyArgumentStaysInForceForLaterCalls)
{
    clsCrypGost gost(FixedWords());
    ByteVector withKey = Bytes("01 02 03");
    gost.EncryptByte(withKey, "first");
    ByteVector withoutKey = Bytes("01 02 03");
    gost.EncryptByte(withoutKey);
    EXPECT_EQ(withKey, withoutKey);

    clsCrypGost other;
    EXPECT_THROW(other.DecryptByte(withoutKey), GostError);
    other.DecryptByte(withoutKey, "first");
    EXPECT_EQ(withoutKey, Bytes("01 02 03"));
}

// Progress: percentages from the offsets of the blocks, then 100.
struct ProgressCase {
    std::size_t dataLength;
    std::vector<std::int32_t> expected;
};

std::vector<std::int32_t> Sequence800()
{
    // 464/800*100 is 57.99999999999999 in doubles, so 58 is skipped and the odd values follow.
    std::vector<std::int32_t> values;
    for (int p = 0; p <= 56; p += 2) {
        values.push_back(p);
    }
    for (int p = 57; p <= 99; p += 2) {
        values.push_back(p);
    }
    values.push_back(100);
    return values;
}

std::vector<std::int32_t> EveryPercent()
{
    std::vector<std::int32_t> values;
    for (int p = 0; p <= 100; ++p) {
        values.push_back(p);
    }
    return values;
}

std::vector<ProgressCase> ProgressCases()
{
    return {
        {0, {0, 50, 100}},           // T = 16
        {5, {0, 33, 66, 100}},       // T = 24
        {13, {0, 25, 50, 75, 100}},  // T = 32
        {788, Sequence800()},        // T = 800
        {1588, EveryPercent()},      // T = 1600
        {100000, EveryPercent()},    // T = 100016
    };
}

TEST(Progress, SequencesForEncryptionAndDecryption)
{
    for (const ProgressCase& c : ProgressCases()) {
        SCOPED_TRACE(::testing::Message() << "N=" << c.dataLength);
        clsCrypGost gost;
        ProgressLog log(gost);
        ByteVector bytes(c.dataLength, 0x5A);
        gost.EncryptByte(bytes, "k");
        EXPECT_EQ(log.events, c.expected);

        log.events.clear();
        gost.DecryptByte(bytes);
        EXPECT_EQ(log.events, c.expected);
    }
    EXPECT_EQ(Sequence800().size(), 52u);
}

TEST(Progress, HandlerThatWrites100SuppressesTheClosingEvent)
{
    clsCrypGost gost;
    std::vector<std::int32_t> seen;
    gost.Progress = [&seen](std::int32_t& percent) {
        seen.push_back(percent);
        percent = 100;
    };
    ByteVector bytes(5);
    gost.EncryptByte(bytes, "k");
    EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 33, 66}));

    // Only the value left by the last event counts: writing 100 earlier suppresses nothing.
    seen.clear();
    gost.Progress = [&seen](std::int32_t& percent) {
        seen.push_back(percent);
        if (percent == 0) {
            percent = 100;
        }
    };
    gost.DecryptByte(bytes);
    EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 33, 66, 100}));
}

TEST(DecryptByte, EmptyArrayIsANormalReturnWithoutEvents)
{
    clsCrypGost gost;
    ProgressLog log(gost);
    ByteVector bytes;
    gost.DecryptByte(bytes, "k");
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(log.events.empty());
}

// Every refusal: the size-descriptor error, the array exactly as it was, no event.
void ExpectRefused(clsCrypGost& gost, const ByteVector& input, std::string_view key = {})
{
    ProgressLog log(gost);
    ByteVector bytes = input;
    try {
        gost.DecryptByte(bytes, key);
        ADD_FAILURE() << "no error for " << input.size() << " bytes";
    } catch (const GostError& error) {
        EXPECT_EQ(error.Number(), -2147221504);
        EXPECT_STREQ(error.what(), "Incorrect size descriptor in Gost decryption");
    }
    EXPECT_EQ(bytes, input);
    EXPECT_TRUE(log.events.empty());
}

TEST(DecryptByte, LengthThatIsNoLayoutIsRefused)
{
    clsCrypGost gost(FixedWords());
    ByteVector valid(30, 0x11);
    gost.EncryptByte(valid, "k"); // 48 bytes
    for (const std::size_t length : {1u, 7u, 8u, 9u, 15u, 17u, 20u, 47u}) {
        SCOPED_TRACE(length);
        ExpectRefused(gost, ByteVector(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length)));
    }
}

TEST(DecryptByte, WrongKeyIsRefusedAndTheCiphertextSurvives)
{
    clsCrypGost gost;
    ByteVector bytes(1000, 0x42);
    gost.EncryptByte(bytes, "right key");
    for (const char* wrong : {"wrong key", "right kez", "r"}) {
        SCOPED_TRACE(wrong);
        ExpectRefused(gost, bytes, wrong);
    }
    gost.DecryptByte(bytes, "right key");
    EXPECT_EQ(bytes, ByteVector(1000, 0x42));
}

TEST(DecryptByte, TruncatedLayoutIsRefused)
{
    clsCrypGost gost;
    ByteVector bytes(5, 0x42);
    gost.EncryptByte(bytes, "k"); // 24 bytes, descriptor 5
    ExpectRefused(gost, ByteVector(bytes.begin(), bytes.begin() + 16));
}

// A layout the class would never write, with the given size descriptor, under the zero key.
ByteVector LayoutWithDescriptor(std::int32_t descriptor, std::size_t length)
{
    ByteVector layout(length);
    detail::store_le32(&layout[8], static_cast<std::uint32_t>(descriptor));
    return test::RawCbcEncrypt(detail::GostBlockCipher{}, layout);
}

TEST(DecryptByte, SizeDescriptorMustFitTheLength)
{
    struct Case {
        std::int32_t descriptor;
        std::size_t length;
        bool accepted;
    };
    const Case cases[] = {
        // T - N must lie in 12..19; negative N never fits, though -1..-3 give 17..19 for T = 16.
        {-1, 16, false}, {-2, 16, false}, {-3, 16, false}, {-4, 16, false},
        {INT32_MIN, 16, false}, {INT32_MAX, 16, false},
        {0, 16, true}, {4, 16, true}, {5, 16, false},
        {4, 24, false}, {5, 24, true}, {12, 24, true}, {13, 24, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "N=" << c.descriptor << " T=" << c.length);
        clsCrypGost gost;
        const ByteVector layout = LayoutWithDescriptor(c.descriptor, c.length);
        if (c.accepted) {
            ByteVector bytes = layout;
            gost.DecryptByte(bytes);
            EXPECT_EQ(bytes, ByteVector(static_cast<std::size_t>(c.descriptor), 0));
        } else {
            ExpectRefused(gost, layout);
        }
    }
}

TEST(DecryptByte, DamagedBlockGarblesItselfAndFlipsTheSameBitsInTheNext)
{
    clsCrypGost gost;
    ByteVector plain(40);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<std::uint8_t>(i);
    }
    ByteVector cipher = plain;
    gost.EncryptByte(cipher, "k"); // 56 bytes: data at 12..51
    ASSERT_EQ(cipher.size(), 56u);

    // Flip one bit in block 3 (offsets 24..31) of the ciphertext.
    ByteVector damaged = cipher;
    damaged[26] ^= 0x10;
    gost.DecryptByte(damaged);
    ASSERT_EQ(damaged.size(), plain.size());

    // Data offset d is layout offset d + 12.
    for (std::size_t d = 0; d < plain.size(); ++d) {
        const std::size_t offset = d + 12;
        if (offset < 24 || offset >= 40) {
            EXPECT_EQ(damaged[d], plain[d]) << "layout offset " << offset;
        } else if (offset >= 32) {
            EXPECT_EQ(damaged[d], offset == 34 ? (plain[d] ^ 0x10) : plain[d]) << "layout offset " << offset;
        }
    }
    int garbled = 0;
    for (std::size_t offset = 24; offset < 32; ++offset) {
        garbled += damaged[offset - 12] != plain[offset - 12] ? 1 : 0;
    }
    EXPECT_GE(garbled, 4);

    // Damage to the block holding the size descriptor is caught.
    ByteVector descriptorDamaged = cipher;
    descriptorDamaged[9] ^= 0x01;
    ExpectRefused(gost, descriptorDamaged);
}

TEST(EncryptByte, EmptyKeyArgumentUsesTheKeyInForce)
{
    clsCrypGost gost(FixedWords());
    gost.Key("k");
    ByteVector bytes = Bytes("01 02");
    gost.EncryptByte(bytes, "");
    ByteVector expected = Bytes("01 02");
    clsCrypGost reference(FixedWords());
    reference.EncryptByte(expected, "k");
    EXPECT_EQ(bytes, expected);
}

} // namespace
} // namespace korvane
