#pragma once

// The server end of one TLS session over memory buffers, so the test server can carry the handshake inside TDS
// PRELOGIN packets as SQL Server does, and then put the records on the socket itself.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace korvane::test {

struct TlsError {
    std::string what;
};

class TlsChannel {
public:
    // Throws TlsError when the certificate or key cannot be used.
    TlsChannel(const std::string& certificatePem, const std::string& privateKeyPem);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Records from the client.
    void feed(std::span<const std::uint8_t> records);
    // Takes the handshake one step with what was fed; true once it is complete. Throws TlsError when the client
    // breaks it off (an alert, as a client does that refuses our certificate) or sends what is no TLS.
    bool handshake();
    // Records to send to the client.
    std::vector<std::uint8_t> takeOutput();

    // Application data decrypted from what was fed so far. Throws TlsError on a record that does not decrypt.
    std::vector<std::uint8_t> readPlain();
    void writePlain(std::span<const std::uint8_t> data);

private:
    struct Session;
    std::unique_ptr<Session> m_session;
};

} // namespace korvane::test
