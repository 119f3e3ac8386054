#pragma once

#include "export/ConnectionSecurity.h"
#include "export/OdbcError.h"
#include "export/ServerNotation.h"

#include <QByteArray>
#include <QString>

#include <mutex>

namespace korvane {

// The FreeTDS ODBC driver (1.3) takes "Encryption" from a connection string, but its CA file and
// host-name check only from freetds.conf, and it reports every refusal on their account as 20002
// "Adaptive Server connection failed". So a connection that must be encrypted is opened through a
// freetds.conf of the program's own, in a private folder (mode 0700) that lives as long as the
// process: one server section, which the connection string names instead of the server, and a
// short driver log (errors and first-level notes: no packets, no TLS records), from which a
// refusal's cause is read. The system's and the user's freetds.conf are never touched.
//
// One object spans one connect: it writes the section, points FREETDSCONF at it and holds a lock
// so that connects through it take turns; its end restores FREETDSCONF.
class PrivateFreeTdsConfiguration {
public:
    // Throws OdbcError (01S00, kBadConnectionValue) when the CA file cannot be read or holds no
    // PEM certificate, or a part of the server cannot be written into freetds.conf unchanged;
    // (HY000, 0) when the private folder cannot be made or written.
    PrivateFreeTdsConfiguration(const ServerAddress& address, const ConnectionSecurity& security);
    ~PrivateFreeTdsConfiguration();
    PrivateFreeTdsConfiguration(const PrivateFreeTdsConfiguration&) = delete;
    PrivateFreeTdsConfiguration& operator=(const PrivateFreeTdsConfiguration&) = delete;

    // The freetds.conf section, for the connection string's SERVERNAME.
    static QString sectionName();

    // The driver's refusal told in terms of its cause (no encryption offered, a certificate that
    // does not chain to the CA file, a host name it does not match, another TLS failure), with the
    // driver's number; `error` itself when the driver's log names no cause of ours.
    OdbcError explainRefusal(const OdbcError& error) const;

private:
    std::unique_lock<std::mutex> m_turn;
    QString m_logPath;
    qint64 m_logStart = 0;
    QString m_host;
    QString m_caFile;
    bool m_hadConfiguration = false;
    QByteArray m_previousConfiguration;
};

} // namespace korvane
