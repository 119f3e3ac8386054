#pragma once

#include "export/ConnectionSecurity.h"
#include "export/FieldValue.h"
#include "export/OdbcError.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <vector>

namespace korvane {

class QueryResult;

namespace test {
struct QueryResultPeer;   // the tests' view of a result's columns and blocks
}

// How a column's values are fetched; the kinds are known to the reader only.
enum class ColumnFetch;

namespace odbc {
class Rowset;
class Statement;
}

// One connection to a SQL Server through ODBC. It starts unopened; OpenConnection opens it.
// Move-only; closes itself when it ends.
class DatabaseConnection {
public:
    DatabaseConnection() noexcept;
    ~DatabaseConnection();
    DatabaseConnection(DatabaseConnection&& other) noexcept;
    DatabaseConnection& operator=(DatabaseConnection&& other) noexcept;
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    bool isOpen() const noexcept;

    // Sends `sql` exactly as given and opens its result with a forward-only, read-only cursor
    // under the command time-out given to OpenConnection. A result opened earlier on this
    // connection ends. Throws OdbcError.
    QueryResult execute(const QString& sql);

    // Ends any open result, then disconnects. Failures are passed over: there is nothing left
    // to do with a connection that will not close.
    void close() noexcept;

    struct State;

private:
    friend bool OpenConnection(DatabaseConnection&, const QString&, const QString&, const QString&,
                               const QString&, qint32, qint32&, QString&, const ConnectionSecurity&);
    std::shared_ptr<State> m_state;
};

// The rows of one query, read front to back. next() moves to the first row and on; the values
// of the current row are read in full when it is reached, so they can be asked for in any
// order and as often as wanted. When every column has a known upper size the rows come from
// the driver in blocks (many rows a call); otherwise one by one, value by value, so that a
// value of any length arrives whole.
class QueryResult {
public:
    QueryResult(QueryResult&& other) noexcept;
    QueryResult& operator=(QueryResult&& other) noexcept;
    QueryResult(const QueryResult&) = delete;
    QueryResult& operator=(const QueryResult&) = delete;
    ~QueryResult();

    // Moves to the next row; false, and the result closed, after the last. Throws OdbcError
    // when the driver fails (the connection lost, a time-out) or the result was closed.
    bool next();

    // The value of the named column in the current row, the name compared without regard to
    // case. Throws OdbcError when there is no such column or no current row.
    const FieldValue& value(QStringView column) const;

    // The same by position, for a reader that looks the name up once with columnIndex. Both
    // throw OdbcError: when there is no such column, and value when there is no current row.
    std::size_t columnIndex(QStringView column) const;
    const FieldValue& value(std::size_t column) const;

    void close() noexcept;

private:
    friend class DatabaseConnection;
    friend struct test::QueryResultPeer;
    struct Column {
        QString name;
        ColumnFetch fetch;
    };
    QueryResult(std::shared_ptr<DatabaseConnection::State> state, quint64 serial);
    void readBlockRow(const odbc::Rowset& rowset);
    void readRow(odbc::Statement& statement);

    std::shared_ptr<DatabaseConnection::State> m_state;
    quint64 m_serial = 0;
    std::vector<Column> m_columns;
    std::vector<FieldValue> m_row;
    std::size_t m_blockRows = 1;
    std::size_t m_blockRow = 0;   // the current row's place in its block
    bool m_onRow = false;
};

// Opens `connection` on `server` and `catalog` with a SQL Server login, limiting the connect
// and every command to `timeout` seconds (0: no limit). True when the connection is open;
// otherwise false with the native number of the first diagnostic record that has one (0 when
// none has) in `errorNumber` and the texts of all records, one per line, in
// `errorDescription`. On success both are left as they were. The password goes to the driver
// inside the connection string and is kept nowhere.
// `security` says whether the connection must be encrypted and which authorities the server's
// certificate must chain to; a refusal on its account is described by its cause, with the
// driver's number, and happens before the login is sent.
bool OpenConnection(DatabaseConnection& connection, const QString& server, const QString& catalog,
                    const QString& login, const QString& password, qint32 timeout, qint32& errorNumber,
                    QString& errorDescription, const ConnectionSecurity& security = {});

} // namespace korvane
