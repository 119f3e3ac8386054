#include "tests/support/TdsProtocol.h"

#include <QDate>

#include <algorithm>
#include <cstring>

namespace korvane::test::tds {

namespace {

std::uint16_t load_le16(std::span<const std::uint8_t> data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

std::uint32_t load_le32(std::span<const std::uint8_t> data, std::size_t at)
{
    return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8
        | static_cast<std::uint32_t>(data[at + 2]) << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24;
}

std::uint16_t load_be16(std::span<const std::uint8_t> data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
}

void store_be16(std::uint8_t* to, std::uint16_t value)
{
    to[0] = static_cast<std::uint8_t>(value >> 8);
    to[1] = static_cast<std::uint8_t>(value);
}

QString ucs2At(std::span<const std::uint8_t> data, std::size_t at, std::size_t chars)
{
    if (at + chars * 2 > data.size())
        throw ProtocolError{"LOGIN7 field outside the record"};
    QString text(static_cast<qsizetype>(chars), Qt::Uninitialized);
    auto* out = text.data();
    for (std::size_t i = 0; i < chars; ++i)
        out[i] = QChar(load_le16(data, at + 2 * i));
    return text;
}

// Undoes LOGIN7's password scrambling: every byte had its nibbles swapped and was then XORed with 0xA5.
QString unscrambledPassword(std::span<const std::uint8_t> data, std::size_t at, std::size_t chars)
{
    if (at + chars * 2 > data.size())
        throw ProtocolError{"LOGIN7 password outside the record"};
    Bytes plain(data.begin() + static_cast<std::ptrdiff_t>(at),
                data.begin() + static_cast<std::ptrdiff_t>(at + chars * 2));
    for (auto& byte : plain) {
        const std::uint8_t x = byte ^ 0xA5;
        byte = static_cast<std::uint8_t>((x << 4) | (x >> 4));
    }
    return ucs2At(plain, 0, chars);
}

} // namespace

// ---- InboundStream ----

void InboundStream::append(std::span<const std::uint8_t> bytes)
{
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    std::size_t used = 0;
    while (m_pending.size() - used >= kHeaderSize) {
        const std::span<const std::uint8_t> rest(m_pending.data() + used, m_pending.size() - used);
        const std::size_t length = load_be16(rest, 2);
        if (length < kHeaderSize)
            throw ProtocolError{"packet shorter than its header"};
        if (rest.size() < length)
            break;
        m_packets.push_back(Packet{static_cast<PacketType>(rest[0]), (rest[1] & kStatusEndOfMessage) != 0,
                                  Bytes(rest.begin() + kHeaderSize, rest.begin() + static_cast<std::ptrdiff_t>(length))});
        used += length;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));
}

std::optional<Message> InboundStream::takeMessage()
{
    const auto last = std::find_if(m_packets.begin(), m_packets.end(), [](const Packet& p) {
        return p.type != PacketType::Attention && p.endOfMessage;
    });
    if (last == m_packets.end())
        return std::nullopt;
    const auto end = std::next(last);
    Message message{last->type, {}};
    std::deque<Packet> attentions;
    for (auto it = m_packets.begin(); it != end; ++it) {
        if (it->type == PacketType::Attention)
            attentions.push_back(std::move(*it));
        else
            message.payload.insert(message.payload.end(), it->payload.begin(), it->payload.end());
    }
    m_packets.erase(m_packets.begin(), end);
    m_packets.insert(m_packets.begin(), std::make_move_iterator(attentions.begin()),
                    std::make_move_iterator(attentions.end()));
    return message;
}

bool InboundStream::takeAttention()
{
    const auto it = std::find_if(m_packets.begin(), m_packets.end(),
                                 [](const Packet& p) { return p.type == PacketType::Attention; });
    if (it == m_packets.end())
        return false;
    m_packets.erase(it);
    return true;
}

// ---- MessageWriter ----

MessageWriter::MessageWriter(Sink sink, std::size_t packetSize, std::uint16_t spid, PacketType type)
    : m_sink(std::move(sink)), m_packetSize(std::clamp(packetSize, kMinPacketSize, kMaxPacketSize)), m_spid(spid),
      m_type(type)
{
    m_packet.reserve(m_packetSize);
    m_packet.resize(kHeaderSize);
}

void MessageWriter::u16(std::uint16_t value)
{
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    bytes(b, sizeof b);
}

void MessageWriter::u32(std::uint32_t value)
{
    std::uint8_t b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<std::uint8_t>(value >> (8 * i));
    bytes(b, sizeof b);
}

void MessageWriter::u64(std::uint64_t value)
{
    std::uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<std::uint8_t>(value >> (8 * i));
    bytes(b, sizeof b);
}

void MessageWriter::bytes(const void* data, std::size_t size)
{
    const auto* from = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        // A full packet goes out only once more follows, so the last one always carries end-of-message.
        if (m_packet.size() == m_packetSize)
            sendPacket(false);
        const std::size_t room = std::min(size, m_packetSize - m_packet.size());
        m_packet.insert(m_packet.end(), from, from + room);
        from += room;
        size -= room;
    }
}

void MessageWriter::ucs2(QStringView text)
{
    std::uint8_t chunk[512];
    const char16_t* units = text.utf16();
    std::size_t left = static_cast<std::size_t>(text.size());
    while (left > 0) {
        const std::size_t n = std::min(left, sizeof chunk / 2);
        for (std::size_t i = 0; i < n; ++i) {
            chunk[2 * i] = static_cast<std::uint8_t>(units[i]);
            chunk[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
        }
        bytes(chunk, n * 2);
        units += n;
        left -= n;
    }
}

void MessageWriter::bVarchar(QStringView text)
{
    const auto cut = text.first(std::min<qsizetype>(text.size(), 255));
    u8(static_cast<std::uint8_t>(cut.size()));
    ucs2(cut);
}

void MessageWriter::usVarchar(QStringView text)
{
    const auto cut = text.first(std::min<qsizetype>(text.size(), 65535));
    u16(static_cast<std::uint16_t>(cut.size()));
    ucs2(cut);
}

void MessageWriter::finish()
{
    sendPacket(true);
}

void MessageWriter::flushPartial()
{
    if (m_packet.size() > kHeaderSize)
        sendPacket(false);
}

void MessageWriter::sendPacket(bool endOfMessage)
{
    m_packet[0] = static_cast<std::uint8_t>(m_type);
    m_packet[1] = endOfMessage ? kStatusEndOfMessage : 0;
    store_be16(&m_packet[2], static_cast<std::uint16_t>(m_packet.size()));
    store_be16(&m_packet[4], m_spid);
    m_packet[6] = m_packetId++;
    m_packet[7] = 0;
    ++m_packetsSent;
    // The sink may throw when the client is gone; the packet is spent either way.
    Bytes sent;
    sent.swap(m_packet);
    m_packet.reserve(m_packetSize);
    m_packet.resize(kHeaderSize);
    m_sink(sent);
}

// ---- client messages ----

Login7 decodeLogin7(std::span<const std::uint8_t> payload)
{
    constexpr std::size_t kFixedPart = 94;
    if (payload.size() < kFixedPart)
        throw ProtocolError{"LOGIN7 shorter than its fixed part"};
    const auto field = [&](std::size_t at) {
        return ucs2At(payload, load_le16(payload, at), load_le16(payload, at + 2));
    };
    Login7 login;
    login.tdsVersion = load_le32(payload, 4);
    login.packetSize = load_le32(payload, 8);
    login.hostName = field(36);
    login.userName = field(40);
    login.password = unscrambledPassword(payload, load_le16(payload, 44), load_le16(payload, 46));
    login.appName = field(48);
    login.serverName = field(52);
    login.libraryName = field(60);
    login.language = field(64);
    login.database = field(68);
    return login;
}

QString decodeSqlBatch(std::span<const std::uint8_t> payload)
{
    std::size_t start = 0;
    if (payload.size() >= 4) {
        // TDS 7.2 and later put ALL_HEADERS first; its total length includes its own four bytes.
        const std::uint32_t headers = load_le32(payload, 0);
        if (headers >= 4 && headers <= payload.size())
            start = headers;
    }
    return ucs2At(payload, start, (payload.size() - start) / 2);
}

// ---- server messages ----

Encryption decodePreLoginEncryption(std::span<const std::uint8_t> payload)
{
    // Option headers (token, offset, length; 5 bytes each) up to the terminator 0xFF.
    for (std::size_t at = 0; at < payload.size() && payload[at] != 0xFF; at += 5) {
        if (at + 5 > payload.size())
            throw ProtocolError{"PRELOGIN option header cut short"};
        const std::size_t offset = load_be16(payload, at + 1);
        const std::size_t length = load_be16(payload, at + 3);
        if (offset + length > payload.size())
            throw ProtocolError{"PRELOGIN option outside the message"};
        if (payload[at] == 0x01 && length >= 1)
            return static_cast<Encryption>(payload[offset]);
    }
    return Encryption::NotSupported;
}

Bytes preLoginResponse(Encryption encryption)
{
    struct Option {
        std::uint8_t token;
        Bytes value;
    };
    const Option options[] = {
        {0x00, {16, 0, 0x03, 0xE8, 0, 0}},   // VERSION 16.0.1000, sub-build 0
        {0x01, {static_cast<std::uint8_t>(encryption)}},
        {0x02, {0x00}},                      // INSTOPT: the default instance
        {0x03, {}},                          // THREADID: the server sends none
        {0x04, {0x00}},                      // MARS off
    };
    Bytes out;
    std::size_t offset = std::size(options) * 5 + 1;
    for (const auto& option : options) {
        out.push_back(option.token);
        out.push_back(static_cast<std::uint8_t>(offset >> 8));
        out.push_back(static_cast<std::uint8_t>(offset));
        out.push_back(static_cast<std::uint8_t>(option.value.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(option.value.size()));
        offset += option.value.size();
    }
    out.push_back(0xFF);
    for (const auto& option : options)
        out.insert(out.end(), option.value.begin(), option.value.end());
    return out;
}

void writeEnvChange(MessageWriter& out, std::uint8_t type, QStringView newValue, QStringView oldValue)
{
    newValue = newValue.first(std::min<qsizetype>(newValue.size(), 255));
    oldValue = oldValue.first(std::min<qsizetype>(oldValue.size(), 255));
    out.u8(0xE3);
    out.u16(static_cast<std::uint16_t>(1 + 1 + 2 * newValue.size() + 1 + 2 * oldValue.size()));
    out.u8(type);
    out.bVarchar(newValue);
    out.bVarchar(oldValue);
}

void writeCollationChange(MessageWriter& out)
{
    out.u8(0xE3);
    out.u16(1 + 1 + sizeof kCollation + 1);
    out.u8(kEnvCollation);
    out.u8(sizeof kCollation);
    out.bytes(kCollation, sizeof kCollation);
    out.u8(0);
}

void writeMessage(MessageWriter& out, const ServerMessage& message, QStringView serverName)
{
    // SQL Server's own limit for a message, which also keeps the token's 16-bit length in range.
    const QStringView text = QStringView(message.text).first(std::min<qsizetype>(message.text.size(), 2047));
    const QStringView server = serverName.first(std::min<qsizetype>(serverName.size(), 255));
    out.u8(message.severity > 10 ? 0xAA : 0xAB);
    out.u16(static_cast<std::uint16_t>(4 + 1 + 1 + 2 + 2 * text.size() + 1 + 2 * server.size() + 1 + 4));
    out.i32(message.number);
    out.u8(message.state);
    out.u8(message.severity);
    out.usVarchar(text);
    out.bVarchar(server);
    out.bVarchar(u"");      // procedure name
    out.u32(1);             // line number
}

void writeLoginAck(MessageWriter& out)
{
    static constexpr char16_t kProgName[] = u"Microsoft SQL Server";
    const QStringView name(kProgName);
    out.u8(0xAD);
    out.u16(static_cast<std::uint16_t>(1 + 4 + 1 + 2 * name.size() + 4));
    out.u8(1);                                      // interface: T-SQL
    const std::uint8_t version[4] = {0x74, 0x00, 0x00, 0x04};   // TDS 7.4, most-significant byte first here
    out.bytes(version, sizeof version);
    out.bVarchar(name);
    const std::uint8_t programVersion[4] = {16, 0, 0x03, 0xE8};  // 16.0.1000
    out.bytes(programVersion, sizeof programVersion);
}

void writeDone(MessageWriter& out, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount)
{
    out.u8(0xFD);
    out.u16(status);
    out.u16(curCmd);
    out.u64(rowCount);
}

DateTimeWire toDateTimeWire(int year, int month, int day, int msecsSinceMidnight)
{
    constexpr std::uint32_t kTicksPerDay = 300u * 86400u;
    auto days = static_cast<std::int32_t>(QDate(1900, 1, 1).daysTo(QDate(year, month, day)));
    auto ticks = static_cast<std::uint32_t>((static_cast<std::int64_t>(msecsSinceMidnight) * 3 + 5) / 10);
    if (ticks >= kTicksPerDay) {    // 23:59:59.999 rounds up into the next day
        ticks -= kTicksPerDay;
        ++days;
    }
    return {days, ticks};
}

} // namespace korvane::test::tds
