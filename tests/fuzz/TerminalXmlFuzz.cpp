// The terminal XML document on arbitrary column values: it is always well-formed, has exactly
// the structure Vorantis / Nac / five field elements and nothing else, and every value reads
// back as written, less the characters XML 1.0 has no place for, which come back as U+FFFD.
//
// Input: rows of five fields until the bytes run out. Each field starts with a tag byte whose
// value modulo 5 chooses NULL, an integer (8 bytes), a text (a length byte, then that many
// UTF-16 units, two bytes each, least significant first: lone surrogates and controls welcome),
// a date-time (8 bytes of milliseconds) or raw bytes (a length byte, then the bytes).

#include "tests/fuzz/FuzzCheck.h"

#include "export/TerminalDocument.h"
#include "tests/support/TerminalTexts.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace korvane::fuzz {
namespace {

class Reader {
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    bool atEnd() const noexcept { return m_bytes.empty(); }

    std::uint8_t byte()
    {
        if (m_bytes.empty())
            return 0;
        const auto b = static_cast<std::uint8_t>(m_bytes.front());
        m_bytes.remove_prefix(1);
        return b;
    }

    std::uint64_t word64()
    {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value |= std::uint64_t{byte()} << (8 * i);
        return value;
    }

    std::string_view take(std::size_t count)
    {
        const std::string_view piece = m_bytes.substr(0, count);
        m_bytes.remove_prefix(piece.size());
        return piece;
    }

private:
    std::string_view m_bytes;
};

FieldValue ReadField(Reader& in)
{
    switch (in.byte() % 5) {
    case 0:
        return std::monostate{};
    case 1:
        return static_cast<qint64>(in.word64());
    case 2: {
        const std::string_view units = in.take(2 * std::size_t{in.byte()});
        QString text;
        for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
            text += QChar(static_cast<char16_t>(static_cast<std::uint8_t>(units[i])
                                                | (static_cast<std::uint8_t>(units[i + 1]) << 8)));
        }
        return text;
    }
    case 3: {
        // Years 1 to 9999, as far as a database date-time reaches.
        constexpr qint64 kFirst = -62135596800000;
        constexpr qint64 kSpan = 315537897600000;
        const auto offset = static_cast<qint64>(in.word64() % static_cast<std::uint64_t>(kSpan));
        return QDateTime::fromMSecsSinceEpoch(kFirst + offset, Qt::UTC);
    }
    default: {
        const std::string_view bytes = in.take(in.byte());
        return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    }
}

bool IsXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// The text as it must read back: every code point XML 1.0 cannot carry (and every UTF-16 unit
// that is half of no pair) as U+FFFD, everything else, carriage returns included, unchanged.
QString Carried(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate() || !IsXmlChar(c.unicode())) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += c;
        }
    }
    return out;
}

QString ExpectedText(const FieldValue& value, const QLocale& locale)
{
    if (const auto* text = std::get_if<QString>(&value))
        return Carried(*text);
    if (const auto* number = std::get_if<qint64>(&value))
        return QString::number(*number);
    if (const auto* bytes = std::get_if<QByteArray>(&value))
        return QString::fromLatin1(bytes->toHex().toUpper());
    // NULL is empty; a date's wording is the locale's, and only its passage through XML is
    // judged here.
    return Carried(test::FieldText(value, locale));
}

const std::array<QString, 5> kFields = {
    QStringLiteral("NodeID"), QStringLiteral("NodeName"), QStringLiteral("Description"),
    QStringLiteral("RegDate"), QStringLiteral("MacAddr"),
};

// Reads the next token, which must be the start of `name`, bare: no attributes, no namespace.
void ExpectStart(QXmlStreamReader& xml, const QString& name)
{
    FUZZ_CHECK(xml.readNext() == QXmlStreamReader::StartElement);
    FUZZ_CHECK(xml.name() == name);
    FUZZ_CHECK(xml.namespaceUri().isEmpty() && xml.prefix().isEmpty());
    FUZZ_CHECK(xml.attributes().isEmpty() && xml.namespaceDeclarations().isEmpty());
}

void ExpectEnd(QXmlStreamReader& xml, const QString& name)
{
    FUZZ_CHECK(xml.readNext() == QXmlStreamReader::EndElement);
    FUZZ_CHECK(xml.name() == name);
}

// The text of a field element up to its end tag; nothing but text may stand inside.
QString ReadFieldText(QXmlStreamReader& xml)
{
    QString text;
    for (;;) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement)
            return text;
        FUZZ_CHECK(token == QXmlStreamReader::Characters);
        FUZZ_CHECK(!xml.isCDATA());
        text += xml.text();
    }
}

void CheckDocument(const QByteArray& bytes, const std::vector<std::array<QString, 5>>& expected)
{
    FUZZ_CHECK(!bytes.isEmpty());
    FUZZ_CHECK(!bytes.startsWith("<?"));

    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(bytes);
    FUZZ_CHECK(!utf8.hasError() && !decoded.isEmpty());

    QXmlStreamReader xml(bytes);
    FUZZ_CHECK(xml.readNext() == QXmlStreamReader::StartDocument);
    FUZZ_CHECK(xml.documentVersion().isEmpty());
    ExpectStart(xml, QStringLiteral("Vorantis"));
    for (const std::array<QString, 5>& row : expected) {
        ExpectStart(xml, QStringLiteral("Nac"));
        for (std::size_t i = 0; i < kFields.size(); ++i) {
            ExpectStart(xml, kFields[i]);
            const QString text = ReadFieldText(xml);
            FUZZ_CHECK(xml.name() == kFields[i]);
            FUZZ_CHECK(text == row[i]);
        }
        ExpectEnd(xml, QStringLiteral("Nac"));
    }
    ExpectEnd(xml, QStringLiteral("Vorantis"));
    FUZZ_CHECK(xml.readNext() == QXmlStreamReader::EndDocument);
    FUZZ_CHECK(!xml.hasError());
}

} // namespace
} // namespace korvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korvane;
    using namespace korvane::fuzz;
    const QLocale locale(QLocale::Portuguese, QLocale::Portugal);
    TerminalDocument document(locale);
    std::vector<std::array<QString, 5>> expected;

    Reader in({reinterpret_cast<const char*>(data), size});
    while (!in.atEnd()) {
        TerminalRecord record;
        FieldValue* const fields[] = {&record.nodeId, &record.nodeName, &record.description, &record.regDate,
                                      &record.macAddr};
        std::array<QString, 5> texts;
        for (std::size_t i = 0; i < 5; ++i) {
            *fields[i] = ReadField(in);
            texts[i] = ExpectedText(*fields[i], locale);
        }
        document.appendTerminal(record);
        expected.push_back(texts);
    }
    FUZZ_CHECK(document.terminalCount() == expected.size());
    CheckDocument(document.toXml(), expected);
    return 0;
}
