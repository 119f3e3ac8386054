// OpenConnection and the query rows through the real FreeTDS driver against the TDS test server.

#include "export/DatabaseConnection.h"
#include "export/ConnectionString.h"

#include "tests/export/ExportTestSupport.h"
#include "tests/export/QueryResultPeer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace korvane;
using namespace korvane::test;
using namespace std::chrono_literals;

namespace {

const QString kCatalog = QStringLiteral("nitgenacdbsql00");
const QString kQuery = QString::fromUtf16(kTerminalQuery);

struct Attempt {
    bool opened = false;
    qint32 number = -1;
    QString description = QStringLiteral("untouched");
};

Attempt Open(DatabaseConnection& connection, const QString& server, const QString& login, const QString& password,
             int timeout = 5, const QString& catalog = kCatalog)
{
    Attempt attempt;
    attempt.opened = OpenConnection(connection, server, catalog, login, password, timeout, attempt.number,
                                    attempt.description);
    return attempt;
}

TEST(OpenConnectionTest, OpensAndLeavesOutValuesUntouched)
{
    TdsTestServer server({});
    DatabaseConnection connection;
    EXPECT_FALSE(connection.isOpen());
    const Attempt attempt = Open(connection, server.serverText(), QStringLiteral("operador"), QStringLiteral("segredo"));
    ASSERT_TRUE(attempt.opened) << attempt.description;
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(attempt.number, -1);
    EXPECT_EQ(attempt.description, QStringLiteral("untouched"));

    ASSERT_EQ(server.logins().size(), 1u);
    const LoginRecord login = server.logins()[0];
    EXPECT_EQ(login.userName, QStringLiteral("operador"));
    EXPECT_EQ(login.password, QStringLiteral("segredo"));
    EXPECT_EQ(login.database, kCatalog);
    // "host,port" reaches FreeTDS as SERVER and PORT, so the login names the host alone.
    EXPECT_EQ(login.serverName, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(login.tdsVersion, 0x74000004u);

    connection.close();
    EXPECT_FALSE(connection.isOpen());
    EXPECT_TRUE(server.waitForConnectionsOpen(0, 5s));
}

TEST(OpenConnectionTest, HostAndPortTypedSeparatelyForFreeTdsWork)
{
    TdsTestServer server({});
    DatabaseConnection connection;
    const Attempt attempt = Open(connection, QStringLiteral("localhost,%1").arg(server.port()),
                                 QStringLiteral("operador"), QStringLiteral("segredo"));
    EXPECT_TRUE(attempt.opened) << attempt.description;
}

TEST(OpenConnectionTest, SecondOpenOnAnOpenConnectionIsRefused)
{
    TdsTestServer server({});
    DatabaseConnection connection;
    ASSERT_TRUE(Open(connection, server.serverText(), QStringLiteral("operador"), QStringLiteral("segredo")).opened);
    const Attempt again = Open(connection, server.serverText(), QStringLiteral("operador"), QStringLiteral("segredo"));
    EXPECT_FALSE(again.opened);
    EXPECT_EQ(again.number, 3705);
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

struct FailureCase {
    const char* name;
    ServerFault fault;
    QString login;
    QString password;
    QString catalog;
    qint32 number;
    QString text;   // a line the description must hold
};

class LoginFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LoginFailureTest, FailsWithDriverNumberAndText)
{
    const FailureCase& c = GetParam();
    ServerConfig config;
    config.fault = c.fault;
    TdsTestServer server(config);
    DatabaseConnection connection;
    const Attempt attempt = Open(connection, server.serverText(), c.login, c.password, 5, c.catalog);
    EXPECT_FALSE(attempt.opened);
    EXPECT_FALSE(connection.isOpen());
    EXPECT_EQ(attempt.number, c.number) << attempt.description;
    EXPECT_TRUE(attempt.description.split(u'\n').contains(c.text)) << attempt.description;
    EXPECT_FALSE(attempt.description.contains(c.password)) << attempt.description;
    EXPECT_TRUE(server.waitForConnectionsOpen(0, 5s));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoginFailureTest,
    ::testing::Values(
        FailureCase{"WrongPassword", ServerFault::None, "operador", "errada", "nitgenacdbsql00", 18456,
                    "[FreeTDS][SQL Server]Login failed for user 'operador'."},
        FailureCase{"WrongLogin", ServerFault::None, "intruso", "segredo", "nitgenacdbsql00", 18456,
                    "[FreeTDS][SQL Server]Login failed for user 'intruso'."},
        // SQL Server sends 4060 and then 18456; FreeTDS ranks its records by severity, so the
        // login failure (14) comes before the catalog's message (11).
        FailureCase{"MissingCatalog", ServerFault::None, "operador", "segredo", "outra", 18456,
                    "[FreeTDS][SQL Server]Cannot open database \"outra\" requested by the login. The login failed."},
        FailureCase{"ClosedBeforeAnswer", ServerFault::CloseBeforeLoginAck, "operador", "segredo", "nitgenacdbsql00",
                    20017, "[FreeTDS][SQL Server]Unexpected EOF from the server"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenConnectionTest, SilentServerFailsAfterTheTimeoutWithNumberZero)
{
    ServerConfig config;
    config.fault = ServerFault::SilentAfterAccept;
    TdsTestServer server(config);
    DatabaseConnection connection;
    QElapsedTimer clock;
    clock.start();
    const Attempt attempt = Open(connection, server.serverText(), QStringLiteral("operador"), QStringLiteral("segredo"),
                                 kShortTimeoutSeconds);
    const qint64 elapsed = clock.elapsed();
    EXPECT_FALSE(attempt.opened);
    EXPECT_EQ(attempt.number, 0) << attempt.description;
    EXPECT_TRUE(attempt.description.startsWith(QStringLiteral("[FreeTDS][SQL Server]Timeout expired"))) << attempt.description;
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 10'000);
}

TEST(OpenConnectionTest, NothingListeningFails)
{
    quint16 port = 0;
    {
        TdsTestServer gone({});
        port = gone.port();
    }
    DatabaseConnection connection;
    const Attempt attempt = Open(connection, QStringLiteral("127.0.0.1,%1").arg(port), QStringLiteral("operador"),
                                 QStringLiteral("segredo"), kShortTimeoutSeconds);
    EXPECT_FALSE(attempt.opened);
    EXPECT_NE(attempt.description, QStringLiteral("untouched"));
}

TEST(OpenConnectionTest, NegativeTimeoutIsRefusedBeforeConnecting)
{
    TdsTestServer server({});
    DatabaseConnection connection;
    const Attempt attempt = Open(connection, server.serverText(), QStringLiteral("operador"), QStringLiteral("segredo"), -1);
    EXPECT_FALSE(attempt.opened);
    EXPECT_EQ(attempt.number, 3001);
    EXPECT_EQ(server.connectionsAccepted(), 0);
}

struct Credentials {
    const char* name;
    QString login;
    QString password;
};

class CredentialsTest : public ::testing::TestWithParam<Credentials> {};

// The connection string cannot change meaning: whatever the fields hold reaches the server as
// typed, and the login succeeds because the server was told to expect exactly that.
TEST_P(CredentialsTest, ArriveExactlyAsTyped)
{
    ServerConfig config;
    config.login = GetParam().login;
    config.password = GetParam().password;
    TdsTestServer server(config);
    DatabaseConnection connection;
    const Attempt attempt = Open(connection, server.serverText(), GetParam().login, GetParam().password);
    EXPECT_TRUE(attempt.opened) << attempt.description;
    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].userName, GetParam().login);
    EXPECT_EQ(server.logins()[0].password, GetParam().password);
    EXPECT_EQ(server.logins()[0].database, kCatalog);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CredentialsTest,
    ::testing::Values(Credentials{"Semicolon", "op;DATABASE=master", "p;w"},
                      Credentials{"Equals", "a=b", "=x="},
                      Credentials{"Braces", "{op}", "}{"},
                      Credentials{"DoubledBraces", "op}}", "{{p}}}"},
                      Credentials{"ClosingBraceLast", "op}", "pw}"},
                      Credentials{"EverythingAtOnce", "a;b=c{d}e", ";={}"},
                      Credentials{"DriverKeywordsInside", "x;DRIVER={bogus}x;DSN=y", "z;UID=other;PWD=other"},
                      Credentials{"Blanks", "  op  ", " p w "},
                      Credentials{"NonAscii", "operação", "palavra-passe€😀"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CredentialsTest, ValueFreeTdsCannotCarryIsRefusedBeforeConnecting)
{
    for (const auto& [login, password] : {std::pair{QStringLiteral("op};x"), QStringLiteral("segredo")},
                                         std::pair{QStringLiteral("operador"), QStringLiteral("seg};redo")}}) {
        TdsTestServer server({});
        DatabaseConnection connection;
        const Attempt attempt = Open(connection, server.serverText(), login, password);
        EXPECT_FALSE(attempt.opened);
        EXPECT_EQ(attempt.number, kBadConnectionValue);
        EXPECT_FALSE(attempt.description.contains(QStringLiteral("seg};redo")));
        EXPECT_EQ(server.connectionsAccepted(), 0);
    }
}

class QueryTest : public ::testing::Test {
protected:
    void start(ServerConfig config)
    {
        server.emplace(std::move(config));
        const Attempt attempt =
            Open(connection, server->serverText(), QStringLiteral("operador"), QStringLiteral("segredo"));
        ASSERT_TRUE(attempt.opened) << attempt.description;
    }

    std::optional<TdsTestServer> server;
    DatabaseConnection connection;
};

// The two ways rows come from the driver: with Description nvarchar(max) one by one, value by
// value; with every column of a declared size, in blocks through bound buffers.
struct ReadPath {
    const char* name;
    int descriptionLength;   // ServerConfig::descriptionLength
    bool inBlocks;
};

void PrintTo(const ReadPath& path, std::ostream* out)
{
    *out << path.name;
}

const ReadPath kOneByOne{"OneByOne", 0, false};
const ReadPath kInBlocks{"InBlocks", 200, true};

std::string PathName(const ::testing::TestParamInfo<ReadPath>& info)
{
    return info.param.name;
}

class ReadPathTest : public QueryTest, public ::testing::WithParamInterface<ReadPath> {
protected:
    ServerConfig config() const
    {
        ServerConfig config;
        config.descriptionLength = GetParam().descriptionLength;
        return config;
    }

    // Rows per call into the driver for this path's columns, from a query on an empty table.
    std::size_t blockRows() const
    {
        TdsTestServer empty(config());
        DatabaseConnection probe;
        EXPECT_TRUE(Open(probe, empty.serverText(), QStringLiteral("operador"), QStringLiteral("segredo")).opened);
        return QueryResultPeer::blockRows(probe.execute(kQuery));
    }
};

FieldValue Expected(const std::optional<qint32>& value)
{
    return value ? FieldValue(qint64{*value}) : FieldValue{};
}

FieldValue Expected(const std::optional<QString>& value)
{
    return value ? FieldValue(*value) : FieldValue{};
}

FieldValue Expected(const std::optional<QByteArray>& value)
{
    return value ? FieldValue(*value) : FieldValue{};
}

// The current row holds exactly what the server sent for `row`.
void ExpectRow(const QueryResult& rows, const TerminalRow& row)
{
    SCOPED_TRACE(row.nodeId ? *row.nodeId : -1);
    EXPECT_EQ(rows.value(u"NodeId"), Expected(row.nodeId));
    EXPECT_EQ(rows.value(u"NodeName"), Expected(row.nodeName));
    EXPECT_EQ(rows.value(u"Description"), Expected(row.description));
    if (row.regDate) {
        const auto* date = std::get_if<QDateTime>(&rows.value(u"RegDate"));
        ASSERT_NE(date, nullptr);
        EXPECT_EQ(date->date(), row.regDate->date());
        EXPECT_EQ(date->time(), row.regDate->time());
    } else {
        EXPECT_TRUE(IsNull(rows.value(u"RegDate")));
    }
    EXPECT_EQ(rows.value(u"MacAddr"), Expected(row.macAddr));
    EXPECT_EQ(rows.value(u"Status"), row.status ? FieldValue(qint64{*row.status}) : FieldValue{});
}

TEST_P(ReadPathTest, TypedValuesByNameWithNullDistinctFromEmpty)
{
    ServerConfig config = this->config();
    config.rows = {Row(1, QStringLiteral("Entrada"), QStringLiteral("Porta principal"), At(2021, 7, 3, 14, 5, 9),
                       QByteArray::fromHex("000AFF"), 1),
                   Row(2, QString(), std::nullopt, std::nullopt, QByteArray(), std::nullopt),
                   Row(std::nullopt, std::nullopt, QString(), At(2009, 12, 31), std::nullopt, 255),
                   // A value after a NULL in the same column, and NULL after a value.
                   Row(4, QStringLiteral("Cais"), QStringLiteral("d"), At(2001, 2, 3, 4, 5, 6), QByteArray("\x01", 1), 0)};
    start(config);

    QueryResult rows = connection.execute(kQuery);
    EXPECT_EQ(QueryResultPeer::columnNames(rows),
              (QStringList{"NodeId", "NodeName", "Description", "RegDate", "MacAddr", "Status"}));
    EXPECT_EQ(QueryResultPeer::blockRows(rows) > 1, GetParam().inBlocks) << QueryResultPeer::blockRows(rows);

    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.value(u"NodeID"), FieldValue(qint64{1}));
    EXPECT_EQ(rows.value(u"nodename"), FieldValue(QStringLiteral("Entrada")));
    EXPECT_EQ(rows.value(u"DESCRIPTION"), FieldValue(QStringLiteral("Porta principal")));
    const auto* date = std::get_if<QDateTime>(&rows.value(u"RegDate"));
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(date->date(), QDate(2021, 7, 3));
    EXPECT_EQ(date->time(), QTime(14, 5, 9));
    EXPECT_EQ(rows.value(u"MacAddr"), FieldValue(QByteArray::fromHex("000AFF")));
    EXPECT_EQ(rows.value(u"Status"), FieldValue(qint64{1}));
    EXPECT_EQ(&rows.value(rows.columnIndex(u"macaddr")), &rows.value(u"MacAddr"));

    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.value(u"NodeName"), FieldValue(QString()));
    EXPECT_TRUE(IsNull(rows.value(u"Description")));
    EXPECT_TRUE(IsNull(rows.value(u"RegDate")));
    EXPECT_EQ(rows.value(u"MacAddr"), FieldValue(QByteArray()));
    EXPECT_TRUE(IsNull(rows.value(u"Status")));

    ASSERT_TRUE(rows.next());
    EXPECT_TRUE(IsNull(rows.value(u"NodeId")));
    EXPECT_TRUE(IsNull(rows.value(u"NodeName")));
    EXPECT_EQ(rows.value(u"Description"), FieldValue(QString()));
    EXPECT_TRUE(IsNull(rows.value(u"MacAddr")));
    EXPECT_EQ(rows.value(u"Status"), FieldValue(qint64{255}));
    EXPECT_THROW(rows.value(u"Nope"), OdbcError);
    EXPECT_THROW(rows.columnIndex(u"Nope"), OdbcError);
    EXPECT_THROW(rows.value(std::size_t{6}), OdbcError);

    ASSERT_TRUE(rows.next());
    ExpectRow(rows, config.rows[3]);

    EXPECT_FALSE(rows.next());
    EXPECT_THROW(rows.value(std::size_t{0}), OdbcError);
    EXPECT_THROW(rows.next(), OdbcError);
    EXPECT_EQ(server->queries().back(), kQuery);
}

// Block boundaries must neither drop nor repeat a row: counts on both sides of one and of two
// blocks, each row checked whole.
TEST_P(ReadPathTest, EveryRowArrivesOnceInOrderWhateverTheCount)
{
    const std::size_t block = blockRows();
    ASSERT_EQ(block > 1, GetParam().inBlocks) << block;
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, block - 1, block, block + 1, 2 * block,
                                    2 * block + 1, 3 * block + 7}) {
        SCOPED_TRACE(count);
        TdsTestServer rowsServer([&] {
            ServerConfig config = this->config();
            config.rows = generatedTerminalRows(static_cast<int>(count));
            return config;
        }());
        DatabaseConnection reader;
        ASSERT_TRUE(Open(reader, rowsServer.serverText(), QStringLiteral("operador"), QStringLiteral("segredo")).opened);
        const std::vector<TerminalRow> expected = generatedTerminalRows(static_cast<int>(count));
        QueryResult rows = reader.execute(kQuery);
        std::size_t seen = 0;
        while (rows.next()) {
            ASSERT_LT(seen, expected.size());
            ExpectRow(rows, expected[seen]);
            ++seen;
        }
        EXPECT_EQ(seen, count);
    }
}

TEST_P(ReadPathTest, ConnectionDroppedMidRowsFailsAfterTheRowsThatCame)
{
    // Dropped inside the second block, or after a few rows when they come one by one.
    const int closeAfter = static_cast<int>(blockRows()) + 3;
    ServerConfig config = this->config();
    config.fault = ServerFault::CloseMidRows;
    config.closeAfterRows = closeAfter;
    config.rows = generatedTerminalRows(3 * closeAfter);
    start(config);
    int seen = 0;
    try {
        QueryResult rows = connection.execute(kQuery);
        while (rows.next()) {
            ExpectRow(rows, config.rows[static_cast<std::size_t>(seen)]);
            ++seen;
        }
        FAIL() << "the drop went unnoticed";
    } catch (const OdbcError& error) {
        EXPECT_EQ(error.number(), 20017) << error.description();
        EXPECT_TRUE(error.description().contains(QStringLiteral("Unexpected EOF from the server")));
    }
    EXPECT_LE(seen, closeAfter);
    connection.close();
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
}

INSTANTIATE_TEST_SUITE_P(Paths, ReadPathTest, ::testing::Values(kOneByOne, kInBlocks), PathName);

// Each value is read into the storage of the value before it in its column, grown as needed:
// lengths on both sides of the first read's room (64 units) and far beyond it, after longer
// and shorter ones, after NULL and empty.
TEST_F(QueryTest, ValuesOfChangingLengthArriveWholeRowAfterRow)
{
    const auto text = [](int units) {
        QString value;
        for (int i = 0; value.size() < units; ++i)
            value += i % 7 == 0 ? QStringLiteral("\U0001F600") : QString(QChar(u'a' + i % 26));
        return value.left(units);   // may end in half a pair; the server sends it as it is
    };
    const auto bytes = [](int count) {
        QByteArray value;
        for (int i = 0; i < count; ++i)
            value.append(static_cast<char>(255 - i));
        return value;
    };
    ServerConfig config;
    int id = 0;
    for (const int units : {0, 1, 63, 64, 65, 200'000, 10, -1, 128, 700'000, 0, 127, 129}) {
        const int macBytes = units < 0 ? 0 : units % 51;
        config.rows.push_back(Row(++id, units < 0 ? std::optional<QString>() : text(std::min(units, 50)),
                                  units < 0 ? std::optional<QString>() : text(units), std::nullopt,
                                  units < 0 ? std::optional<QByteArray>() : bytes(macBytes), 0));
    }
    start(config);
    QueryResult rows = connection.execute(kQuery);
    ASSERT_EQ(QueryResultPeer::blockRows(rows), 1u);
    for (const TerminalRow& row : config.rows) {
        ASSERT_TRUE(rows.next());
        ExpectRow(rows, row);
    }
    EXPECT_FALSE(rows.next());
}

// In blocks, every value has a buffer of its column's declared size: values that fill it to the
// last unit (a character outside the BMP counts two) or byte come back whole, in every block.
TEST_F(QueryTest, ValuesFillingTheirDeclaredSizeArriveWholeInBlocks)
{
    constexpr int kDescriptionUnits = 4000;   // the longest nvarchar below (max)
    const auto fill = [](int units, const QString& pattern) {
        QString value;
        while (value.size() + pattern.size() <= units)
            value += pattern;
        return value + QString(units - value.size(), u'z');
    };
    ServerConfig config;
    config.descriptionLength = kDescriptionUnits;
    for (int id = 1; id <= 100; ++id) {
        if (id % 3 == 0) {
            config.rows.push_back(Row(id, QString(), QString(), std::nullopt, QByteArray(), 1));
        } else if (id % 3 == 1) {
            config.rows.push_back(Row(id, fill(50, QStringLiteral("ção\U0001F600<&>")),
                                      fill(kDescriptionUnits, QStringLiteral("\U0001F600 linha %1\r\n").arg(id)),
                                      At(2020, 1, 1 + id % 28, 23, 59, 59), QByteArray(50, static_cast<char>(id)), 0));
        } else {
            config.rows.push_back(Row(id, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt));
        }
    }
    start(config);
    QueryResult rows = connection.execute(kQuery);
    ASSERT_GT(QueryResultPeer::blockRows(rows), 1u);
    ASSERT_LT(QueryResultPeer::blockRows(rows), config.rows.size()) << "the rows must take more than one block";
    for (const TerminalRow& row : config.rows) {
        ASSERT_TRUE(rows.next());
        ExpectRow(rows, row);
    }
    EXPECT_FALSE(rows.next());
}

TEST_F(QueryTest, LongValuesArriveWhole)
{
    QString description;
    for (int i = 0; description.size() < 512 * 1024; ++i)
        description += QStringLiteral("linha %1 ção €\n").arg(i);   // 1 MiB and more in UTF-16
    ServerConfig config;
    config.rows = {Row(1, QString(50, u'n'), description, std::nullopt, QByteArray(50, '\xAB'), 0)};
    start(config);
    QueryResult rows = connection.execute(kQuery);
    ASSERT_TRUE(rows.next());
    const auto* text = std::get_if<QString>(&rows.value(u"Description"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->size(), description.size());
    EXPECT_TRUE(*text == description);
    EXPECT_EQ(rows.value(u"NodeName"), FieldValue(QString(50, u'n')));
    EXPECT_EQ(rows.value(u"MacAddr"), FieldValue(QByteArray(50, '\xAB')));
}

TEST_F(QueryTest, EmptyTableHasNoRows)
{
    start({});
    QueryResult rows = connection.execute(kQuery);
    EXPECT_FALSE(rows.next());
}

TEST_F(QueryTest, TextMacAddrArrivesAsText)
{
    ServerConfig config;
    config.macAddrAsText = true;
    config.rows = {Row(1, QStringLiteral("n"), QStringLiteral("d"), std::nullopt, QByteArray("00:0A:FF"), 0)};
    start(config);
    QueryResult rows = connection.execute(kQuery);
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.value(u"MacAddr"), FieldValue(QStringLiteral("00:0A:FF")));
}

struct QueryFailureCase {
    const char* name;
    ServerFault fault;
    qint32 number;
};

class QueryFailureTest : public QueryTest, public ::testing::WithParamInterface<QueryFailureCase> {};

TEST_P(QueryFailureTest, ServerErrorBecomesOdbcError)
{
    ServerConfig config;
    config.fault = GetParam().fault;
    config.rows = {Row(1, QStringLiteral("n"), QStringLiteral("d"), std::nullopt, std::nullopt, 0)};
    start(config);
    try {
        QueryResult rows = connection.execute(kQuery);
        while (rows.next()) {
        }
        FAIL() << "no error";
    } catch (const OdbcError& error) {
        EXPECT_EQ(error.number(), GetParam().number) << error.description();
    }
    connection.close();
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
}

INSTANTIATE_TEST_SUITE_P(Cases, QueryFailureTest,
                         ::testing::Values(QueryFailureCase{"UnknownTable", ServerFault::UnknownTable, 208},
                                           QueryFailureCase{"PermissionDenied", ServerFault::QueryError, 229}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QueryTest, ClosingTheConnectionEndsItsResult)
{
    ServerConfig config;
    config.rows = {Row(1, QStringLiteral("n"), QStringLiteral("d"), std::nullopt, std::nullopt, 0),
                   Row(2, QStringLiteral("n"), QStringLiteral("d"), std::nullopt, std::nullopt, 0)};
    start(config);
    QueryResult rows = connection.execute(kQuery);
    ASSERT_TRUE(rows.next());
    connection.close();
    EXPECT_THROW(rows.next(), OdbcError);
    EXPECT_TRUE(server->waitForConnectionsOpen(0, 5s));
}

} // namespace
