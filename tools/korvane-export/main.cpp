// korvane-export: the terminal export without the window, for scripts and scheduled runs.
//
//   korvane-export --server S --login L --out PATH [--yes] [--encrypt request|require] [--ca-file FILE]
//
// The password comes from KORVANE_PASSWORD, else is asked for without echo when standard input
// is a terminal, else is empty; it is never taken from the command line. Exit status: 0 after
// "Terminado!", 1 after a reported failure or Cancel, 2 on a usage error. --encrypt and
// --ca-file override KORVANE_ENCRYPT and KORVANE_CA_FILE.

#include "export/ConnectionString.h"
#include "export/ExportTerminals.h"
#include "process/ProcessSecrets.h"
#include "process/SecretText.h"
#include "tools/korvane-export/ConsoleOperator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Utilização: korvane-export --server SERVIDOR --login UTILIZADOR --out FICHEIRO [--yes]\n"
    "                      [--encrypt request|require] [--ca-file FICHEIRO]\n"
    "  Exporta os terminais da base de dados nitgenacdbsql00 para um ficheiro XML.\n"
    "  --server   servidor SQL Server: anfitrião, anfitrião\\instância ou anfitrião,porta, também com\n"
    "             o prefixo tcp:; (local) ou . para esta máquina; IPv6 como ::1 ou [::1],porta.\n"
    "             anfitrião:porta não é aceite: escreva anfitrião,porta\n"
    "  --login    utilizador SQL Server\n"
    "  --out      caminho do ficheiro XML\n"
    "  --yes      sobrepõe um ficheiro existente sem perguntar\n"
    "  --encrypt  request (por omissão): encripta se o servidor o oferecer;\n"
    "             require: recusa um servidor sem encriptação antes de enviar o utilizador\n"
    "             e a palavra-passe. Sem a opção vale KORVANE_ENCRYPT.\n"
    "  --ca-file  certificados PEM das autoridades em que o certificado do servidor tem de\n"
    "             assentar; o nome do servidor tem de constar do certificado. Implica\n"
    "             require. Sem a opção vale KORVANE_CA_FILE.\n"
    "  A palavra-passe vem de KORVANE_PASSWORD; sem ela é pedida no terminal.\n";

int UsageError(const QString& reason)
{
    std::fprintf(stderr, "korvane-export: %s\n%s", reason.toUtf8().constData(), kUsage);
    return kExitUsage;
}

} // namespace

int main(int argc, char* argv[])
{
    // The password must not outlive the process in a core file.
    static_cast<void>(korvane::KeepSecretsOutOfCoreDumps());
    // Out of the environment before anything else runs, so no other code (or /proc) sees it later.
    std::optional<std::string> environmentPassword =
        korvane::TakeSecretFromEnvironment(korvane::ConsoleOperator::kPasswordVariable);
    std::optional<QString> password;
    if (environmentPassword) {
        password = QString::fromStdString(*environmentPassword);
        korvane::WipeSecret(*environmentPassword);
    }
    QCoreApplication application(argc, argv);

    const QCommandLineOption server(QStringLiteral("server"), QString(), QStringLiteral("SERVIDOR"));
    const QCommandLineOption login(QStringLiteral("login"), QString(), QStringLiteral("UTILIZADOR"));
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("FICHEIRO"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption encrypt(QStringLiteral("encrypt"), QString(), QStringLiteral("MODO"));
    const QCommandLineOption caFile(QStringLiteral("ca-file"), QString(), QStringLiteral("FICHEIRO"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({server, login, out, yes, encrypt, caFile, help});

    if (!parser.parse(QCoreApplication::arguments()))
        return UsageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        return kExitFinished;
    }
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("argumento a mais: %1").arg(parser.positionalArguments().first()));
    for (const QCommandLineOption* required : {&server, &login, &out}) {
        if (!parser.isSet(*required))
            return UsageError(QStringLiteral("falta --%1").arg(required->names().first()));
    }

    korvane::ExportOptions options;
    if (parser.isSet(encrypt)) {
        const std::optional<korvane::Encryption> encryption = korvane::ParseEncryption(parser.value(encrypt));
        if (!encryption)
            return UsageError(QStringLiteral("--encrypt aceita request ou require, não \"%1\"").arg(parser.value(encrypt)));
        options.security.encryption = *encryption;
        options.security.invalidSetting.clear();
    }
    if (parser.isSet(caFile)) {
        if (parser.value(caFile).isEmpty())
            return UsageError(QStringLiteral("--ca-file precisa de um ficheiro"));
        options.security.caFile = parser.value(caFile);
    }

    korvane::ConsoleOperator op(
        {parser.value(server), parser.value(login), parser.value(out), parser.isSet(yes), std::move(password)});
    korvane::ExportTerminals(op, options);
    return op.finished() ? kExitFinished : kExitFailed;
}
