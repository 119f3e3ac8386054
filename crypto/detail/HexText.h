#pragma once

#include <string>
#include <string_view>

// The hex text form of encrypted strings. Internal to clsCrypGost; declared here for its tests.
namespace korvane::detail {

// Two upper-case digits per byte, most significant first, nothing between them.
[[nodiscard]] std::string StringToHex(std::string_view Text);

// One byte per pair of characters. Each pair is read as a hexadecimal number from the left,
// stopping at the first character that is no digit: "4f" is 79, "4G" is 4, "G4" is 0. The last
// character of an odd-length text is read alone. Any text decodes to something; nothing fails.
[[nodiscard]] std::string HexToString(std::string_view Text);

} // namespace korvane::detail
