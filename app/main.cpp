#include "FileChooser.h"
#include "MessageBoxes.h"
#include "frmKorvane.h"

#include <QApplication>

// Korvane reads no arguments, settings or files: it shows its window and waits for the operator.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("korvane"));

    korvane::QtMessageBoxes boxes;
    korvane::DialogFileChooser chooser;
    korvane::frmKorvane window(boxes, chooser);
    window.show();
    return QApplication::exec();
}
