#include "export/OdbcError.h"

#include <QStringList>

namespace korvane {

OdbcError::OdbcError(std::vector<OdbcDiagnostic> diagnostics)
    : m_diagnostics(std::move(diagnostics))
{
    m_what = (QString::number(number()) + QStringLiteral(" - ") + description()).toStdString();
}

OdbcError::OdbcError(const QString& sqlState, qint32 nativeError, const QString& message)
    : OdbcError(std::vector<OdbcDiagnostic>{{sqlState, nativeError, message}})
{
}

qint32 OdbcError::number() const noexcept
{
    for (const OdbcDiagnostic& record : m_diagnostics) {
        if (record.nativeError != 0)
            return record.nativeError;
    }
    return 0;
}

QString OdbcError::description() const
{
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(m_diagnostics.size()));
    for (const OdbcDiagnostic& record : m_diagnostics)
        lines.append(record.message);
    return lines.join(QLatin1Char('\n'));
}

} // namespace korvane
