#pragma once

// A small TDS 7.4 server for tests: enough of Microsoft SQL Server for the FreeTDS ODBC driver and FreeTDS's own
// tools to connect over loopback, log in and run the terminal query, plus the faults a real installation can show.
//
// By default it speaks without encryption (PRELOGIN answers ENCRYPT_NOT_SUP); it can also offer or require TLS,
// the handshake carried in PRELOGIN packets as SQL Server does. It checks one SQL Server login and one catalog,
// answers the terminal query text exactly as the access-control database would, 208 for any other table, and
// harmless answers to other batches (SET options: DONE; "select @@spid": one row). Each client gets its own thread.

#include "tests/support/TestCertificates.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace korvane::test {

namespace detail {
struct ServerState;
}

// The text the server treats as the terminal query, character for character (two blanks before "from"); only
// trailing line breaks, as script runners send them, are allowed beyond it.
inline constexpr char16_t kTerminalQuery[] =
    u"Select NodeId, NodeName, Description, RegDate, MacAddr, Status  from NGAC_Terminal Order By NodeID";

struct TerminalRow {
    std::optional<qint32> nodeId;
    std::optional<QString> nodeName;         // nvarchar(50)
    std::optional<QString> description;      // nvarchar(max) as PLP, or nvarchar(descriptionLength)
    std::optional<QDateTime> regDate;        // sent as DATETIME (local wall-clock, no zone), 1/300 s steps
    std::optional<QByteArray> macAddr;       // sent as VARBINARY(50); as UTF-8 text when macAddrAsText
    std::optional<quint8> status;            // sent as TINYINT
};

enum class ServerFault {
    None,
    SilentAfterAccept,       // accepts TCP, never answers anything
    CloseBeforeLoginAck,     // reads LOGIN7, closes the socket without answering
    CloseMidRows,            // sends COLMETADATA and `closeAfterRows` rows, then closes the socket
    UnknownTable,            // the query fails with error 208 "Invalid object name 'NGAC_Terminal'."
    QueryError,              // the query fails with error 229 (SELECT permission denied)
};

// What the server says of encryption in its PRELOGIN answer.
enum class ServerEncryption {
    NotSupported,   // ENCRYPT_NOT_SUP: everything in clear
    // ENCRYPT_OFF to a client that asks for nothing more: only its LOGIN7 goes through TLS, then clear again;
    // ENCRYPT_ON to a client that asks for encryption: the whole connection
    Offered,
    Required,       // ENCRYPT_REQ: the whole connection; a client without encryption is dropped
};

struct ServerConfig {
    QString login = QStringLiteral("operador");
    QString password = QStringLiteral("segredo");
    QString catalog = QStringLiteral("nitgenacdbsql00");   // any other requested database -> error 4060
    std::vector<TerminalRow> rows;                         // sent in the order given (the test sorts them)
    ServerFault fault = ServerFault::None;
    int closeAfterRows = 0;
    std::chrono::milliseconds answerDelay{0};              // delay before each answer (login answer and query answer)
    bool macAddrAsText = false;                            // MacAddr column typed NVARCHAR instead of VARBINARY
    // 0: Description is nvarchar(max), sent as PLP. 1..4000: nvarchar(N), values must fit. DB-Library tools such
    // as bsqldb print (max) columns as hexadecimal, so their tests use a length.
    int descriptionLength = 0;
    // 0: the packet size the client asks for (FreeTDS: 4096 or more). 512..32767: imposed by the server's
    // ENVCHANGE, which clients must follow.
    int packetSize = 0;
    ServerEncryption encryption = ServerEncryption::NotSupported;
    CertificateAndKey certificate;                         // used when encryption is offered or required
    bool ipv6 = false;                                     // listen on ::1 instead of 127.0.0.1
};

// What one LOGIN7 carried, password de-obfuscated.
struct LoginRecord {
    QString userName;
    QString password;
    QString database;
    QString hostName;
    QString appName;
    QString serverName;
    QString libraryName;        // client interface: FreeTDS sends "DB-Library" from bsqldb, nothing from ODBC
    quint32 tdsVersion = 0;     // as the client asked for it, 0x74000004 for TDS 7.4
    quint32 packetSize = 0;     // as the client asked for it (0: the server's choice)
    quint8 clientEncryption = 2;    // the ENCRYPTION option of the client's PRELOGIN (2: none, or no PRELOGIN)
    bool overTls = false;           // the LOGIN7 came inside TLS
};

class TdsTestServer {
public:
    // Listens on 127.0.0.1 (or ::1) on an ephemeral port and serves on its own threads. Throws std::invalid_argument when a
    // row does not fit its column (NodeName and MacAddr 50, Description descriptionLength when set) and
    // std::runtime_error when it cannot listen.
    explicit TdsTestServer(ServerConfig config);
    TdsTestServer(ServerConfig config, quint16 port);   // a fixed port for scripts; 0 picks a free one
    ~TdsTestServer();                               // stops and joins; closes every open client socket
    TdsTestServer(const TdsTestServer&) = delete;
    TdsTestServer& operator=(const TdsTestServer&) = delete;

    quint16 port() const;
    QString serverText() const;                     // "127.0.0.1,<port>" (or "::1,<port>") as an operator types it
    std::vector<LoginRecord> logins() const;        // every LOGIN7 received, thread-safe, in order
    std::vector<QString> queries() const;           // every SQL batch text received, in order
    int queriesOverTls() const;                     // how many of them came inside TLS
    int tlsHandshakesFailed() const;                // handshakes the client broke off (e.g. refused our certificate)
    int connectionsAccepted() const;
    int connectionsOpen() const;                    // sockets not yet closed (by the client, or by a fault)

    // Waits until connectionsOpen() equals `count` (clients close asynchronously); false after `timeout`.
    bool waitForConnectionsOpen(int count, std::chrono::milliseconds timeout) const;

private:
    std::unique_ptr<detail::ServerState> m_state;
};

// A handful of sample terminals for demos: Portuguese names, one with Status 255, one with a NULL Description,
// one registered at midnight, varied MAC bytes; in node-id order, as the terminal query returns them.
std::vector<TerminalRow> demoTerminalRows();
// `count` generated terminals with node ids 1..count, for volume tests and benchmarks. Deterministic.
std::vector<TerminalRow> generatedTerminalRows(int count);

} // namespace korvane::test
