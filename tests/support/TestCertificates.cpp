#include "tests/support/TestCertificates.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace korvane::test {

namespace {

template<typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const noexcept { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

[[noreturn]] void fail(const char* what)
{
    char reason[256] = "no reason given";
    if (const unsigned long code = ERR_get_error())
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    throw std::runtime_error(std::string("test certificates: ") + what + ": " + reason);
}

KeyPtr newKey()
{
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        fail("EC key generation");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    if (!extension || X509_add_ext(cert, extension.get(), -1) != 1)
        fail("certificate extension");
}

CertPtr newCertificate(const std::string& commonName, EVP_PKEY* subjectKey)
{
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1)
        fail("certificate");
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        fail("serial number");
    serial[0] &= 0x7F;
    std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> number(BN_bin2bn(serial, sizeof serial, nullptr));
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert.get())))
        fail("serial number");
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0) != 1
        || X509_set_pubkey(cert.get(), subjectKey) != 1)
        fail("certificate subject");
    return cert;
}

std::string toPem(int (*write)(BIO*, const void*), const void* object)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get(), object) != 1)
        fail("PEM encoding");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string certificateToPem(const X509* cert)
{
    return toPem([](BIO* bio, const void* o) { return PEM_write_bio_X509(bio, static_cast<const X509*>(o)); }, cert);
}

std::string keyToPem(const EVP_PKEY* key)
{
    return toPem(
        [](BIO* bio, const void* o) {
            return PEM_write_bio_PrivateKey(bio, static_cast<const EVP_PKEY*>(o), nullptr, nullptr, 0, nullptr,
                                            nullptr);
        },
        key);
}

} // namespace

struct TestAuthority::Keys {
    KeyPtr key;
    CertPtr certificate;
};

TestAuthority::TestAuthority(const std::string& commonName) : m_keys(std::make_unique<Keys>())
{
    m_keys->key = newKey();
    m_keys->certificate = newCertificate(commonName, m_keys->key.get());
    X509* cert = m_keys->certificate.get();
    if (X509_set_issuer_name(cert, X509_get_subject_name(cert)) != 1)
        fail("CA issuer");
    addExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert, cert, NID_subject_key_identifier, "hash");
    if (X509_sign(cert, m_keys->key.get(), EVP_sha256()) == 0)
        fail("CA signature");
}

TestAuthority::~TestAuthority() = default;

std::string TestAuthority::certificatePem() const
{
    return certificateToPem(m_keys->certificate.get());
}

CertificateAndKey TestAuthority::issueServer(const std::vector<std::string>& hostNames,
                                             const std::vector<std::string>& ipAddresses) const
{
    KeyPtr key = newKey();
    const std::string commonName = !hostNames.empty() ? hostNames.front()
                                   : !ipAddresses.empty() ? ipAddresses.front()
                                                          : std::string("korvane-test-server");
    CertPtr cert = newCertificate(commonName, key.get());
    X509* ca = m_keys->certificate.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(ca)) != 1)
        fail("server issuer");
    addExtension(cert.get(), ca, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), ca, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    addExtension(cert.get(), ca, NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), ca, NID_authority_key_identifier, "keyid");
    std::string names;
    for (const auto& host : hostNames)
        names += (names.empty() ? "DNS:" : ",DNS:") + host;
    for (const auto& address : ipAddresses)
        names += (names.empty() ? "IP:" : ",IP:") + address;
    if (!names.empty())
        addExtension(cert.get(), ca, NID_subject_alt_name, names);
    if (X509_sign(cert.get(), m_keys->key.get(), EVP_sha256()) == 0)
        fail("server signature");
    return {certificateToPem(cert.get()), keyToPem(key.get())};
}

} // namespace korvane::test
