// The export run against what goes wrong around it: a server that stalls or drops the
// connection, a disk that refuses the file, and values and volumes far beyond the usual. Every
// failure must end in one clear box, with the connection closed and the old file exactly as it
// was; every large case must come out whole.

#include "export/ExportTerminals.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileSizeLimit.h"

#include "tests/export/ExportTestSupport.h"
#include "tests/support/ScriptedOperator.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <functional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace korvane;
using namespace korvane::test;
using namespace std::chrono_literals;

namespace {

using Message = ScriptedOperator::Message;

const QByteArray kOldFile("<Vorantis><Nac><NodeID>1</NodeID><NodeName>anterior</NodeName></Nac></Vorantis>\n");
const QString kSaveFailed = QStringLiteral("Não foi possível gravar o ficheiro!\n");
const Message kFinished{QStringLiteral("Terminado!"), QStringLiteral("Korvane"), MessageIcon::Information};

// Every entry under `root`, with the bytes of each file: what a failed run must leave alone.
QMap<QString, QByteArray> Snapshot(const QString& root)
{
    QMap<QString, QByteArray> entries;
    QDir dir(root);
    for (const QFileInfo& info : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString name = dir.relativeFilePath(info.filePath());
        if (info.isDir()) {
            entries.insert(name + u'/', QByteArray());
            const QMap<QString, QByteArray> inner = Snapshot(info.filePath());
            for (auto it = inner.begin(); it != inner.end(); ++it)
                entries.insert(name + u'/' + it.key(), it.value());
        } else {
            entries.insert(name, ReadFile(info.filePath()));
        }
    }
    return entries;
}

// The "Nac" elements of an exported file, each as its five texts, after checking that the
// file is well-formed with nothing but the expected elements.
std::vector<QStringList> ReadTerminals(const QByteArray& xml)
{
    std::vector<QStringList> terminals;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"Nac") {
            QStringList fields;
            while (reader.readNextStartElement())
                fields << reader.readElementText();
            terminals.push_back(fields);
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString();
    return terminals;
}

#ifdef Q_OS_UNIX
using korvane::test::FileSizeLimit;
#endif

class ExportFaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        op.filePath = folder.filePath(QStringLiteral("terminais.xml"));
        op.login = QStringLiteral("operador");
        op.password = QStringLiteral("segredo");
        op.answers = {Answer::Ok};
        options.timeoutSeconds = 5;
        options.locale = QLocale(QStringLiteral("pt_PT"));
    }

    void serve(ServerConfig config)
    {
        server.emplace(std::move(config));
        op.server = server->serverText();
    }

    // One critical box that starts with `start` and holds `line`; no "Terminado!", no
    // password in it, the connection closed and everything on disk as it was before the run.
    void expectCleanFailure(const QString& start, const QString& line, const QMap<QString, QByteArray>& before)
    {
        ASSERT_EQ(op.messages.size(), 1u) << (op.messages.empty() ? QString() : op.messages.back().text);
        const Message& box = op.messages[0];
        EXPECT_EQ(box.title, QStringLiteral("Korvane"));
        EXPECT_EQ(box.icon, MessageIcon::Critical);
        EXPECT_TRUE(box.text.startsWith(start)) << box.text;
        EXPECT_GT(box.text.size(), start.size()) << "no reason after " << start;
        EXPECT_TRUE(box.text.contains(line)) << box.text;
        EXPECT_FALSE(box.text.contains(op.password)) << box.text;
        EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s)) << server->connectionsOpen() << " still open";
        EXPECT_EQ(Snapshot(folder.path()), before);
    }

    QTemporaryDir folder;
    ScriptedOperator op;
    ExportOptions options;
    std::optional<TdsTestServer> server;
};

// --- The server fails or refuses ----------------------------------------------------------------

struct ServerFaultCase {
    const char* name;
    ServerFault fault;
    int rows;              // generated terminals the server holds
    int closeAfterRows;    // for CloseMidRows
    QString start;         // how the box text starts
    QString line;          // a line the box holds
    QString password = QStringLiteral("segredo");
    int connections = 1;   // connections the server sees
};

class ServerFaultTest : public ExportFaultTest, public ::testing::WithParamInterface<ServerFaultCase> {};

// Every failure after OK: one critical box with "number - description", no "Terminado!", the
// old file exactly as it was and the connection closed.
TEST_P(ServerFaultTest, OneBoxConnectionClosedOldFileKept)
{
    const ServerFaultCase& c = GetParam();
    ServerConfig config;
    config.rows = generatedTerminalRows(c.rows);
    config.fault = c.fault;
    config.closeAfterRows = c.closeAfterRows;
    serve(config);
    if (c.fault == ServerFault::SilentAfterAccept)
        options.timeoutSeconds = kShortTimeoutSeconds;
    op.password = c.password;
    ASSERT_TRUE(WriteFile(op.filePath, kOldFile));
    const QMap<QString, QByteArray> before = Snapshot(folder.path());

    ExportTerminals(op, options);

    EXPECT_EQ(op.questions.size(), 1u);
    EXPECT_EQ(server->connectionsAccepted(), c.connections);
    expectCleanFailure(c.start, c.line, before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerFaultTest,
    ::testing::Values(
        ServerFaultCase{"SilentAfterAccept", ServerFault::SilentAfterAccept, 10, 0, "0 - [FreeTDS][SQL Server]Timeout expired",
                        "[FreeTDS][SQL Server]Timeout expired"},
        ServerFaultCase{"ClosedBeforeLoginAnswer", ServerFault::CloseBeforeLoginAck, 10, 0, "20017 - ",
                        "[FreeTDS][SQL Server]Unexpected EOF from the server"},
        ServerFaultCase{"ClosedBeforeTheFirstRow", ServerFault::CloseMidRows, 10, 0, "20017 - ",
                        "[FreeTDS][SQL Server]Unexpected EOF from the server"},
        ServerFaultCase{"ClosedAfterTheFirstRow", ServerFault::CloseMidRows, 10, 1, "20017 - ",
                        "[FreeTDS][SQL Server]Unexpected EOF from the server"},
        // Thousands of rows in, across many packets: what came is dropped, not half-written.
        ServerFaultCase{"ClosedDeepInTheRows", ServerFault::CloseMidRows, 5000, 4321, "20017 - ",
                        "[FreeTDS][SQL Server]Unexpected EOF from the server"},
        ServerFaultCase{"QueryErrorAfterLogin", ServerFault::QueryError, 10, 0, "229 - ", "SELECT permission"},
        ServerFaultCase{"UnknownTable", ServerFault::UnknownTable, 10, 0, "208 - ", "Invalid object name 'NGAC_Terminal'."},
        ServerFaultCase{"WrongPassword", ServerFault::None, 10, 0, "18456 - ",
                        "[FreeTDS][SQL Server]Login failed for user 'operador'.", QStringLiteral("errada")},
        // Refused before any connection is tried.
        ServerFaultCase{"PasswordDriverCannotCarry", ServerFault::None, 10, 0, "-2147217805 - A palavra-passe",
                        "não foi tentada", QStringLiteral("seg};redo"), 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The disk refuses the file ----------------------------------------------------------------

struct SaveFaultCase {
    const char* name;
    // Prepares the folder and returns the path to save at, or a reason to skip the case here.
    std::function<QString(const QString& root, QString& skipReason)> arrange;
    QString reason;   // the system's number and reason the box gives after kSaveFailed
    enum class Condition {
        AsIs,
        WithoutRoot, // permissions that root would pass by
        FullDisk,    // a file-size limit leaves room for less than the document
    } condition = Condition::AsIs;
};

#ifdef Q_OS_UNIX
// The boxes of a run as text, to come back from a child process, and back into messages.
std::string MessagesAsText(const std::vector<Message>& messages)
{
    QString text;
    for (const Message& m : messages)
        text += QString::number(static_cast<int>(m.icon)) + u'\x1f' + m.title + u'\x1f' + m.text + u'\x1e';
    return text.toStdString();
}

std::vector<Message> MessagesFromText(const std::string& text)
{
    std::vector<Message> messages;
    for (const QString& record : QString::fromStdString(text).split(u'\x1e', Qt::SkipEmptyParts)) {
        const QStringList parts = record.split(u'\x1f');
        if (parts.size() == 3)
            messages.push_back({parts[2], parts[1], static_cast<MessageIcon>(parts[0].toInt())});
    }
    return messages;
}

// The run in a process of its own, for the cases that run without root's privileges; the server
// stays in the test's process. Arguments: server, login, password, path, time-out, locale.
const std::string kExportTask = RegisterChildTask("export-run", [](const ChildArgs& args) {
    ScriptedOperator op;
    op.server = QString::fromStdString(args.at(0));
    op.login = QString::fromStdString(args.at(1));
    op.password = QString::fromStdString(args.at(2));
    op.filePath = QString::fromStdString(args.at(3));
    op.answers = {Answer::Ok};
    ExportOptions options;
    options.timeoutSeconds = std::stoi(args.at(4));
    options.locale = QLocale(QString::fromStdString(args.at(5)));
    ExportTerminals(op, options);
    return MessagesAsText(op.messages);
});
#endif

class SaveFaultTest : public ExportFaultTest, public ::testing::WithParamInterface<SaveFaultCase> {
protected:
    void TearDown() override
    {
        // A read-only folder must become writable again for QTemporaryDir to remove it.
        QFile::setPermissions(folder.filePath(QStringLiteral("protegida")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
};

TEST_P(SaveFaultTest, OneBoxWithTheReasonConnectionClosedOldFileKept)
{
    const SaveFaultCase& c = GetParam();
    QString skipReason;
    op.filePath = c.arrange(folder.path(), skipReason);
    if (!skipReason.isEmpty())
        GTEST_SKIP() << skipReason.toStdString();
    ServerConfig config;
    config.rows = generatedTerminalRows(200);   // some 30 KB of XML
    serve(config);
    const QMap<QString, QByteArray> before = Snapshot(folder.path());

#ifdef Q_OS_UNIX
    if (c.condition == SaveFaultCase::Condition::WithoutRoot) {
        const ChildOutcome boxes = RunChildTask(kExportTask,
                                                {op.server.toStdString(), op.login.toStdString(),
                                                 op.password.toStdString(), op.filePath.toStdString(),
                                                 std::to_string(options.timeoutSeconds),
                                                 options.locale.name().toStdString()},
                                                {.withoutRoot = true});
        ASSERT_TRUE(boxes.answer.has_value()) << boxes.failure;
        op.messages = MessagesFromText(*boxes.answer);
    } else {
        std::optional<FileSizeLimit> limit;
        if (c.condition == SaveFaultCase::Condition::FullDisk) {
            limit.emplace(4096);
            ASSERT_TRUE(limit->applied());
        }
        ExportTerminals(op, options);
    }
#else
    ExportTerminals(op, options);
#endif

    EXPECT_EQ(server->queries().size(), 1u) << "the rows must have been read before the save";
    expectCleanFailure(kSaveFailed, c.reason, before);
}

QString ReadOnlyFolder(const QString& root, QString& skipReason)
{
    const QString protectedFolder = root + QStringLiteral("/protegida");
    QDir().mkdir(protectedFolder);
    const QString path = protectedFolder + QStringLiteral("/terminais.xml");
    WriteFile(path, kOldFile);
#ifdef Q_OS_UNIX
    // Readable by everyone, writable by no one; the run that needs it happens without root.
    const auto readAndEnter = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QFile::setPermissions(root, readAndEnter | QFileDevice::WriteOwner);
    // The old file itself may be written by anyone: only the folder refuses.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                              | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther);
    QFile::setPermissions(protectedFolder, readAndEnter);
    Q_UNUSED(skipReason);
#else
    Q_UNUSED(root);
    skipReason = QStringLiteral("read-only folders are not modelled by permission bits on this system");
#endif
    return path;
}

// A writable folder, but the old file in it is read-only to the user.
QString ReadOnlyOldFile(const QString& root, QString& skipReason)
{
    const QString path = root + QStringLiteral("/terminais.xml");
    WriteFile(path, kOldFile);
#ifdef Q_OS_UNIX
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
        | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
        | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QFile::setPermissions(root, everyone);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    Q_UNUSED(skipReason);
#else
    skipReason = QStringLiteral("read-only files are not modelled by permission bits on this system");
#endif
    return path;
}

QString FolderAtThePath(const QString& root, QString&)
{
    const QString path = root + QStringLiteral("/terminais.xml");
    QDir().mkdir(path);
    WriteFile(path + QStringLiteral("/dentro.xml"), kOldFile);
    return path;
}

QString OldFileOnAFullDisk(const QString& root, QString& skipReason)
{
#ifndef Q_OS_UNIX
    skipReason = QStringLiteral("no file-size limit to stand in for a full disk on this system");
#else
    Q_UNUSED(skipReason);
#endif
    const QString path = root + QStringLiteral("/terminais.xml");
    WriteFile(path, kOldFile);
    return path;
}

QString MissingFolderBesideAnOldFile(const QString& root, QString&)
{
    WriteFile(root + QStringLiteral("/terminais.xml"), kOldFile);
    return root + QStringLiteral("/nao-existe/terminais.xml");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveFaultTest,
    ::testing::Values(SaveFaultCase{"ReadOnlyFolder", ReadOnlyFolder, QStringLiteral("\n13 - Permissão negada"),
                                    SaveFaultCase::Condition::WithoutRoot},
                      SaveFaultCase{"ReadOnlyOldFile", ReadOnlyOldFile, QStringLiteral("\n13 - Permissão negada"),
                                    SaveFaultCase::Condition::WithoutRoot},
                      SaveFaultCase{"FolderAtThePath", FolderAtThePath, QStringLiteral("\n21 - O caminho é uma pasta")},
                      SaveFaultCase{"FullDisk", OldFileOnAFullDisk, QStringLiteral("\n27 - Ficheiro demasiado grande"),
                                    SaveFaultCase::Condition::FullDisk},
                      SaveFaultCase{"MissingFolder", MissingFolderBesideAnOldFile,
                                    QStringLiteral("\n2 - A pasta não existe")}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Far beyond the usual, and still whole ----------------------------------------------------

TEST_F(ExportFaultTest, MebibyteDescriptionIsWrittenWhole)
{
    QString description;
    for (int i = 0; description.toUtf8().size() < 1024 * 1024; ++i)
        description += QStringLiteral("linha %1: ção € \U0001F600 <&> \"'\r\n").arg(i).repeated(64);
    ServerConfig config;
    config.rows = {Row(1, QStringLiteral("Portaria"), description, std::nullopt, std::nullopt, 0),
                   Row(2, QStringLiteral("Cais"), QStringLiteral("curta"), std::nullopt, std::nullopt, 0)};
    serve(config);
    ASSERT_TRUE(WriteFile(op.filePath, kOldFile));

    ExportTerminals(op, options);

    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    const std::vector<QStringList> terminals = ReadTerminals(ReadFile(op.filePath));
    ASSERT_EQ(terminals.size(), 2u);
    ASSERT_EQ(terminals[0].size(), 5);
    EXPECT_EQ(terminals[0][2].size(), description.size());
    EXPECT_TRUE(terminals[0][2] == description) << "the long description came back changed";
    EXPECT_EQ(terminals[1], (QStringList{QStringLiteral("2"), QStringLiteral("Cais"), QStringLiteral("curta"),
                                         QString(), QString()}));
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
}

TEST_F(ExportFaultTest, HundredThousandRowsAreWrittenWhole)
{
    constexpr int kRows = 100'000;
    ServerConfig config;
    config.rows = generatedTerminalRows(kRows);
    serve(config);

    ExportTerminals(op, options);

    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    const std::vector<QStringList> terminals = ReadTerminals(ReadFile(op.filePath));
    // Every 50th terminal has Status 255 and stays out.
    ASSERT_EQ(terminals.size(), static_cast<std::size_t>(kRows - kRows / 50));
    EXPECT_EQ(terminals.front().at(0), QStringLiteral("1"));
    EXPECT_EQ(terminals.back(), (QStringList{QStringLiteral("99999"), QStringLiteral("Terminal 099999"),
                                             QStringLiteral("Porta 89 do piso 4"), QStringLiteral("06/06/2031 17:26:33"),
                                             QStringLiteral("000A0001869F")}));
    int previous = 0;
    for (const QStringList& terminal : terminals) {
        const int id = terminal.at(0).toInt();
        ASSERT_GT(id, previous);
        ASSERT_NE(id % 50, 0) << id;
        previous = id;
    }
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
}

} // namespace
