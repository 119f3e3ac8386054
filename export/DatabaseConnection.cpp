#include "export/DatabaseConnection.h"

#include "export/ConnectionString.h"
#include "export/OdbcHandles.h"
#include "export/PrivateFreeTdsConfiguration.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace korvane {

enum class ColumnFetch { Text, Binary, Integer, Timestamp };

struct DatabaseConnection::State {
    // Freed in the reverse order: the statement before the buffers bound to it, before the
    // connection, before the environment.
    std::optional<odbc::Environment> environment;
    std::optional<odbc::Connection> connection;
    std::optional<odbc::Rowset> rowset;
    std::optional<odbc::Statement> statement;
    quint64 statementSerial = 0;
    SQLULEN queryTimeout = 0;

    void endStatement() noexcept
    {
        statement.reset();
        rowset.reset();
    }
};

namespace {

// ADO's numbers for the two ways the call itself can be misused.
constexpr qint32 kObjectOpen = 3705;        // adErrObjectOpen
constexpr qint32 kInvalidArgument = 3001;   // adErrInvalidArgument

OdbcError ResultClosed()
{
    return OdbcError(QStringLiteral("HY010"), 0, QStringLiteral("O resultado da consulta já foi fechado."));
}

using Fetch = ColumnFetch;

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

// Largest declared sizes that are bound for block fetches (nvarchar(4000), varbinary(8000));
// a longer or unbounded column, (max) among them, is read value by value instead.
constexpr SQLULEN kMaxBoundUnits = 4000;
constexpr SQLULEN kMaxBoundBytes = 8000;
// A block is about this many bytes of bound buffers, and not more rows than kMaxBlockRows:
// past a few dozen rows a call, the driver's own work per row is all that is left.
constexpr std::size_t kBlockBytes = 256 * 1024;
constexpr std::size_t kMaxBlockRows = 256;

std::optional<odbc::Rowset::Binding> BindingFor(const odbc::Statement::Column& column, Fetch fetch)
{
    switch (fetch) {
    case Fetch::Integer:
        return odbc::Rowset::Binding{SQL_C_SBIGINT, sizeof(SQLBIGINT)};
    case Fetch::Timestamp:
        return odbc::Rowset::Binding{SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)};
    case Fetch::Binary:
        if (column.dataType != SQL_LONGVARBINARY && column.size > 0 && column.size <= kMaxBoundBytes)
            return odbc::Rowset::Binding{SQL_C_BINARY, static_cast<SQLLEN>(column.size)};
        return std::nullopt;
    case Fetch::Text:
        break;
    }
    switch (column.dataType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        // A declared size counts bytes or UTF-16 units; neither gives more units than that.
        if (column.size > 0 && column.size <= kMaxBoundUnits)
            return odbc::Rowset::Binding{SQL_C_WCHAR, static_cast<SQLLEN>((column.size + 1) * sizeof(SQLWCHAR))};
        return std::nullopt;
    default:
        // Decimal, float, GUID, time, ...: the driver's text for them has no declared bound.
        return std::nullopt;
    }
}

// Values land in the row's earlier value holders where they can, so the text and bytes of a
// row reuse the storage of the row before.
void SetText(FieldValue& cell, const SQLWCHAR* text, qsizetype length)
{
    const auto* units = reinterpret_cast<const QChar*>(text);
    if (auto* held = std::get_if<QString>(&cell))
        held->setUnicode(units, length);
    else
        cell = QString(units, length);
}

void SetBytes(FieldValue& cell, const std::byte* bytes, qsizetype length)
{
    const auto* data = reinterpret_cast<const char*>(bytes);
    if (auto* held = std::get_if<QByteArray>(&cell)) {
        held->resize(length);
        std::copy_n(data, length, held->data());
    } else {
        cell = QByteArray(data, length);
    }
}

template<typename T>
T& Holder(FieldValue& cell)
{
    if (auto* held = std::get_if<T>(&cell))
        return *held;
    return cell.emplace<T>();
}

} // namespace

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
    std::vector<odbc::Rowset::Binding> bindings;
    bool boundable = count > 0;
    std::size_t rowBytes = 0;
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        const odbc::Statement::Column column = statement.describeColumn(static_cast<SQLUSMALLINT>(i));
        const Fetch fetch = FetchFor(column.dataType);
        result.m_columns.push_back({column.name, fetch});
        if (const std::optional<odbc::Rowset::Binding> binding = BindingFor(column, fetch); binding && boundable) {
            bindings.push_back(*binding);
            rowBytes += static_cast<std::size_t>(binding->cellBytes) + sizeof(SQLLEN);
        } else {
            boundable = false;
        }
    }
    result.m_row.resize(result.m_columns.size());
    m_state->statement.emplace(std::move(statement));
    if (boundable) {
        const std::size_t rows = std::clamp<std::size_t>(kBlockBytes / rowBytes, 1, kMaxBlockRows);
        m_state->rowset.emplace(*m_state->statement, bindings, static_cast<SQLULEN>(rows));
        result.m_blockRows = rows;
    }
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
        m_blockRows = other.m_blockRows;
        m_blockRow = other.m_blockRow;
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
    if (!m_state || !m_state->statement || m_state->statementSerial != m_serial)
        throw ResultClosed();
    if (m_columns.empty()) {
        close();
        return false;
    }
    if (m_state->rowset) {
        odbc::Rowset& rowset = *m_state->rowset;
        if (m_blockRow + 1 < rowset.rows()) {
            ++m_blockRow;
        } else if (rowset.fetch()) {
            m_blockRow = 0;
        } else {
            close();
            return false;
        }
        readBlockRow(rowset);
    } else {
        odbc::Statement& statement = *m_state->statement;
        if (!statement.fetch()) {
            close();
            return false;
        }
        readRow(statement);
    }
    m_onRow = true;
    return true;
}

void QueryResult::readBlockRow(const odbc::Rowset& rowset)
{
    const auto row = static_cast<SQLULEN>(m_blockRow);
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        FieldValue& cell = m_row[i];
        const SQLLEN length = rowset.length(i, row);
        if (length == SQL_NULL_DATA) {
            cell = std::monostate{};
            continue;
        }
        const std::byte* data = rowset.cell(i, row);
        switch (m_columns[i].fetch) {
        case Fetch::Text:
            SetText(cell, reinterpret_cast<const SQLWCHAR*>(data),
                    static_cast<qsizetype>(length / static_cast<SQLLEN>(sizeof(SQLWCHAR))));
            break;
        case Fetch::Binary:
            SetBytes(cell, data, static_cast<qsizetype>(length));
            break;
        case Fetch::Integer: {
            SQLBIGINT number = 0;
            std::memcpy(&number, data, sizeof number);
            cell = static_cast<qint64>(number);
            break;
        }
        case Fetch::Timestamp: {
            SQL_TIMESTAMP_STRUCT t = {};
            std::memcpy(&t, data, sizeof t);
            cell = ToDateTime(t);
            break;
        }
        }
    }
}

void QueryResult::readRow(odbc::Statement& statement)
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const auto column = static_cast<SQLUSMALLINT>(i + 1);
        FieldValue& cell = m_row[i];
        bool present = true;
        switch (m_columns[i].fetch) {
        case Fetch::Text:
            present = statement.getText(column, Holder<QString>(cell));
            break;
        case Fetch::Binary:
            present = statement.getBinary(column, Holder<QByteArray>(cell));
            break;
        case Fetch::Integer:
            if (const std::optional<qint64> number = statement.getInteger(column))
                cell = *number;
            else
                present = false;
            break;
        case Fetch::Timestamp:
            if (const std::optional<SQL_TIMESTAMP_STRUCT> t = statement.getTimestamp(column))
                cell = ToDateTime(*t);
            else
                present = false;
            break;
        }
        if (!present)
            cell = std::monostate{};
    }
}

const FieldValue& QueryResult::value(QStringView column) const
{
    if (!m_onRow)
        throw OdbcError(QStringLiteral("24000"), 0, QStringLiteral("O resultado não está numa linha."));
    return m_row[columnIndex(column)];
}

std::size_t QueryResult::columnIndex(QStringView column) const
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (QStringView(m_columns[i].name).compare(column, Qt::CaseInsensitive) == 0)
            return i;
    }
    throw OdbcError(QStringLiteral("42S22"), 0,
                    QStringLiteral("A coluna %1 não está no resultado da consulta.").arg(column));
}

const FieldValue& QueryResult::value(std::size_t column) const
{
    if (!m_onRow)
        throw OdbcError(QStringLiteral("24000"), 0, QStringLiteral("O resultado não está numa linha."));
    if (column >= m_row.size()) {
        throw OdbcError(QStringLiteral("07009"), 0,
                        QStringLiteral("O resultado da consulta não tem a coluna %1.").arg(column + 1));
    }
    return m_row[column];
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
                    QString& errorDescription, const ConnectionSecurity& security)
{
    try {
        if (connection.isOpen())
            throw OdbcError(QStringLiteral("08002"), kObjectOpen, QStringLiteral("A ligação já está aberta."));
        if (timeout < 0) {
            throw OdbcError(QStringLiteral("HY024"), kInvalidArgument,
                            QStringLiteral("O tempo limite não pode ser negativo (%1).").arg(timeout));
        }
        if (!security.invalidSetting.isEmpty())
            throw OdbcError(QStringLiteral("01S00"), kBadConnectionValue, security.invalidSetting);
        const QString driver = ConfiguredOdbcDriver();
        const OdbcDialect dialect = DialectOfDriver(driver);
        if (dialect != OdbcDialect::FreeTds && !security.caFile.isEmpty()) {
            throw OdbcError(QStringLiteral("01S00"), kBadConnectionValue,
                            QStringLiteral("O ficheiro de autoridades de certificação só pode ser usado com o "
                                           "controlador FreeTDS, e o controlador é %1. A ligação não foi tentada.")
                                .arg(driver));
        }
        const bool privateConfiguration = dialect == OdbcDialect::FreeTds && security.encryptionRequired();
        const ConnectionString text = BuildConnectionString(
            dialect, driver, server, catalog, login, password,
            security.encryptionRequired() ? Encryption::Require : Encryption::Request,
            privateConfiguration ? PrivateFreeTdsConfiguration::sectionName() : QString());

        auto state = std::make_shared<DatabaseConnection::State>();
        state->environment.emplace();
        state->connection.emplace(*state->environment);
        const auto seconds = static_cast<SQLULEN>(timeout);
        state->queryTimeout = seconds;
        state->connection->setAttribute(SQL_ATTR_LOGIN_TIMEOUT, seconds);
        state->connection->setAttribute(SQL_ATTR_CONNECTION_TIMEOUT, seconds);
        if (privateConfiguration) {
            const PrivateFreeTdsConfiguration configuration(ParseServerNotation(server), security);
            try {
                state->connection->driverConnect(text.view());
            } catch (const OdbcError& refused) {
                throw configuration.explainRefusal(refused);
            }
        } else {
            state->connection->driverConnect(text.view());
        }
        connection.m_state = std::move(state);
        return true;
    } catch (const OdbcError& error) {
        errorNumber = error.number();
        errorDescription = error.description();
        return false;
    }
}

} // namespace korvane
