#pragma once

// Certificates made at test time: a certificate authority of our own and server certificates it signs, so no
// private key ever sits in the repository. EC P-256 keys, SHA-256 signatures, valid from an hour ago for a day.

#include <memory>
#include <string>
#include <vector>

namespace korvane::test {

struct CertificateAndKey {
    std::string certificatePem;
    std::string privateKeyPem;
};

class TestAuthority {
public:
    // A self-signed CA certificate with `commonName` as subject. Throws std::runtime_error with OpenSSL's reason.
    explicit TestAuthority(const std::string& commonName);
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    std::string certificatePem() const;

    // A server certificate for these subject alternative names (host names and IP addresses); the first host
    // name, else the first address, is also its common name.
    CertificateAndKey issueServer(const std::vector<std::string>& hostNames,
                                  const std::vector<std::string>& ipAddresses) const;

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
};

} // namespace korvane::test
