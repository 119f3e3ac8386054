#pragma once

#include <QLocale>
#include <QTranslator>

namespace korvane {

// The program speaks European Portuguese whatever the system's language. On construction it
// installs Qt's own pt_PT translations (from Qt's translations folder) and then the program's
// (built into it from translations/korvane_pt_PT.ts), which supply what Qt's lack and win where
// both have a text; it makes pt_PT the default locale, so Qt's texts that follow it (the type
// names in the save-file chooser) are Portuguese too. The dates in the file keep the system's
// regional settings. On destruction it removes both translators and puts the default locale back.
// Needs a QCoreApplication.
class Translator {
public:
    Translator();
    ~Translator();
    Translator(const Translator&) = delete;
    Translator& operator=(const Translator&) = delete;

    // Whether each file was found and installed.
    bool hasQtTranslations() const noexcept { return m_qtInstalled; }
    bool hasOwnTranslations() const noexcept { return m_ownInstalled; }

    // Whether either file has a text for `source` in `context` (a translation may read the same).
    bool translates(const char* context, const char* source, const char* disambiguation = nullptr) const;

private:
    QLocale m_previousDefault;
    QTranslator m_qt;
    QTranslator m_own;
    bool m_qtInstalled = false;
    bool m_ownInstalled = false;
};

} // namespace korvane
