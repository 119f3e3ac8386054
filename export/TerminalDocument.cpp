#include "TerminalDocument.h"

#include <QBuffer>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <cerrno>

namespace korvane {

namespace {

const std::array<QString, 5> kFieldElements = {
    QStringLiteral("NodeID"), QStringLiteral("NodeName"), QStringLiteral("Description"),
    QStringLiteral("RegDate"), QStringLiteral("MacAddr"),
};

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

// Replaces what XML 1.0 has no character for (C0 controls but tab, line feed and carriage
// return; U+FFFE, U+FFFF; surrogates without their other half) with U+FFFD.
QString XmlCharacters(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += text.at(i);
            out += text.at(++i);
        } else if (QChar::isSurrogate(c) || (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
                   || c == 0xFFFE || c == 0xFFFF) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += QChar(c);
        }
    }
    return out;
}

// A literal carriage return would come back as a line feed (XML normalises line ends), so it
// goes out as a character reference, which QXmlStreamWriter's own escaping does not do.
void WriteText(QXmlStreamWriter& xml, const QString& text)
{
    const QString safe = XmlCharacters(text);
    qsizetype start = 0;
    for (;;) {
        const qsizetype cr = safe.indexOf(u'\r', start);
        const qsizetype end = cr < 0 ? safe.size() : cr;
        if (end > start)
            xml.writeCharacters(safe.mid(start, end - start));
        if (cr < 0)
            break;
        xml.writeEntityReference(QStringLiteral("#13"));
        start = cr + 1;
    }
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
    QString text;
    text.reserve(bytes.size() * 2);
    for (const char byte : bytes)
        text += PadLeft(QString::number(static_cast<unsigned char>(byte), 16).toUpper(), 2, QString());
    return text;
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
    : m_locale(std::move(locale))
{
}

void TerminalDocument::appendTerminal(const TerminalRecord& record)
{
    m_terminals.push_back({FieldText(record.nodeId, m_locale), FieldText(record.nodeName, m_locale),
                           FieldText(record.description, m_locale), FieldText(record.regDate, m_locale),
                           FieldText(record.macAddr, m_locale)});
}

QByteArray TerminalDocument::toXml() const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return QByteArray();
    QXmlStreamWriter xml(&buffer);
    xml.setAutoFormatting(false);
    xml.writeStartElement(QStringLiteral("Vorantis"));
    for (const std::array<QString, 5>& terminal : m_terminals) {
        xml.writeStartElement(QStringLiteral("Nac"));
        for (std::size_t i = 0; i < terminal.size(); ++i) {
            xml.writeStartElement(kFieldElements[i]);
            WriteText(xml, terminal[i]);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    buffer.close();
    if (xml.hasError())
        return QByteArray();
    return bytes;
}

bool TerminalDocument::save(const QString& path, QString& reason) const
{
    const QByteArray bytes = toXml();
    if (bytes.isEmpty()) {
        reason = QStringLiteral("O documento XML não pôde ser gerado.");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
        return false;
    }
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        // A short write (a full disk, a file-size limit) leaves QSaveFile without an error of
        // its own, so the operator would read "Unknown error": take the system's reason.
        const int systemError = errno;
        reason = file.error() == QFileDevice::NoError && systemError != 0 ? qt_error_string(systemError)
                                                                          : file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace korvane
