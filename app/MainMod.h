#pragma once

class QLineEdit;

namespace korvane {

// Selects the whole text of `field`: the selection starts at 0 and then takes the text's length,
// so the caret ends up after the last character (at 0 in an empty field).
void SelectAllText(QLineEdit& field);

} // namespace korvane
