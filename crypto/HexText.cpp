#include "crypto/detail/HexText.h"

namespace korvane::detail {
namespace {

int HexDigitValue(char c) noexcept
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

std::string StringToHex(std::string_view Text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * Text.size());
    for (const char c : Text) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::string HexToString(std::string_view Text)
{
    std::string text;
    text.reserve((Text.size() + 1) / 2);
    for (std::size_t p = 0; p < Text.size(); p += 2) {
        const std::string_view pair = Text.substr(p, 2);
        int value = 0;
        for (const char c : pair) {
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                break;
            }
            value = value * 16 + digit;
        }
        text += static_cast<char>(static_cast<unsigned char>(value));
    }
    return text;
}

} // namespace korvane::detail
