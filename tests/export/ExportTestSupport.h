#pragma once

#include "tests/export/QtPrinting.h"

#include "tests/support/TdsTestServer.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <optional>

namespace korvane::test {

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

inline bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline TerminalRow Row(std::optional<qint32> id, const std::optional<QString>& name,
                       const std::optional<QString>& description, const std::optional<QDateTime>& date,
                       const std::optional<QByteArray>& mac, std::optional<quint8> status)
{
    TerminalRow row;
    row.nodeId = id;
    if (name)
        row.nodeName = *name;
    if (description)
        row.description = *description;
    if (date)
        row.regDate = *date;
    if (mac)
        row.macAddr = *mac;
    row.status = status;
    return row;
}

inline QDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

// The shortest time-out that still shows a wait ending: the driver counts in whole seconds.
inline constexpr int kShortTimeoutSeconds = 1;

} // namespace korvane::test
