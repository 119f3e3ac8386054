#include "OdbcHandles.h"

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

// Bytes per read of a long value; a value longer than this is fetched in several calls.
constexpr SQLLEN kChunkBytes = 32 * 1024;

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
    return {FromWide(name.data(), nameLength), dataType};
}

bool Statement::fetch()
{
    const SQLRETURN rc = SQLFetch(m_handle.get());
    if (rc == SQL_NO_DATA)
        return false;
    m_handle.check(rc);
    return true;
}

std::optional<QString> Statement::getText(SQLUSMALLINT column)
{
    std::vector<SQLWCHAR> chunk(static_cast<std::size_t>(kChunkBytes) / sizeof(SQLWCHAR));
    // Room left by a truncated chunk: the driver keeps the last unit for the terminator.
    constexpr SQLLEN available = kChunkBytes - static_cast<SQLLEN>(sizeof(SQLWCHAR));
    QString value;
    for (bool first = true;; first = false) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_handle.get(), column, SQL_C_WCHAR, chunk.data(), kChunkBytes, &indicator);
        if (rc == SQL_NO_DATA && !first)
            break;
        m_handle.check(rc);
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const bool more = indicator == SQL_NO_TOTAL || indicator > available;
        const SQLLEN bytes = more ? available : indicator;
        value.append(FromWide(chunk.data(), static_cast<qsizetype>(bytes / static_cast<SQLLEN>(sizeof(SQLWCHAR)))));
        if (!more)
            break;
    }
    return value;
}

std::optional<QByteArray> Statement::getBinary(SQLUSMALLINT column)
{
    QByteArray chunk(static_cast<qsizetype>(kChunkBytes), Qt::Uninitialized);
    QByteArray value;
    for (bool first = true;; first = false) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_handle.get(), column, SQL_C_BINARY, chunk.data(), kChunkBytes, &indicator);
        if (rc == SQL_NO_DATA && !first)
            break;
        m_handle.check(rc);
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const bool more = indicator == SQL_NO_TOTAL || indicator > kChunkBytes;
        value.append(chunk.constData(), static_cast<qsizetype>(more ? kChunkBytes : indicator));
        if (!more)
            break;
    }
    return value;
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

} // namespace korvane::odbc
