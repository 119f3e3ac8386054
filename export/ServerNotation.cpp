#include "export/ServerNotation.h"

#include "export/ConnectionString.h"
#include "export/OdbcError.h"

namespace korvane {

namespace {

[[noreturn]] void Refuse(const QString& text)
{
    throw OdbcError(QStringLiteral("01S00"), kBadConnectionValue, text + QStringLiteral(" A ligação não foi tentada."));
}

[[noreturn]] void RefuseColon(const QString& server, const QString& commaForm)
{
    Refuse(QStringLiteral("O servidor \"%1\" separa a porta com dois pontos, o que o SQL Server não aceita; "
                          "escreva %2.")
               .arg(server, commaForm));
}

bool IsPort(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 5)
        return false;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const int number = digits.toInt();
    return number >= 1 && number <= 65535;
}

bool StartsWith(QStringView text, QLatin1StringView prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

} // namespace

ServerAddress ParseServerNotation(const QString& server)
{
    QStringView rest(server);
    if (StartsWith(rest, QLatin1StringView("tcp:")))
        rest = rest.mid(4);
    else if (StartsWith(rest, QLatin1StringView("np:")) || StartsWith(rest, QLatin1StringView("lpc:")))
        Refuse(QStringLiteral("O servidor \"%1\" pede pipes com nome ou memória partilhada, que só existem em "
                              "Windows; indique-o por TCP, como anfitrião,porta.")
                   .arg(server));

    ServerAddress address;
    if (const qsizetype comma = rest.lastIndexOf(u','); comma >= 0 && IsPort(rest.mid(comma + 1))) {
        address.port = rest.mid(comma + 1).toString();
        rest = rest.left(comma);
    }
    if (const qsizetype backslash = rest.indexOf(u'\\'); backslash >= 0) {
        const QStringView instance = rest.mid(backslash + 1);
        if (const qsizetype colon = instance.indexOf(u':'); colon >= 0)
            RefuseColon(server, rest.left(backslash + 1 + colon).toString() + u',' + instance.mid(colon + 1).toString());
        if (address.port.isEmpty())
            address.instance = instance.toString();
        rest = rest.left(backslash);
    }

    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close > 1 && rest.mid(1, close - 1).contains(u':')) {
            const QStringView literal = rest.mid(1, close - 1);
            const QStringView after = rest.mid(close + 1);
            if (after.startsWith(u':') && IsPort(after.mid(1)))
                RefuseColon(server, literal.toString() + u',' + after.mid(1).toString());
            if (after.isEmpty())
                rest = literal;
        }
    } else if (rest.count(u':') == 1) {
        const qsizetype colon = rest.indexOf(u':');
        QString suggestion = rest.left(colon).toString();
        if (!address.instance.isEmpty())
            suggestion += u'\\' + address.instance;
        suggestion += u',' + rest.mid(colon + 1).toString();
        RefuseColon(server, suggestion);
    }

    if (rest.compare(QLatin1StringView("(local)"), Qt::CaseInsensitive) == 0 || rest == u".")
        address.host = QStringLiteral("localhost");
    else
        address.host = rest.toString();
    return address;
}

} // namespace korvane
