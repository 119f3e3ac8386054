#include "PrivateFreeTdsConfiguration.h"

#include "ConnectionString.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

namespace korvane {

namespace {

// Driver log lines (FreeTDS 1.3, GnuTLS build) that name a cause.
constexpr char kHostNameMismatch[] = "Certificate hostname does not match";
constexpr char kCertificateStatus[] = "Certificate status:";
constexpr char kHandshakeFailed[] = "handshake failed:";
constexpr char kLoginRejected[] = "login packet rejected";
// TDSEFCON: the driver gave up before the server answered a login.
constexpr qint32 kConnectionFailed = 20002;


[[noreturn]] void Refuse(const QString& text)
{
    throw OdbcError(QStringLiteral("01S00"), kBadConnectionValue, text + QStringLiteral(" A ligação não foi tentada."));
}

// freetds.conf takes a value up to the end of its line and reads ";" and "#" as comments; these
// are the characters a host, an instance or our folder are made of.
bool FitsConfiguration(const QString& value, const QRegularExpression& allowed)
{
    return allowed.match(value).hasMatch();
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        throw OdbcError(QStringLiteral("HY000"), 0,
                        QStringLiteral("Não foi possível escrever %1: %2").arg(QDir::toNativeSeparators(path),
                                                                              file.errorString()));
    }
}

} // namespace

QString PrivateFreeTdsConfiguration::sectionName()
{
    return QStringLiteral("korvane");
}

PrivateFreeTdsConfiguration::PrivateFreeTdsConfiguration(const ServerAddress& address,
                                                         const ConnectionSecurity& security)
    : m_folder(QDir::tempPath() + QStringLiteral("/korvane-XXXXXX")), m_host(address.host),
      m_caFile(security.caFile)
{
    static const QRegularExpression hostCharacters(QStringLiteral("^[A-Za-z0-9._:-]+$"));
    static const QRegularExpression instanceCharacters(QStringLiteral("^[A-Za-z0-9_$-]*$"));
    static const QRegularExpression pathCharacters(QStringLiteral("^[A-Za-z0-9/._-]+$"));
    if (!FitsConfiguration(address.host, hostCharacters) || !FitsConfiguration(address.instance, instanceCharacters))
        Refuse(QStringLiteral("O servidor \"%1\" tem caracteres que uma ligação encriptada não consegue levar ao "
                              "controlador ODBC.")
                   .arg(address.host + (address.instance.isEmpty() ? QString() : u'\\' + address.instance)));
    if (!m_folder.isValid() || !FitsConfiguration(m_folder.path(), pathCharacters)) {
        throw OdbcError(QStringLiteral("HY000"), 0,
                        QStringLiteral("Não foi possível criar a pasta privada da ligação em %1: %2")
                            .arg(QDir::toNativeSeparators(QDir::tempPath()), m_folder.errorString()));
    }
    const QString folder = m_folder.path();

    QByteArray conf = "[" + sectionName().toLatin1() + "]\n";
    conf += "\thost = " + address.host.toLatin1() + "\n";
    if (!address.port.isEmpty())
        conf += "\tport = " + address.port.toLatin1() + "\n";
    else if (!address.instance.isEmpty())
        conf += "\tinstance = " + address.instance.toLatin1() + "\n";
    conf += "\ttds version = 7.4\n\tencryption = require\n";
    if (!security.caFile.isEmpty()) {
        QFile authorities(security.caFile);
        if (!authorities.open(QIODevice::ReadOnly))
            Refuse(QStringLiteral("Não foi possível ler o ficheiro de autoridades de certificação \"%1\": %2.")
                       .arg(QDir::toNativeSeparators(security.caFile), authorities.errorString()));
        const QByteArray pem = authorities.readAll();
        if (authorities.error() != QFileDevice::NoError)
            Refuse(QStringLiteral("Não foi possível ler o ficheiro de autoridades de certificação \"%1\": %2.")
                       .arg(QDir::toNativeSeparators(security.caFile), authorities.errorString()));
        if (!pem.contains("-----BEGIN CERTIFICATE-----"))
            Refuse(QStringLiteral("O ficheiro \"%1\" não tem certificados em formato PEM.")
                       .arg(QDir::toNativeSeparators(security.caFile)));
        // A copy under a plain name: the operator's path may hold what freetds.conf cannot.
        WriteFile(folder + QStringLiteral("/ca.pem"), pem);
        conf += "\tca file = " + folder.toLatin1() + "/ca.pem\n";
        conf += "\tcheck certificate hostname = yes\n";
    }
    conf += "\tdump file = " + folder.toLatin1() + "/freetds.log\n";
    // Severe, error and first-level information: the TLS verdicts, without packets or TLS records.
    conf += "\tdebug flags = 0x07\n";
    m_configurationPath = QFile::encodeName(folder + QStringLiteral("/freetds.conf"));
    WriteFile(QFile::decodeName(m_configurationPath), conf);
}

PrivateFreeTdsConfiguration::Active::Active(const QByteArray& path)
    : m_wasSet(qEnvironmentVariableIsSet("FREETDSCONF")), m_previous(qgetenv("FREETDSCONF"))
{
    qputenv("FREETDSCONF", path);
}

PrivateFreeTdsConfiguration::Active::~Active()
{
    if (m_wasSet)
        qputenv("FREETDSCONF", m_previous);
    else
        qunsetenv("FREETDSCONF");
}

OdbcError PrivateFreeTdsConfiguration::explainRefusal(const OdbcError& error) const
{
    QFile logFile(m_folder.path() + QStringLiteral("/freetds.log"));
    if (!logFile.open(QIODevice::ReadOnly))
        return error;
    const QByteArray log = logFile.readAll();
    const qint32 number = error.number();
    QString cause;
    if (log.contains(kHostNameMismatch)) {
        cause = QStringLiteral("O certificado do servidor não é para o nome \"%1\": a ligação foi recusada.").arg(m_host);
    } else if (log.contains(kCertificateStatus)) {
        cause = QStringLiteral("O certificado do servidor não é assinado por nenhuma autoridade de \"%1\": a ligação "
                               "foi recusada.")
                    .arg(QDir::toNativeSeparators(m_caFile));
    } else if (const qsizetype at = log.indexOf(kHandshakeFailed); at >= 0) {
        const qsizetype end = log.indexOf('\n', at);
        const QString reason =
            QString::fromUtf8(log.mid(at + qsizetype(sizeof kHandshakeFailed) - 1, end < 0 ? -1 : end - at
                                                                                        - qsizetype(sizeof kHandshakeFailed) + 1))
                .trimmed();
        cause = QStringLiteral("A negociação TLS com o servidor falhou (%1): a ligação foi recusada.").arg(reason);
    } else if (number == kConnectionFailed && log.contains(kLoginRejected)) {
        cause = QStringLiteral("O servidor não oferece encriptação e a ligação exige-a: a ligação foi recusada.");
    } else {
        return error;
    }
    return OdbcError(QStringLiteral("08001"), number,
                     cause + QStringLiteral(" O utilizador e a palavra-passe não foram enviados."));
}

} // namespace korvane
