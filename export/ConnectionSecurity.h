#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace korvane {

// What the operator asks of the connection's encryption.
enum class Encryption {
    Request,   // encrypt when the server offers it (the drivers' default)
    Require,   // refuse a server that does not encrypt, before the login is sent
};

struct ConnectionSecurity {
    Encryption encryption = Encryption::Request;
    // PEM certificates of the authorities the server's certificate must chain to; its host name
    // must then match the server's too. Empty: the certificate is not checked. A CA file implies
    // Require: a check that a server can avoid by not encrypting would check nothing.
    QString caFile;
    // Set when the setting itself could not be read (KORVANE_ENCRYPT with another value): the
    // connection is refused with this text.
    QString invalidSetting;

    bool encryptionRequired() const noexcept { return encryption == Encryption::Require || !caFile.isEmpty(); }
};

// Both programs read these at every export; korvane-export's options override them.
inline constexpr char kEncryptVariable[] = "KORVANE_ENCRYPT";
inline constexpr char kCaFileVariable[] = "KORVANE_CA_FILE";

// "request" or "require", in any case; nullopt for anything else.
std::optional<Encryption> ParseEncryption(QStringView text);

// KORVANE_ENCRYPT (unset or empty: request) and KORVANE_CA_FILE (unset or empty: none).
ConnectionSecurity ConnectionSecurityFromEnvironment();

} // namespace korvane
