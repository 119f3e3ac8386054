#pragma once

// The thin layer over the ODBC API; the one header of export/ that includes it. Everything
// here is internal to the library: its users see DatabaseConnection and OdbcError only.

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "export/OdbcError.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

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
        SQLULEN size = 0;   // characters or bytes as declared; 0 when unbounded or unknown
    };

    explicit Statement(const Connection& connection);                // throws OdbcError

    SQLHSTMT get() const noexcept { return m_handle.get(); }

    // All of these throw OdbcError.
    void setAttribute(SQLINTEGER attribute, SQLULEN value);
    void execDirect(std::u16string_view sql);
    SQLSMALLINT columnCount();
    Column describeColumn(SQLUSMALLINT column);
    bool fetch();   // false after the last row

    // Column values of the current row. Text and bytes are read straight into `value`, reusing
    // its storage when it owns it alone and growing it as long as the value goes on, so a value
    // of any length fits. False for NULL, distinct from an empty value; `value` is then left as
    // it was.
    bool getText(SQLUSMALLINT column, QString& value);
    bool getBinary(SQLUSMALLINT column, QByteArray& value);
    std::optional<qint64> getInteger(SQLUSMALLINT column);
    std::optional<SQL_TIMESTAMP_STRUCT> getTimestamp(SQLUSMALLINT column);

private:
    friend class Rowset;   // checks its calls on this statement's handle
    Handle m_handle;
};

// Buffers bound column by column to a Statement, so that one SQLFetch brings a whole block of
// rows: one call into the driver per block instead of six per row. Only for columns whose
// values have a known upper size; a value that would not fit is an error, never cut short.
// The driver keeps the addresses of the buffers, so a Rowset is neither copied nor moved and
// ends only after its statement.
class Rowset {
public:
    struct Binding {
        SQLSMALLINT cType = SQL_C_DEFAULT;   // SQL_C_WCHAR, SQL_C_BINARY, SQL_C_SBIGINT or SQL_C_TYPE_TIMESTAMP
        SQLLEN cellBytes = 0;                // room for one value, a text's terminator included
    };

    // Binds `columns` (column 1 first) for `rows` rows a fetch. Throws OdbcError.
    Rowset(const Statement& statement, const std::vector<Binding>& columns, SQLULEN rows);
    Rowset(const Rowset&) = delete;
    Rowset& operator=(const Rowset&) = delete;

    // Fetches the next block; false, and no rows, after the last. Throws OdbcError when the
    // driver fails or a value did not fit its buffer.
    bool fetch();
    SQLULEN rows() const noexcept { return m_fetched; }

    // One value of the current block, `column` counted from 0, `row` below rows(). The length
    // is in bytes; SQL_NULL_DATA for NULL.
    SQLLEN length(std::size_t column, SQLULEN row) const noexcept { return m_columns[column].lengths[row]; }
    const std::byte* cell(std::size_t column, SQLULEN row) const noexcept
    {
        const Bound& bound = m_columns[column];
        return reinterpret_cast<const std::byte*>(bound.storage.data())
            + static_cast<std::size_t>(bound.binding.cellBytes) * row;
    }

private:
    struct Bound {
        Binding binding;
        // max_align_t storage: each cell of a fixed-size type (SQLBIGINT, SQL_TIMESTAMP_STRUCT)
        // lies a whole number of its own size from an aligned start.
        std::vector<std::max_align_t> storage;
        std::vector<SQLLEN> lengths;
    };

    const Statement& m_statement;
    SQLULEN m_capacity = 0;
    SQLULEN m_fetched = 0;
    std::vector<SQLUSMALLINT> m_status;
    std::vector<Bound> m_columns;
};

} // namespace korvane::odbc
