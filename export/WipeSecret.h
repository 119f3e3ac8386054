#pragma once

#include <QString>

namespace korvane {

// Overwrites the characters of a password that only `text` holds, then empties it. A text that
// shares its characters with another QString (the window's field, say) is only let go: that
// copy belongs to its owner.
void WipeSecret(QString& text) noexcept;

} // namespace korvane
