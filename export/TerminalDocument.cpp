#include "TerminalDocument.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

namespace korvane {

namespace {

// Qt date-time formats: letters in runs, literal text between single quotes, '' a quote.
// Each walker copies quoted text untouched and hands every letter run to `run`.
template<typename Run>
QString MapFormat(const QString& format, Run run)
{
    QString out;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            qsizetype end = i + 1;
            while (end < format.size()) {
                if (format.at(end) == u'\'') {
                    if (end + 1 < format.size() && format.at(end + 1) == u'\'') {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            end = std::min(end + 1, format.size());
            out += format.mid(i, end - i);
            i = end;
            continue;
        }
        qsizetype end = i + 1;
        while (end < format.size() && format.at(end) == c)
            ++end;
        run(out, c, end - i);
        i = end;
    }
    return out;
}

bool HasLetter(const QString& format, QChar letter)
{
    bool found = false;
    MapFormat(format, [&](QString&, QChar c, qsizetype) { found = found || c == letter; });
    return found;
}

// The short date of `locale` with a four-digit year: CLDR gives two digits in many locales
// whose operators set four in their regional settings.
QString DateFormat(const QLocale& locale)
{
    return MapFormat(locale.dateFormat(QLocale::ShortFormat), [](QString& out, QChar c, qsizetype count) {
        if (c == u'y')
            out += QStringLiteral("yyyy");
        else
            out += QString(count, c);
    });
}

QString TimeFormat(const QLocale& locale)
{
    QString format = MapFormat(locale.timeFormat(QLocale::LongFormat), [](QString& out, QChar c, qsizetype count) {
        if (c == u't') {
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
        } else if (!(out.isEmpty() && c.isSpace())) {
            out += QString(count, c);
        }
    });
    format = format.trimmed();
    if (!HasLetter(format, u's')) {
        bool inserted = false;
        const QString withSeconds = MapFormat(format, [&](QString& out, QChar c, qsizetype count) {
            out += QString(count, c);
            if (c == u'm' && !inserted) {
                out += QStringLiteral(":ss");
                inserted = true;
            }
        });
        format = inserted ? withSeconds : format + QStringLiteral(":ss");
    }
    return format;
}

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

QString TrimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

QString PadLeft(const QString& text, qint16 width, const QString& fill)
{
    const QChar pad = fill.isEmpty() ? QChar(u'0') : fill.at(0);
    const QString trimmed = TrimBlanks(text);
    const qsizetype length = std::max<qsizetype>(width, trimmed.size());
    return QString(length - trimmed.size(), pad) + trimmed;
}

QString MacAddrText(const QByteArray& bytes)
{
    QByteArray text(bytes.size() * 2, Qt::Uninitialized);
    AppendMacAddr(text.data(), bytes);
    return QString::fromLatin1(text);
}

QString DateTimeText(const QDateTime& value, const QLocale& locale)
{
    if (!value.isValid())
        return QString();
    QString text = locale.toString(value.date(), DateFormat(locale));
    if (value.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(value.time(), TimeFormat(locale));
    return text;
}

// A time format cut into pieces whose text depends on one field each, following Qt's format
// letters: h and hh the hour (1 to 12 when the format shows AM/PM), H and HH the hour 0 to 23,
// m and mm the minute, s and ss the second, A or a (alone or with P or p after it) the AM/PM
// text; quoted text as it stands, '' a quote. Each field's texts are the locale's own, asked for once per value.
// Nothing for a format with any other letter, or a letter run Qt would read as two.
std::optional<std::vector<DateTimeFormat::TimePiece>> DateTimeFormat::TimePieces(const QString& format,
                                                                               const QLocale& locale)
{
    using Field = TimePiece::Field;
    struct Token {
        Field field = Field::None;
        QString text;   // the letters, or the literal text
        bool twelveHour = false;
    };
    std::vector<Token> tokens;
    bool showsAmPm = false;
    const auto literal = [&](const QString& text) {
        if (!tokens.empty() && tokens.back().field == Field::None)
            tokens.back().text += text;
        else
            tokens.push_back({Field::None, text});
    };
    for (qsizetype i = 0; i < format.size();) {
        const char16_t c = format.at(i).unicode();
        if (c == u'\'') {
            QString quoted;
            qsizetype end = i + 1;
            for (;; ++end) {
                if (end >= format.size())
                    return std::nullopt;
                if (format.at(end) == u'\'') {
                    if (end + 1 < format.size() && format.at(end + 1) == u'\'') {
                        quoted += u'\'';
                        ++end;
                        continue;
                    }
                    break;
                }
                quoted += format.at(end);
            }
            literal(end == i + 1 ? QStringLiteral("'") : quoted);
            i = end + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format.at(i + run) == c)
            ++run;
        switch (c) {
        case u'h':
        case u'H':
        case u'm':
        case u's':
            if (run > 2)
                return std::nullopt;
            tokens.push_back({c == u'm' ? Field::Minute : c == u's' ? Field::Second : Field::Hour,
                              format.mid(i, run), c == u'h'});
            i += run;
            continue;
        case u'A':
        case u'a': {
            if (run > 1)
                return std::nullopt;
            const bool withP = i + 1 < format.size() && (format.at(i + 1) == u'P' || format.at(i + 1) == u'p');
            if (withP && i + 2 < format.size() && (format.at(i + 2) == u'P' || format.at(i + 2) == u'p'))
                return std::nullopt;
            run = withP ? 2 : 1;
            tokens.push_back({Field::Hour, format.mid(i, run)});
            showsAmPm = true;
            i += run;
            continue;
        }
        default:
            if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))
                return std::nullopt;
            literal(format.mid(i, run));
            i += run;
            continue;
        }
    }

    std::vector<TimePiece> pieces;
    for (const Token& token : tokens) {
        TimePiece piece{token.field, {}};
        switch (token.field) {
        case Field::None:
            piece.texts.push_back(token.text);
            break;
        case Field::Hour:
            for (int hour = 0; hour < 24; ++hour) {
                // The 12-hour figure is the 24-hour figure of the hour it names.
                const int shown = token.twelveHour && showsAmPm ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
                piece.texts.push_back(locale.toString(QTime(shown, 0), token.text));
            }
            break;
        case Field::Minute:
            for (int minute = 0; minute < 60; ++minute)
                piece.texts.push_back(locale.toString(QTime(0, minute), token.text));
            break;
        case Field::Second:
            for (int second = 0; second < 60; ++second)
                piece.texts.push_back(locale.toString(QTime(0, 0, second), token.text));
            break;
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

DateTimeFormat::DateTimeFormat(QLocale locale)
    : m_locale(std::move(locale)), m_dateFormat(DateFormat(m_locale)), m_timeFormat(TimeFormat(m_locale))
{
    if (std::optional<std::vector<TimePiece>> pieces = TimePieces(m_timeFormat, m_locale))
        m_timePieces = std::move(*pieces);
}

const QString& DateTimeFormat::dateText(QDate date) const
{
    // Bounded, for a table whose terminals were registered on ever new days.
    constexpr std::size_t kMaxDates = 4096;
    const qint64 day = date.toJulianDay();
    if (const auto known = m_dateTexts.find(day); known != m_dateTexts.end())
        return known->second;
    if (m_dateTexts.size() >= kMaxDates)
        m_dateTexts.clear();
    return m_dateTexts.emplace(day, m_locale.toString(date, m_dateFormat)).first->second;
}

QString DateTimeFormat::text(const QDateTime& value) const
{
    if (!value.isValid())
        return QString();
    const QTime time = value.time();
    if (time == QTime(0, 0))
        return dateText(value.date());
    const QString& date = dateText(value.date());
    QString text;
    text.reserve(date.size() + 1 + 16);
    text += date;
    text += QLatin1Char(' ');
    if (m_timePieces.empty()) {
        text += m_locale.toString(time, m_timeFormat);
        return text;
    }
    for (const TimePiece& piece : m_timePieces) {
        switch (piece.field) {
        case TimePiece::Field::None: text += piece.texts[0]; break;
        case TimePiece::Field::Hour: text += piece.texts[static_cast<std::size_t>(time.hour())]; break;
        case TimePiece::Field::Minute: text += piece.texts[static_cast<std::size_t>(time.minute())]; break;
        case TimePiece::Field::Second: text += piece.texts[static_cast<std::size_t>(time.second())]; break;
        }
    }
    return text;
}

QString FieldText(const FieldValue& value, const QLocale& locale)
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
