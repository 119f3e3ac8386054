// korvane-tds-server: the TDS test server as a process, for scripts and demos.
//
//   korvane-tds-server [--port N] [--login L] [--password P] [--catalog C] [--rows demo|N]
//                      [--fault NAME] [--close-after-rows N] [--delay-ms N] [--mac-as-text]
//                      [--description-length N] [--encrypt offered|required --ca-out FILE]
//
// With --encrypt it answers PRELOGIN with TLS, under a certificate for localhost and 127.0.0.1 made at start by a
// certificate authority of its own, whose certificate it writes to the --ca-out file.
// Prints "listening 127.0.0.1,<port>" once it accepts clients and serves until SIGINT or SIGTERM.

#include "tests/support/TdsTestServer.h"

#include <QCommandLineParser>
#include <QFile>
#include <QStringList>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void requestStop(int)
{
    stopRequested = true;
}

const std::map<QString, korvane::test::ServerFault>& faultNames()
{
    using korvane::test::ServerFault;
    static const std::map<QString, ServerFault> names{
        {QStringLiteral("none"), ServerFault::None},
        {QStringLiteral("silent"), ServerFault::SilentAfterAccept},
        {QStringLiteral("close-before-login-ack"), ServerFault::CloseBeforeLoginAck},
        {QStringLiteral("close-mid-rows"), ServerFault::CloseMidRows},
        {QStringLiteral("unknown-table"), ServerFault::UnknownTable},
        {QStringLiteral("query-error"), ServerFault::QueryError},
    };
    return names;
}

int usageError(const QString& message, const QCommandLineParser& parser)
{
    std::fprintf(stderr, "korvane-tds-server: %s\n\n%s", qPrintable(message), qPrintable(parser.helpText()));
    return 2;
}

bool toCount(const QString& text, int& value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("TDS 7.4 test server holding a NGAC_Terminal table."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port on 127.0.0.1 (0: any free one)."),
                                  QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption login(QStringLiteral("login"), QStringLiteral("The one SQL Server login accepted."),
                                   QStringLiteral("L"), QStringLiteral("operador"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Its password."),
                                      QStringLiteral("P"), QStringLiteral("segredo"));
    const QCommandLineOption catalog(QStringLiteral("catalog"), QStringLiteral("The one database offered."),
                                     QStringLiteral("C"), QStringLiteral("nitgenacdbsql00"));
    const QCommandLineOption rows(QStringLiteral("rows"),
                                  QStringLiteral("Terminal rows: 'demo' for a few samples, or a number to generate."),
                                  QStringLiteral("demo|N"), QStringLiteral("demo"));
    QStringList faults;
    for (const auto& [name, fault] : faultNames())
        faults << name;
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Misbehaviour to show: %1.").arg(faults.join(QStringLiteral(", "))),
                                   QStringLiteral("NAME"), QStringLiteral("none"));
    const QCommandLineOption closeAfter(QStringLiteral("close-after-rows"),
                                        QStringLiteral("Rows sent before close-mid-rows drops the client."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"),
                                   QStringLiteral("Wait before answering a login and the terminal query."),
                                   QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption macAsText(QStringLiteral("mac-as-text"),
                                       QStringLiteral("Type the MacAddr column nvarchar instead of varbinary."));
    const QCommandLineOption descriptionLength(
        QStringLiteral("description-length"),
        QStringLiteral("Type Description nvarchar(N), 1..4000, instead of nvarchar(max) (bsqldb prints (max) as hex)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption encrypt(
        QStringLiteral("encrypt"),
        QStringLiteral("Offer TLS ('offered': only the login encrypted unless the client asks for more) or "
                       "require it for the whole connection ('required')."),
        QStringLiteral("offered|required"));
    const QCommandLineOption caOut(QStringLiteral("ca-out"),
                                   QStringLiteral("With --encrypt: where to write the CA certificate to trust."),
                                   QStringLiteral("FILE"));
    parser.addOptions({help, port, login, password, catalog, rows, fault, closeAfter, delay, macAsText,
                       descriptionLength, encrypt, caOut});

    if (!parser.parse(arguments))
        return usageError(parser.errorText(), parser);
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()), parser);

    korvane::test::ServerConfig config;
    config.login = parser.value(login);
    config.password = parser.value(password);
    config.catalog = parser.value(catalog);
    config.macAddrAsText = parser.isSet(macAsText);

    int portNumber = 0;
    if (!toCount(parser.value(port), portNumber) || portNumber > 65535)
        return usageError(QStringLiteral("--port wants a port number"), parser);
    if (const QString value = parser.value(rows); value == QLatin1String("demo")) {
        config.rows = korvane::test::demoTerminalRows();
    } else {
        int count = 0;
        if (!toCount(value, count))
            return usageError(QStringLiteral("--rows wants 'demo' or a number"), parser);
        config.rows = korvane::test::generatedTerminalRows(count);
    }
    const auto named = faultNames().find(parser.value(fault));
    if (named == faultNames().end())
        return usageError(QStringLiteral("unknown fault '%1'").arg(parser.value(fault)), parser);
    config.fault = named->second;
    int milliseconds = 0;
    if (!toCount(parser.value(delay), milliseconds))
        return usageError(QStringLiteral("--delay-ms wants a number of milliseconds"), parser);
    config.answerDelay = std::chrono::milliseconds(milliseconds);
    if (!toCount(parser.value(closeAfter), config.closeAfterRows))
        return usageError(QStringLiteral("--close-after-rows wants a number"), parser);

    if (!toCount(parser.value(descriptionLength), config.descriptionLength) || config.descriptionLength > 4000)
        return usageError(QStringLiteral("--description-length wants 0..4000"), parser);

    std::optional<korvane::test::TestAuthority> authority;
    if (parser.isSet(encrypt)) {
        const QString mode = parser.value(encrypt);
        if (mode == QLatin1String("offered"))
            config.encryption = korvane::test::ServerEncryption::Offered;
        else if (mode == QLatin1String("required"))
            config.encryption = korvane::test::ServerEncryption::Required;
        else
            return usageError(QStringLiteral("--encrypt wants 'offered' or 'required'"), parser);
        if (!parser.isSet(caOut))
            return usageError(QStringLiteral("--encrypt wants --ca-out FILE"), parser);
        try {
            authority.emplace("Korvane test CA");
            config.certificate = authority->issueServer({"localhost"}, {"127.0.0.1", "::1"});
        } catch (const std::exception& error) {
            std::fprintf(stderr, "korvane-tds-server: %s\n", error.what());
            return 1;
        }
        QFile file(parser.value(caOut));
        const std::string pem = authority->certificatePem();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(pem.data(), static_cast<qint64>(pem.size())) != static_cast<qint64>(pem.size()) || !file.flush()) {
            std::fprintf(stderr, "korvane-tds-server: cannot write %s: %s\n", qPrintable(parser.value(caOut)),
                         qPrintable(file.errorString()));
            return 1;
        }
    }

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    try {
        korvane::test::TdsTestServer server(std::move(config), static_cast<quint16>(portNumber));
        std::printf("listening %s\n", qPrintable(server.serverText()));
        std::fflush(stdout);
        while (!stopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-tds-server: %s\n", error.what());
        return 1;
    }
    return 0;
}
