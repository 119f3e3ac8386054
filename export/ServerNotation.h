#pragma once

#include <QString>

namespace korvane {

// A server as SQL Server users type it, taken apart for a driver that wants host, port and
// instance separately (FreeTDS).
struct ServerAddress {
    QString host;       // a name or address to resolve; an IPv6 literal without its brackets
    QString instance;   // empty: the default instance, or the port decides
    QString port;       // 1..65535 in digits; empty: none given
};

// Reads "host", "host\instance" and "host,port", each also with the "tcp:" prefix; "(local)" and
// "." stand for this machine ("localhost"), also with "\instance" or ",port"; IPv6 literals bare
// ("::1") or in brackets ("[::1],1433"). A port decides over an instance, as with SQL Server's
// own clients. Text after a comma that is not a port is left in the host, so that the driver
// gets it as typed and says what it makes of it.
// Throws OdbcError (SQLSTATE 01S00, kBadConnectionValue), before anything is sent, for
// "host:port", which SQL Server does not read as a port, and for the named-pipe and shared-memory
// prefixes ("np:", "lpc:"), which only Windows clients have.
ServerAddress ParseServerNotation(const QString& server);

} // namespace korvane
