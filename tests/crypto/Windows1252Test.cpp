#include "crypto/Windows1252.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(Windows1252, ConvertsBothWays)
{
    struct Case {
        std::string_view utf8;
        std::string_view cp1252;
    };
    const Case cases[] = {
        {"", ""},
        {"plain ASCII ~", "plain ASCII ~"},
        {"\xC3\xA9", "\xE9"},                   // é
        {"\xE2\x82\xAC", "\x80"},               // €
        {"Ol\xC3\xA1 \xE2\x80\x9C" "a\xE2\x80\x9D", "Ol\xE1 \x93" "a\x94"},
        {"\xC5\xB8\xC3\xBF", "\x9F\xFF"},       // Ÿ ÿ
        {"\xC2\xA0", "\xA0"},
        {"\xC2\x81\xC2\x9D", "\x81\x9D"},       // the undefined bytes stand for their C1 controls
        {std::string_view("a\0b", 3), std::string_view("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Utf8ToWindows1252(c.utf8), c.cp1252);
        EXPECT_EQ(Windows1252ToUtf8(c.cp1252), c.utf8);
    }
}

TEST(Windows1252, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
}

TEST(Windows1252, RefusesCharactersItCannotHold)
{
    struct Case {
        std::string_view utf8;
        std::size_t offset;
        char32_t codePoint;
        std::string_view message;
    };
    const Case cases[] = {
        {"ab\xE4\xB8\xAD", 2, 0x4E2D, "character U+4E2D at byte 2 has no Windows-1252 form"},
        {"\xC2\x80", 0, 0x80, "character U+0080 at byte 0 has no Windows-1252 form"},
        {"x\xF0\x9F\x98\x80", 1, 0x1F600, "character U+1F600 at byte 1 has no Windows-1252 form"},
        {"\xC4\x80", 0, 0x100, "character U+0100 at byte 0 has no Windows-1252 form"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            static_cast<void>(Utf8ToWindows1252(c.utf8));
            ADD_FAILURE() << "no error";
        } catch (const TextConversionError& error) {
            EXPECT_EQ(error.kind(), TextConversionError::Kind::NotInWindows1252);
            EXPECT_EQ(error.offset(), c.offset);
            EXPECT_EQ(error.codePoint(), c.codePoint);
            EXPECT_EQ(std::string_view(error.what()), c.message);
        }
    }
}

TEST(Windows1252, RefusesInvalidUtf8)
{
    struct Case {
        std::string_view utf8;
        std::size_t offset;
    };
    const Case cases[] = {
        {"\x80", 0},                 // stray continuation byte
        {"ab\xC3", 2},               // truncated
        {"\xC3(", 0},                // missing continuation
        {"\xC0\xAF", 0},             // overlong
        {"\xE0\x80\xAF", 0},         // overlong
        {"x\xED\xA0\x80", 1},        // surrogate
        {"\xF4\x90\x80\x80", 0},     // above U+10FFFF
        {"\xFF", 0},
        {"\xE9t\xE9", 0},            // Windows-1252 mistaken for UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        try {
            static_cast<void>(Utf8ToWindows1252(c.utf8));
            ADD_FAILURE() << "no error";
        } catch (const TextConversionError& error) {
            EXPECT_EQ(error.kind(), TextConversionError::Kind::InvalidUtf8);
            EXPECT_EQ(error.offset(), c.offset);
            EXPECT_EQ(std::string_view(error.what()), "invalid UTF-8 at byte " + std::to_string(c.offset));
        }
    }
}

} // namespace
} // namespace korvane
