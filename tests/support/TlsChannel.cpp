#include "tests/support/TlsChannel.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace korvane::test {

namespace {

template<typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const noexcept { Free(p); }
};

std::string openSslReason(const char* what)
{
    char reason[256] = "no reason given";
    if (const unsigned long code = ERR_get_error())
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    return std::string(what) + ": " + reason;
}

} // namespace

struct TlsChannel::Session {
    std::unique_ptr<SSL_CTX, Deleter<SSL_CTX, SSL_CTX_free>> context;
    std::unique_ptr<SSL, Deleter<SSL, SSL_free>> ssl;
    BIO* in = nullptr;    // owned by ssl
    BIO* out = nullptr;   // owned by ssl
};

TlsChannel::TlsChannel(const std::string& certificatePem, const std::string& privateKeyPem)
    : m_session(std::make_unique<Session>())
{
    m_session->context.reset(SSL_CTX_new(TLS_server_method()));
    SSL_CTX* context = m_session->context.get();
    if (!context)
        throw TlsError{openSslReason("SSL_CTX_new")};
    // A session ticket would follow the handshake as a bare record, while the client still expects the
    // handshake's records inside PRELOGIN packets.
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(context, 0);
    // SQL Server speaks TLS 1.2 at most inside TDS 7.x.
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);

    std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>> certBio(
        BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())));
    std::unique_ptr<X509, Deleter<X509, X509_free>> cert(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>> keyBio(
        BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
    std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!cert || !key || SSL_CTX_use_certificate(context, cert.get()) != 1
        || SSL_CTX_use_PrivateKey(context, key.get()) != 1 || SSL_CTX_check_private_key(context) != 1)
        throw TlsError{openSslReason("server certificate")};

    m_session->ssl.reset(SSL_new(context));
    m_session->in = BIO_new(BIO_s_mem());
    m_session->out = BIO_new(BIO_s_mem());
    if (!m_session->ssl || !m_session->in || !m_session->out) {
        BIO_free(m_session->in);
        BIO_free(m_session->out);
        throw TlsError{openSslReason("SSL_new")};
    }
    SSL_set_bio(m_session->ssl.get(), m_session->in, m_session->out);
    SSL_set_accept_state(m_session->ssl.get());
}

TlsChannel::~TlsChannel() = default;

void TlsChannel::feed(std::span<const std::uint8_t> records)
{
    if (!records.empty())
        BIO_write(m_session->in, records.data(), static_cast<int>(records.size()));
}

bool TlsChannel::handshake()
{
    const int result = SSL_do_handshake(m_session->ssl.get());
    if (result == 1)
        return true;
    const int error = SSL_get_error(m_session->ssl.get(), result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return false;
    throw TlsError{openSslReason("TLS handshake")};
}

std::vector<std::uint8_t> TlsChannel::takeOutput()
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(BIO_pending(m_session->out)));
    if (!bytes.empty())
        BIO_read(m_session->out, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

std::vector<std::uint8_t> TlsChannel::readPlain()
{
    std::vector<std::uint8_t> plain;
    std::uint8_t chunk[16 * 1024];
    for (;;) {
        const int got = SSL_read(m_session->ssl.get(), chunk, sizeof chunk);
        if (got > 0) {
            plain.insert(plain.end(), chunk, chunk + got);
            continue;
        }
        const int error = SSL_get_error(m_session->ssl.get(), got);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_ZERO_RETURN)
            return plain;
        throw TlsError{openSslReason("TLS record")};
    }
}

void TlsChannel::writePlain(std::span<const std::uint8_t> data)
{
    if (!data.empty() && SSL_write(m_session->ssl.get(), data.data(), static_cast<int>(data.size())) <= 0)
        throw TlsError{openSslReason("TLS write")};
}

} // namespace korvane::test
