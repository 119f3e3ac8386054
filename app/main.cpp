#include "app/FileChooser.h"
#include "app/MessageBoxes.h"
#include "app/Translator.h"
#include "app/frmKorvane.h"
#include "process/ProcessSecrets.h"

#include <QApplication>

// Korvane reads no arguments, settings or files of its own: it shows its window, in European
// Portuguese whatever the system's language, and waits for the operator.
int main(int argc, char* argv[])
{
    // The password typed into the window must not outlive the process in a core file.
    static_cast<void>(korvane::KeepSecretsOutOfCoreDumps());
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("korvane"));
    const korvane::Translator portuguese;

    korvane::QtMessageBoxes boxes;
    korvane::DialogFileChooser chooser;
    korvane::frmKorvane window(boxes, chooser);
    window.show();
    return QApplication::exec();
}
