#include "export/TerminalDocument.h"
#include "export/TextPadding.h"

#include "tests/export/QtPrinting.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TerminalTexts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <cerrno>
#include <cstring>
#include <vector>


using namespace korvane;
using korvane::test::DateTimeText;
using korvane::test::FieldText;
using korvane::test::MacAddrText;

namespace {

struct PadLeftCase {
    const char16_t* text;
    qint16 width;
    const char16_t* fill;
    const char16_t* expected;
};

class PadLeftTest : public ::testing::TestWithParam<PadLeftCase> {};

TEST_P(PadLeftTest, PadsTrimmedTextWithFirstFillCharacter)
{
    const PadLeftCase& c = GetParam();
    EXPECT_EQ(PadLeft(QString::fromUtf16(c.text), c.width, QString::fromUtf16(c.fill)), QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, PadLeftTest,
                         ::testing::Values(PadLeftCase{u"A", 2, u"", u"0A"},
                                           PadLeftCase{u" 7 ", 3, u"x", u"xx7"},
                                           PadLeftCase{u"ABC", 2, u"", u"ABC"},
                                           PadLeftCase{u"1", 4, u"xy", u"xxx1"},
                                           PadLeftCase{u"", 2, u"", u"00"},
                                           PadLeftCase{u"   ", 1, u"-", u"-"},
                                           PadLeftCase{u"\tA", 3, u"", u"0\tA"},   // only spaces are blanks
                                           PadLeftCase{u"AB", -5, u"", u"AB"},
                                           PadLeftCase{u"\U0001F600", 3, u"", u"0\U0001F600"}));  // two UTF-16 units

TEST(MacAddrTextTest, TwoUppercaseDigitsPerByte)
{
    EXPECT_EQ(MacAddrText(QByteArray::fromHex("000AFF")), QStringLiteral("000AFF"));
    EXPECT_EQ(MacAddrText(QByteArray::fromHex("0019a7c0ffee")), QStringLiteral("0019A7C0FFEE"));
    EXPECT_EQ(MacAddrText(QByteArray()), QString());
}

struct DateCase {
    const char* locale;
    QDateTime value;
    const char16_t* expected;
};

class DateTimeTextTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTimeTextTest, ShortDateFourDigitYearTimeWithSecondsNoZone)
{
    const DateCase& c = GetParam();
    EXPECT_EQ(DateTimeText(c.value, QLocale(QString::fromLatin1(c.locale))), QString::fromUtf16(c.expected));
}

const QDateTime kAfternoon(QDate(2021, 7, 3), QTime(14, 5, 9, 250), Qt::UTC);
const QDateTime kMidnight(QDate(2009, 12, 31), QTime(0, 0), Qt::UTC);
const QDateTime kMorning(QDate(1999, 1, 2), QTime(0, 0, 1), Qt::UTC);

INSTANTIATE_TEST_SUITE_P(Locales, DateTimeTextTest,
                         ::testing::Values(DateCase{"pt_PT", kAfternoon, u"03/07/2021 14:05:09"},
                                           DateCase{"pt_PT", kMidnight, u"31/12/2009"},
                                           DateCase{"pt_PT", kMorning, u"02/01/1999 00:00:01"},
                                           DateCase{"en_US", kAfternoon, u"7/3/2021 2:05:09 PM"},
                                           DateCase{"en_US", kMidnight, u"12/31/2009"},
                                           DateCase{"de_DE", kAfternoon, u"03.07.2021 14:05:09"},
                                           DateCase{"sv_SE", kAfternoon, u"2021-07-03 14:05:09"}));

TEST(DateTimeTextTest, InvalidDateGivesEmptyText)
{
    EXPECT_EQ(DateTimeText(QDateTime(), QLocale(QStringLiteral("pt_PT"))), QString());
    EXPECT_EQ(DateTimeFormat(QLocale(QStringLiteral("pt_PT"))).text(QDateTime()), QString());
}

// The document's dates come from DateTimeFormat, which puts the time together from pieces; it
// must give exactly what the locale gives, in every locale Qt knows and in this system's:
// 12- and 24-hour clocks, AM/PM texts, other digits, literal text in the formats.
TEST(DateTimeFormatTest, SameTextAsTheLocaleInEveryLocale)
{
    std::vector<QDateTime> values;
    for (int hour = 0; hour < 24; ++hour) {
        values.emplace_back(QDate(2021, 1 + hour % 12, 1 + hour), QTime(hour, (hour * 7) % 60, (hour * 13) % 60), Qt::UTC);
        values.emplace_back(QDate(2021, 12, 31), QTime(hour, 0), Qt::UTC);   // midnight: the date alone
    }
    for (const QTime time : {QTime(0, 0, 1), QTime(0, 59, 59), QTime(11, 59, 59), QTime(12, 0), QTime(12, 0, 1),
                             QTime(23, 59, 59, 997), QTime(13, 1, 2, 3)})
        values.emplace_back(QDate(1999, 1, 2), time, Qt::UTC);
    for (const QDate date : {QDate(1, 1, 1), QDate(1753, 1, 1), QDate(9999, 12, 31), QDate(2000, 2, 29)})
        values.emplace_back(date, QTime(9, 8, 7), Qt::UTC);

    QList<QLocale> locales = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    locales << QLocale::system() << QLocale::c();
    for (const QLocale& locale : locales) {
        const DateTimeFormat format(locale);
        for (const QDateTime& value : values) {
            // Twice: the second time the date's text is the one kept from the first.
            ASSERT_EQ(format.text(value), DateTimeText(value, locale)) << locale.name() << ' ' << value.toString(Qt::ISODateWithMs);
            ASSERT_EQ(format.text(value), DateTimeText(value, locale)) << locale.name();
        }
    }
}

// More days than the date texts kept, back and forth, so the kept ones are let go and made anew.
TEST(DateTimeFormatTest, ManyDaysStillGiveTheirOwnTexts)
{
    const QLocale locale(QStringLiteral("pt_PT"));
    const DateTimeFormat format(locale);
    const QDateTime first(QDate(2000, 1, 1), QTime(6, 30, 15), Qt::UTC);
    for (int pass = 0; pass < 2; ++pass) {
        for (int day = 0; day < 10'000; day += 1 + pass) {
            const QDateTime value = first.addDays(pass == 0 ? day : 10'000 - day);
            ASSERT_EQ(format.text(value), DateTimeText(value, locale)) << day;
        }
    }
}

TEST(FieldTextTest, EachTypeBecomesText)
{
    const QLocale pt(QStringLiteral("pt_PT"));
    EXPECT_EQ(FieldText(FieldValue{}, pt), QString());
    EXPECT_EQ(FieldText(FieldValue{qint64{-42}}, pt), QStringLiteral("-42"));
    EXPECT_EQ(FieldText(FieldValue{qint64{1234567}}, pt), QStringLiteral("1234567"));   // no group separators
    EXPECT_EQ(FieldText(FieldValue{QStringLiteral("  Porta 1 ")}, pt), QStringLiteral("  Porta 1 "));
    EXPECT_EQ(FieldText(FieldValue{kMidnight}, pt), QStringLiteral("31/12/2009"));
    EXPECT_EQ(FieldText(FieldValue{QByteArray::fromHex("000AFF")}, pt), QStringLiteral("000AFF"));
}

// Reads a terminal document back: the text of every field element, terminal by terminal.
std::vector<std::vector<QString>> ReadBack(const QByteArray& xml, QString* error = nullptr)
{
    std::vector<std::vector<QString>> terminals;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            if (reader.name() == u"Nac")
                terminals.emplace_back();
            else if (reader.name() != u"Vorantis")
                terminals.back().push_back(reader.readElementText());
        }
    }
    if (error)
        *error = reader.hasError() ? reader.errorString() : QString();
    return terminals;
}

TerminalRecord Record(FieldValue id, FieldValue name, FieldValue description, FieldValue date, FieldValue mac)
{
    return {std::move(id), std::move(name), std::move(description), std::move(date), std::move(mac)};
}

// The writer gives every kind of value the text the plain functions above give it, the MAC
// text and the date included, whichever field holds it.
TEST(TerminalDocumentTest, EachTypeWrittenAsItsFieldText)
{
    const QLocale pt(QStringLiteral("pt_PT"));
    const std::vector<FieldValue> values{FieldValue{},
                                         FieldValue{qint64{-42}},
                                         FieldValue{qint64{1234567}},
                                         FieldValue{QStringLiteral("  Porta 1 ")},
                                         FieldValue{kMidnight},
                                         FieldValue{kAfternoon},
                                         FieldValue{QByteArray::fromHex("000AFF")},
                                         FieldValue{QByteArray::fromHex("0019a7c0ffee")},
                                         FieldValue{QByteArray()}};
    TerminalDocument document(pt);
    for (const FieldValue& value : values)
        document.appendTerminal(Record(value, value, value, value, value));
    const std::vector<std::vector<QString>> terminals = ReadBack(document.toXml());
    ASSERT_EQ(terminals.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(terminals[i], std::vector<QString>(5, FieldText(values[i], pt))) << i;
}

TEST(TerminalDocumentTest, EmptyDocumentIsTheRootAlone)
{
    EXPECT_EQ(TerminalDocument().toXml(), QByteArray("<Vorantis/>"));
}

TEST(TerminalDocumentTest, ElementsInOrderWithoutDeclarationOrWhitespace)
{
    TerminalDocument document(QLocale(QStringLiteral("pt_PT")));
    document.appendTerminal(Record(qint64{1}, QStringLiteral("Entrada"), QStringLiteral("Porta principal"),
                                   kAfternoon, QByteArray::fromHex("000AFF")));
    document.appendTerminal(Record(qint64{2}, QStringLiteral("Cais"), FieldValue{}, kMidnight, FieldValue{}));
    EXPECT_EQ(document.terminalCount(), 2u);
    EXPECT_EQ(document.toXml(),
              QByteArray("<Vorantis>"
                         "<Nac><NodeID>1</NodeID><NodeName>Entrada</NodeName><Description>Porta principal</Description>"
                         "<RegDate>03/07/2021 14:05:09</RegDate><MacAddr>000AFF</MacAddr></Nac>"
                         "<Nac><NodeID>2</NodeID><NodeName>Cais</NodeName><Description/>"
                         "<RegDate>31/12/2009</RegDate><MacAddr/></Nac>"
                         "</Vorantis>"));
}

TEST(TerminalDocumentTest, TextMacAddrIsWrittenAsItStands)
{
    TerminalDocument document;
    document.appendTerminal(Record(qint64{1}, FieldValue{}, FieldValue{}, FieldValue{},
                                   QStringLiteral("00:0a:ff")));
    EXPECT_EQ(ReadBack(document.toXml()).at(0).at(4), QStringLiteral("00:0a:ff"));
}

TEST(TerminalDocumentTest, TextIsEscapedAndWrittenInUtf8)
{
    TerminalDocument document;
    document.appendTerminal(Record(qint64{1}, QStringLiteral("A & B <C> \"D\" 'E' ]]>"), QStringLiteral("Garagem ção €"),
                                   FieldValue{}, FieldValue{}));
    const QByteArray xml = document.toXml();
    EXPECT_TRUE(xml.contains("A &amp; B &lt;C&gt;"));
    EXPECT_TRUE(xml.contains("Garagem \xC3\xA7\xC3\xA3o \xE2\x82\xAC"));
    const auto back = ReadBack(xml);
    EXPECT_EQ(back.at(0).at(1), QStringLiteral("A & B <C> \"D\" 'E' ]]>"));
    EXPECT_EQ(back.at(0).at(2), QStringLiteral("Garagem ção €"));
}

struct CharactersCase {
    QString written;
    QString readBack;
};

class XmlCharactersTest : public ::testing::TestWithParam<CharactersCase> {};

// Whatever a value holds, the file stays well-formed and reads back as written, apart from the
// characters XML 1.0 has none for, which come back as U+FFFD.
TEST_P(XmlCharactersTest, DocumentStaysWellFormed)
{
    TerminalDocument document;
    document.appendTerminal(Record(qint64{1}, GetParam().written, QStringLiteral("after"), FieldValue{}, FieldValue{}));
    QString error;
    const auto back = ReadBack(document.toXml(), &error);
    ASSERT_EQ(error, QString()) << document.toXml().toStdString();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].at(1), GetParam().readBack);
    EXPECT_EQ(back[0].at(2), QStringLiteral("after"));
}

const QChar kFFFD(QChar::ReplacementCharacter);

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlCharactersTest,
    ::testing::Values(CharactersCase{QStringLiteral("a\u0001b"), QStringLiteral("a") + kFFFD + QStringLiteral("b")},
                      CharactersCase{QString(QChar(0)) + QStringLiteral("x"), kFFFD + QStringLiteral("x")},
                      CharactersCase{QStringLiteral("line1\r\nline2\rline3\n"), QStringLiteral("line1\r\nline2\rline3\n")},
                      CharactersCase{QStringLiteral("\r"), QStringLiteral("\r")},
                      CharactersCase{QStringLiteral("\ttab"), QStringLiteral("\ttab")},
                      CharactersCase{QString(QChar(0xD800)) + QStringLiteral("z"), kFFFD + QStringLiteral("z")},
                      CharactersCase{QStringLiteral("z") + QChar(0xDC00), QStringLiteral("z") + kFFFD},
                      CharactersCase{QString(QChar(0xFFFE)) + QChar(0xFFFF), QString(kFFFD) + kFFFD},
                      CharactersCase{QStringLiteral("\U0001F600 ok"), QStringLiteral("\U0001F600 ok")},
                      CharactersCase{QStringLiteral("\u007F\u0085"), QStringLiteral("\u007F\u0085")}));

TEST(TerminalDocumentTest, SaveWritesTheDocumentAndReplacesAnOldFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("terminais.xml"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'o'));
    }
    TerminalDocument document;
    document.appendTerminal(Record(qint64{5}, QStringLiteral("N"), QStringLiteral("D"), FieldValue{}, FieldValue{}));
    SaveError error;
    ASSERT_TRUE(document.save(path, error)) << error.description.toStdString();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), document.toXml());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("terminais.xml")});
}

TEST(TerminalDocumentTest, SaveIntoMissingFolderOrOntoFolderFailsWithReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("nao-existe/terminais.xml"));
    SaveError error;
    EXPECT_FALSE(TerminalDocument().save(missing, error));
    EXPECT_EQ(error, (SaveError{ENOENT, QStringLiteral("A pasta não existe")}));
    EXPECT_FALSE(QFile::exists(missing));

    const QString folder = dir.filePath(QStringLiteral("pasta"));
    ASSERT_TRUE(QDir().mkdir(folder));
    error = {};
    EXPECT_FALSE(TerminalDocument().save(folder, error));
    EXPECT_EQ(error, (SaveError{EISDIR, QStringLiteral("O caminho é uma pasta")}));
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

// The operator reads why a save failed in European Portuguese, with the system's number; a
// cause outside the usual keeps the system's own text.
TEST(TerminalDocumentTest, SaveErrorsReadInPortugueseWithTheirNumber)
{
    const std::vector<std::pair<int, QString>> cases = {
        {EACCES, QStringLiteral("Permissão negada")},
        {EPERM, QStringLiteral("Operação não permitida")},
        {EROFS, QStringLiteral("Sistema de ficheiros só de leitura")},
        {ENOSPC, QStringLiteral("Não há espaço livre no disco")},
        {EFBIG, QStringLiteral("Ficheiro demasiado grande")},
        {ENOENT, QStringLiteral("A pasta não existe")},
        {ENOTDIR, QStringLiteral("Uma parte do caminho não é uma pasta")},
        {EISDIR, QStringLiteral("O caminho é uma pasta")},
        {ENAMETOOLONG, QStringLiteral("Nome de ficheiro demasiado longo")},
#ifdef EDQUOT
        {EDQUOT, QStringLiteral("Quota de disco excedida")},
#endif
        {EIO, QString::fromLocal8Bit(std::strerror(EIO))},
        {EMLINK, QString::fromLocal8Bit(std::strerror(EMLINK))},
    };
    for (const auto& [number, description] : cases) {
        EXPECT_EQ(SaveErrorOf(number), (SaveError{number, description})) << number;
        EXPECT_FALSE(description.isEmpty()) << number;
    }
}

// A document larger than the pieces it is built in, with one value larger than a piece on its
// own: every value reads back whole and in its place, and the save writes the same bytes.
TEST(TerminalDocumentTest, LargeDocumentComesOutWhole)
{
    TerminalDocument document(QLocale(QStringLiteral("pt_PT")));
    std::vector<std::vector<QString>> expected;
    QString huge;
    while (huge.size() < 700'000)
        huge += QStringLiteral("ção € \U0001F600 <&> \"\r\n");
    for (qint64 id = 1; id <= 30'000; ++id) {
        const QString name = QStringLiteral("Terminal %1 & <%2>").arg(id).arg(QString(id % 40, u'n'));
        const QString description = id == 12'345 ? huge : QStringLiteral("Porta %1 — piso %2").arg(id % 97).arg(id % 7);
        const QByteArray mac = QByteArray::fromHex(QByteArray::number(0xA0B0C0D0E0LL + id, 16));
        document.appendTerminal(Record(id, name, description, kAfternoon, mac));
        expected.push_back({QString::number(id), name, description, QStringLiteral("03/07/2021 14:05:09"),
                            QString::fromLatin1(mac.toHex().toUpper())});
    }
    const QByteArray xml = document.toXml();
    ASSERT_GT(xml.size(), 4 << 20);
    QString error;
    const auto back = ReadBack(xml, &error);
    ASSERT_EQ(error, QString());
    ASSERT_EQ(back.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(back[i], expected[i]) << i;

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("terminais.xml"));
    SaveError saveError;
    ASSERT_TRUE(document.save(path, saveError)) << saveError.description.toStdString();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll() == xml);
}

#ifdef Q_OS_UNIX
struct FailedWriteCase {
    const char* name;
    int terminals;
    int descriptionUnits;
    rlim_t limit;   // bytes the file may reach
};

void PrintTo(const FailedWriteCase& c, std::ostream* out)
{
    *out << c.name;
}

class FailedWriteTest : public ::testing::TestWithParam<FailedWriteCase> {};

// A write that fails half-way (here a file-size limit, which even root cannot pass) leaves the
// old file exactly as it was and no temporary file behind: in the first of the document's
// pieces, or in a later one after others went out whole.
TEST_P(FailedWriteTest, FailedWriteLeavesOldFileUntouched)
{
    const FailedWriteCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("terminais.xml"));
    const QByteArray oldBytes("<Vorantis><Nac>antigo</Nac></Vorantis>");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(oldBytes);
    }
    TerminalDocument document;
    for (qint64 i = 0; i < c.terminals; ++i)
        document.appendTerminal(Record(i, QStringLiteral("Terminal"), QString(c.descriptionUnits, u'd'), FieldValue{}, FieldValue{}));
    ASSERT_GT(static_cast<rlim_t>(document.toXml().size()), c.limit);

    SaveError error;
    bool saved_ok = false;
    {
        const test::FileSizeLimit limit(c.limit);
        ASSERT_TRUE(limit.applied());
        saved_ok = document.save(path, error);
    }

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(error, (SaveError{EFBIG, QStringLiteral("Ficheiro demasiado grande")}));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), oldBytes);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("terminais.xml")});
}

INSTANTIATE_TEST_SUITE_P(Cases, FailedWriteTest,
                         ::testing::Values(FailedWriteCase{"InTheFirstPiece", 200, 100, 1024},
                                           FailedWriteCase{"InALaterPiece", 3000, 1000, 2 << 20}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

} // namespace
