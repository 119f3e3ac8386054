#pragma once

// The texts a terminal document gives its values, worked out the plain way, for tests to hold
// the writer's own against: each goes through the locale, none through the writer's kept texts.

#include "export/DateTimeFormat.h"
#include "export/FieldValue.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <variant>

namespace korvane::test {

// Two uppercase hexadecimal digits per byte, first byte first, no separator.
inline QString MacAddrText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

// The date in the document's date format, then a blank and the time in its time format; the
// date alone at midnight; nothing for an invalid value.
inline QString DateTimeText(const QDateTime& value, const QLocale& locale)
{
    if (!value.isValid())
        return QString();
    const DateTimeFormat format(locale);
    QString text = locale.toString(value.date(), format.dateFormat());
    if (value.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(value.time(), format.timeFormat());
    return text;
}

// A column value as element text: text unchanged, integers in decimal, date-times as
// DateTimeText, bytes as MacAddrText; NULL gives an empty text.
inline QString FieldText(const FieldValue& value, const QLocale& locale)
{
    struct Visitor {
        const QLocale& locale;
        QString operator()(std::monostate) const { return QString(); }
        QString operator()(qint64 number) const { return QString::number(number); }
        QString operator()(const QString& text) const { return text; }
        QString operator()(const QDateTime& dateTime) const { return DateTimeText(dateTime, locale); }
        QString operator()(const QByteArray& bytes) const { return MacAddrText(bytes); }
    };
    return std::visit(Visitor{locale}, value);
}

} // namespace korvane::test
