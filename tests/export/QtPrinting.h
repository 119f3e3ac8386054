#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Lets GoogleTest show Qt strings as text, in failure messages and after "<<".
inline std::ostream& operator<<(std::ostream& out, const QString& text)
{
    return out << '"' << text.toStdString() << '"';
}

inline std::ostream& operator<<(std::ostream& out, const QByteArray& bytes)
{
    return out << '"' << bytes.toStdString() << '"';
}
