#include "export/OdbcHandles.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace korvane::odbc {

namespace {

QString FromWide(const SQLWCHAR* text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

const SQLWCHAR* ToWide(std::u16string_view text)
{
    return reinterpret_cast<const SQLWCHAR*>(text.data());
}

SQLINTEGER WideLength(std::u16string_view text)
{
    return static_cast<SQLINTEGER>(text.size());
}

// Room for a value's first read when the value holder brings none of its own; a longer value
// grows it to the length the driver announces.
constexpr qsizetype kFirstTextUnits = 64;
constexpr qsizetype kFirstBinaryBytes = 64;

} // namespace

OdbcError DiagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc)
{
    std::vector<OdbcDiagnostic> records;
    if (handle != SQL_NULL_HANDLE) {
        std::vector<SQLWCHAR> message(512);
        for (SQLSMALLINT index = 1;; ++index) {
            SQLWCHAR state[6] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            SQLRETURN got = SQLGetDiagRecW(handleType, handle, index, state, &native, message.data(),
                                           static_cast<SQLSMALLINT>(message.size()), &length);
            if (!SQL_SUCCEEDED(got))
                break;
            if (length >= static_cast<SQLSMALLINT>(message.size())) {
                message.resize(static_cast<std::size_t>(length) + 1);
                got = SQLGetDiagRecW(handleType, handle, index, state, &native, message.data(),
                                     static_cast<SQLSMALLINT>(message.size()), &length);
                if (!SQL_SUCCEEDED(got))
                    break;
            }
            records.push_back({FromWide(state, 5), static_cast<qint32>(native), FromWide(message.data(), length)});
        }
    }
    if (records.empty()) {
        records.push_back({QStringLiteral("HY000"), 0,
                           QStringLiteral("A chamada ODBC falhou sem diagnóstico (código %1).").arg(rc)});
    }
    return OdbcError(std::move(records));
}

Handle::Handle(Handle&& other) noexcept
    : m_type(other.m_type), m_handle(std::exchange(other.m_handle, SQLHANDLE{}))
{
}

Handle& Handle::operator=(Handle&& other) noexcept
{
    if (this != &other) {
        reset();
        m_type = other.m_type;
        m_handle = std::exchange(other.m_handle, SQLHANDLE{});
    }
    return *this;
}

void Handle::reset() noexcept
{
    if (m_handle != SQL_NULL_HANDLE)
        SQLFreeHandle(m_type, std::exchange(m_handle, SQLHANDLE{}));
}

void Handle::check(SQLRETURN rc) const
{
    if (!SQL_SUCCEEDED(rc))
        throw DiagnosticsOf(m_type, m_handle, rc);
}

Environment::Environment()
{
    SQLHANDLE handle = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle);
    if (!SQL_SUCCEEDED(rc)) {
        throw OdbcError(QStringLiteral("IM004"), 0,
                        QStringLiteral("O gestor de controladores ODBC não criou um ambiente."));
    }
    m_handle = Handle(SQL_HANDLE_ENV, handle);
    m_handle.check(SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0));
}

Connection::Connection(const Environment& environment)
{
    SQLHANDLE handle = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, environment.get(), &handle);
    if (!SQL_SUCCEEDED(rc))
        throw DiagnosticsOf(SQL_HANDLE_ENV, environment.get(), rc);
    m_handle = Handle(SQL_HANDLE_DBC, handle);
}

Connection::Connection(Connection&& other) noexcept
    : m_handle(std::move(other.m_handle)), m_connected(std::exchange(other.m_connected, false))
{
}

Connection& Connection::operator=(Connection&& other) noexcept
{
    if (this != &other) {
        disconnect();
        m_handle = std::move(other.m_handle);
        m_connected = std::exchange(other.m_connected, false);
    }
    return *this;
}

void Connection::setAttribute(SQLINTEGER attribute, SQLULEN value)
{
    m_handle.check(SQLSetConnectAttrW(m_handle.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0));
}

void Connection::driverConnect(std::u16string_view connectionString)
{
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(m_handle.get(), nullptr, const_cast<SQLWCHAR*>(ToWide(connectionString)),
                                           static_cast<SQLSMALLINT>(WideLength(connectionString)), nullptr, 0,
                                           &completedLength, SQL_DRIVER_NOPROMPT);
    m_handle.check(rc);
    m_connected = true;
}

void Connection::disconnect() noexcept
{
    if (m_connected) {
        m_connected = false;
        SQLDisconnect(m_handle.get());
    }
}

Statement::Statement(const Connection& connection)
{
    SQLHANDLE handle = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, connection.get(), &handle);
    if (!SQL_SUCCEEDED(rc))
        throw DiagnosticsOf(SQL_HANDLE_DBC, connection.get(), rc);
    m_handle = Handle(SQL_HANDLE_STMT, handle);
}

void Statement::setAttribute(SQLINTEGER attribute, SQLULEN value)
{
    m_handle.check(SQLSetStmtAttrW(m_handle.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0));
}

void Statement::execDirect(std::u16string_view sql)
{
    const SQLRETURN rc = SQLExecDirectW(m_handle.get(), const_cast<SQLWCHAR*>(ToWide(sql)), WideLength(sql));
    if (rc != SQL_NO_DATA)
        m_handle.check(rc);
}

SQLSMALLINT Statement::columnCount()
{
    SQLSMALLINT count = 0;
    m_handle.check(SQLNumResultCols(m_handle.get(), &count));
    return count;
}

Statement::Column Statement::describeColumn(SQLUSMALLINT column)
{
    std::vector<SQLWCHAR> name(128);
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT dataType = SQL_UNKNOWN_TYPE;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    m_handle.check(SQLDescribeColW(m_handle.get(), column, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                   &nameLength, &dataType, &size, &digits, &nullable));
    if (nameLength >= static_cast<SQLSMALLINT>(name.size())) {
        name.resize(static_cast<std::size_t>(nameLength) + 1);
        m_handle.check(SQLDescribeColW(m_handle.get(), column, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                       &nameLength, &dataType, &size, &digits, &nullable));
    }
    return {FromWide(name.data(), nameLength), dataType, size};
}

bool Statement::fetch()
{
    const SQLRETURN rc = SQLFetch(m_handle.get());
    if (rc == SQL_NO_DATA)
        return false;
    m_handle.check(rc);
    return true;
}

bool Statement::getText(SQLUSMALLINT column, QString& value)
{
    constexpr auto kUnit = static_cast<SQLLEN>(sizeof(SQLWCHAR));
    // Each call fills the room after what came so far; the driver keeps its last unit for the
    // terminator, and says how much was left before the call (or that it cannot tell).
    value.resize(std::max(value.capacity(), kFirstTextUnits));
    qsizetype read = 0;
    for (bool first = true;; first = false) {
        const qsizetype room = value.size() - read;
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_handle.get(), column, SQL_C_WCHAR, value.data() + read,
                                        static_cast<SQLLEN>(room) * kUnit, &indicator);
        if (rc == SQL_NO_DATA && !first)
            break;
        m_handle.check(rc);
        if (indicator == SQL_NULL_DATA)
            return false;
        const qsizetype fits = room - 1;
        if (indicator != SQL_NO_TOTAL && indicator / kUnit <= fits) {
            read += static_cast<qsizetype>(indicator / kUnit);
            break;
        }
        read += fits;
        const qsizetype rest =
            indicator == SQL_NO_TOTAL ? value.size() : static_cast<qsizetype>(indicator / kUnit) - fits;
        value.resize(read + rest + 1);
    }
    value.resize(read);
    return true;
}

bool Statement::getBinary(SQLUSMALLINT column, QByteArray& value)
{
    value.resize(std::max(value.capacity(), kFirstBinaryBytes));
    qsizetype read = 0;
    for (bool first = true;; first = false) {
        const qsizetype room = value.size() - read;
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_handle.get(), column, SQL_C_BINARY, value.data() + read,
                                        static_cast<SQLLEN>(room), &indicator);
        if (rc == SQL_NO_DATA && !first)
            break;
        m_handle.check(rc);
        if (indicator == SQL_NULL_DATA)
            return false;
        if (indicator != SQL_NO_TOTAL && indicator <= room) {
            read += static_cast<qsizetype>(indicator);
            break;
        }
        read += room;
        const qsizetype rest = indicator == SQL_NO_TOTAL ? value.size() : static_cast<qsizetype>(indicator) - room;
        value.resize(read + rest);
    }
    value.resize(read);
    return true;
}

std::optional<qint64> Statement::getInteger(SQLUSMALLINT column)
{
    SQLBIGINT value = 0;
    SQLLEN indicator = 0;
    m_handle.check(SQLGetData(m_handle.get(), column, SQL_C_SBIGINT, &value, sizeof value, &indicator));
    if (indicator == SQL_NULL_DATA)
        return std::nullopt;
    return static_cast<qint64>(value);
}

std::optional<SQL_TIMESTAMP_STRUCT> Statement::getTimestamp(SQLUSMALLINT column)
{
    SQL_TIMESTAMP_STRUCT value = {};
    SQLLEN indicator = 0;
    m_handle.check(SQLGetData(m_handle.get(), column, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator));
    if (indicator == SQL_NULL_DATA)
        return std::nullopt;
    return value;
}

Rowset::Rowset(const Statement& statement, const std::vector<Binding>& columns, SQLULEN rows)
    : m_statement(statement), m_capacity(std::max<SQLULEN>(rows, 1)), m_status(m_capacity)
{
    const Handle& handle = m_statement.m_handle;
    const auto number = [](SQLULEN value) { return reinterpret_cast<SQLPOINTER>(value); };
    handle.check(SQLSetStmtAttrW(handle.get(), SQL_ATTR_ROW_BIND_TYPE, number(SQL_BIND_BY_COLUMN), 0));
    handle.check(SQLSetStmtAttrW(handle.get(), SQL_ATTR_ROW_ARRAY_SIZE, number(m_capacity), 0));
    handle.check(SQLSetStmtAttrW(handle.get(), SQL_ATTR_ROWS_FETCHED_PTR, &m_fetched, 0));
    handle.check(SQLSetStmtAttrW(handle.get(), SQL_ATTR_ROW_STATUS_PTR, m_status.data(), 0));
    m_columns.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Bound& bound = m_columns.emplace_back();
        bound.binding = columns[i];
        const std::size_t bytes = static_cast<std::size_t>(columns[i].cellBytes) * m_capacity;
        bound.storage.resize((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
        bound.lengths.resize(m_capacity);
        handle.check(SQLBindCol(handle.get(), static_cast<SQLUSMALLINT>(i + 1), columns[i].cType, bound.storage.data(),
                                columns[i].cellBytes, bound.lengths.data()));
    }
}

bool Rowset::fetch()
{
    m_fetched = 0;   // the driver need not set it at the end
    const Handle& handle = m_statement.m_handle;
    const SQLRETURN rc = SQLFetch(handle.get());
    if (rc == SQL_NO_DATA)
        return false;
    handle.check(rc);
    for (SQLULEN row = 0; row < m_fetched; ++row) {
        // The call succeeded (with information): its diagnostics say what went wrong in the row.
        if (m_status[row] == SQL_ROW_ERROR)
            throw DiagnosticsOf(SQL_HANDLE_STMT, handle.get(), rc);
        for (const Bound& bound : m_columns) {
            const SQLLEN length = bound.lengths[row];
            // Text keeps its last unit for the terminator.
            const SQLLEN room = bound.binding.cellBytes
                - (bound.binding.cType == SQL_C_WCHAR ? static_cast<SQLLEN>(sizeof(SQLWCHAR)) : 0);
            if (length == SQL_NO_TOTAL || length > room) {
                throw OdbcError(QStringLiteral("01004"), 0,
                                QStringLiteral("Um valor é maior do que o tamanho declarado da sua coluna."));
            }
        }
    }
    return m_fetched > 0;
}

} // namespace korvane::odbc
