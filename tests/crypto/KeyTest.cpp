#include "tests/crypto/CryptoTestSupport.h"

#include "crypto/clsCrypGost.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using test::FixedWords;
using ByteVector = std::vector<std::uint8_t>;

// The encryption of a fixed plaintext with fixed random words: equal outputs mean equal subkeys.
ByteVector Fingerprint(clsCrypGost& gost)
{
    ByteVector bytes = test::Bytes("00 11 22 33 44 55 66 77 88 99");
    gost.EncryptByte(bytes);
    return bytes;
}

ByteVector FingerprintOfKey(std::string_view key)
{
    clsCrypGost gost(FixedWords(1, 2));
    if (!key.empty()) {
        gost.Key(key);
    }
    return Fingerprint(gost);
}

ByteVector FingerprintOfSubkeys(std::string_view key)
{
    detail::GostBlockCipher cipher;
    if (!key.empty()) {
        test::KeyBlockCipher(cipher, key);
    }
    ByteVector layout = test::Bytes("01 00 00 00 02 00 00 00 0A 00 00 00 00 11 22 33 44 55 66 77 88 99 00 00");
    return test::RawCbcEncrypt(cipher, layout);
}

TEST(Key, TheClassUsesTheSubkeysOfItsKeyText)
{
    for (const std::string_view key : {"", "a", "abc", "\xE9\x80", "0123456789abcdefghijklmnopqrstuvwxyz"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(FingerprintOfKey(key), FingerprintOfSubkeys(key));
    }
}

TEST(Key, TextsAgreeingInTheirFirst32CharactersGiveTheSameKey)
{
    const std::string first32 = "0123456789abcdefghijklmnopqrstuv";
    EXPECT_EQ(FingerprintOfKey(first32 + "W"), FingerprintOfKey(first32));
    EXPECT_EQ(FingerprintOfKey(first32 + "XYZ01234"), FingerprintOfKey(first32));
    EXPECT_NE(FingerprintOfKey(first32.substr(0, 31) + "V"), FingerprintOfKey(first32));
    // The comparison is case-sensitive, and a repeated text is the same key: "ab" cycles to "abab...".
    EXPECT_NE(FingerprintOfKey("Key"), FingerprintOfKey("key"));
    EXPECT_EQ(FingerprintOfKey("abab"), FingerprintOfKey("ab"));
}

TEST(Key, EmptyKeyAfterANonEmptyOneIsDivisionByZeroAndKeepsTheKey)
{
    clsCrypGost gost(FixedWords(1, 2));
    gost.Key("secret");
    try {
        gost.Key("");
        FAIL() << "no error";
    } catch (const GostError& error) {
        EXPECT_EQ(error.Number(), 11);
        EXPECT_EQ(error.Description(), "Division by zero");
    }
    EXPECT_EQ(Fingerprint(gost), FingerprintOfKey("secret"));
}

TEST(Key, EmptyKeyOnANewInstanceKeepsTheAllZeroKey)
{
    clsCrypGost gost(FixedWords(1, 2));
    EXPECT_NO_THROW(gost.Key(""));
    EXPECT_EQ(Fingerprint(gost), FingerprintOfSubkeys(""));
}

TEST(Key, ReplacingAndReassigningTheKey)
{
    clsCrypGost gost(FixedWords(1, 2));
    gost.Key("first");
    gost.Key("second");
    EXPECT_EQ(Fingerprint(gost), FingerprintOfKey("second"));
    gost.Key("second");
    EXPECT_EQ(Fingerprint(gost), FingerprintOfKey("second"));
    gost.Key("first");
    EXPECT_EQ(Fingerprint(gost), FingerprintOfKey("first"));
}

} // namespace
} // namespace korvane
