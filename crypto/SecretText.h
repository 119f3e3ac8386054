#pragma once

#include "detail/SecureWipe.h"

#include <string>

namespace korvane {

// Overwrites the characters of a key or password and empties the string, so the text does not
// linger in freed memory once the string is gone.
inline void WipeSecret(std::string& text) noexcept
{
    detail::SecureWipe(text.data(), text.size());
    text.clear();
}

} // namespace korvane
