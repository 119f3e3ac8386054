#pragma once

// The thin layer over the ODBC API; the one header of export/ that includes it. Everything
// here is internal to the library: its users see DatabaseConnection and OdbcError only.

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "OdbcError.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

namespace korvane::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide ODBC calls must take UTF-16");

// The diagnostic records the last call on `handle` left. A call that failed without leaving any
// (SQL_INVALID_HANDLE, an environment that could not be allocated) still gives one record.
OdbcError DiagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc);

// Owns one ODBC handle and frees it when it ends.
class Handle {
public:
    Handle() noexcept = default;
    Handle(SQLSMALLINT type, SQLHANDLE handle) noexcept : m_type(type), m_handle(handle) {}
    Handle(Handle&& other) noexcept;
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    SQLHANDLE get() const noexcept { return m_handle; }
    SQLSMALLINT type() const noexcept { return m_type; }
    explicit operator bool() const noexcept { return m_handle != SQL_NULL_HANDLE; }
    void reset() noexcept;

    // Throws the handle's diagnostics when `rc` is not a success.
    void check(SQLRETURN rc) const;

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// An ODBC 3 environment. Throws OdbcError when the driver manager gives none.
class Environment {
public:
    Environment();
    SQLHENV get() const noexcept { return m_handle.get(); }

private:
    Handle m_handle;
};

// A connection handle; disconnects, if connected, before it is freed.
class Connection {
public:
    explicit Connection(const Environment& environment);   // throws OdbcError
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    ~Connection() { disconnect(); }

    SQLHDBC get() const noexcept { return m_handle.get(); }
    bool isConnected() const noexcept { return m_connected; }

    void setAttribute(SQLINTEGER attribute, SQLULEN value);          // throws OdbcError
    // The string is handed to the driver as it stands and kept nowhere; no completed string
    // is asked back, since the driver would copy the password into it.
    void driverConnect(std::u16string_view connectionString);         // throws OdbcError
    void disconnect() noexcept;

private:
    Handle m_handle;
    bool m_connected = false;
};

// A statement on a connected Connection, which must outlive it.
class Statement {
public:
    struct Column {
        QString name;
        SQLSMALLINT dataType = SQL_UNKNOWN_TYPE;
    };

    explicit Statement(const Connection& connection);                // throws OdbcError

    SQLHSTMT get() const noexcept { return m_handle.get(); }

    // All of these throw OdbcError.
    void setAttribute(SQLINTEGER attribute, SQLULEN value);
    void execDirect(std::u16string_view sql);
    SQLSMALLINT columnCount();
    Column describeColumn(SQLUSMALLINT column);
    bool fetch();   // false after the last row

    // Column values of the current row, read in chunks so a value of any length fits. An empty
    // optional is NULL, distinct from an empty value.
    std::optional<QString> getText(SQLUSMALLINT column);
    std::optional<QByteArray> getBinary(SQLUSMALLINT column);
    std::optional<qint64> getInteger(SQLUSMALLINT column);
    std::optional<SQL_TIMESTAMP_STRUCT> getTimestamp(SQLUSMALLINT column);

private:
    Handle m_handle;
};

} // namespace korvane::odbc
