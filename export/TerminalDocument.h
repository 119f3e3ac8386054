#pragma once

#include "FieldValue.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <array>
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
// references, so every value reads back as it was.
class TerminalDocument {
public:
    explicit TerminalDocument(QLocale locale = QLocale::system());

    void appendTerminal(const TerminalRecord& record);
    std::size_t terminalCount() const noexcept { return m_terminals.size(); }

    // The document as it will be saved; empty only if the XML writer failed.
    QByteArray toXml() const;

    // Writes the document at `path` (used as given) in one piece: any file there is replaced
    // only once the whole document is on disk, and stays as it was when the save fails. False
    // with the system's reason in `reason` on failure.
    bool save(const QString& path, QString& reason) const;

private:
    QLocale m_locale;
    std::vector<std::array<QString, 5>> m_terminals;
};

} // namespace korvane
