#pragma once

#include <QString>

namespace korvane {

// `text` without its leading and trailing blanks: spaces only, tabs and line breaks stay.
QString TrimBlanks(const QString& text);

// `text` without its leading and trailing blanks (spaces only), preceded by as many copies of
// the first character of `fill` ("0" when `fill` is empty) as make it `width` characters long.
// Never shortens a text. Lengths are counted in UTF-16 units.
QString PadLeft(const QString& text, qint16 width, const QString& fill);

} // namespace korvane
