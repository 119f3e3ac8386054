#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace korvane::test {

// The TDS test server (korvane-tds-server) as a child process, serving until this ends. The
// server says "listening HOST,PORT" on its first line once it accepts connections; its standard
// error goes to this process's.
class ServerProcess {
public:
    // Starts `program` with `arguments` and waits up to `deadlineMs` for that line. When it does
    // not come, serverText() is empty and error() says what happened.
    ServerProcess(const QString& program, const QStringList& arguments, int deadlineMs = 10'000);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    QString serverText() const { return m_serverText; }   // "HOST,PORT"
    quint16 port() const { return m_port; }
    QString error() const { return m_error; }

private:
    QProcess m_process;
    QString m_serverText;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace korvane::test
