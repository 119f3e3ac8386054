#pragma once

#include "export/ConnectionSecurity.h"

#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

namespace korvane {

// How a driver reads a braced value. FreeTDS ends one at the first "};" and takes "}}" as two
// characters; drivers that follow the ODBC rule (Microsoft's among them) take "}}" as one "}".
enum class OdbcDialect { FreeTds, Standard };

OdbcDialect DialectOfDriver(QStringView driverName);

// The driver named at build time (CMake cache variable KORVANE_ODBC_DRIVER).
QString ConfiguredOdbcDriver();

// Native number of a connection refused before anything was sent, because a value cannot be
// written so that the driver reads it back unchanged. It is DB_E_BADINITSTRING, the number SQL
// Server's own clients give for a connection string they cannot take.
inline constexpr qint32 kBadConnectionValue = -2147217805;

// A connection string for SQLDriverConnect. It holds the password, so it is move-only and
// overwrites its characters when it ends; it never reallocates while it is built, which would
// leave a copy behind.
class ConnectionString {
public:
    explicit ConnectionString(std::size_t capacity);
    ConnectionString(ConnectionString&& other) noexcept;
    ConnectionString& operator=(ConnectionString&& other) noexcept;
    ConnectionString(const ConnectionString&) = delete;
    ConnectionString& operator=(const ConnectionString&) = delete;
    ~ConnectionString() { wipe(); }

    std::u16string_view view() const noexcept { return m_text; }

    void append(QStringView text);
    void append(char16_t c);

private:
    void wipe() noexcept;
    std::u16string m_text;
};

// DRIVER, SERVER (and PORT), DATABASE, UID, PWD and, for FreeTDS, TDS_Version=7.4: without
// it FreeTDS waits for good on a server that accepts the connection and never answers,
// whatever the login time-out says. Every value is braced so that ";", "=", "{" and "}"
// reach the server as typed. The server is taken as SQL Server users type it (see
// ParseServerNotation); FreeTDS gets it as host, port and instance, other drivers as typed.
// With Encryption::Require the driver is told to refuse a server that does not encrypt
// (FreeTDS: "Encryption=require", others: "Encrypt=yes"). A non-empty `serverSection` (FreeTDS
// only) names a freetds.conf section that holds the server instead.
// Throws OdbcError (SQLSTATE 01S00, kBadConnectionValue) when a value cannot be carried
// unchanged: for FreeTDS one holding "};", for any driver one holding a NUL character; and
// when the server's notation is refused.
ConnectionString BuildConnectionString(OdbcDialect dialect, const QString& driver, const QString& server,
                                       const QString& catalog, const QString& login, const QString& password,
                                       Encryption encryption = Encryption::Request,
                                       const QString& serverSection = QString());

} // namespace korvane
