#include "DatabaseConnection.h"

#include "ConnectionString.h"
#include "OdbcHandles.h"

#include <optional>
#include <utility>

namespace korvane {

struct DatabaseConnection::State {
    // Declared in the order they are made, so they are freed statement first.
    std::optional<odbc::Environment> environment;
    std::optional<odbc::Connection> connection;
    std::optional<odbc::Statement> statement;
    quint64 statementSerial = 0;
    SQLULEN queryTimeout = 0;

    void endStatement() noexcept { statement.reset(); }
};

namespace {

// ADO's numbers for the two ways the call itself can be misused.
constexpr qint32 kObjectOpen = 3705;        // adErrObjectOpen
constexpr qint32 kInvalidArgument = 3001;   // adErrInvalidArgument

OdbcError ResultClosed()
{
    return OdbcError(QStringLiteral("HY010"), 0, QStringLiteral("O resultado da consulta já foi fechado."));
}

enum class Fetch { Text, Binary, Integer, Timestamp };

Fetch FetchFor(SQLSMALLINT dataType)
{
    switch (dataType) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return Fetch::Integer;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return Fetch::Binary;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case SQL_DATE:
        return Fetch::Timestamp;
    default:
        // Text, and every type without a closer C type (decimal, float, GUID, time, ...) in
        // the driver's own text form.
        return Fetch::Text;
    }
}

FieldValue ToDateTime(const SQL_TIMESTAMP_STRUCT& t)
{
    const QDate date(t.year, t.month, t.day);
    const QTime time(t.hour, t.minute, t.second, static_cast<int>(t.fraction / 1'000'000));
    return QDateTime(date, time, Qt::UTC);
}

template<typename T>
FieldValue OrNull(std::optional<T> value)
{
    if (!value)
        return std::monostate{};
    return std::move(*value);
}

} // namespace

struct QueryResult::Column {
    QString name;
    Fetch fetch = Fetch::Text;
};

DatabaseConnection::DatabaseConnection() noexcept = default;

DatabaseConnection::~DatabaseConnection()
{
    close();
}

DatabaseConnection::DatabaseConnection(DatabaseConnection&& other) noexcept = default;

DatabaseConnection& DatabaseConnection::operator=(DatabaseConnection&& other) noexcept
{
    if (this != &other) {
        close();
        m_state = std::move(other.m_state);
    }
    return *this;
}

bool DatabaseConnection::isOpen() const noexcept
{
    return m_state && m_state->connection && m_state->connection->isConnected();
}

void DatabaseConnection::close() noexcept
{
    if (!m_state)
        return;
    m_state->endStatement();
    if (m_state->connection)
        m_state->connection->disconnect();
    m_state.reset();
}

QueryResult DatabaseConnection::execute(const QString& sql)
{
    if (!isOpen())
        throw OdbcError(QStringLiteral("08003"), 0, QStringLiteral("A ligação não está aberta."));
    m_state->endStatement();
    odbc::Statement statement(*m_state->connection);
    statement.setAttribute(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
    statement.setAttribute(SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY);
    statement.setAttribute(SQL_ATTR_QUERY_TIMEOUT, m_state->queryTimeout);
    statement.execDirect(std::u16string_view(reinterpret_cast<const char16_t*>(sql.utf16()),
                                              static_cast<std::size_t>(sql.size())));

    QueryResult result(m_state, ++m_state->statementSerial);
    const SQLSMALLINT count = statement.columnCount();
    result.m_columns.reserve(static_cast<std::size_t>(count));
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        const odbc::Statement::Column column = statement.describeColumn(static_cast<SQLUSMALLINT>(i));
        result.m_columns.push_back({column.name, FetchFor(column.dataType)});
    }
    m_state->statement.emplace(std::move(statement));
    return result;
}

QueryResult::QueryResult(std::shared_ptr<DatabaseConnection::State> state, quint64 serial)
    : m_state(std::move(state)), m_serial(serial)
{
}

QueryResult::QueryResult(QueryResult&& other) noexcept = default;

QueryResult& QueryResult::operator=(QueryResult&& other) noexcept
{
    if (this != &other) {
        close();
        m_state = std::move(other.m_state);
        m_serial = other.m_serial;
        m_columns = std::move(other.m_columns);
        m_row = std::move(other.m_row);
        m_onRow = std::exchange(other.m_onRow, false);
    }
    return *this;
}

QueryResult::~QueryResult()
{
    close();
}

bool QueryResult::next()
{
    m_onRow = false;
    m_row.clear();
    if (!m_state || !m_state->statement || m_state->statementSerial != m_serial)
        throw ResultClosed();
    if (m_columns.empty()) {
        close();
        return false;
    }
    odbc::Statement& statement = *m_state->statement;
    if (!statement.fetch()) {
        close();
        return false;
    }
    m_row.reserve(m_columns.size());
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const auto column = static_cast<SQLUSMALLINT>(i + 1);
        switch (m_columns[i].fetch) {
        case Fetch::Text:
            m_row.push_back(OrNull(statement.getText(column)));
            break;
        case Fetch::Binary:
            m_row.push_back(OrNull(statement.getBinary(column)));
            break;
        case Fetch::Integer:
            m_row.push_back(OrNull(statement.getInteger(column)));
            break;
        case Fetch::Timestamp: {
            const std::optional<SQL_TIMESTAMP_STRUCT> t = statement.getTimestamp(column);
            m_row.push_back(t ? ToDateTime(*t) : FieldValue{});
            break;
        }
        }
    }
    m_onRow = true;
    return true;
}

const FieldValue& QueryResult::value(QStringView column) const
{
    if (!m_onRow)
        throw OdbcError(QStringLiteral("24000"), 0, QStringLiteral("O resultado não está numa linha."));
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (QStringView(m_columns[i].name).compare(column, Qt::CaseInsensitive) == 0)
            return m_row[i];
    }
    throw OdbcError(QStringLiteral("42S22"), 0,
                    QStringLiteral("A coluna %1 não está no resultado da consulta.").arg(column));
}

QStringList QueryResult::columnNames() const
{
    QStringList names;
    for (const Column& column : m_columns)
        names.append(column.name);
    return names;
}

void QueryResult::close() noexcept
{
    if (m_state && m_state->statementSerial == m_serial)
        m_state->endStatement();
    m_state.reset();
    m_onRow = false;
}

bool OpenConnection(DatabaseConnection& connection, const QString& server, const QString& catalog,
                    const QString& login, const QString& password, qint32 timeout, qint32& errorNumber,
                    QString& errorDescription)
{
    try {
        if (connection.isOpen())
            throw OdbcError(QStringLiteral("08002"), kObjectOpen, QStringLiteral("A ligação já está aberta."));
        if (timeout < 0) {
            throw OdbcError(QStringLiteral("HY024"), kInvalidArgument,
                            QStringLiteral("O tempo limite não pode ser negativo (%1).").arg(timeout));
        }
        const QString driver = ConfiguredOdbcDriver();
        const ConnectionString text =
            BuildConnectionString(DialectOfDriver(driver), driver, server, catalog, login, password);

        auto state = std::make_shared<DatabaseConnection::State>();
        state->environment.emplace();
        state->connection.emplace(*state->environment);
        const auto seconds = static_cast<SQLULEN>(timeout);
        state->queryTimeout = seconds;
        state->connection->setAttribute(SQL_ATTR_LOGIN_TIMEOUT, seconds);
        state->connection->setAttribute(SQL_ATTR_CONNECTION_TIMEOUT, seconds);
        state->connection->driverConnect(text.view());
        connection.m_state = std::move(state);
        return true;
    } catch (const OdbcError& error) {
        errorNumber = error.number();
        errorDescription = error.description();
        return false;
    }
}

} // namespace korvane
