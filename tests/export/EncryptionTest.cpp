// Encryption and certificate checks through the real FreeTDS driver against the TDS test server
// speaking TLS as SQL Server does, with certificates made here; and the server notations as they
// reach the server.

#include "export/ConnectionString.h"
#include "export/DatabaseConnection.h"
#include "export/ExportTerminals.h"

#include "tests/export/ExportTestSupport.h"
#include "tests/support/ScriptedOperator.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace korvane;
using namespace korvane::test;
using namespace std::chrono_literals;

namespace {

using Message = ScriptedOperator::Message;

const QString kCatalog = QStringLiteral("nitgenacdbsql00");
const QByteArray kOldFile("<Vorantis><Nac>o ficheiro anterior</Nac></Vorantis>\n");
const Message kFinished{QStringLiteral("Terminado!"), QStringLiteral("Korvane"), MessageIcon::Information};

// What PRELOGIN's ENCRYPTION option says.
constexpr quint8 kEncryptOff = 0;
constexpr quint8 kEncryptOn = 1;

struct Attempt {
    bool opened = false;
    qint32 number = -1;
    QString description;
};

class EncryptionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    // A server under a certificate of `authority` for these names.
    void serve(ServerEncryption encryption, const TestAuthority& issuer,
               const std::vector<std::string>& hostNames = {"localhost"},
               const std::vector<std::string>& addresses = {"127.0.0.1"})
    {
        ServerConfig config;
        config.rows = demoTerminalRows();
        config.encryption = encryption;
        config.certificate = issuer.issueServer(hostNames, addresses);
        server.emplace(std::move(config));
    }

    QString caFile(const TestAuthority& trusted, const QString& name = QStringLiteral("ca.pem")) const
    {
        const QString path = folder.filePath(name);
        EXPECT_TRUE(WriteFile(path, QByteArray::fromStdString(trusted.certificatePem())));
        return path;
    }

    QString local(const char* host = "localhost") const
    {
        return QStringLiteral("%1,%2").arg(QLatin1StringView(host)).arg(server->port());
    }

    Attempt open(const QString& serverText, const ConnectionSecurity& security)
    {
        Attempt attempt;
        attempt.opened = OpenConnection(connection, serverText, kCatalog, QStringLiteral("operador"),
                                        QStringLiteral("segredo"), 5, attempt.number, attempt.description, security);
        return attempt;
    }

    static ConnectionSecurity require()
    {
        ConnectionSecurity security;
        security.encryption = Encryption::Require;
        return security;
    }

    static ConnectionSecurity checkedBy(const QString& caFile)
    {
        ConnectionSecurity security;
        security.caFile = caFile;
        return security;
    }

    // The refusal the operator sees: the driver's number and our words for the cause; the server
    // saw a connection, and no login.
    void expectRefusedBeforeLogin(const Attempt& attempt, const QString& cause)
    {
        EXPECT_FALSE(attempt.opened);
        EXPECT_FALSE(connection.isOpen());
        EXPECT_EQ(attempt.number, 20002) << attempt.description.toStdString();
        EXPECT_TRUE(attempt.description.contains(cause)) << attempt.description.toStdString();
        EXPECT_TRUE(attempt.description.contains(QStringLiteral("palavra-passe não foram enviados")));
        EXPECT_FALSE(attempt.description.contains(QStringLiteral("segredo")));
        EXPECT_EQ(server->connectionsAccepted(), 1);
        EXPECT_TRUE(server->logins().empty());
        EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
    }

    TestAuthority authority{"Korvane test CA"};
    QTemporaryDir folder;
    std::optional<TdsTestServer> server;
    DatabaseConnection connection;
};

struct ExportCase {
    ServerEncryption server;
    Encryption client;
    quint8 clientAsked;
    bool wholeConnection;
};

class EncryptedExportTest : public EncryptionTest, public ::testing::WithParamInterface<ExportCase> {};

// The whole export over TLS: login-only when the server offers and the client only requests,
// the whole connection when either side insists.
TEST_P(EncryptedExportTest, ExportsWithTheLoginEncrypted)
{
    const ExportCase& c = GetParam();
    serve(c.server, authority);
    ScriptedOperator op;
    op.filePath = folder.filePath(QStringLiteral("terminais.xml"));
    op.server = local();
    op.login = QStringLiteral("operador");
    op.password = QStringLiteral("segredo");
    ExportOptions options;
    options.timeoutSeconds = 5;
    options.security = {};
    options.security.encryption = c.client;
    options.security.caFile = caFile(authority);
    ExportTerminals(op, options);

    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    EXPECT_TRUE(ReadFile(op.filePath).contains("<NodeName>"));
    ASSERT_EQ(server->logins().size(), 1u);
    const LoginRecord login = server->logins()[0];
    EXPECT_TRUE(login.overTls);
    EXPECT_EQ(login.clientEncryption, c.clientAsked);
    EXPECT_EQ(login.password, QStringLiteral("segredo"));
    const int queries = static_cast<int>(server->queries().size());
    ASSERT_GE(queries, 1);
    EXPECT_EQ(server->queriesOverTls(), c.wholeConnection ? queries : 0);
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));

    // The driver's log in the private folder (this process's and any other's) never holds the
    // password, in either encoding the driver handles it.
    const QDir temp(QDir::tempPath());
    int logs = 0;
    for (const QString& name : temp.entryList({QStringLiteral("korvane-*")}, QDir::Dirs)) {
        const QString log = temp.filePath(name + QStringLiteral("/freetds.log"));
        if (!QFileInfo::exists(log))
            continue;
        ++logs;
        const QByteArray text = ReadFile(log);
        EXPECT_FALSE(text.contains("segredo")) << log.toStdString();
        EXPECT_FALSE(text.contains(QByteArray("s\0e\0g\0r\0e\0d\0o\0", 14))) << log.toStdString();
    }
    EXPECT_GE(logs, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncryptedExportTest,
    ::testing::Values(
        // A CA file implies require, so the client asks for the whole connection...
        ExportCase{ServerEncryption::Offered, Encryption::Request, kEncryptOn, true},
        ExportCase{ServerEncryption::Required, Encryption::Require, kEncryptOn, true}));

TEST_F(EncryptionTest, RequestAgainstAnOfferingServerEncryptsTheLoginOnly)
{
    serve(ServerEncryption::Offered, authority);
    ScriptedOperator op;
    op.filePath = folder.filePath(QStringLiteral("terminais.xml"));
    op.server = local("127.0.0.1");
    op.login = QStringLiteral("operador");
    op.password = QStringLiteral("segredo");
    ExportOptions options;
    options.timeoutSeconds = 5;
    options.security = {};
    ExportTerminals(op, options);

    EXPECT_EQ(op.messages, std::vector<Message>{kFinished});
    EXPECT_TRUE(ReadFile(op.filePath).contains("<NodeName>"));
    ASSERT_EQ(server->logins().size(), 1u);
    EXPECT_TRUE(server->logins()[0].overTls);
    EXPECT_EQ(server->logins()[0].clientEncryption, kEncryptOff);
    EXPECT_FALSE(server->queries().empty());
    EXPECT_EQ(server->queriesOverTls(), 0);
}

TEST_F(EncryptionTest, RequestAgainstARequiringServerEncryptsTheWholeConnection)
{
    serve(ServerEncryption::Required, authority);
    ASSERT_TRUE(open(local(), {}).opened);
    QueryResult rows = connection.execute(QString::fromUtf16(kTerminalQuery));
    EXPECT_TRUE(rows.next());
    rows.close();
    ASSERT_EQ(server->logins().size(), 1u);
    EXPECT_TRUE(server->logins()[0].overTls);
    EXPECT_EQ(server->queriesOverTls(), static_cast<int>(server->queries().size()));
}

TEST_F(EncryptionTest, RequireRefusesAServerWithoutEncryptionBeforeTheLogin)
{
    server.emplace(ServerConfig{});
    expectRefusedBeforeLogin(open(local(), require()), QStringLiteral("não oferece encriptação"));
}

TEST_F(EncryptionTest, ACaFileRefusesAServerWithoutEncryptionToo)
{
    server.emplace(ServerConfig{});
    expectRefusedBeforeLogin(open(local(), checkedBy(caFile(authority))), QStringLiteral("não oferece encriptação"));
}

TEST_F(EncryptionTest, CertificateSignedByTheCaFileIsAcceptedUnderEachName)
{
    serve(ServerEncryption::Offered, authority);
    const QString trusted = caFile(authority);
    for (const char* host : {"localhost", "127.0.0.1"}) {
        const Attempt attempt = open(local(host), checkedBy(trusted));
        EXPECT_TRUE(attempt.opened) << host << ": " << attempt.description.toStdString();
        connection.close();
    }
    ASSERT_EQ(server->logins().size(), 2u);
    EXPECT_TRUE(server->logins()[0].overTls && server->logins()[1].overTls);
}

TEST_F(EncryptionTest, CertificateOfAnotherAuthorityIsRefused)
{
    serve(ServerEncryption::Offered, authority);
    const TestAuthority stranger("Another CA");
    const QString untrusted = caFile(stranger, QStringLiteral("outra.pem"));
    const Attempt attempt = open(local(), checkedBy(untrusted));
    expectRefusedBeforeLogin(attempt, QStringLiteral("não é assinado por nenhuma autoridade"));
    EXPECT_TRUE(attempt.description.contains(QDir::toNativeSeparators(untrusted)));
}

TEST_F(EncryptionTest, CertificateForAnotherHostNameIsRefused)
{
    serve(ServerEncryption::Offered, authority, {"sql.example.org"}, {});
    const Attempt attempt = open(local(), checkedBy(caFile(authority)));
    expectRefusedBeforeLogin(attempt, QStringLiteral("não é para o nome \"localhost\""));
}

TEST_F(EncryptionTest, CaFileThatCannotBeUsedIsRefusedBeforeConnecting)
{
    server.emplace(ServerConfig{});
    const QString notPem = folder.filePath(QStringLiteral("ca.txt"));
    ASSERT_TRUE(WriteFile(notPem, "not a certificate\n"));
    for (const QString& file : {folder.filePath(QStringLiteral("nao-existe.pem")), notPem}) {
        const Attempt attempt = open(local(), checkedBy(file));
        EXPECT_FALSE(attempt.opened);
        EXPECT_EQ(attempt.number, kBadConnectionValue);
        EXPECT_TRUE(attempt.description.contains(QDir::toNativeSeparators(file))) << attempt.description.toStdString();
        EXPECT_TRUE(attempt.description.contains(QStringLiteral("não foi tentada")));
    }
    EXPECT_EQ(server->connectionsAccepted(), 0);
}

TEST_F(EncryptionTest, UnreadableEncryptionSettingIsRefusedBeforeConnecting)
{
    server.emplace(ServerConfig{});
    qputenv(kEncryptVariable, "sim");
    ConnectionSecurity fromEnvironment = ConnectionSecurityFromEnvironment();
    qunsetenv(kEncryptVariable);
    const Attempt attempt = open(local(), fromEnvironment);
    EXPECT_FALSE(attempt.opened);
    EXPECT_EQ(attempt.number, kBadConnectionValue);
    EXPECT_TRUE(attempt.description.contains(QStringLiteral("\"sim\""))) << attempt.description.toStdString();
    EXPECT_EQ(server->connectionsAccepted(), 0);
}

// The old file stays when encryption is refused: the run ends at the connection.
TEST_F(EncryptionTest, RefusedExportKeepsTheOldFile)
{
    server.emplace(ServerConfig{});
    ScriptedOperator op;
    op.filePath = folder.filePath(QStringLiteral("terminais.xml"));
    ASSERT_TRUE(WriteFile(op.filePath, kOldFile));
    op.answers = {Answer::Ok};
    op.server = local();
    op.login = QStringLiteral("operador");
    op.password = QStringLiteral("segredo");
    ExportOptions options;
    options.timeoutSeconds = 5;
    options.security = require();
    ExportTerminals(op, options);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_TRUE(op.messages[0].text.startsWith(QStringLiteral("20002 - O servidor não oferece encriptação")))
        << op.messages[0].text.toStdString();
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(ReadFile(op.filePath), kOldFile);
    EXPECT_TRUE(server->logins().empty());
}

struct NotationCase {
    const char* typed;        // %1: the port
    const char* serverName;   // as the LOGIN7 names the server
    bool ipv6 = false;
};

class NotationTest : public ::testing::TestWithParam<NotationCase> {};

// Each notation an operator may copy from SQL Server's tools reaches the server and logs in.
TEST_P(NotationTest, ReachesTheServer)
{
    const NotationCase& c = GetParam();
    ServerConfig config;
    config.ipv6 = c.ipv6;
    std::optional<TdsTestServer> server;
    try {
        server.emplace(config);
    } catch (const std::runtime_error& error) {
        GTEST_SKIP() << "no IPv6 loopback here: " << error.what();
    }
    DatabaseConnection connection;
    qint32 number = 0;
    QString description;
    const QString typed = QString::fromLatin1(c.typed).arg(server->port());
    ASSERT_TRUE(OpenConnection(connection, typed, kCatalog, QStringLiteral("operador"), QStringLiteral("segredo"), 5,
                               number, description))
        << typed.toStdString() << ": " << number << " - " << description.toStdString();
    ASSERT_EQ(server->logins().size(), 1u);
    EXPECT_EQ(server->logins()[0].userName, QStringLiteral("operador"));
    EXPECT_EQ(server->logins()[0].serverName, QLatin1StringView(c.serverName)) << typed.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, NotationTest,
                         ::testing::Values(NotationCase{"127.0.0.1,%1", "127.0.0.1"},
                                           NotationCase{"tcp:127.0.0.1,%1", "127.0.0.1"},
                                           NotationCase{"localhost,%1", "localhost"},
                                           NotationCase{"tcp:localhost,%1", "localhost"},
                                           NotationCase{"(local),%1", "localhost"},
                                           NotationCase{"tcp:(local),%1", "localhost"},
                                           NotationCase{".,%1", "localhost"},
                                           NotationCase{".\\KORVANE,%1", "localhost"},
                                           NotationCase{"::1,%1", "::1", true},
                                           NotationCase{"[::1],%1", "::1", true},
                                           NotationCase{"tcp:[::1],%1", "::1", true}));

} // namespace
