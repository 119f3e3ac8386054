#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <variant>

namespace korvane {

// One column value of a row, typed as the driver described the column. std::monostate is
// NULL, distinct from an empty text or an empty byte array. Date-times carry no time zone
// (the database stores none); they are kept as UTC so no daylight-saving rule moves them.
using FieldValue = std::variant<std::monostate, qint64, QString, QDateTime, QByteArray>;

inline bool IsNull(const FieldValue& value) noexcept
{
    return std::holds_alternative<std::monostate>(value);
}

} // namespace korvane
