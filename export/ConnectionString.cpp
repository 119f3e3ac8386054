#include "export/ConnectionString.h"

#include "export/OdbcError.h"
#include "export/ServerNotation.h"

#ifndef KORVANE_ODBC_DRIVER
#define KORVANE_ODBC_DRIVER "FreeTDS"
#endif

namespace korvane {

namespace {

// Fixed text around the values: key names, braces, separators, "TDS_Version=7.4;" and
// "Encryption={require};".
constexpr std::size_t kFixedLength = 128;

void Refuse(const QString& field, const QString& reason)
{
    throw OdbcError(QStringLiteral("01S00"), kBadConnectionValue,
                    QStringLiteral("%1 %2, que o controlador ODBC não consegue receber sem o alterar. "
                                   "A ligação não foi tentada.").arg(field, reason));
}

void CheckCarried(OdbcDialect dialect, const QString& value, const QString& field)
{
    if (value.contains(QChar(u'\0')))
        Refuse(field, QStringLiteral("contém um carácter nulo"));
    if (dialect == OdbcDialect::FreeTds && value.contains(QStringLiteral("};")))
        Refuse(field, QStringLiteral("contém \"};\""));
}

void AppendBraced(ConnectionString& out, OdbcDialect dialect, QStringView value)
{
    out.append(u'{');
    if (dialect == OdbcDialect::FreeTds) {
        out.append(value);
    } else {
        for (QChar c : value) {
            out.append(c.unicode());
            if (c == u'}')
                out.append(u'}');
        }
    }
    out.append(u'}');
}

void AppendPair(ConnectionString& out, OdbcDialect dialect, QStringView key, QStringView value)
{
    out.append(key);
    out.append(u'=');
    AppendBraced(out, dialect, value);
    out.append(u';');
}

} // namespace

OdbcDialect DialectOfDriver(QStringView driverName)
{
    return driverName.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive) ? OdbcDialect::FreeTds
                                                                               : OdbcDialect::Standard;
}

QString ConfiguredOdbcDriver()
{
    return QStringLiteral(KORVANE_ODBC_DRIVER);
}

ConnectionString::ConnectionString(std::size_t capacity)
{
    m_text.reserve(capacity);
}

ConnectionString::ConnectionString(ConnectionString&& other) noexcept
    : m_text(std::move(other.m_text))
{
    other.wipe();
}

ConnectionString& ConnectionString::operator=(ConnectionString&& other) noexcept
{
    if (this != &other) {
        wipe();
        m_text = std::move(other.m_text);
        other.wipe();
    }
    return *this;
}

void ConnectionString::append(QStringView text)
{
    Q_ASSERT(m_text.size() + static_cast<std::size_t>(text.size()) <= m_text.capacity());
    m_text.append(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

void ConnectionString::append(char16_t c)
{
    Q_ASSERT(m_text.size() < m_text.capacity());
    m_text.push_back(c);
}

void ConnectionString::wipe() noexcept
{
    volatile char16_t* p = m_text.data();
    for (std::size_t i = 0; i < m_text.size(); ++i)
        p[i] = 0;
    m_text.clear();
}

ConnectionString BuildConnectionString(OdbcDialect dialect, const QString& driver, const QString& server,
                                       const QString& catalog, const QString& login, const QString& password,
                                       Encryption encryption, const QString& serverSection)
{
    CheckCarried(dialect, driver, QStringLiteral("O nome do controlador"));
    CheckCarried(dialect, server, QStringLiteral("O servidor"));
    CheckCarried(dialect, catalog, QStringLiteral("O catálogo"));
    CheckCarried(dialect, login, QStringLiteral("O utilizador"));
    CheckCarried(dialect, password, QStringLiteral("A palavra-passe"));
    CheckCarried(dialect, serverSection, QStringLiteral("A secção do freetds.conf"));
    const ServerAddress address = ParseServerNotation(server);

    // Doubling every "}" at most doubles a value; reserving that up front keeps the
    // password in one buffer.
    const auto values = static_cast<std::size_t>(driver.size() + server.size() + catalog.size() + login.size()
                                                 + password.size() + serverSection.size());
    ConnectionString out(kFixedLength + 2 * values);

    AppendPair(out, dialect, u"DRIVER", driver);
    if (dialect == OdbcDialect::FreeTds && !serverSection.isEmpty()) {
        AppendPair(out, dialect, u"SERVERNAME", serverSection);
    } else if (dialect == OdbcDialect::FreeTds) {
        // FreeTDS reads "host\instance" itself. It would take "host,port" too, but then sends the
        // whole text as the login's server name with a NUL where the comma was.
        if (!address.port.isEmpty()) {
            AppendPair(out, dialect, u"SERVER", address.host);
            out.append(u"PORT=");
            out.append(address.port);
            out.append(u';');
        } else if (!address.instance.isEmpty()) {
            AppendPair(out, dialect, u"SERVER", address.host + u'\\' + address.instance);
        } else {
            AppendPair(out, dialect, u"SERVER", address.host);
        }
    } else {
        AppendPair(out, dialect, u"SERVER", server);
    }
    AppendPair(out, dialect, u"DATABASE", catalog);
    AppendPair(out, dialect, u"UID", login);
    AppendPair(out, dialect, u"PWD", password);
    if (dialect == OdbcDialect::FreeTds)
        out.append(u"TDS_Version=7.4;");
    if (encryption == Encryption::Require)
        out.append(dialect == OdbcDialect::FreeTds ? u"Encryption={require};" : u"Encrypt={yes};");
    return out;
}

} // namespace korvane
