#include "tests/support/TdsTestServer.h"

#include "tests/support/TdsProtocol.h"
#include "tests/support/TdsSocket.h"
#include "tests/support/TlsChannel.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace korvane::test {

namespace {

using tds::MessageWriter;

constexpr char16_t kServerName[] = u"KORVANE-TDS";
constexpr std::uint16_t kNullable = 0x0001;

// Ends a session: the client went away, the server is stopping, or the script says to drop the client.
struct SessionEnded {};

// SQL Server's own texts for the failures the export run must report.
tds::ServerMessage loginFailed(const QString& user)
{
    return {18456, 1, 14, QStringLiteral("Login failed for user '%1'.").arg(user)};
}

tds::ServerMessage cannotOpenDatabase(const QString& database)
{
    return {4060, 1, 11,
            QStringLiteral("Cannot open database \"%1\" requested by the login. The login failed.").arg(database)};
}

tds::ServerMessage invalidObjectName(const QString& name)
{
    return {208, 1, 16, QStringLiteral("Invalid object name '%1'.").arg(name)};
}

tds::ServerMessage selectPermissionDenied(const QString& database)
{
    return {229, 5, 14,
            QStringLiteral("The SELECT permission was denied on the object 'NGAC_Terminal', database '%1', schema 'dbo'.")
                .arg(database)};
}

// ---- the terminal query's result ----

void columnType(MessageWriter& out, std::uint8_t type, std::uint16_t maxLength)
{
    out.u8(type);
    out.u16(maxLength);
    if (type == tds::kTypeNVarChar)
        out.bytes(tds::kCollation, sizeof tds::kCollation);
}

void column(MessageWriter& out, QStringView name, auto&& typeInfo)
{
    out.u32(0);             // user type
    out.u16(kNullable);
    typeInfo();
    out.bVarchar(name);
}

void writeTerminalColumns(MessageWriter& out, const ServerConfig& config)
{
    const auto descriptionLength = config.descriptionLength > 0
        ? static_cast<std::uint16_t>(config.descriptionLength * 2)
        : tds::kMaxLength;
    out.u8(tds::kTokenColMetadata);
    out.u16(6);
    column(out, u"NodeId", [&] { out.u8(tds::kTypeIntN); out.u8(4); });
    column(out, u"NodeName", [&] { columnType(out, tds::kTypeNVarChar, 50 * 2); });
    column(out, u"Description", [&] { columnType(out, tds::kTypeNVarChar, descriptionLength); });
    column(out, u"RegDate", [&] { out.u8(tds::kTypeDateTimeN); out.u8(8); });
    if (config.macAddrAsText)
        column(out, u"MacAddr", [&] { columnType(out, tds::kTypeNVarChar, 50 * 2); });
    else
        column(out, u"MacAddr", [&] { columnType(out, tds::kTypeBigVarBinary, 50); });
    column(out, u"Status", [&] { out.u8(tds::kTypeIntN); out.u8(1); });
}

constexpr std::uint16_t kNullShortLength = 0xFFFF;
constexpr std::uint64_t kNullPlpLength = ~std::uint64_t{0};

void writeNVarChar(MessageWriter& out, const std::optional<QString>& value)
{
    if (!value) {
        out.u16(kNullShortLength);
        return;
    }
    out.u16(static_cast<std::uint16_t>(value->size() * 2));
    out.ucs2(*value);
}

// A (max) value travels as PLP: its total length, chunks that each carry their own length, and a zero terminator.
void writePlpNVarChar(MessageWriter& out, const std::optional<QString>& value)
{
    if (!value) {
        out.u64(kNullPlpLength);
        return;
    }
    const auto bytes = static_cast<std::uint64_t>(value->size()) * 2;
    out.u64(bytes);
    if (bytes > 0) {
        out.u32(static_cast<std::uint32_t>(bytes));
        out.ucs2(*value);
    }
    out.u32(0);
}

void writeVarBinary(MessageWriter& out, const std::optional<QByteArray>& value)
{
    if (!value) {
        out.u16(kNullShortLength);
        return;
    }
    out.u16(static_cast<std::uint16_t>(value->size()));
    out.bytes(value->constData(), static_cast<std::size_t>(value->size()));
}

void writeDateTimeN(MessageWriter& out, const std::optional<QDateTime>& value)
{
    if (!value || !value->isValid()) {
        out.u8(0);
        return;
    }
    // The wall-clock fields as they stand: DATETIME has no zone.
    const QDate date = value->date();
    const auto wire = tds::toDateTimeWire(date.year(), date.month(), date.day(), value->time().msecsSinceStartOfDay());
    out.u8(8);
    out.i32(wire.days);
    out.u32(wire.ticks);
}

void writeRow(MessageWriter& out, const TerminalRow& row, const ServerConfig& config)
{
    out.u8(tds::kTokenRow);
    if (row.nodeId) {
        out.u8(4);
        out.i32(*row.nodeId);
    } else {
        out.u8(0);
    }
    writeNVarChar(out, row.nodeName);
    if (config.descriptionLength > 0)
        writeNVarChar(out, row.description);
    else
        writePlpNVarChar(out, row.description);
    writeDateTimeN(out, row.regDate);
    if (config.macAddrAsText)
        writeNVarChar(out, row.macAddr ? std::optional<QString>(QString::fromUtf8(*row.macAddr)) : std::nullopt);
    else
        writeVarBinary(out, row.macAddr);
    if (row.status) {
        out.u8(1);
        out.u8(*row.status);
    } else {
        out.u8(0);
    }
}

void writeSingleInt(MessageWriter& out, std::int32_t value)
{
    out.u8(tds::kTokenColMetadata);
    out.u16(1);
    column(out, u"", [&] { out.u8(tds::kTypeIntN); out.u8(4); });
    out.u8(tds::kTokenRow);
    out.u8(4);
    out.i32(value);
    tds::writeDone(out, tds::kDoneCount, tds::kCurCmdSelect, 1);
}

void writeFailure(MessageWriter& out, const tds::ServerMessage& message)
{
    tds::writeMessage(out, message, kServerName);
    tds::writeDone(out, tds::kDoneError);
}

} // namespace

struct detail::ServerState {
    ServerState(ServerConfig c, std::uint16_t port) : config(std::move(c)), listener(port, config.ipv6) {}

    void acceptClients();
    void serve(net::Socket socket, std::uint16_t spid);
    void sessionEnded();

    const ServerConfig config;
    net::StopSignal stop;
    net::Listener listener;
    std::thread acceptor;
    // Touched by the acceptor only, until it is joined. A long-running server reaps the finished ones as it goes.
    struct SessionThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::vector<SessionThread> sessions;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<LoginRecord> logins;
    std::vector<QString> queries;
    int queriesOverTls = 0;
    int tlsHandshakesFailed = 0;
    int accepted = 0;
    int open = 0;
};

namespace {

class Session {
public:
    Session(detail::ServerState& server, net::Socket socket, std::uint16_t spid)
        : m_server(server), m_config(server.config), m_socket(std::move(socket)), m_spid(spid)
    {
    }

    void run()
    {
        try {
            serve();
        } catch (const SessionEnded&) {
        } catch (const tds::ProtocolError&) {
        } catch (const TlsError&) {
            if (m_inbound == Inbound::Handshake) {
                std::lock_guard lock(m_server.mutex);
                ++m_server.tlsHandshakesFailed;
            }
        }
        m_socket.shutdownAndClose();
    }

private:
    enum class LoginOutcome { LoggedIn, Refused };
    // Where the client's bytes go: straight into packets, kept whole for the PRELOGIN-wrapped handshake, or
    // through TLS first.
    enum class Inbound { Plain, Handshake, Tls };

    void serve()
    {
        if (m_config.fault == ServerFault::SilentAfterAccept)
            return drainUntilClosed();
        auto message = nextMessage();
        tds::Encryption clientEncryption = tds::Encryption::NotSupported;
        bool loginOnly = false;
        if (message && message->type == tds::PacketType::PreLogin) {
            clientEncryption = tds::decodePreLoginEncryption(message->payload);
            const tds::Encryption answer = negotiate(clientEncryption);
            answerPreLogin(answer);
            if (answer == tds::Encryption::Required && clientEncryption == tds::Encryption::NotSupported)
                return;   // SQL Server drops a client that cannot encrypt
            if (answer != tds::Encryption::NotSupported) {
                startTls(answer != tds::Encryption::Off);
                loginOnly = answer == tds::Encryption::Off;
            }
            message = nextMessage();
        }
        if (!message || message->type != tds::PacketType::Login7)
            return;
        const bool loginOverTls = m_inbound == Inbound::Tls;
        if (loginOnly)
            m_inbound = Inbound::Plain;   // the client has left TLS after its LOGIN7
        if (logIn(*message, clientEncryption, loginOverTls) == LoginOutcome::Refused)
            return drainUntilClosed();
        while ((message = nextMessage())) {
            switch (message->type) {
            case tds::PacketType::Attention:
                answerAttention();
                break;
            case tds::PacketType::SqlBatch:
                answerBatch(tds::decodeSqlBatch(message->payload));
                break;
            case tds::PacketType::Rpc: {
                auto out = writer();
                writeFailure(out, {50000, 1, 16,
                                   QStringLiteral("Test server: remote procedure calls are not served; send the text "
                                                  "as a batch (SQLExecDirect, not SQLPrepare).")});
                out.finish();
                break;
            }
            default: {
                auto out = writer();    // transaction manager requests and the like: nothing to do
                tds::writeDone(out, tds::kDoneFinal);
                out.finish();
                break;
            }
            }
        }
    }

    // ---- input ----

    // The next message, an attention first when one is waiting; nullopt once the client has closed.
    std::optional<tds::Message> nextMessage()
    {
        for (;;) {
            if (m_in.takeAttention())
                return tds::Message{tds::PacketType::Attention, {}};
            if (auto message = m_in.takeMessage())
                return message;
            if (receive(std::nullopt) != net::IoStatus::Ok)
                return std::nullopt;
        }
    }

    // Looks, without waiting, whether the client has asked to cancel what we are sending.
    bool attentionArrived()
    {
        for (;;) {
            const auto status = receive(std::chrono::milliseconds(0));
            if (status == net::IoStatus::TimedOut)
                break;
            if (status != net::IoStatus::Ok)
                throw SessionEnded{};
        }
        return m_in.takeAttention();
    }

    net::IoStatus receive(std::optional<std::chrono::milliseconds> timeout)
    {
        const auto got = m_socket.receive(std::as_writable_bytes(std::span(m_buffer)), m_server.stop, timeout);
        if (got.status == net::IoStatus::Ok)
            accept(std::span(m_buffer).first(got.bytes));
        return got.status;
    }

    void accept(std::span<const std::uint8_t> bytes)
    {
        switch (m_inbound) {
        case Inbound::Plain:
            m_in.append(bytes);
            break;
        case Inbound::Handshake:
            m_handshakeBytes.insert(m_handshakeBytes.end(), bytes.begin(), bytes.end());
            break;
        case Inbound::Tls:
            m_tls->feed(bytes);
            m_in.append(m_tls->readPlain());
            break;
        }
    }

    void drainUntilClosed()
    {
        while (receive(std::nullopt) == net::IoStatus::Ok) {
        }
    }

    // ---- output ----

    MessageWriter writer(tds::PacketType type = tds::PacketType::TabularResult)
    {
        return MessageWriter(
            [this](std::span<const std::uint8_t> packet) {
                if (!m_tlsOut)
                    return sendRaw(packet);
                m_tls->writePlain(packet);
                sendRaw(m_tls->takeOutput());
            },
            m_packetSize, m_spid, type);
    }

    void sendRaw(std::span<const std::uint8_t> bytes)
    {
        if (m_socket.sendAll(std::as_bytes(bytes), m_server.stop) != net::IoStatus::Ok)
            throw SessionEnded{};
    }

    void waitBeforeAnswering()
    {
        if (m_config.answerDelay.count() > 0 && !m_server.stop.sleepFor(m_config.answerDelay))
            throw SessionEnded{};
    }

    // SQL Server's answer to the client's ENCRYPTION option, by what this server is set to.
    tds::Encryption negotiate(tds::Encryption client) const
    {
        switch (m_config.encryption) {
        case ServerEncryption::NotSupported:
            return tds::Encryption::NotSupported;
        case ServerEncryption::Offered:
            if (client == tds::Encryption::NotSupported || client == tds::Encryption::Off)
                return client;
            return tds::Encryption::On;
        case ServerEncryption::Required:
            break;
        }
        return tds::Encryption::Required;
    }

    // A tabular-result packet, as SQL Server answers; the handshake that may follow travels in PRELOGIN packets.
    void answerPreLogin(tds::Encryption encryption)
    {
        auto out = writer();
        const auto payload = tds::preLoginResponse(encryption);
        out.bytes(payload.data(), payload.size());
        out.finish();
    }

    // The TLS handshake, its records carried in PRELOGIN packets both ways. Afterwards the records stand on the
    // socket by themselves: the client's from here on (its LOGIN7 at least), ours too when `wholeConnection`.
    void startTls(bool wholeConnection)
    {
        m_tls = std::make_unique<TlsChannel>(m_config.certificate.certificatePem, m_config.certificate.privateKeyPem);
        m_inbound = Inbound::Handshake;
        while (!m_tls->handshake()) {
            sendHandshakeRecords();
            m_tls->feed(nextHandshakePacket());
        }
        sendHandshakeRecords();
        m_inbound = Inbound::Tls;
        m_tls->feed(m_handshakeBytes);
        m_handshakeBytes.clear();
        m_in.append(m_tls->readPlain());
        m_tlsOut = wholeConnection;
    }

    void sendHandshakeRecords()
    {
        const auto records = m_tls->takeOutput();
        if (records.empty())
            return;
        auto out = writer(tds::PacketType::PreLogin);
        out.bytes(records.data(), records.size());
        out.finish();
    }

    // The client's next handshake records: the payload of a PRELOGIN packet, or a record standing by itself.
    // FreeTDS sends the last records of its flight bare when nothing of ours comes between them and its LOGIN7
    // (a TLS 1.3 handshake); SQL Server, which stays at TLS 1.2 here, never sees that, but it costs nothing.
    tds::Bytes nextHandshakePacket()
    {
        constexpr std::size_t kRecordHeader = 5;
        for (;;) {
            const std::size_t have = m_handshakeBytes.size();
            std::size_t length = 0;
            std::size_t skip = 0;
            if (have >= 1 && m_handshakeBytes[0] == static_cast<std::uint8_t>(tds::PacketType::PreLogin)) {
                if (have >= tds::kHeaderSize) {
                    length = static_cast<std::size_t>(m_handshakeBytes[2]) << 8 | m_handshakeBytes[3];
                    skip = tds::kHeaderSize;
                    if (length < tds::kHeaderSize)
                        throw tds::ProtocolError{"packet shorter than its header"};
                }
            } else if (have >= 1 && m_handshakeBytes[0] >= 0x14 && m_handshakeBytes[0] <= 0x17) {
                if (have >= kRecordHeader)
                    length = kRecordHeader + (static_cast<std::size_t>(m_handshakeBytes[3]) << 8 | m_handshakeBytes[4]);
            } else if (have >= 1) {
                throw tds::ProtocolError{"neither a PRELOGIN packet nor a TLS record during the handshake"};
            }
            if (length > 0 && have >= length) {
                tds::Bytes records(m_handshakeBytes.begin() + static_cast<std::ptrdiff_t>(skip),
                                   m_handshakeBytes.begin() + static_cast<std::ptrdiff_t>(length));
                m_handshakeBytes.erase(m_handshakeBytes.begin(),
                                      m_handshakeBytes.begin() + static_cast<std::ptrdiff_t>(length));
                return records;
            }
            if (receive(std::nullopt) != net::IoStatus::Ok)
                throw SessionEnded{};
        }
    }

    void answerAttention()
    {
        auto out = writer();
        tds::writeDone(out, tds::kDoneAttention);
        out.finish();
    }

    // ---- login ----

    LoginOutcome logIn(const tds::Message& message, tds::Encryption clientEncryption, bool overTls)
    {
        const auto login = tds::decodeLogin7(message.payload);
        {
            std::lock_guard lock(m_server.mutex);
            m_server.logins.push_back({login.userName, login.password, login.database, login.hostName, login.appName,
                                      login.serverName, login.libraryName, login.tdsVersion, login.packetSize,
                                      static_cast<quint8>(clientEncryption), overTls});
        }
        if (m_config.fault == ServerFault::CloseBeforeLoginAck)
            throw SessionEnded{};
        waitBeforeAnswering();

        auto out = writer();
        if (login.userName != m_config.login || login.password != m_config.password) {
            writeFailure(out, loginFailed(login.userName));
            out.finish();
            return LoginOutcome::Refused;
        }
        const QString database = login.database.isEmpty() ? m_config.catalog : login.database;
        if (database != m_config.catalog) {
            tds::writeMessage(out, cannotOpenDatabase(database), kServerName);
            writeFailure(out, loginFailed(login.userName));
            out.finish();
            return LoginOutcome::Refused;
        }

        // What SQL Server sends, in its order; FreeTDS turns the two INFO messages into SQL_SUCCESS_WITH_INFO.
        const std::size_t asked = m_config.packetSize > 0 ? static_cast<std::size_t>(m_config.packetSize) : login.packetSize;
        const std::size_t packetSize =
            asked >= tds::kMinPacketSize && asked <= tds::kMaxPacketSize ? asked : tds::kDefaultPacketSize;
        tds::writeEnvChange(out, tds::kEnvDatabase, database, u"master");
        tds::writeMessage(out, {5701, 2, 0, QStringLiteral("Changed database context to '%1'.").arg(database)},
                          kServerName);
        tds::writeCollationChange(out);
        tds::writeEnvChange(out, tds::kEnvLanguage, u"us_english", u"");
        tds::writeMessage(out, {5703, 1, 0, QStringLiteral("Changed language setting to us_english.")}, kServerName);
        tds::writeLoginAck(out);
        tds::writeEnvChange(out, tds::kEnvPacketSize, QString::number(packetSize),
                            QString::number(tds::kDefaultPacketSize));
        tds::writeDone(out, tds::kDoneFinal);
        out.finish();
        m_packetSize = packetSize;
        return LoginOutcome::LoggedIn;
    }

    // ---- batches ----

    void answerBatch(const QString& text)
    {
        {
            std::lock_guard lock(m_server.mutex);
            m_server.queries.push_back(text);
            if (m_inbound == Inbound::Tls)
                ++m_server.queriesOverTls;
        }
        // Script runners such as bsqldb send each batch with the line break that ended it.
        QStringView statement(text);
        while (statement.endsWith(u'\n') || statement.endsWith(u'\r'))
            statement.chop(1);
        if (statement == QStringView(kTerminalQuery))
            return answerTerminalQuery();

        auto out = writer();
        static const QRegularExpression fromTable(QStringLiteral(R"(\bfrom\s+([\w.\[\]#@]+))"),
                                                  QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression spid(QStringLiteral(R"(^\s*select\s+@@spid\s*;?\s*$)"),
                                             QRegularExpression::CaseInsensitiveOption);
        if (const auto match = fromTable.match(text); match.hasMatch()) {
            const QString table = match.captured(1);
            if (QString(table).remove(QLatin1Char('[')).remove(QLatin1Char(']')).endsWith(
                    QLatin1String("NGAC_Terminal"), Qt::CaseInsensitive))
                // Our table, asked for with other words: say so loudly instead of guessing an answer.
                writeFailure(out, {50000, 1, 16, QStringLiteral("Test server: unexpected query text: %1").arg(text)});
            else
                writeFailure(out, invalidObjectName(table));
        } else if (spid.match(text).hasMatch()) {
            writeSingleInt(out, m_spid);
        } else {
            tds::writeDone(out, tds::kDoneFinal);  // SET options and the like
        }
        out.finish();
    }

    void answerTerminalQuery()
    {
        waitBeforeAnswering();
        if (attentionArrived())
            return answerAttention();
        auto out = writer();
        if (m_config.fault == ServerFault::UnknownTable) {
            writeFailure(out, invalidObjectName(QStringLiteral("NGAC_Terminal")));
            return out.finish();
        }
        if (m_config.fault == ServerFault::QueryError) {
            writeFailure(out, selectPermissionDenied(m_config.catalog));
            return out.finish();
        }

        writeTerminalColumns(out, m_config);
        const bool closeMidRows = m_config.fault == ServerFault::CloseMidRows;
        std::uint64_t checkedAt = out.packetsSent();
        std::size_t sent = 0;
        for (const auto& row : m_config.rows) {
            if (closeMidRows && sent == static_cast<std::size_t>(std::max(m_config.closeAfterRows, 0)))
                break;
            writeRow(out, row, m_config);
            ++sent;
            if (out.packetsSent() != checkedAt) {
                checkedAt = out.packetsSent();
                if (attentionArrived()) {
                    tds::writeDone(out, tds::kDoneAttention);
                    return out.finish();
                }
            }
        }
        if (closeMidRows) {
            out.flushPartial();
            throw SessionEnded{};
        }
        tds::writeDone(out, tds::kDoneCount, tds::kCurCmdSelect, sent);
        out.finish();
    }

    detail::ServerState& m_server;
    const ServerConfig& m_config;
    net::Socket m_socket;
    std::uint16_t m_spid;
    tds::InboundStream m_in;
    Inbound m_inbound = Inbound::Plain;
    tds::Bytes m_handshakeBytes;
    std::unique_ptr<TlsChannel> m_tls;
    bool m_tlsOut = false;
    std::size_t m_packetSize = tds::kDefaultPacketSize;
    std::array<std::uint8_t, 64 * 1024> m_buffer{};
};

} // namespace

void detail::ServerState::acceptClients()
{
    while (auto socket = listener.accept(stop)) {
        std::uint16_t spid = 0;
        {
            std::lock_guard lock(mutex);
            ++accepted;
            ++open;
            spid = static_cast<std::uint16_t>(50 + accepted);
        }
        changed.notify_all();
        std::erase_if(sessions, [](SessionThread& session) {
            if (!session.finished->load())
                return false;
            session.thread.join();
            return true;
        });
        auto finished = std::make_shared<std::atomic<bool>>(false);
        sessions.push_back({std::thread([this, spid, finished, client = std::move(*socket)]() mutable {
                                serve(std::move(client), spid);
                                finished->store(true);
                            }),
                            finished});
    }
}

void detail::ServerState::serve(net::Socket socket, std::uint16_t spid)
{
    Session(*this, std::move(socket), spid).run();
    sessionEnded();
}

void detail::ServerState::sessionEnded()
{
    {
        std::lock_guard lock(mutex);
        --open;
    }
    changed.notify_all();
}

TdsTestServer::TdsTestServer(ServerConfig config) : TdsTestServer(std::move(config), 0) {}

namespace {

// The columns' declared sizes, which the wire format relies on: a value that does not fit is a mistake in the
// test, said at once rather than sent as a stream no client can read.
void checkRowsFit(const ServerConfig& config)
{
    constexpr qsizetype kShortColumn = 50;
    if (config.descriptionLength < 0 || config.descriptionLength > 4000)
        throw std::invalid_argument("TDS test server: descriptionLength must be 0 (max) or 1..4000");
    for (std::size_t i = 0; i < config.rows.size(); ++i) {
        const auto& row = config.rows[i];
        const auto tooLong = [&](const char* column, qsizetype limit) {
            throw std::invalid_argument("TDS test server: row " + std::to_string(i) + ": " + column
                                        + " longer than its column (" + std::to_string(limit) + ")");
        };
        if (row.nodeName && row.nodeName->size() > kShortColumn)
            tooLong("NodeName", kShortColumn);
        if (row.macAddr && row.macAddr->size() > kShortColumn
            && (!config.macAddrAsText || QString::fromUtf8(*row.macAddr).size() > kShortColumn))
            tooLong("MacAddr", kShortColumn);
        if (config.descriptionLength > 0 && row.description && row.description->size() > config.descriptionLength)
            tooLong("Description", config.descriptionLength);
    }
}

} // namespace

TdsTestServer::TdsTestServer(ServerConfig config, quint16 port)
{
    checkRowsFit(config);
    try {
        m_state = std::make_unique<detail::ServerState>(std::move(config), port);
    } catch (const net::SocketError& error) {
        throw std::runtime_error("TDS test server: " + error.what);
    }
    m_state->acceptor = std::thread([state = m_state.get()] { state->acceptClients(); });
}

TdsTestServer::~TdsTestServer()
{
    m_state->stop.raise();
    m_state->acceptor.join();
    for (auto& session : m_state->sessions)
        session.thread.join();
}

quint16 TdsTestServer::port() const
{
    return m_state->listener.port();
}

QString TdsTestServer::serverText() const
{
    return QStringLiteral("%1,%2").arg(m_state->config.ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"))
        .arg(port());
}

std::vector<LoginRecord> TdsTestServer::logins() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->logins;
}

std::vector<QString> TdsTestServer::queries() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->queries;
}

int TdsTestServer::queriesOverTls() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->queriesOverTls;
}

int TdsTestServer::tlsHandshakesFailed() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->tlsHandshakesFailed;
}

int TdsTestServer::connectionsAccepted() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->accepted;
}

int TdsTestServer::connectionsOpen() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->open;
}

bool TdsTestServer::waitForConnectionsOpen(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] { return m_state->open == count; });
}

} // namespace korvane::test
