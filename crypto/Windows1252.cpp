#include "crypto/Windows1252.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace korvane {
namespace {

// Characters of the bytes 0x80..0x9F; the rest of the code page equals Latin-1. The undefined
// bytes map to the C1 control of their own number.
constexpr std::array<char32_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98..9F
};

bool IsContinuation(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

// Decodes one well-formed UTF-8 sequence at `pos` (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF). Returns its length, 0 when the bytes there are not one.
std::size_t DecodeUtf8(std::string_view s, std::size_t pos, char32_t& cp) noexcept
{
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) {
            low = 0xA0;
        } else if (b0 == 0xED) {
            high = 0x9F;
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) {
            low = 0x90;
        } else if (b0 == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (s.size() - pos < length) {
        return 0;
    }
    const auto b1 = static_cast<unsigned char>(s[pos + 1]);
    if (b1 < low || b1 > high) {
        return 0;
    }
    cp = (cp << 6) | (b1 & 0x3Fu);
    for (std::size_t i = 2; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if (!IsContinuation(b)) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    return length;
}

bool EncodeWindows1252(char32_t cp, unsigned char& byte) noexcept
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        byte = static_cast<unsigned char>(cp);
        return true;
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == cp) {
            byte = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        // Windows-1252 holds nothing beyond the Basic Multilingual Plane.
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string DescribeFailure(TextConversionError::Kind kind, std::size_t offset, char32_t cp)
{
    if (kind == TextConversionError::Kind::InvalidUtf8) {
        return "invalid UTF-8 at byte " + std::to_string(offset);
    }
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(cp));
    return std::string("character ") + name + " at byte " + std::to_string(offset)
        + " has no Windows-1252 form";
}

} // namespace

TextConversionError::TextConversionError(Kind kind, std::size_t offset, char32_t codePoint)
    : std::runtime_error(DescribeFailure(kind, offset, codePoint)), m_kind(kind), m_offset(offset),
      m_codePoint(codePoint)
{
}

std::string Utf8ToWindows1252(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(utf8, pos, cp);
        if (length == 0) {
            throw TextConversionError(TextConversionError::Kind::InvalidUtf8, pos, 0);
        }
        unsigned char byte = 0;
        if (!EncodeWindows1252(cp, byte)) {
            throw TextConversionError(TextConversionError::Kind::NotInWindows1252, pos, cp);
        }
        out += static_cast<char>(byte);
        pos += length;
    }
    return out;
}

std::string Windows1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : char32_t{byte});
    }
    return out;
}

} // namespace korvane
