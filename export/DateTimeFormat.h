#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>
#include <unordered_map>
#include <vector>

namespace korvane {

// The texts of dates in a terminal document: the locale's short date, always with a four-digit
// year, then a blank and the locale's time with seconds and without any time-zone text; the
// date alone when the time is midnight. Made for a writer of many dates: the locale's formats
// are worked out once, each date's text is kept for the next value on the same day, and the
// time is put together from texts the locale gave for each hour, minute and second. A time
// format holding anything else (fractions of a second, for one) is left to the locale for every
// value. Not for use from several threads at once.
class DateTimeFormat {
public:
    explicit DateTimeFormat(QLocale locale);
    QString text(const QDateTime& value) const;

    // The Qt formats the texts follow: the date's, and the time's (used when not midnight).
    const QString& dateFormat() const noexcept { return m_dateFormat; }
    const QString& timeFormat() const noexcept { return m_timeFormat; }

private:
    // A fixed text, or the text of one field by the field's value.
    struct TimePiece {
        enum class Field { None, Hour, Minute, Second } field = Field::None;
        std::vector<QString> texts;
    };

    static std::optional<std::vector<TimePiece>> TimePieces(const QString& format, const QLocale& locale);
    const QString& dateText(QDate date) const;

    QLocale m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
    std::vector<TimePiece> m_timePieces;   // empty: every time goes through the locale
    mutable std::unordered_map<qint64, QString> m_dateTexts;   // by Julian day
};

} // namespace korvane
