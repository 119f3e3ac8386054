// korvane-export as a separate process: against the korvane-tds-server executable, against the
// in-process test server, and under a pseudo-terminal for its questions.

#include "export/ExportTerminals.h"

#include "tests/export/ExportTestSupport.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/ServerProcess.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

using namespace korvane;
using namespace korvane::test;
using namespace std::chrono_literals;

namespace {

const QString kExport = QStringLiteral(KORVANE_EXPORT_EXE);
const QString kServer = QStringLiteral(KORVANE_TDS_SERVER_EXE);

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
    qint64 milliseconds = 0;
};

QProcessEnvironment Environment(const std::optional<QString>& password)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("KORVANE_PASSWORD"));
    env.remove(QStringLiteral("KORVANE_ENCRYPT"));
    env.remove(QStringLiteral("KORVANE_CA_FILE"));
    if (password)
        env.insert(QStringLiteral("KORVANE_PASSWORD"), *password);
    // The C locale is always there; its short date is "d MMM yyyy".
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("LANG"));
    env.remove(QStringLiteral("LANGUAGE"));
    return env;
}

Outcome RunExport(const QStringList& arguments, const std::optional<QString>& password,
                  std::chrono::milliseconds limit = 20s, const QStringList& variables = {})
{
    QProcess process;
    QProcessEnvironment environment = Environment(password);
    for (const QString& variable : variables)
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(kExport, arguments);
    process.closeWriteChannel();   // standard input is no terminal, and empty
    Outcome outcome;
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        process.kill();
        process.waitForFinished();
        outcome.err = QStringLiteral("<did not finish>");
        return outcome;
    }
    outcome.milliseconds = clock.elapsed();
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

// korvane-tds-server in its own process, stopped (this one process, by its handle) when the
// object ends.
// The test server as a process of its own, with the login the tests use.
class OperatorServer : public ServerProcess {
public:
    explicit OperatorServer(const QStringList& arguments)
        : ServerProcess(kServer, QStringList{QStringLiteral("--login"), QStringLiteral("operador"),
                                             QStringLiteral("--password"), QStringLiteral("segredo")}
                                     + arguments)
    {
    }
};

class KorvaneExportTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    QString path(const QString& name = QStringLiteral("terminais.xml")) const { return folder.filePath(name); }
    QStringList arguments(const QString& server, const QString& out) const
    {
        return {QStringLiteral("--server"), server, QStringLiteral("--login"), QStringLiteral("operador"),
                QStringLiteral("--out"), out};
    }

    QTemporaryDir folder;
};

// The exported terminals of demoTerminalRows(), worked out here from the rows themselves.
std::vector<std::vector<QString>> ExpectedDemoTerminals()
{
    std::vector<std::vector<QString>> terminals;
    for (const TerminalRow& row : demoTerminalRows()) {
        if (!row.status || *row.status == 255)
            continue;
        QString date;
        if (row.regDate) {
            date = row.regDate->date().toString(QStringLiteral("d MMM yyyy"));
            if (row.regDate->time() != QTime(0, 0))
                date += QStringLiteral(" ") + row.regDate->time().toString(QStringLiteral("HH:mm:ss"));
        }
        terminals.push_back({row.nodeId ? QString::number(*row.nodeId) : QString(), row.nodeName.value_or(QString()),
                             row.description.value_or(QString()), date,
                             row.macAddr ? QString::fromLatin1(row.macAddr->toHex().toUpper()) : QString()});
    }
    return terminals;
}

std::vector<std::vector<QString>> ReadTerminals(const QByteArray& xml)
{
    std::vector<std::vector<QString>> terminals;
    QXmlStreamReader reader(xml);
    while (reader.readNextStartElement() || (!reader.atEnd() && !reader.hasError())) {
        if (!reader.isStartElement())
            continue;
        if (reader.name() == u"Nac")
            terminals.emplace_back();
        else if (reader.name() != u"Vorantis")
            terminals.back().push_back(reader.readElementText());
    }
    return terminals;
}

TEST_F(KorvaneExportTest, IndependentServerGivesTheExpectedFile)
{
    const OperatorServer server({QStringLiteral("--rows"), QStringLiteral("demo")});
    ASSERT_FALSE(server.serverText().isEmpty()) << server.error();
    const Outcome outcome = RunExport(arguments(server.serverText(), path()), QStringLiteral("segredo"));
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, QStringLiteral("Terminado!\n"));
    EXPECT_EQ(outcome.err, QString());

    const QByteArray xml = ReadFile(path());
    EXPECT_TRUE(xml.startsWith("<Vorantis><Nac><NodeID>")) << xml;
    EXPECT_EQ(ReadTerminals(xml), ExpectedDemoTerminals());

    // The same rows through the library give the same bytes.
    ServerConfig config;
    config.rows = demoTerminalRows();
    TdsTestServer inProcess(config);
    ScriptedOperator op;
    op.server = inProcess.serverText();
    op.login = QStringLiteral("operador");
    op.password = QStringLiteral("segredo");
    op.filePath = path(QStringLiteral("biblioteca.xml"));
    ExportOptions options;
    options.locale = QLocale::c();
    ExportTerminals(op, options);
    EXPECT_EQ(ReadFile(op.filePath), xml);
}

// --encrypt and --ca-file, and the same from the environment, against korvane-tds-server with and
// without TLS.
TEST_F(KorvaneExportTest, EncryptionFromOptionsAndEnvironment)
{
    const QString caFile = path(QStringLiteral("ca.pem"));
    const OperatorServer tls({QStringLiteral("--encrypt"), QStringLiteral("offered"), QStringLiteral("--ca-out"), caFile});
    const OperatorServer plain({});
    ASSERT_FALSE(tls.serverText().isEmpty()) << tls.error();
    ASSERT_FALSE(plain.serverText().isEmpty()) << plain.error();
    const QString tlsServer = QStringLiteral("tcp:localhost,") + tls.serverText().section(u',', 1);
    const QByteArray oldFile("o ficheiro anterior\n");
    const auto yes = [](QStringList list) { return list << QStringLiteral("--yes"); };

    struct Case {
        const char* what;
        QStringList arguments;
        QStringList variables;
        bool exported;
    };
    const Case cases[] = {
        {"--ca-file", yes(arguments(tlsServer, path()) << QStringLiteral("--ca-file") << caFile), {}, true},
        {"KORVANE_CA_FILE", yes(arguments(tlsServer, path())), {QStringLiteral("KORVANE_CA_FILE=") + caFile}, true},
        {"--encrypt require", yes(arguments(tlsServer, path()) << QStringLiteral("--encrypt") << QStringLiteral("require")),
         {}, true},
        {"--encrypt require, no TLS",
         yes(arguments(plain.serverText(), path()) << QStringLiteral("--encrypt") << QStringLiteral("require")), {},
         false},
        {"KORVANE_ENCRYPT=require, no TLS", yes(arguments(plain.serverText(), path())),
         {QStringLiteral("KORVANE_ENCRYPT=require")}, false},
        {"--encrypt request over KORVANE_ENCRYPT=require",
         yes(arguments(plain.serverText(), path()) << QStringLiteral("--encrypt") << QStringLiteral("request")),
         {QStringLiteral("KORVANE_ENCRYPT=require")}, true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFile(path(), oldFile));
        const Outcome outcome = RunExport(c.arguments, QStringLiteral("segredo"), 20s, c.variables);
        if (c.exported) {
            EXPECT_EQ(outcome.exitCode, 0) << c.what << ": " << outcome.err.toStdString();
            EXPECT_EQ(outcome.out, QStringLiteral("Terminado!\n")) << c.what;
            EXPECT_EQ(ReadTerminals(ReadFile(path())), ExpectedDemoTerminals()) << c.what;
        } else {
            EXPECT_EQ(outcome.exitCode, 1) << c.what;
            EXPECT_TRUE(outcome.err.startsWith(QStringLiteral("20002 - O servidor não oferece encriptação")))
                << c.what << ": " << outcome.err.toStdString();
            EXPECT_EQ(ReadFile(path()), oldFile) << c.what;
        }
    }
}

TEST_F(KorvaneExportTest, HostColonPortIsRefusedShowingTheCommaForm)
{
    const Outcome outcome = RunExport(arguments(QStringLiteral("127.0.0.1:1433"), path()), QStringLiteral("x"));
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("escreva 127.0.0.1,1433."))) << outcome.err.toStdString();
}

TEST_F(KorvaneExportTest, HelpNamesTheEncryptionVariables)
{
    const Outcome outcome = RunExport({QStringLiteral("--help")}, std::nullopt);
    EXPECT_EQ(outcome.exitCode, 0);
    for (const char* word : {"--encrypt", "--ca-file", "KORVANE_ENCRYPT", "KORVANE_CA_FILE", "tcp:", "(local)"})
        EXPECT_TRUE(outcome.out.contains(QLatin1StringView(word))) << word;
}

TEST_F(KorvaneExportTest, WrongPasswordExitsOneWithNumberAndDriverText)
{
    const OperatorServer server({});
    const Outcome outcome = RunExport(arguments(server.serverText(), path()), QStringLiteral("errada"));
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.out, QString());
    EXPECT_TRUE(outcome.err.startsWith(QStringLiteral("18456 - "))) << outcome.err;
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'operador'.")))
        << outcome.err;
    EXPECT_FALSE(outcome.err.contains(QStringLiteral("errada")));
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(KorvaneExportTest, WithoutPasswordVariableOrTerminalThePasswordIsEmpty)
{
    ServerConfig config;
    config.password = QString();
    TdsTestServer server(config);
    const Outcome outcome = RunExport(arguments(server.serverText(), path()), std::nullopt);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].password, QString());
}

TEST_F(KorvaneExportTest, ExistingFileIsKeptWithoutTerminalAndReplacedWithYes)
{
    TdsTestServer server({});
    const QByteArray old("old contents\n");
    ASSERT_TRUE(WriteFile(path(), old));

    const Outcome cancelled = RunExport(arguments(server.serverText(), path()), QStringLiteral("segredo"));
    EXPECT_EQ(cancelled.exitCode, 1);
    EXPECT_EQ(cancelled.out, QString());
    EXPECT_TRUE(cancelled.err.startsWith(QStringLiteral("O Ficheiro Será Sobreposto: Pretende Continuar?")))
        << cancelled.err;
    EXPECT_EQ(ReadFile(path()), old);
    EXPECT_EQ(server.connectionsAccepted(), 0);

    const Outcome replaced =
        RunExport(arguments(server.serverText(), path()) << QStringLiteral("--yes"), QStringLiteral("segredo"));
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_EQ(replaced.out, QStringLiteral("Terminado!\n"));
    EXPECT_EQ(ReadFile(path()), QByteArray("<Vorantis/>"));
}

TEST_F(KorvaneExportTest, ReportedFailuresExitOne)
{
    const Outcome blank = RunExport(arguments(QStringLiteral("127.0.0.1,1"), QStringLiteral("   ")), QStringLiteral("x"));
    EXPECT_EQ(blank.exitCode, 1);
    EXPECT_EQ(blank.err, QStringLiteral("Tem que indicar o caminho do ficheiro!\n"));

    TdsTestServer server({});
    const Outcome unsaved = RunExport(arguments(server.serverText(), path(QStringLiteral("nao-existe/t.xml"))),
                                      QStringLiteral("segredo"));
    EXPECT_EQ(unsaved.exitCode, 1);
    EXPECT_EQ(unsaved.out, QString());
    EXPECT_EQ(unsaved.err, QStringLiteral("Não foi possível gravar o ficheiro!\n2 - A pasta não existe\n"));
}

class UsageTest : public ::testing::TestWithParam<QStringList> {};

TEST_P(UsageTest, ExitsTwoWithUsage)
{
    const Outcome outcome = RunExport(GetParam(), QStringLiteral("x"));
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.out, QString());
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("Utilização: korvane-export"))) << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageTest,
    ::testing::Values(QStringList{},
                      QStringList{"--server", "s", "--login", "l"},
                      QStringList{"--server", "s", "--out", "o"},
                      QStringList{"--server", "s", "--login", "l", "--out", "o", "--password", "p"},
                      QStringList{"--server", "s", "--login", "l", "--out", "o", "extra"},
                      QStringList{"--server", "s", "--login", "l", "--out", "o", "--encrypt", "sim"},
                      QStringList{"--server", "s", "--login", "l", "--out", "o", "--ca-file", ""},
                      QStringList{"--server"}));

// Under a pseudo-terminal: the question is asked, the password is asked for without echo, and
// what was typed goes nowhere but the login.
TEST_F(KorvaneExportTest, TerminalAsksQuestionAndPasswordWithoutEcho)
{
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty())
        GTEST_SKIP() << "no script(1) for a pseudo-terminal";
    ServerConfig config;
    config.password = QStringLiteral("tecleado");
    TdsTestServer server(config);
    ASSERT_TRUE(WriteFile(path(), QByteArray("old")));

    QStringList command{kExport};
    command << arguments(server.serverText(), path());
    for (QString& word : command)
        word = QStringLiteral("'") + word + QStringLiteral("'");
    QProcess process;
    process.setProcessEnvironment(Environment(std::nullopt));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(script, {QStringLiteral("-qefc"), command.join(u' '), QStringLiteral("/dev/null")});
    QString seen;
    const auto waitFor = [&](const QString& text) {
        QElapsedTimer clock;
        clock.start();
        while (!seen.contains(text) && clock.elapsed() < 10'000) {
            process.waitForReadyRead(200);
            seen += QString::fromUtf8(process.readAll());
        }
        return seen.contains(text);
    };
    ASSERT_TRUE(waitFor(QStringLiteral("Pretende Continuar? [s/N]"))) << seen;
    process.write("s\n");
    ASSERT_TRUE(waitFor(QStringLiteral("Palavra-passe: "))) << seen;
    process.write("tecleado\n");
    ASSERT_TRUE(waitFor(QStringLiteral("Terminado!"))) << seen;
    ASSERT_TRUE(process.waitForFinished(10'000));
    seen += QString::fromUtf8(process.readAll());
    EXPECT_EQ(process.exitCode(), 0) << seen;
    EXPECT_FALSE(seen.contains(QStringLiteral("tecleado"))) << seen;
    EXPECT_EQ(ReadFile(path()), QByteArray("<Vorantis/>"));
    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].password, QStringLiteral("tecleado"));
}

// The one test that waits out the fixed 30-second time-out of the command line.
TEST_F(KorvaneExportTest, SlowSilentServerFailsWithinAboutThirtySeconds)
{
    const OperatorServer server({QStringLiteral("--fault"), QStringLiteral("silent")});
    ASSERT_FALSE(server.serverText().isEmpty()) << server.error();
    const Outcome outcome = RunExport(arguments(server.serverText(), path()), QStringLiteral("segredo"), 60s);
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_TRUE(outcome.err.startsWith(QStringLiteral("0 - [FreeTDS][SQL Server]Timeout expired"))) << outcome.err;
    EXPECT_GE(outcome.milliseconds, 29'000);
    EXPECT_LT(outcome.milliseconds, 45'000);
    EXPECT_FALSE(QFile::exists(path()));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
