#include "export/TerminalDocument.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace korvane {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Room that covers the worst case of AppendXmlText: a UTF-16 unit becomes at most six bytes
// ("&quot;").
constexpr qsizetype kMaxBytesPerUnit = 6;

char* Put(char* out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Writes `text` as XML 1.0 character data in UTF-8 at `out` and returns the end. "&", "<",
// ">" and '"' are escaped; a carriage return goes out as a character reference, since a
// literal one would come back as a line feed (XML normalises line ends). What XML 1.0 has no
// character for (C0 controls but tab, line feed and carriage return; U+FFFE, U+FFFF;
// surrogates without their other half) becomes U+FFFD.
char* AppendXmlText(char* out, QStringView text)
{
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0x80) {
            switch (c) {
            case u'&': out = Put(out, "&amp;"); break;
            case u'<': out = Put(out, "&lt;"); break;
            case u'>': out = Put(out, "&gt;"); break;
            case u'"': out = Put(out, "&quot;"); break;
            case u'\r': out = Put(out, "&#13;"); break;
            case u'\t':
            case u'\n': *out++ = static_cast<char>(c); break;
            default:
                if (c < 0x20)
                    out = Put(out, "\xEF\xBF\xBD");
                else
                    *out++ = static_cast<char>(c);
            }
        } else if (c < 0x800) {
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            const char32_t code = QChar::surrogateToUcs4(c, p[++i]);
            *out++ = static_cast<char>(0xF0 | (code >> 18));
            *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF) {
            out = Put(out, "\xEF\xBF\xBD");
        } else {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The MAC text: for each byte its hexadecimal digits, uppercase, padded on the left with "0"
// to two (PadLeft with width 2 and an empty fill).
char* AppendMacAddr(char* out, const QByteArray& bytes)
{
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        *out++ = kHexDigits[b >> 4];
        *out++ = kHexDigits[b & 0x0F];
    }
    return out;
}

// A failed step of a save: the system's error when the step left one, else Qt's text alone.
SaveError Failure(int systemError, const QFileDevice& file)
{
    if (systemError != 0)
        return SaveErrorOf(systemError);
    return {0, file.errorString()};
}

// QSaveFile refuses a folder, and an existing file it may not write, before it asks the system
// for anything, so no error number tells these two apart: they are told by the path.
SaveError OpenFailure(const QString& path, int systemError, const QFileDevice& file)
{
    const QFileInfo info(path);
    if (info.isDir())
        return SaveErrorOf(EISDIR);
    if (info.exists() && !info.isWritable())
        return SaveErrorOf(EACCES);
    return Failure(systemError, file);
}

} // namespace

TerminalDocument::TerminalDocument(QLocale locale)
    : m_dates(std::move(locale))
{
}

char* TerminalDocument::room(qsizetype bytes)
{
    // Pieces of at least this size; a value longer than that gets a piece of its own size.
    constexpr qsizetype kPieceBytes = qsizetype{1} << 20;
    if (m_pieces.empty() || m_pieces.back().capacity() - m_pieces.back().size() < bytes) {
        QByteArray& piece = m_pieces.emplace_back();
        piece.reserve(std::max(kPieceBytes, bytes));
    }
    QByteArray& piece = m_pieces.back();
    const qsizetype start = piece.size();
    piece.resize(start + bytes);   // within its capacity: nothing moves
    return piece.data() + start;
}

// Cuts the last piece back to `end`, where its writer stopped inside the room it was given.
void TerminalDocument::used(char* end)
{
    QByteArray& piece = m_pieces.back();
    piece.resize(end - piece.constData());
}

void TerminalDocument::appendText(std::string_view text)
{
    used(Put(room(static_cast<qsizetype>(text.size())), text));
}

void TerminalDocument::appendField(std::string_view element, const FieldValue& value)
{
    const auto* string = std::get_if<QString>(&value);
    const auto* number = std::get_if<qint64>(&value);
    const auto* bytes = std::get_if<QByteArray>(&value);
    const auto* dateTime = std::get_if<QDateTime>(&value);
    const QString dateText = dateTime ? m_dates.text(*dateTime) : QString();
    const QStringView text = string ? QStringView(*string) : QStringView(dateText);

    // Room for the value at its longest and both tags, so the bytes go straight into place.
    constexpr qsizetype kMaxDigits = 20;   // "-9223372036854775808"
    const qsizetype longest = number ? kMaxDigits : bytes ? 2 * bytes->size() : text.size() * kMaxBytesPerUnit;
    char* out = room(longest + 2 * static_cast<qsizetype>(element.size()) + 5);
    *out++ = '<';
    out = Put(out, element);
    *out++ = '>';
    char* const valueStart = out;
    if (number)
        out = std::to_chars(out, out + kMaxDigits, *number).ptr;
    else if (bytes)
        out = AppendMacAddr(out, *bytes);
    else
        out = AppendXmlText(out, text);
    if (out == valueStart) {
        out[-1] = '/';   // an empty value, NULL included, gives "<Name/>"
        *out++ = '>';
    } else {
        out = Put(out, "</");
        out = Put(out, element);
        *out++ = '>';
    }
    used(out);
}

void TerminalDocument::appendTerminal(const TerminalRecord& record)
{
    if (m_terminals == 0)
        appendText("<Vorantis>");   // an empty document is written "<Vorantis/>" instead
    appendText("<Nac>");
    appendField("NodeID", record.nodeId);
    appendField("NodeName", record.nodeName);
    appendField("Description", record.description);
    appendField("RegDate", record.regDate);
    appendField("MacAddr", record.macAddr);
    appendText("</Nac>");
    ++m_terminals;
}

QByteArray TerminalDocument::toXml() const
{
    if (m_terminals == 0)
        return QByteArrayLiteral("<Vorantis/>");
    QByteArray xml;
    for (const QByteArray& piece : m_pieces)
        xml += piece;
    return xml + QByteArrayLiteral("</Vorantis>");
}

bool TerminalDocument::save(const QString& path, SaveError& error) const
{
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        error = OpenFailure(path, errno, file);
        return false;
    }
    const auto write = [&](const QByteArray& bytes) {
        errno = 0;
        if (file.write(bytes) == bytes.size())
            return true;
        // A short write (a full disk, a file-size limit) leaves QSaveFile without an error of
        // its own: the system's number says why.
        error = Failure(errno, file);
        file.cancelWriting();
        return false;
    };
    // The pieces are written from where they were built, not copied into one more buffer.
    bool written = true;
    if (m_terminals == 0) {
        written = write(QByteArrayLiteral("<Vorantis/>"));
    } else {
        for (const QByteArray& piece : m_pieces)
            written = written && write(piece);
        written = written && write(QByteArrayLiteral("</Vorantis>"));
    }
    if (!written)
        return false;
    errno = 0;
    if (!file.commit()) {
        error = Failure(errno, file);
        return false;
    }
    return true;
}

} // namespace korvane
