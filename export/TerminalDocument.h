#pragma once

#include "FieldValue.h"
#include "SaveError.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korvane {

// `text` without its leading and trailing blanks: spaces only, tabs and line breaks stay.
QString TrimBlanks(const QString& text);

// `text` without its leading and trailing blanks (spaces only), preceded by as many copies of
// the first character of `fill` ("0" when `fill` is empty) as make it `width` characters long.
// Never shortens a text. Lengths are counted in UTF-16 units.
QString PadLeft(const QString& text, qint16 width, const QString& fill);

// Two uppercase hexadecimal digits per byte, first byte first, no separator.
QString MacAddrText(const QByteArray& bytes);

// The locale's short date, always with a four-digit year, then a blank and the locale's time
// with seconds and without any time-zone text; the date alone when the time is midnight.
QString DateTimeText(const QDateTime& value, const QLocale& locale);

// The text of DateTimeText, made for a writer of many dates: the locale's formats are worked
// out once, each date's text is kept for the next value on the same day, and the time is put
// together from texts the locale gave for each hour, minute and second. A time format holding
// anything else (fractions of a second, for one) is left to the locale for every value. Not
// for use from several threads at once.
class DateTimeFormat {
public:
    explicit DateTimeFormat(QLocale locale);
    QString text(const QDateTime& value) const;

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

// A column value as element text: text unchanged, integers in decimal, date-times as
// DateTimeText, bytes as MacAddrText; NULL gives an empty text.
QString FieldText(const FieldValue& value, const QLocale& locale);

// One terminal row as it becomes a "Nac" element.
struct TerminalRecord {
    FieldValue nodeId;
    FieldValue nodeName;
    FieldValue description;
    FieldValue regDate;
    FieldValue macAddr;     // bytes give the MAC text; a text is written as it stands
};

// The terminal XML document: the root "Vorantis" with one "Nac" per appended terminal, built
// in memory and written by one save. No declaration, no whitespace between elements, UTF-8.
// Characters XML 1.0 cannot carry become U+FFFD; carriage returns are written as character
// references, so every value reads back as it was. It is held as the UTF-8 text it will be
// saved as, each terminal written as it is appended: a large table costs about the file's size
// in memory.
class TerminalDocument {
public:
    explicit TerminalDocument(QLocale locale = QLocale::system());

    void appendTerminal(const TerminalRecord& record);
    std::size_t terminalCount() const noexcept { return m_terminals; }

    // The document as it will be saved.
    QByteArray toXml() const;

    // Writes the document at `path` (used as given) in one piece: any file there is replaced
    // only once the whole document is on disk, and stays as it was when the save fails. False
    // with the system's error number and reason in `error` on failure.
    bool save(const QString& path, SaveError& error) const;

private:
    char* room(qsizetype bytes);
    void used(char* end);
    void appendText(std::string_view text);
    void appendField(std::string_view element, const FieldValue& value);

    DateTimeFormat m_dates;
    // The document so far but the root's end tag, in pieces that are filled and never moved:
    // growing one block would copy it again and again, and hold old and new copy at once.
    std::vector<QByteArray> m_pieces;
    std::size_t m_terminals = 0;
};

} // namespace korvane
