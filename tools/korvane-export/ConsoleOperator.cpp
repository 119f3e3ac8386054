#include "tools/korvane-export/ConsoleOperator.h"

#include "export/ConnectionString.h"
#include "export/WipeSecret.h"
#include "process/SecretText.h"
#include "tools/Terminal.h"

#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <iostream>
#include <string>

namespace korvane {

namespace {


void WriteLine(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

bool IsYes(const QString& answer)
{
    static const QStringList yes = {QStringLiteral("s"), QStringLiteral("sim"), QStringLiteral("y"),
                                    QStringLiteral("yes"), QStringLiteral("ok")};
    return yes.contains(answer.trimmed(), Qt::CaseInsensitive);
}

} // namespace

ConsoleOperator::ConsoleOperator(Fields fields)
    : m_fields(std::move(fields))
{
}

ConsoleOperator::~ConsoleOperator()
{
    if (m_fields.password)
        WipeSecret(*m_fields.password);
}

QString ConsoleOperator::passwordText() const
{
    if (m_fields.password)
        return *m_fields.password;
    if (!terminal::StdinIsTerminal())
        return QString();
    std::optional<std::string> typed = terminal::ReadSecretLine("Palavra-passe: ");
    if (!typed)
        return QString();
    QString password = QString::fromStdString(*typed);
    WipeSecret(*typed);
    return password;
}

void ConsoleOperator::showMessage(const QString& text, const QString&, MessageIcon icon)
{
    if (icon == MessageIcon::Critical) {
        m_failed = true;
        WriteLine(stderr, text);
    } else {
        m_finished = true;
        WriteLine(stdout, text);
    }
}

Answer ConsoleOperator::askOkCancel(const QString& text, const QString& title)
{
    if (m_fields.yes)
        return Answer::Ok;
    const QString question = title + QLatin1Char(' ') + text;
    if (!terminal::StdinIsTerminal()) {
        WriteLine(stderr, question + QStringLiteral(" Cancelar (sem terminal para perguntar; --yes sobrepõe)"));
        return Answer::Cancel;
    }
    const QByteArray prompt = (question + QStringLiteral(" [s/N] ")).toUtf8();
    std::fwrite(prompt.constData(), 1, static_cast<std::size_t>(prompt.size()), stderr);
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line))
        return Answer::Cancel;
    return IsYes(QString::fromStdString(line)) ? Answer::Ok : Answer::Cancel;
}

} // namespace korvane
