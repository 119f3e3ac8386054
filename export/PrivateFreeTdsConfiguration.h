#pragma once

#include "ConnectionSecurity.h"
#include "OdbcError.h"
#include "ServerNotation.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace korvane {

// The FreeTDS ODBC driver (1.3) takes "Encryption" from a connection string, but its CA file and
// host-name check only from freetds.conf, and it reports every refusal on their account as 20002
// "Adaptive Server connection failed". So a connection that must be encrypted goes through a
// freetds.conf of its own, in a private folder (mode 0700) that lives as long as the connection:
// one server section, which the connection string names instead of the server, and a short
// driver log (errors only: no packets, no TLS chatter), from which a refusal's cause is read. The
// system's and the user's freetds.conf are never touched; FREETDSCONF points at ours only while
// the driver connects.
class PrivateFreeTdsConfiguration {
public:
    // Writes the folder: freetds.conf, and a copy of the CA file. Throws OdbcError (01S00,
    // kBadConnectionValue) when the CA file cannot be read or holds no PEM certificate, or a part
    // of the server cannot be written into freetds.conf unchanged; (HY000, 0) when the folder
    // cannot be written.
    PrivateFreeTdsConfiguration(const ServerAddress& address, const ConnectionSecurity& security);
    PrivateFreeTdsConfiguration(const PrivateFreeTdsConfiguration&) = delete;
    PrivateFreeTdsConfiguration& operator=(const PrivateFreeTdsConfiguration&) = delete;

    // The freetds.conf section, for the connection string's SERVERNAME.
    static QString sectionName();

    // While one lives, FREETDSCONF names configurationPath(); then it is what it was.
    class Active {
    public:
        explicit Active(const QByteArray& path);
        ~Active();
        Active(const Active&) = delete;
        Active& operator=(const Active&) = delete;

    private:
        bool m_wasSet;
        QByteArray m_previous;
    };
    const QByteArray& configurationPath() const noexcept { return m_configurationPath; }

    // The driver's refusal told in terms of its cause (no encryption offered, a certificate that
    // does not chain to the CA file, a host name it does not match, another TLS failure), with the
    // driver's number; `error` itself when the driver's log names no cause of ours.
    OdbcError explainRefusal(const OdbcError& error) const;

private:
    QTemporaryDir m_folder;
    QByteArray m_configurationPath;
    QString m_host;
    QString m_caFile;
};

} // namespace korvane
