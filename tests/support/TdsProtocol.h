#pragma once

// TDS 7.4 wire formats the test server uses: packet framing both ways, the LOGIN7 and SQL batch decoders and the
// server's tokens. Multi-byte integers are little-endian on the wire unless a name says _be.

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace korvane::test::tds {

using Bytes = std::vector<std::uint8_t>;

enum class PacketType : std::uint8_t {
    SqlBatch = 0x01,
    Rpc = 0x03,
    TabularResult = 0x04,
    Attention = 0x06,
    TransactionManager = 0x0E,
    Login7 = 0x10,
    PreLogin = 0x12,
};

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::uint8_t kStatusEndOfMessage = 0x01;
inline constexpr std::size_t kDefaultPacketSize = 4096;
inline constexpr std::size_t kMinPacketSize = 512;
inline constexpr std::size_t kMaxPacketSize = 32767;

struct Message {
    PacketType type;
    Bytes payload;
};

// Splits the bytes a client sends into packets and packets into messages.
class InboundStream {
public:
    // Throws ProtocolError on a header no client would send.
    void append(std::span<const std::uint8_t> bytes);
    // The oldest complete message that is not an attention, if one has arrived.
    std::optional<Message> takeMessage();
    // Removes one attention packet if one has arrived, wherever it stands.
    bool takeAttention();

private:
    struct Packet {
        PacketType type;
        bool endOfMessage;
        Bytes payload;
    };
    Bytes m_pending;
    std::deque<Packet> m_packets;
};

struct ProtocolError {
    const char* what;
};

// Writes one server message, cut into packets of the negotiated size as it grows; each full packet goes to the
// sink at once, so a large result never sits in memory whole.
class MessageWriter {
public:
    using Sink = std::function<void(std::span<const std::uint8_t>)>;

    MessageWriter(Sink sink, std::size_t packetSize, std::uint16_t spid,
                  PacketType type = PacketType::TabularResult);

    void u8(std::uint8_t value) { bytes(&value, 1); }
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void u64(std::uint64_t value);
    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
    void bytes(const void* data, std::size_t size);
    void ucs2(QStringView text);                    // UTF-16LE code units, no length
    void bVarchar(QStringView text);                // 1-byte length in characters, then the text
    void usVarchar(QStringView text);               // 2-byte length in characters, then the text

    // Sends what is left as the message's last packet.
    void finish();
    // Sends what is there as a packet that does not end the message (for a server that dies mid-stream).
    void flushPartial();
    std::uint64_t packetsSent() const { return m_packetsSent; }

private:
    void sendPacket(bool endOfMessage);

    Sink m_sink;
    Bytes m_packet;
    std::size_t m_packetSize;
    std::uint16_t m_spid;
    PacketType m_type;
    std::uint8_t m_packetId = 1;
    std::uint64_t m_packetsSent = 0;
};

// ---- client messages ----

struct Login7 {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    QString hostName;
    QString userName;
    QString password;
    QString appName;
    QString serverName;
    QString libraryName;
    QString language;
    QString database;
};

// Throws ProtocolError when the record is cut short or an offset points outside it.
Login7 decodeLogin7(std::span<const std::uint8_t> payload);
// The batch text after the ALL_HEADERS block.
QString decodeSqlBatch(std::span<const std::uint8_t> payload);

// ---- server messages ----

// PRELOGIN's ENCRYPTION option, as either side states it.
enum class Encryption : std::uint8_t {
    Off = 0x00,          // only the LOGIN7 goes through TLS
    On = 0x01,           // the whole connection goes through TLS
    NotSupported = 0x02,
    Required = 0x03,
};

// The client's ENCRYPTION option; NotSupported when it sent none. Throws ProtocolError when an option points
// outside the message.
Encryption decodePreLoginEncryption(std::span<const std::uint8_t> payload);

// The PRELOGIN answer: our version, the given ENCRYPTION, no MARS.
Bytes preLoginResponse(Encryption encryption = Encryption::NotSupported);

enum DoneStatus : std::uint16_t {
    kDoneFinal = 0x0000,
    kDoneMore = 0x0001,
    kDoneError = 0x0002,
    kDoneCount = 0x0010,
    kDoneAttention = 0x0020,
};
inline constexpr std::uint16_t kCurCmdSelect = 0xC1;

inline constexpr std::uint8_t kEnvDatabase = 1;
inline constexpr std::uint8_t kEnvLanguage = 2;
inline constexpr std::uint8_t kEnvPacketSize = 4;
inline constexpr std::uint8_t kEnvCollation = 7;

// SQL_Latin1_General_CP1_CI_AS: LCID 0x0409, case/accent/kana/width flags, sort id 52.
inline constexpr std::uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

void writeEnvChange(MessageWriter& out, std::uint8_t type, QStringView newValue, QStringView oldValue);
void writeCollationChange(MessageWriter& out);
struct ServerMessage {
    std::int32_t number;
    std::uint8_t state;
    std::uint8_t severity;   // "class"; 10 and below is information
    QString text;
};
void writeMessage(MessageWriter& out, const ServerMessage& message, QStringView serverName);   // ERROR or INFO
void writeLoginAck(MessageWriter& out);
void writeDone(MessageWriter& out, std::uint16_t status, std::uint16_t curCmd = 0, std::uint64_t rowCount = 0);

// Column types as COLMETADATA describes them.
inline constexpr std::uint8_t kTypeIntN = 0x26;
inline constexpr std::uint8_t kTypeDateTimeN = 0x6F;
inline constexpr std::uint8_t kTypeBigVarBinary = 0xA5;
inline constexpr std::uint8_t kTypeNVarChar = 0xE7;
inline constexpr std::uint16_t kMaxLength = 0xFFFF;    // the (max) types, sent as PLP

inline constexpr std::uint8_t kTokenColMetadata = 0x81;
inline constexpr std::uint8_t kTokenRow = 0xD1;

// DATETIME: days since 1900-01-01 and 1/300 s since midnight, SQL Server's rounding.
struct DateTimeWire {
    std::int32_t days;
    std::uint32_t ticks;
};
DateTimeWire toDateTimeWire(int year, int month, int day, int msecsSinceMidnight);

} // namespace korvane::test::tds
