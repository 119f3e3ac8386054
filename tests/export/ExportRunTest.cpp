// ExportTerminals end to end: a scripted operator, the real FreeTDS driver, the TDS test server
// and files in a temporary folder.

#include "export/ExportTerminals.h"
#include "export/ConnectionString.h"

#include "tests/export/ExportTestSupport.h"
#include "tests/support/ScriptedOperator.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <new>
#include <stdexcept>

#include <sys/stat.h>

using namespace korvane;
using namespace korvane::test;
using namespace std::chrono_literals;

namespace {

using Message = ScriptedOperator::Message;
using Question = ScriptedOperator::Question;

const QByteArray kOldFile("<Vorantis><Nac>o ficheiro anterior</Nac></Vorantis>\n");

const Message kFinished{QStringLiteral("Terminado!"), QStringLiteral("Korvane"), MessageIcon::Information};
const Question kOverwrite{QStringLiteral("Pretende Continuar?"), QStringLiteral("O Ficheiro Será Sobreposto:")};

std::vector<TerminalRow> SampleRows()
{
    // ORDER BY puts a NULL node id first, as SQL Server does.
    return {
        Row(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 254),
        Row(3, QStringLiteral("Cais & <Carga>"), std::nullopt, At(2009, 12, 31), QByteArray::fromHex("000AFF"), 0),
        Row(7, QStringLiteral("Desativado"), QStringLiteral("fora de serviço"), At(2010, 1, 1), std::nullopt, 255),
        Row(9, QStringLiteral("Sem estado"), QStringLiteral("x"), std::nullopt, std::nullopt, std::nullopt),
        Row(12, QStringLiteral("Portaria"), QStringLiteral("linha 1\r\nlinha 2\u0001"), At(2021, 7, 3, 14, 5, 9),
            QByteArray::fromHex("0019A7C0FFEE"), 1),
    };
}

const QByteArray kSampleXml = QByteArray(
    "<Vorantis>"
    "<Nac><NodeID/><NodeName/><Description/><RegDate/><MacAddr/></Nac>"
    "<Nac><NodeID>3</NodeID><NodeName>Cais &amp; &lt;Carga&gt;</NodeName><Description/>"
    "<RegDate>31/12/2009</RegDate><MacAddr>000AFF</MacAddr></Nac>"
    "<Nac><NodeID>12</NodeID><NodeName>Portaria</NodeName><Description>linha 1&#13;\nlinha 2\xEF\xBF\xBD</Description>"
    "<RegDate>03/07/2021 14:05:09</RegDate><MacAddr>0019A7C0FFEE</MacAddr></Nac>"
    "</Vorantis>");

class ExportRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        op.filePath = path();
        op.login = QStringLiteral("operador");
        op.password = QStringLiteral("segredo");
        options.timeoutSeconds = 5;
        options.locale = QLocale(QStringLiteral("pt_PT"));
    }

    void serve(ServerConfig config)
    {
        server.emplace(std::move(config));
        op.server = server->serverText();
    }

    QString path(const QString& name = QStringLiteral("terminais.xml")) const { return folder.filePath(name); }

    void run() { ExportTerminals(op, options); }

    void expectClosedAndOldFileKept()
    {
        EXPECT_EQ(ReadFile(path()), kOldFile);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("terminais.xml")});
        if (server) {
            EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
        }
    }

    QTemporaryDir folder;
    ScriptedOperator op;
    ExportOptions options;
    std::optional<TdsTestServer> server;
};

TEST_F(ExportRunTest, WritesExportedRowsInQueryOrder)
{
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    run();
    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    EXPECT_TRUE(op.questions.empty());
    EXPECT_EQ(ReadFile(path()), kSampleXml);
    EXPECT_EQ(server->queries().back(),
              QStringLiteral("Select NodeId, NodeName, Description, RegDate, MacAddr, Status  from NGAC_Terminal "
                             "Order By NodeID"));
    EXPECT_EQ(server->logins().at(0).database, QStringLiteral("nitgenacdbsql00"));
    EXPECT_EQ(op.passwordReads, 1);
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
}

TEST_F(ExportRunTest, NoExportedRowGivesTheRootAlone)
{
    for (const std::vector<TerminalRow>& rows :
         {std::vector<TerminalRow>{},
          std::vector<TerminalRow>{Row(1, QStringLiteral("a"), QStringLiteral("b"), std::nullopt, std::nullopt, 255),
                                   Row(2, QStringLiteral("a"), QStringLiteral("b"), std::nullopt, std::nullopt,
                                       std::nullopt)}}) {
        ServerConfig config;
        config.rows = rows;
        serve(config);
        op.messages.clear();
        QFile::remove(path());
        run();
        EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
        EXPECT_EQ(ReadFile(path()), QByteArray("<Vorantis/>"));
    }
}

TEST_F(ExportRunTest, BlankPathIsRefusedBeforeAnythingElse)
{
    serve({});
    for (const QString& blank : {QString(), QStringLiteral("   ")}) {
        op.filePath = blank;
        op.messages.clear();
        op.focusMoves = 0;
        run();
        EXPECT_EQ(op.messages, (std::vector<Message>{{QStringLiteral("Tem que indicar o caminho do ficheiro!"),
                                                      QStringLiteral("Korvane"), MessageIcon::Critical}}));
        EXPECT_EQ(op.focusMoves, 1);
        EXPECT_TRUE(op.questions.empty());
    }
    EXPECT_EQ(server->connectionsAccepted(), 0);
    EXPECT_EQ(op.passwordReads, 0);
}

TEST_F(ExportRunTest, PathIsUsedWithItsBlanks)
{
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    op.filePath = QStringLiteral("  terminais.xml ");
    run();
    QDir::setCurrent(previous);
    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    EXPECT_EQ(ReadFile(folder.filePath(QStringLiteral("  terminais.xml "))), kSampleXml);
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(ExportRunTest, CancelLeavesTheOldFileAndConnectsToNothing)
{
    serve({});
    ASSERT_TRUE(WriteFile(path(), kOldFile));
    op.answers = {Answer::Cancel};
    run();
    EXPECT_EQ(op.questions, std::vector<Question>{kOverwrite});
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(server->connectionsAccepted(), 0);
    expectClosedAndOldFileKept();
}

TEST_F(ExportRunTest, OkReplacesTheOldFileOnlyAtTheSave)
{
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    ASSERT_TRUE(WriteFile(path(), kOldFile));
    op.answers = {Answer::Ok};
    run();
    EXPECT_EQ(op.questions, std::vector<Question>{kOverwrite});
    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    EXPECT_EQ(ReadFile(path()), kSampleXml);
}

// Anything at the path that the save would replace is asked about first: a dot-file, a special
// file, a symbolic link, even one that leads nowhere. Cancel leaves it exactly as it was.
TEST_F(ExportRunTest, EveryEntryButAFolderAsksBeforeItIsReplaced)
{
    serve({});
    const QString hidden = path(QStringLiteral(".terminais.xml"));
    ASSERT_TRUE(WriteFile(hidden, kOldFile));
    const QString dangling = path(QStringLiteral("ligacao.xml"));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nao-existe.xml")), dangling));
    const QString fifo = path(QStringLiteral("fila.xml"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    for (const QString& entry : {hidden, dangling, fifo}) {
        SCOPED_TRACE(entry.toStdString());
        op.filePath = entry;
        op.questions.clear();
        op.answers = {Answer::Cancel};
        run();
        EXPECT_EQ(op.questions, std::vector<Question>{kOverwrite});
        EXPECT_TRUE(op.messages.empty());
    }
    EXPECT_EQ(ReadFile(hidden), kOldFile);
    EXPECT_EQ(QFileInfo(dangling).symLinkTarget(), path(QStringLiteral("nao-existe.xml")));
    EXPECT_EQ(QFileInfo(fifo).isFile() || QFileInfo(fifo).isDir(), false);
    EXPECT_EQ(server->connectionsAccepted(), 0);
}

TEST_F(ExportRunTest, HiddenFileIsReplacedAfterOk)
{
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    const QString hidden = path(QStringLiteral(".terminais.xml"));
    ASSERT_TRUE(WriteFile(hidden, kOldFile));
    op.filePath = hidden;
    op.answers = {Answer::Ok};
    run();
    EXPECT_EQ(op.questions, std::vector<Question>{kOverwrite});
    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    EXPECT_EQ(ReadFile(hidden), kSampleXml);
}

// A folder is never replaced: no question, and the save fails on it.
TEST_F(ExportRunTest, FolderAtThePathAsksNothingAndIsKept)
{
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    const QString subfolder = path(QStringLiteral("pasta"));
    ASSERT_TRUE(QDir().mkdir(subfolder));
    op.filePath = subfolder;
    run();
    EXPECT_TRUE(op.questions.empty());
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(op.messages[0].text.startsWith(QStringLiteral("Não foi possível gravar o ficheiro!\n")));
    EXPECT_TRUE(QFileInfo(subfolder).isDir());
}

// A failure that is not the database's, wherever it strikes, ends the run with one box that
// gives its reason; the connection is closed and the old file kept. The operator throws it when
// the path is read for the given time (1: the blank test, 2: the existence test, 3: the save).
struct OtherFailure {
    const char* name;
    int atPathRead;
    std::function<void()> raise;
    QString reason;
};

class ThrowingOperator : public ScriptedOperator {
public:
    int throwAt = 0;
    std::function<void()> raise;
    mutable int pathReads = 0;

    QString filePathText() const override
    {
        if (++pathReads == throwAt)
            raise();
        return ScriptedOperator::filePathText();
    }
};

class OtherFailureTest : public ExportRunTest, public ::testing::WithParamInterface<OtherFailure> {};

TEST_P(OtherFailureTest, OneBoxWithTheReasonOldFileKept)
{
    const OtherFailure& c = GetParam();
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    ASSERT_TRUE(WriteFile(path(), kOldFile));
    ThrowingOperator thrower;
    thrower.filePath = op.filePath;
    thrower.server = op.server;
    thrower.login = op.login;
    thrower.password = op.password;
    thrower.answers = {Answer::Ok};
    thrower.throwAt = c.atPathRead;
    thrower.raise = c.raise;

    ExportTerminals(thrower, options);

    EXPECT_EQ(thrower.messages,
              (std::vector<Message>{{QStringLiteral("Não foi possível concluir a exportação!\n") + c.reason,
                                     QStringLiteral("Korvane"), MessageIcon::Critical}}));
    EXPECT_EQ(thrower.pathReads, c.atPathRead);
    expectClosedAndOldFileKept();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OtherFailureTest,
    ::testing::Values(
        OtherFailure{"OutOfMemoryBeforeTheSave", 3, [] { throw std::bad_alloc(); }, QStringLiteral("Memória insuficiente.")},
        OtherFailure{"LibraryFailureBeforeTheSave", 3, [] { throw std::runtime_error("falha na biblioteca"); },
                     QStringLiteral("falha na biblioteca")},
        OtherFailure{"OutOfMemoryBeforeTheQuestion", 2, [] { throw std::bad_alloc(); },
                     QStringLiteral("Memória insuficiente.")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExportRunTest, SaveIntoMissingFolderShowsTheReasonNotTerminado)
{
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    op.filePath = path(QStringLiteral("nao-existe/terminais.xml"));
    run();
    EXPECT_EQ(op.messages, (std::vector<Message>{{QStringLiteral("Não foi possível gravar o ficheiro!\n2 - A pasta não existe"),
                                                  QStringLiteral("Korvane"), MessageIcon::Critical}}));
    EXPECT_FALSE(QFile::exists(op.filePath));
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
}

// The run reads the path again for the save: a path changed while the question is shown (the
// window cannot, but the interface allows it) is the one written.
TEST_F(ExportRunTest, SaveReadsThePathAfresh)
{
    ServerConfig config;
    config.rows = SampleRows();
    serve(config);
    ASSERT_TRUE(WriteFile(path(), kOldFile));
    op.answers = {Answer::Ok};
    op.whileAsking = [this] { op.filePath = path(QStringLiteral("outro.xml")); };
    run();
    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    EXPECT_EQ(ReadFile(path(QStringLiteral("outro.xml"))), kSampleXml);
    EXPECT_EQ(ReadFile(path()), kOldFile);
}

} // namespace
