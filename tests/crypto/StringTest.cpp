#include "tests/crypto/CryptoTestSupport.h"

#include "crypto/clsCrypGost.h"
#include "crypto/detail/HexText.h"

#include <gtest/gtest.h>

#include <cctype>

namespace korvane {
namespace {

using detail::HexToString;
using detail::StringToHex;
using test::FixedWords;
using test::ProgressLog;

bool IsUpperHex(const std::string& text)
{
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && !(c >= 'A' && c <= 'F')) {
            return false;
        }
    }
    return true;
}

TEST(HexText, StringToHexWritesTwoUpperCaseDigitsPerByte)
{
    EXPECT_EQ(StringToHex(std::string("\x00\x0A\xFF", 3)), "000AFF");
    EXPECT_EQ(StringToHex(""), "");
    EXPECT_EQ(StringToHex("\xAB\xCD\xEF"), "ABCDEF");
}

TEST(HexText, HexToStringReadingRules)
{
    struct Case {
        std::string_view hex;
        std::string expected;
    };
    const Case cases[] = {
        {"4f", "\x4F"},
        {"4F", "\x4F"},
        {"4G", "\x04"},                         // reading stops at the first non-digit
        {"G4", std::string(1, '\0')},           // no leading digit gives 0
        {"ABC", "\xAB\x0C"},                    // the odd last digit is read alone
        {"000aff", std::string("\x00\x0A\xFF", 3)},
        {"", ""},
        {" 1zz\xE9", std::string("\x00\x00\x00", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(HexToString(c.hex), c.expected);
    }
}

TEST(HexText, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    EXPECT_EQ(HexToString(StringToHex(all)), all);
}

TEST(EncryptString, KnownAnswersAsBytesAndAsHex)
{
    clsCrypGost gost(FixedWords());
    EXPECT_EQ(gost.EncryptString("", {}, true), "6945C8C5BB8D0AD1460C66EA9A3B71E7");
    EXPECT_EQ(gost.EncryptString("Hello", {}, true), "6945C8C5BB8D0AD16494A45C9345717A24DF52694E877682");
    const std::vector<std::uint8_t> asBytes = test::BytesOf(gost.EncryptString("Hello"));
    EXPECT_EQ(asBytes, test::Bytes("69 45 C8 C5 BB 8D 0A D1 64 94 A4 5C 93 45 71 7A 24 DF 52 69 4E 87 76 82"));
}

TEST(EncryptString, HexFormLengthsAndFreshness)
{
    clsCrypGost gost;
    const std::string empty = gost.EncryptString("", "k", true);
    EXPECT_EQ(empty.size(), 32u);
    EXPECT_TRUE(IsUpperHex(empty));
    std::string emptyCopy = empty;
    EXPECT_EQ(gost.DecryptString(emptyCopy, "k", true), "");

    for (const std::string_view text : {"abcde", "abcdefghijkl"}) {
        const std::string first = gost.EncryptString(text, "k", true);
        const std::string second = gost.EncryptString(text, "k", true);
        EXPECT_EQ(first.size(), 48u);
        EXPECT_TRUE(IsUpperHex(first));
        EXPECT_NE(first, second);
        std::string a = first;
        std::string b = second;
        EXPECT_EQ(gost.DecryptString(a, "k", true), text);
        EXPECT_EQ(gost.DecryptString(b, "k", true), text);
    }
}

TEST(DecryptString, LowerCaseHexWorksLikeUpperCase)
{
    clsCrypGost gost;
    std::string hex = gost.EncryptString("caf\xE9 \x80", "k", true);
    for (char& c : hex) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(gost.DecryptString(hex, "k", true), "caf\xE9 \x80");
}

TEST(DecryptString, ByteFormHoldsArbitraryCharactersIncludingNul)
{
    clsCrypGost gost;
    const std::string plain("a\0b\xFF", 4);
    std::string encrypted = gost.EncryptString(plain, "k");
    EXPECT_EQ(encrypted.size(), 16u);
    EXPECT_EQ(gost.DecryptString(encrypted, "k"), plain);
}

TEST(DecryptString, HexTextIsReplacedByItsDecodedForm)
{
    clsCrypGost gost;
    const std::string hex = gost.EncryptString("abc", "k", true);
    std::string text = hex;
    static_cast<void>(gost.DecryptString(text, "k", true));
    EXPECT_EQ(text, HexToString(hex));

    // Also when decryption then fails.
    std::string wrong = hex;
    EXPECT_THROW(static_cast<void>(gost.DecryptString(wrong, "other", true)), GostError);
    EXPECT_EQ(wrong, HexToString(hex));
}

TEST(DecryptString, EmptyTextReturnsAtOnceWithoutEventsOrKey)
{
    clsCrypGost gost(FixedWords());
    ProgressLog log(gost);
    std::string empty;
    EXPECT_EQ(gost.DecryptString(empty, "a key", true), "");
    EXPECT_TRUE(log.events.empty());
    // The key was not assigned: the zero key's known answer still comes out.
    EXPECT_EQ(gost.EncryptString("", {}, true), "6945C8C5BB8D0AD1460C66EA9A3B71E7");
}

TEST(DecryptString, WrongKeyRaisesTheSizeDescriptorError)
{
    clsCrypGost gost;
    std::string hex = gost.EncryptString("secret text", "right", true);
    try {
        static_cast<void>(gost.DecryptString(hex, "wrong", true));
        FAIL() << "no error";
    } catch (const GostError& error) {
        EXPECT_EQ(error.Number(), GostError::kIncorrectSizeDescriptor);
        EXPECT_EQ(error.Description(), "Incorrect size descriptor in Gost decryption");
    }
}

TEST(Strings, BytesStringAndHexFormsAgree)
{
    const std::string text = "Ol\xE1, mundo \x80";
    clsCrypGost gost(FixedWords(7, 9));
    std::vector<std::uint8_t> bytes = test::BytesOf(text);
    gost.EncryptByte(bytes, "k");
    const std::string asString = gost.EncryptString(text, "k");
    const std::string asHex = gost.EncryptString(text, "k", true);
    EXPECT_EQ(test::BytesOf(asString), bytes);
    EXPECT_EQ(asHex, StringToHex(asString));
}

} // namespace
} // namespace korvane
