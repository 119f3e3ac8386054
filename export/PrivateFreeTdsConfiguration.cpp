#include "export/PrivateFreeTdsConfiguration.h"

#include "export/ConnectionString.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

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

std::mutex& ConnectTurn()
{
    static std::mutex turn;
    return turn;
}

// Made on first use, removed when the process ends. FreeTDS opens its log once a process and
// keeps writing to it, so the folder cannot go with each connection.
const QTemporaryDir& PrivateFolder()
{
    static const QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/korvane-XXXXXX"));
    return folder;
}

} // namespace

QString PrivateFreeTdsConfiguration::sectionName()
{
    return QStringLiteral("korvane");
}

PrivateFreeTdsConfiguration::PrivateFreeTdsConfiguration(const ServerAddress& address,
                                                         const ConnectionSecurity& security)
    : m_turn(ConnectTurn()), m_host(address.host), m_caFile(security.caFile)
{
    static const QRegularExpression hostCharacters(QStringLiteral("^[A-Za-z0-9._:-]+$"));
    static const QRegularExpression instanceCharacters(QStringLiteral("^[A-Za-z0-9_$-]*$"));
    static const QRegularExpression pathCharacters(QStringLiteral("^[A-Za-z0-9/._-]+$"));
    if (!FitsConfiguration(address.host, hostCharacters) || !FitsConfiguration(address.instance, instanceCharacters))
        Refuse(QStringLiteral("O servidor \"%1\" tem caracteres que uma ligação encriptada não consegue levar ao "
                              "controlador ODBC.")
                   .arg(address.host + (address.instance.isEmpty() ? QString() : u'\\' + address.instance)));
    const QTemporaryDir& privateFolder = PrivateFolder();
    if (!privateFolder.isValid() || !FitsConfiguration(privateFolder.path(), pathCharacters)) {
        throw OdbcError(QStringLiteral("HY000"), 0,
                        QStringLiteral("Não foi possível criar a pasta privada da ligação em %1: %2")
                            .arg(QDir::toNativeSeparators(QDir::tempPath()), privateFolder.errorString()));
    }
    const QString folder = privateFolder.path();
    m_logPath = folder + QStringLiteral("/freetds.log");

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
    // Severe, error and first-level information: the TLS verdicts, without packets or TLS
    // records. Appended to, so that what one connect wrote starts where the log ended before it.
    conf += "\tdump file = " + m_logPath.toLatin1() + "\n";
    conf += "\tdump file append = yes\n";
    conf += "\tdebug flags = 0x07\n";
    const QString configuration = folder + QStringLiteral("/freetds.conf");
    WriteFile(configuration, conf);
    m_logStart = QFileInfo(m_logPath).size();

    m_hadConfiguration = qEnvironmentVariableIsSet("FREETDSCONF");
    m_previousConfiguration = qgetenv("FREETDSCONF");
    qputenv("FREETDSCONF", QFile::encodeName(configuration));
}

PrivateFreeTdsConfiguration::~PrivateFreeTdsConfiguration()
{
    if (m_hadConfiguration)
        qputenv("FREETDSCONF", m_previousConfiguration);
    else
        qunsetenv("FREETDSCONF");
}

OdbcError PrivateFreeTdsConfiguration::explainRefusal(const OdbcError& error) const
{
    QFile logFile(m_logPath);
    if (!logFile.open(QIODevice::ReadOnly))
        return error;
    if (logFile.size() >= m_logStart)
        logFile.seek(m_logStart);
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
