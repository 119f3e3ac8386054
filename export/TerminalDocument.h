#pragma once

#include "export/DateTimeFormat.h"
#include "export/FieldValue.h"
#include "export/SaveError.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstddef>
#include <string_view>
#include <vector>

namespace korvane {

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
