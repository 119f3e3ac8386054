#include "export/TextPadding.h"

#include <algorithm>

namespace korvane {

QString TrimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

QString PadLeft(const QString& text, qint16 width, const QString& fill)
{
    const QChar pad = fill.isEmpty() ? QChar(u'0') : fill.at(0);
    const QString trimmed = TrimBlanks(text);
    const qsizetype length = std::max<qsizetype>(width, trimmed.size());
    return QString(length - trimmed.size(), pad) + trimmed;
}

} // namespace korvane
