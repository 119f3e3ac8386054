#include "export/ConnectionSecurity.h"

#include <QtGlobal>

namespace korvane {

std::optional<Encryption> ParseEncryption(QStringView text)
{
    if (text.compare(QLatin1StringView("request"), Qt::CaseInsensitive) == 0)
        return Encryption::Request;
    if (text.compare(QLatin1StringView("require"), Qt::CaseInsensitive) == 0)
        return Encryption::Require;
    return std::nullopt;
}

ConnectionSecurity ConnectionSecurityFromEnvironment()
{
    ConnectionSecurity security;
    const QString encryption = qEnvironmentVariable(kEncryptVariable);
    if (!encryption.isEmpty()) {
        if (const std::optional<Encryption> parsed = ParseEncryption(encryption)) {
            security.encryption = *parsed;
        } else {
            security.invalidSetting =
                QStringLiteral("%1 tem o valor \"%2\", mas só aceita request ou require. A ligação não foi tentada.")
                    .arg(QLatin1StringView(kEncryptVariable), encryption);
        }
    }
    security.caFile = qEnvironmentVariable(kCaFileVariable);
    return security;
}

} // namespace korvane
