#include "export/TerminalDocument.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TdsTestServer.h"
#include "tests/support/TerminalTexts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace korvane::test {
namespace {

// The whole road from the window: fields typed, path chosen, "&Exportar", the boxes answered by
// script, against the TDS test server; the file written is checked byte for byte.
class ExportFromWindow : public WindowFixture {
protected:
    ExportFromWindow()
        : WindowFixture(Run::Real)
    {
    }

    static ServerConfig config()
    {
        ServerConfig c;
        TerminalRow entrada;
        entrada.nodeId = 1;
        entrada.nodeName = QStringLiteral("Entrada Principal");
        entrada.description = QStringLiteral("Portão & <norte>");
        entrada.macAddr = QByteArray::fromHex("000AFF102030");
        entrada.status = 0;
        TerminalRow armazem;
        armazem.nodeId = 2;
        armazem.nodeName = QStringLiteral("Armazém");
        armazem.description = QStringLiteral("fora de serviço");
        armazem.macAddr = QByteArray::fromHex("AABBCCDDEEFF");
        armazem.status = 255;
        TerminalRow refeitorio;
        refeitorio.nodeId = 3;
        refeitorio.nodeName = QStringLiteral("Refeitório");
        refeitorio.regDate = QDateTime(QDate(2024, 3, 5), QTime(0, 0));
        refeitorio.macAddr = QByteArray::fromHex("0102030405A6");
        refeitorio.status = 1;
        c.rows = {entrada, armazem, refeitorio};
        return c;
    }

    void typeCredentials(const QString& server, const QString& login, const QString& password)
    {
        QTest::keyClicks(&field("txtServer"), server);
        QTest::keyClicks(&field("txtLogin"), login);
        QTest::keyClicks(&field("txtPassword"), password);
    }

    static QString readFile(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("<no file>");
        QString text = QString::fromUtf8(file.readAll());
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        while (text.endsWith(u'\n') || text.endsWith(u'\r'))
            text.chop(1);
        return text;
    }

    // The document as elements and text only, so that <a/> and <a></a>, or &gt; and >, compare equal.
    static QString canonical(const QString& xml)
    {
        QXmlStreamReader reader(xml);
        QString out;
        while (!reader.atEnd()) {
            switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                out += u'<' + reader.name().toString() + u'>';
                break;
            case QXmlStreamReader::EndElement:
                out += QStringLiteral("</") + reader.name().toString() + u'>';
                break;
            case QXmlStreamReader::Characters:
                out += reader.text().toString().toHtmlEscaped();
                break;
            default:
                break;
            }
        }
        if (reader.hasError())
            return QStringLiteral("<not well-formed: ") + reader.errorString() + u'>';
        return out;
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir folder;
};

TEST_F(ExportFromWindow, ReplacesTheFileAfterOkAndSaysTerminado)
{
    TdsTestServer server(config());
    const QString path = folder.filePath("terminais.xml");
    writeFile(path, "old");

    typeCredentials(server.serverText(), "operador", "segredo");
    choosePath(path);
    boxes.answers = {Answer::Ok};
    clickExportarAndWait();

    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_TRUE(boxes.calls[0].question);
    EXPECT_EQ(boxes.calls[0].text, "Pretende Continuar?");
    EXPECT_EQ(boxes.calls[0].title, "O Ficheiro Será Sobreposto:");
    EXPECT_FALSE(boxes.calls[1].question);
    EXPECT_EQ(boxes.calls[1].text, "Terminado!");
    EXPECT_EQ(boxes.calls[1].title, "Korvane");
    EXPECT_EQ(boxes.calls[1].icon, MessageIcon::Information);
    for (const ScriptedBoxes::Call& call : boxes.calls)
        EXPECT_FALSE(call.overrideCursorUp) << call.text.toStdString();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].userName, "operador");
    EXPECT_EQ(server.logins()[0].password, "segredo");
    EXPECT_EQ(server.logins()[0].database, "nitgenacdbsql00");

    // The run writes dates in the system's locale, with the year always in four digits (the
    // writer's own formats are tested with the document); a midnight gives the date alone.
    const QString midnight = test::DateTimeText(QDateTime(QDate(2024, 3, 5), QTime(0, 0)), QLocale::system());
    EXPECT_TRUE(midnight.contains(QStringLiteral("2024"))) << midnight.toStdString();
    const QString written = readFile(path);
    EXPECT_TRUE(written.startsWith("<Vorantis>")) << "no declaration, no leading blanks";
    EXPECT_EQ(canonical(written),
              "<Vorantis>"
              "<Nac><NodeID>1</NodeID><NodeName>Entrada Principal</NodeName>"
              "<Description>Portão &amp; &lt;norte&gt;</Description><RegDate></RegDate>"
              "<MacAddr>000AFF102030</MacAddr></Nac>"
              "<Nac><NodeID>3</NodeID><NodeName>Refeitório</NodeName><Description></Description>"
              "<RegDate>" + midnight.toHtmlEscaped() + "</RegDate><MacAddr>0102030405A6</MacAddr></Nac>"
              "</Vorantis>");

    // The window is as the operator left it, ready for another run.
    EXPECT_EQ(field("txtServer").text(), server.serverText());
    EXPECT_EQ(field("txtPassword").text(), "segredo");
    EXPECT_EQ(field("txtFilePath").text(), path);
}

TEST_F(ExportFromWindow, CancelKeepsTheFileAndConnectsToNothing)
{
    TdsTestServer server(config());
    const QString path = folder.filePath("terminais.xml");
    writeFile(path, "old");
    typeCredentials(server.serverText(), "operador", "segredo");
    choosePath(path);
    boxes.answers = {Answer::Cancel};
    clickExportarAndWait();

    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_TRUE(boxes.calls[0].question);
    EXPECT_EQ(server.connectionsAccepted(), 0);
    EXPECT_EQ(readFile(path), "old");
}

TEST_F(ExportFromWindow, RefusedLoginShowsNumberAndDescription)
{
    TdsTestServer server(config());
    const QString path = folder.filePath("novo.xml");
    typeCredentials(server.serverText(), "operador", "errada");
    choosePath(path);
    clickExportarAndWait();

    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].title, "Korvane");
    EXPECT_EQ(boxes.calls[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(boxes.calls[0].text.contains(QRegularExpression("^-?\\d+ - .+")))
        << boxes.calls[0].text.toStdString();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// A server that takes the connection and never answers: the window goes on with its events for
// the whole wait, a second "&Exportar" starts nothing, and a close request ends the event loop
// at once; the run itself ends at its time-out with the failure box.
TEST_F(ExportFromWindow, SilentServerLeavesTheWindowResponsiveAndClosable)
{
    ServerConfig silent;
    silent.fault = ServerFault::SilentAfterAccept;
    TdsTestServer server(silent);
    const QString path = folder.filePath("terminais.xml");
    writeFile(path, "old");
    typeCredentials(server.serverText(), "operador", "segredo");
    choosePath(path);
    boxes.answers = {Answer::Ok};
    QTest::mouseClick(&button("cmdExportar"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.connectionsAccepted() == 1; }, 5000));

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] { ++ticks; });
    ticker.start(20);
    QTest::qWait(300);
    EXPECT_GE(ticks, 5) << "the event loop stood still while the run waited";
    QTest::mouseClick(&button("cmdExportar"), Qt::LeftButton);
    EXPECT_TRUE(window.exportInProgress());

    QElapsedTimer clock;
    clock.start();
    const int code = runEventLoopWith([this] { window.close(); });
    EXPECT_EQ(code, 0);
    EXPECT_LT(clock.elapsed(), 1000);

    ASSERT_TRUE(runEnded());
    EXPECT_EQ(server.connectionsAccepted(), 1) << "the second click started nothing";
    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_TRUE(boxes.calls[1].text.startsWith("0 - ")) << boxes.calls[1].text.toStdString();
    EXPECT_EQ(readFile(path), "old");
}

} // namespace
} // namespace korvane::test
