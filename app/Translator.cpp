#include "app/Translator.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace korvane {

Translator::Translator()
{
    const QLocale portuguese(QLocale::Portuguese, QLocale::Portugal);
    QLocale::setDefault(portuguese);

    // Newer Qt releases split their texts into qtbase_ and others, with qt_ a catalogue of
    // them; Debian 12 ships only the single qt_pt_PT of Qt 4 days. The first found serves.
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* name : {"qtbase_pt_PT", "qt_pt_PT"}) {
        if (m_qt.load(QString::fromLatin1(name), qtFolder)) {
            m_qtInstalled = QCoreApplication::installTranslator(&m_qt);
            break;
        }
    }
    // Installed last, so it is asked first.
    if (m_own.load(QStringLiteral(":/korvane/translations/korvane_pt_PT.qm")))
        m_ownInstalled = QCoreApplication::installTranslator(&m_own);
}

bool Translator::translates(const char* context, const char* source, const char* disambiguation) const
{
    return !m_own.translate(context, source, disambiguation).isEmpty()
        || !m_qt.translate(context, source, disambiguation).isEmpty();
}

Translator::~Translator()
{
    if (m_ownInstalled)
        QCoreApplication::removeTranslator(&m_own);
    if (m_qtInstalled)
        QCoreApplication::removeTranslator(&m_qt);
    QLocale::setDefault(m_previousDefault);
}

} // namespace korvane
