// The TDS test server through the real FreeTDS ODBC driver (plain ODBC calls) and FreeTDS's bsqldb.

#include "tests/support/TdsProtocol.h"
#include "tests/support/TdsTestServer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

using namespace korvane::test;
using namespace std::chrono_literals;

namespace {

// ---- a few plain ODBC calls, wide throughout so every text reaches the driver as UTF-16 ----

std::u16string wide(const QString& text)
{
    return text.toStdU16String();
}

const SQLWCHAR* sqlText(const std::u16string& text)
{
    return reinterpret_cast<const SQLWCHAR*>(text.c_str());
}

struct Diagnostic {
    QString state;
    SQLINTEGER native = 0;
    QString text;
};

std::vector<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diagnostic> out;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[1024] = {};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, record, state, &native, text, 1024, &length)))
            break;
        out.push_back({QString::fromUtf16(reinterpret_cast<const char16_t*>(state)), native,
                       QString::fromUtf16(reinterpret_cast<const char16_t*>(text))});
    }
    return out;
}

std::string describe(const std::vector<Diagnostic>& records)
{
    QString all;
    for (const auto& d : records)
        all += QStringLiteral("[%1] %2 %3\n").arg(d.state).arg(d.native).arg(d.text);
    return all.toStdString();
}

QString connectionString(quint16 port, const QString& login, const QString& password,
                         const QString& database = QStringLiteral("nitgenacdbsql00"), const QString& extra = {})
{
    return QStringLiteral("DRIVER={%1};SERVER=127.0.0.1;PORT=%2;DATABASE=%3;UID=%4;PWD={%5};TDS_Version=7.4;%6")
        .arg(QStringLiteral(KORVANE_ODBC_DRIVER))
        .arg(port)
        .arg(database, login, password, extra);
}

class Odbc {
public:
    static constexpr SQLULEN kTimeoutSeconds = 30;

    Odbc()
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        // A server that stops answering fails the test instead of holding it for ever.
        setConnectAttribute(SQL_ATTR_LOGIN_TIMEOUT, kTimeoutSeconds);
    }
    ~Odbc()
    {
        if (m_stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        if (m_connected)
            SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    Odbc(const Odbc&) = delete;
    Odbc& operator=(const Odbc&) = delete;

    void setConnectAttribute(SQLINTEGER attribute, SQLULEN value)
    {
        SQLSetConnectAttrW(m_dbc, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
    }

    SQLRETURN connect(const QString& text)
    {
        const auto string = wide(text);
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        const SQLRETURN rc = SQLDriverConnectW(m_dbc, nullptr, const_cast<SQLWCHAR*>(sqlText(string)), SQL_NTS, out,
                                               1024, &outLength, SQL_DRIVER_NOPROMPT);
        m_connected = SQL_SUCCEEDED(rc);
        return rc;
    }

    void disconnect()
    {
        if (m_stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, std::exchange(m_stmt, nullptr));
        if (std::exchange(m_connected, false))
            SQLDisconnect(m_dbc);
    }

    SQLRETURN execute(const QString& query, SQLULEN queryTimeout = kTimeoutSeconds)
    {
        if (!m_stmt)
            SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &m_stmt);
        SQLFreeStmt(m_stmt, SQL_CLOSE);
        SQLSetStmtAttrW(m_stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(queryTimeout), 0);
        const auto text = wide(query);
        return SQLExecDirectW(m_stmt, const_cast<SQLWCHAR*>(sqlText(text)), SQL_NTS);
    }

    SQLHSTMT statement() const { return m_stmt; }
    std::vector<Diagnostic> connectionDiagnostics() const { return diagnostics(SQL_HANDLE_DBC, m_dbc); }
    std::vector<Diagnostic> statementDiagnostics() const { return diagnostics(SQL_HANDLE_STMT, m_stmt); }

private:
    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
    bool m_connected = false;
};

// A round trip that shows the connection is still in step with the server.
void expectConnectionInStep(Odbc& odbc)
{
    ASSERT_EQ(odbc.execute(QStringLiteral("select @@spid")), SQL_SUCCESS) << describe(odbc.statementDiagnostics());
    ASSERT_EQ(SQLFetch(odbc.statement()), SQL_SUCCESS);
    SQLINTEGER spid = 0;
    SQLLEN indicator = 0;
    ASSERT_EQ(SQLGetData(odbc.statement(), 1, SQL_C_SLONG, &spid, sizeof spid, &indicator), SQL_SUCCESS);
    EXPECT_GT(spid, 0);
    EXPECT_EQ(SQLFetch(odbc.statement()), SQL_NO_DATA);
}

// Typed reads of the current row, NULL kept apart from empty. Long texts come in several SQLGetData calls.
std::optional<QString> getText(SQLHSTMT stmt, SQLUSMALLINT column)
{
    QString text;
    std::vector<SQLWCHAR> chunk(8192);
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, chunk.data(),
                                        static_cast<SQLLEN>(chunk.size() * sizeof(SQLWCHAR)), &indicator);
        if (rc == SQL_NO_DATA)
            return text;
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << describe(diagnostics(SQL_HANDLE_STMT, stmt));
        if (!SQL_SUCCEEDED(rc))
            return std::nullopt;
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const auto available = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) >= chunk.size() * 2
            ? chunk.size() - 1
            : static_cast<std::size_t>(indicator) / 2;
        // Raw code units: a surrogate pair may straddle two pieces.
        text += QString(reinterpret_cast<const QChar*>(chunk.data()), static_cast<qsizetype>(available));
        if (rc == SQL_SUCCESS)
            return text;
    }
}

std::optional<QByteArray> getBinary(SQLHSTMT stmt, SQLUSMALLINT column)
{
    char buffer[256];
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_BINARY, buffer, sizeof buffer, &indicator);
    EXPECT_EQ(rc, SQL_SUCCESS) << describe(diagnostics(SQL_HANDLE_STMT, stmt));
    if (indicator == SQL_NULL_DATA)
        return std::nullopt;
    return QByteArray(buffer, static_cast<qsizetype>(indicator));
}

std::optional<qint64> getInteger(SQLHSTMT stmt, SQLUSMALLINT column)
{
    SQLBIGINT value = 0;
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_SBIGINT, &value, sizeof value, &indicator);
    EXPECT_EQ(rc, SQL_SUCCESS) << describe(diagnostics(SQL_HANDLE_STMT, stmt));
    if (indicator == SQL_NULL_DATA)
        return std::nullopt;
    return value;
}

std::optional<QDateTime> getDateTime(SQLHSTMT stmt, SQLUSMALLINT column)
{
    SQL_TIMESTAMP_STRUCT value{};
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator);
    EXPECT_EQ(rc, SQL_SUCCESS) << describe(diagnostics(SQL_HANDLE_STMT, stmt));
    if (indicator == SQL_NULL_DATA)
        return std::nullopt;
    return QDateTime(QDate(value.year, value.month, value.day),
                     QTime(value.hour, value.minute, value.second, static_cast<int>(value.fraction / 1000000)));
}

// What came back, in the server's row type so a whole row compares at once.
TerminalRow fetchRow(SQLHSTMT stmt, bool macAddrAsText = false)
{
    TerminalRow row;
    if (auto id = getInteger(stmt, 1))
        row.nodeId = static_cast<qint32>(*id);
    row.nodeName = getText(stmt, 2);
    row.description = getText(stmt, 3);
    row.regDate = getDateTime(stmt, 4);
    if (macAddrAsText) {
        if (auto text = getText(stmt, 5))
            row.macAddr = text->toUtf8();
    } else {
        row.macAddr = getBinary(stmt, 5);
    }
    if (auto status = getInteger(stmt, 6))
        row.status = static_cast<quint8>(*status);
    return row;
}

std::vector<TerminalRow> fetchAll(SQLHSTMT stmt, bool macAddrAsText = false)
{
    std::vector<TerminalRow> rows;
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(stmt)))
        rows.push_back(fetchRow(stmt, macAddrAsText));
    EXPECT_EQ(rc, SQL_NO_DATA) << describe(diagnostics(SQL_HANDLE_STMT, stmt));
    return rows;
}

void expectSameRow(const TerminalRow& got, const TerminalRow& sent, std::size_t index)
{
    SCOPED_TRACE("row " + std::to_string(index));
    EXPECT_EQ(got.nodeId, sent.nodeId);
    EXPECT_EQ(got.nodeName, sent.nodeName);
    EXPECT_EQ(got.description, sent.description);
    EXPECT_EQ(got.regDate, sent.regDate);
    EXPECT_EQ(got.macAddr, sent.macAddr);
    EXPECT_EQ(got.status, sent.status);
}

QByteArray bytes(std::initializer_list<unsigned char> list)
{
    QByteArray out;
    for (auto b : list)
        out.append(static_cast<char>(b));
    return out;
}

const QString kQuery = QString::fromUtf16(kTerminalQuery);

// Rows that cover each type's edges: NULL in every column, empty text and bytes, text outside Latin-1 and
// outside the BMP, midnight, the 1/300 s clock, Status 0 and 255, the extreme integers.
std::vector<TerminalRow> edgeRows()
{
    return {
        {1, QStringLiteral("Entrada Principal"), QStringLiteral("Portaria <sede> & \"anexo\""),
         QDateTime(QDate(2021, 3, 15), QTime(8, 30, 0)), bytes({0x00, 0x0A, 0xFF}), 1},
        {2, QString(), QString(), QDateTime(QDate(2021, 3, 15), QTime(0, 0)), QByteArray(), 0},
        {3, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {std::nullopt, QStringLiteral("Sem número"), QStringLiteral("—"), std::nullopt, bytes({0xFF}), 255},
        {2147483647, QString(50, QChar(u'Ç')), QString::fromUtf16(u"Ótico \U0001F512 linha\r\nsegunda"),
         QDateTime(QDate(1900, 1, 1), QTime(23, 59, 59, 990)), QByteArray(50, '\x7F'), 255},
        {-2147483647 - 1, QStringLiteral("x"), QStringLiteral("y"), QDateTime(QDate(9999, 12, 31), QTime(12, 0, 0, 10)),
         bytes({0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01}), 7},
    };
}

} // namespace

// ---- successful runs ----

// PRELOGIN's ENCRYPTION option, read from what FreeTDS 1.3 sends (captured from its log) and
// from our own answers.
TEST(TdsProtocol, PreLoginEncryptionIsReadFromEitherSide)
{
    tds::Bytes freeTds = {0x00, 0x00, 0x1a, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x21, 0x00,
                          0x0c, 0x03, 0x00, 0x2d, 0x00, 0x04, 0x04, 0x00, 0x31, 0x00, 0x01, 0xff, 0x09, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x00, 'M',  'S',  'S',  'Q',  'L',  'S',  'e',  'r',  'v',
                          'e',  'r',  0x00, 0x63, 0x4b, 0x00, 0x00, 0x00};
    EXPECT_EQ(tds::decodePreLoginEncryption(freeTds), tds::Encryption::Off);   // Encryption=request
    freeTds[0x20] = 0x01;
    EXPECT_EQ(tds::decodePreLoginEncryption(freeTds), tds::Encryption::On);    // Encryption=require

    for (const auto answer : {tds::Encryption::Off, tds::Encryption::On, tds::Encryption::NotSupported,
                              tds::Encryption::Required})
        EXPECT_EQ(tds::decodePreLoginEncryption(tds::preLoginResponse(answer)), answer);
    EXPECT_EQ(tds::decodePreLoginEncryption(tds::Bytes{0xff}), tds::Encryption::NotSupported);
    EXPECT_THROW(tds::decodePreLoginEncryption(tds::Bytes{0x01, 0x00, 0x40, 0x00, 0x01, 0xff}), tds::ProtocolError);
    EXPECT_THROW(tds::decodePreLoginEncryption(tds::Bytes{0x01, 0x00}), tds::ProtocolError);
}

TEST(TdsTestServer, ServesTheTerminalQueryWithEveryTypeAndNullThroughTheDriver)
{
    ServerConfig config;
    config.rows = edgeRows();
    TdsTestServer server(config);
    Odbc odbc;
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo"))))
        << describe(odbc.connectionDiagnostics());
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.execute(kQuery))) << describe(odbc.statementDiagnostics());

    struct Expected {
        const char16_t* name;
        SQLSMALLINT type;
    };
    const Expected columns[] = {{u"NodeId", SQL_INTEGER},         {u"NodeName", SQL_WVARCHAR},
                                {u"Description", SQL_WVARCHAR}, {u"RegDate", SQL_TYPE_TIMESTAMP},
                                {u"MacAddr", SQL_VARBINARY},      {u"Status", SQL_TINYINT}};
    SQLSMALLINT count = 0;
    ASSERT_EQ(SQLNumResultCols(odbc.statement(), &count), SQL_SUCCESS);
    ASSERT_EQ(count, 6);
    for (SQLUSMALLINT i = 0; i < 6; ++i) {
        SQLWCHAR name[64] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLDescribeColW(odbc.statement(), i + 1, name, 64, &nameLength, &type, &size,
                                                  &digits, &nullable)));
        EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(name)), QString::fromUtf16(columns[i].name));
        EXPECT_EQ(type, columns[i].type) << "column " << i + 1;
        EXPECT_EQ(nullable, SQL_NULLABLE) << "column " << i + 1;
    }

    const auto rows = fetchAll(odbc.statement());
    ASSERT_EQ(rows.size(), config.rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        expectSameRow(rows[i], config.rows[i], i);

    EXPECT_EQ(server.queries(), std::vector<QString>{kQuery});
    const auto logins = server.logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].userName, "operador");
    EXPECT_EQ(logins[0].password, "segredo");
    EXPECT_EQ(logins[0].database, "nitgenacdbsql00");
    EXPECT_EQ(logins[0].serverName, "127.0.0.1");
    EXPECT_EQ(logins[0].tdsVersion, 0x74000004u);
    EXPECT_FALSE(logins[0].hostName.isEmpty());

    EXPECT_EQ(server.connectionsOpen(), 1);
    odbc.disconnect();
    EXPECT_TRUE(server.waitForConnectionsOpen(0, 5s));
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

TEST(TdsTestServer, MacAddrCanBeTypedAsText)
{
    ServerConfig config;
    config.macAddrAsText = true;
    config.rows = {{1, QStringLiteral("A"), QStringLiteral("B"), std::nullopt, QByteArray("00:0A:FF"), 1},
                   {2, QStringLiteral("C"), QStringLiteral("D"), std::nullopt, std::nullopt, 1}};
    TdsTestServer server(config);
    Odbc odbc;
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo"))));
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.execute(kQuery))) << describe(odbc.statementDiagnostics());

    SQLLEN type = 0;
    SQLColAttributeW(odbc.statement(), 5, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type);
    EXPECT_EQ(type, SQL_WVARCHAR);
    const auto rows = fetchAll(odbc.statement(), true);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].macAddr, QByteArray("00:0A:FF"));
    EXPECT_EQ(rows[1].macAddr, std::nullopt);
}

TEST(TdsTestServer, EmptyTableGivesColumnsAndNoRows)
{
    TdsTestServer server(ServerConfig{});
    Odbc odbc;
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo"))));
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.execute(kQuery))) << describe(odbc.statementDiagnostics());
    SQLSMALLINT count = 0;
    SQLNumResultCols(odbc.statement(), &count);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(SQLFetch(odbc.statement()), SQL_NO_DATA);
}

TEST(TdsTestServer, CredentialsArriveExactlyAsTyped)
{
    // Braces, ";" and "=" travel inside a braced ODBC value; the rest checks LOGIN7's UTF-16 and the password's
    // scrambling in both nibbles of every byte.
    const QString login = QString::fromUtf16(u"João;=x{");
    const QString password = QString::fromUtf16(u"p;a=s{s€\U0001F511");
    ServerConfig config;
    config.login = login;
    config.password = password;
    TdsTestServer server(config);
    Odbc odbc;
    const QString text = QStringLiteral("DRIVER={%1};SERVER=127.0.0.1;PORT=%2;DATABASE=nitgenacdbsql00;UID={%3};"
                                        "PWD={%4};TDS_Version=7.4;")
                             .arg(QStringLiteral(KORVANE_ODBC_DRIVER))
                             .arg(server.port())
                             .arg(login, password);
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(text))) << describe(odbc.connectionDiagnostics());
    const auto logins = server.logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].userName, login);
    EXPECT_EQ(logins[0].password, password);
}

TEST(TdsTestServer, RefusesRowsThatDoNotFitTheirColumns)
{
    const auto withRow = [](TerminalRow row, int descriptionLength = 0) {
        ServerConfig config;
        config.rows = {std::move(row)};
        config.descriptionLength = descriptionLength;
        return config;
    };
    EXPECT_THROW(TdsTestServer(withRow({1, QString(51, u'x'), {}, {}, {}, {}})), std::invalid_argument);
    EXPECT_THROW(TdsTestServer(withRow({1, {}, {}, {}, QByteArray(51, 'x'), {}})), std::invalid_argument);
    EXPECT_THROW(TdsTestServer(withRow({1, {}, QString(201, u'x'), {}, {}, {}}, 200)), std::invalid_argument);
    EXPECT_NO_THROW(TdsTestServer(withRow({1, QString(50, u'x'), QString(200, u'x'), {}, QByteArray(50, 'x'), {}}, 200)));
}

// ---- refusals ----

struct LoginCase {
    const char* name;
    QString login;
    QString password;
    QString database;
    std::vector<SQLINTEGER> natives;     // non-zero native numbers in the driver's order
    QStringList texts;
};

class LoginRefused : public testing::TestWithParam<LoginCase> {};

TEST_P(LoginRefused, ReportsSqlServersNumbersAndTexts)
{
    const auto& c = GetParam();
    TdsTestServer server(ServerConfig{});
    Odbc odbc;
    ASSERT_EQ(odbc.connect(connectionString(server.port(), c.login, c.password, c.database)), SQL_ERROR);
    const auto records = odbc.connectionDiagnostics();
    // FreeTDS ranks the records by severity, so 18456 (class 14) comes before 4060 (class 11) although the
    // server sends 4060 first; then its own 08001 "Unable to connect to data source" with native 0.
    std::vector<SQLINTEGER> natives;
    QStringList texts;
    for (const auto& record : records) {
        if (record.native != 0)
            natives.push_back(record.native);
        texts << record.text;
    }
    EXPECT_EQ(natives, c.natives) << describe(records);
    for (const auto& text : c.texts)
        EXPECT_TRUE(texts.contains(QStringLiteral("[FreeTDS][SQL Server]") + text)) << describe(records);

    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].password, c.password);
    EXPECT_TRUE(server.waitForConnectionsOpen(0, 5s)) << "the driver should drop a refused connection";
}

INSTANTIATE_TEST_SUITE_P(
    TdsTestServer, LoginRefused,
    testing::Values(
        LoginCase{"WrongPassword", "operador", "errada", "nitgenacdbsql00", {18456},
                  {"Login failed for user 'operador'."}},
        LoginCase{"UnknownLogin", "intruso", "segredo", "nitgenacdbsql00", {18456},
                  {"Login failed for user 'intruso'."}},
        LoginCase{"PasswordCaseMatters", "operador", "SEGREDO", "nitgenacdbsql00", {18456},
                  {"Login failed for user 'operador'."}},
        LoginCase{"MissingCatalog", "operador", "segredo", "outrabase", {18456, 4060},
                  {"Login failed for user 'operador'.",
                   "Cannot open database \"outrabase\" requested by the login. The login failed."}}),
    [](const auto& info) { return std::string(info.param.name); });

struct QueryCase {
    const char* name;
    ServerFault fault;
    QString query;
    SQLINTEGER native;
    QString text;
};

class QueryRefused : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryRefused, FailsTheExecuteWithTheServersError)
{
    const auto& c = GetParam();
    ServerConfig config;
    config.fault = c.fault;
    config.rows = edgeRows();
    TdsTestServer server(config);
    Odbc odbc;
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo"))));
    ASSERT_EQ(odbc.execute(c.query), SQL_ERROR);
    const auto records = odbc.statementDiagnostics();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().native, c.native) << describe(records);
    EXPECT_TRUE(records.front().text.endsWith(c.text)) << describe(records);
    expectConnectionInStep(odbc);
}

INSTANTIATE_TEST_SUITE_P(
    TdsTestServer, QueryRefused,
    testing::Values(
        QueryCase{"UnknownTable", ServerFault::UnknownTable, kQuery, 208, "Invalid object name 'NGAC_Terminal'."},
        QueryCase{"PermissionDenied", ServerFault::QueryError, kQuery, 229,
                  "The SELECT permission was denied on the object 'NGAC_Terminal', database 'nitgenacdbsql00', "
                  "schema 'dbo'."},
        QueryCase{"OtherTable", ServerFault::None, "select NodeId from NGAC_Outra", 208,
                  "Invalid object name 'NGAC_Outra'."},
        QueryCase{"TerminalQueryWithOneBlank", ServerFault::None,
                  "Select NodeId, NodeName, Description, RegDate, MacAddr, Status from NGAC_Terminal Order By NodeID",
                  50000, "Order By NodeID"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- faults ----

TEST(TdsTestServer, SilentServerFailsTheLoginAtTheLoginTimeout)
{
    ServerConfig config;
    config.fault = ServerFault::SilentAfterAccept;
    TdsTestServer server(config);
    Odbc odbc;
    odbc.setConnectAttribute(SQL_ATTR_LOGIN_TIMEOUT, 1);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(odbc.connect(connectionString(server.port(), "operador", "segredo")), SQL_ERROR);
    // Generous bound: it guards against a hang, not the driver's precision.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    const auto records = odbc.connectionDiagnostics();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().state, "HYT00") << describe(records);
    EXPECT_EQ(server.connectionsAccepted(), 1);
    EXPECT_TRUE(server.logins().empty());
    EXPECT_TRUE(server.waitForConnectionsOpen(0, 5s));
}

TEST(TdsTestServer, CloseBeforeLoginAckFailsTheConnectAfterRecordingTheLogin)
{
    ServerConfig config;
    config.fault = ServerFault::CloseBeforeLoginAck;
    TdsTestServer server(config);
    Odbc odbc;
    EXPECT_EQ(odbc.connect(connectionString(server.port(), "operador", "segredo")), SQL_ERROR);
    EXPECT_FALSE(odbc.connectionDiagnostics().empty());
    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].userName, "operador");
}

TEST(TdsTestServer, CloseMidRowsDeliversTheRowsSentThenFailsTheFetch)
{
    for (const int closeAfter : {0, 3}) {
        SCOPED_TRACE("closeAfterRows " + std::to_string(closeAfter));
        ServerConfig config;
        config.fault = ServerFault::CloseMidRows;
        config.closeAfterRows = closeAfter;
        config.rows = generatedTerminalRows(10);
        TdsTestServer server(config);
        Odbc odbc;
        ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo"))));
        SQLRETURN rc = odbc.execute(kQuery);
        int fetched = 0;
        while (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(rc = SQLFetch(odbc.statement()))) {
            EXPECT_EQ(fetchRow(odbc.statement()).nodeId, config.rows[static_cast<std::size_t>(fetched)].nodeId);
            ++fetched;
        }
        EXPECT_EQ(rc, SQL_ERROR) << "a dropped connection must not look like the end of the rows";
        EXPECT_EQ(fetched, closeAfter);
        EXPECT_FALSE(odbc.statementDiagnostics().empty());
    }
}

TEST(TdsTestServer, QueryTimeoutCancelsWithAttentionAndTheConnectionStaysUsable)
{
    ServerConfig config;
    config.answerDelay = 1500ms;
    config.rows = edgeRows();
    TdsTestServer server(config);
    Odbc odbc;
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo"))));
    ASSERT_EQ(odbc.execute(kQuery, 1), SQL_ERROR);
    const auto records = odbc.statementDiagnostics();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().state, "HYT00") << describe(records);
    // Only a server that answered the attention leaves the driver able to go on.
    expectConnectionInStep(odbc);
}

// ---- volume ----

TEST(TdsTestServer, LargeDescriptionArrivesWhole)
{
    QString description;
    description.reserve(1 << 20);
    while (description.size() < (1 << 20))
        description += QString::fromUtf16(u"Descrição longa \u20AC ");
    description.truncate(1 << 20);
    ServerConfig config;
    config.rows = {{1, QStringLiteral("Grande"), description, std::nullopt, std::nullopt, 1},
                   {2, QStringLiteral("Depois"), QStringLiteral("curta"), std::nullopt, std::nullopt, 1}};
    TdsTestServer server(config);
    Odbc odbc;
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo"))));
    ASSERT_TRUE(SQL_SUCCEEDED(odbc.execute(kQuery))) << describe(odbc.statementDiagnostics());
    const auto rows = fetchAll(odbc.statement());
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_TRUE(rows[0].description.has_value());
    EXPECT_EQ(rows[0].description->size(), description.size());
    EXPECT_TRUE(*rows[0].description == description);
    EXPECT_EQ(rows[1].description, QStringLiteral("curta"));
}

TEST(TdsTestServer, ManyRowsStreamAcrossPacketsOfTheNegotiatedSize)
{
    struct Case {
        const char* name;
        int clientAsks;     // 0: the driver's default
        int serverImposes;  // 0: the server takes what the client asks
    };
    for (const auto& c : {Case{"driver default", 0, 0}, Case{"client asks 8192", 8192, 0},
                          Case{"server imposes 512", 0, 512}}) {
        SCOPED_TRACE(c.name);
        ServerConfig config;
        config.rows = generatedTerminalRows(20000);
        config.packetSize = c.serverImposes;
        TdsTestServer server(config);
        Odbc odbc;
        const QString extra = c.clientAsks != 0 ? QStringLiteral("PacketSize=%1;").arg(c.clientAsks) : QString();
        ASSERT_TRUE(SQL_SUCCEEDED(odbc.connect(
            connectionString(server.port(), "operador", "segredo", "nitgenacdbsql00", extra))));
        if (c.clientAsks != 0) {
            EXPECT_EQ(server.logins().at(0).packetSize, static_cast<quint32>(c.clientAsks));
        }
        ASSERT_TRUE(SQL_SUCCEEDED(odbc.execute(kQuery))) << describe(odbc.statementDiagnostics());
        const auto rows = fetchAll(odbc.statement());
        ASSERT_EQ(rows.size(), config.rows.size());
        for (std::size_t i = 0; i < rows.size(); i += 997)
            expectSameRow(rows[i], config.rows[i], i);
        expectSameRow(rows.back(), config.rows.back(), rows.size() - 1);
        expectConnectionInStep(odbc);
    }
}

TEST(TdsTestServer, ServesSeveralClientsAtOnce)
{
    ServerConfig config;
    config.rows = generatedTerminalRows(300);
    TdsTestServer server(config);
    std::vector<std::thread> clients;
    std::vector<std::size_t> counts(4);
    for (std::size_t i = 0; i < counts.size(); ++i)
        clients.emplace_back([&, i] {
            Odbc odbc;
            if (!SQL_SUCCEEDED(odbc.connect(connectionString(server.port(), "operador", "segredo")))
                || !SQL_SUCCEEDED(odbc.execute(kQuery)))
                return;
            // Node ids only: each client must see its own complete, ordered stream.
            SQLINTEGER id = 0;
            SQLLEN indicator = 0;
            while (SQLFetch(odbc.statement()) == SQL_SUCCESS
                   && SQL_SUCCEEDED(SQLGetData(odbc.statement(), 1, SQL_C_SLONG, &id, sizeof id, &indicator))
                   && id == static_cast<SQLINTEGER>(counts[i] + 1))
                ++counts[i];
        });
    for (auto& client : clients)
        client.join();
    for (const auto count : counts)
        EXPECT_EQ(count, 300u);
    EXPECT_EQ(server.logins().size(), 4u);
    EXPECT_TRUE(server.waitForConnectionsOpen(0, 5s));
}

// ---- FreeTDS's own command-line client ----

TEST(TdsTestServer, BsqldbRunsTheTerminalQuery)
{
    const QString bsqldb = QStringLiteral(KORVANE_BSQLDB);
    if (bsqldb.isEmpty())
        GTEST_SKIP() << "bsqldb (freetds-bin) is not installed";

    ServerConfig config;
    config.descriptionLength = 200;   // DB-Library tools print (max) columns as hexadecimal
    config.rows = {{1, QStringLiteral("Entrada"), QStringLiteral("Portão Norte"),
                    QDateTime(QDate(2021, 3, 15), QTime(8, 30, 0)), bytes({0x00, 0x0A, 0xFF}), 1},
                   {2, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 255}};
    TdsTestServer server(config);

    // A freetds.conf of our own, so the machine's or the user's settings cannot change the outcome.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString conf = dir.filePath(QStringLiteral("freetds.conf"));
    {
        QFile file(conf);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[global]\n\ttds version = 7.4\n\tclient charset = UTF-8\n");
    }
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FREETDSCONF"), conf);
    environment.insert(QStringLiteral("TDSVER"), QStringLiteral("7.4"));
    // bsqldb names the month in its own locale; the server is what is checked here.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(bsqldb, {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(server.port()), "-U", "operador",
                           "-P", "segredo", "-D", "nitgenacdbsql00", "-t", "|", "-q"});
    ASSERT_TRUE(process.waitForStarted(10000));
    process.write(kQuery.toUtf8() + "\n");
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_EQ(out, QString::fromUtf16(u"1|Entrada|Portão Norte|Mar 15 2021  8:30:00:000AM|0x000aff|1\n"
                                      u"2|NULL|NULL|NULL|NULL|255\n"));
    EXPECT_EQ(server.queries(), std::vector<QString>{kQuery + QLatin1Char('\n')});
    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].libraryName, "DB-Library");
}
