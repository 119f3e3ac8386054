#include "tests/support/ServerProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace korvane::test {

ServerProcess::ServerProcess(const QString& program, const QStringList& arguments, int deadlineMs)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, arguments);
    const QDeadlineTimer deadline(deadlineMs);
    if (!m_process.waitForStarted(static_cast<int>(deadline.remainingTime()))) {
        m_error = program + QStringLiteral(" did not start: ") + m_process.errorString();
        return;
    }
    QByteArray line;
    while (!line.contains('\n')) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            m_error = program + QStringLiteral(" did not say where it listens within %1 ms").arg(deadlineMs);
            return;
        }
        line += m_process.readAllStandardOutput();
    }
    static const QRegularExpression listening(QStringLiteral("^listening ((\\S+),(\\d+))\\n"));
    const QRegularExpressionMatch match = listening.match(QString::fromUtf8(line));
    bool ok = false;
    const quint16 port = match.hasMatch() ? match.captured(3).toUShort(&ok) : 0;
    if (!ok) {
        m_error = program + QStringLiteral(" said: ") + QString::fromUtf8(line);
        return;
    }
    m_serverText = match.captured(1);
    m_port = port;
}

ServerProcess::~ServerProcess()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5'000)) {
        m_process.kill();
        m_process.waitForFinished(5'000);
    }
}

} // namespace korvane::test
