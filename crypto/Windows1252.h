#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

// clsCrypGost works on single-byte Windows-1252 text, one byte per character. Front ends speak
// UTF-8; these two functions are the one crossing between them.
//
// The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the
// C1 control characters of the same number (U+0081, ...), as Windows' own conversion does, so
// every byte string survives Windows1252ToUtf8 followed by Utf8ToWindows1252 unchanged.
namespace korvane {

class TextConversionError : public std::runtime_error {
public:
    enum class Kind {
        InvalidUtf8,      // a malformed, overlong, truncated or surrogate sequence
        NotInWindows1252, // a valid character that Windows-1252 cannot hold
    };

    TextConversionError(Kind kind, std::size_t offset, char32_t codePoint);

    [[nodiscard]] Kind kind() const noexcept { return m_kind; }
    // Byte offset of the offending sequence in the UTF-8 input.
    [[nodiscard]] std::size_t offset() const noexcept { return m_offset; }
    // The refused character; 0 for InvalidUtf8.
    [[nodiscard]] char32_t codePoint() const noexcept { return m_codePoint; }

private:
    Kind m_kind;
    std::size_t m_offset;
    char32_t m_codePoint;
};

// Throws TextConversionError for invalid UTF-8 and for characters outside Windows-1252.
[[nodiscard]] std::string Utf8ToWindows1252(std::string_view utf8);

// Never fails: every byte has a character.
[[nodiscard]] std::string Windows1252ToUtf8(std::string_view text);

} // namespace korvane
