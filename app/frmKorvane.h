#pragma once

#include "ExportOperator.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace korvane {

class CredentialField;
class FileChooser;
class MessageBoxes;
class PathField;

// The program's one window: server, login, password and the path of the XML file to write, with
// "..." to choose the path, "&Exportar" to run the export and "&Fechar" to quit. It has no default
// or cancel button, so Enter and Escape press nothing; closing it in any way ends the program.
class frmKorvane final : public QWidget {
    Q_OBJECT
public:
    // The work behind "&Exportar"; ExportTerminals unless a test puts a double in its place.
    using ExportRun = std::function<void(ExportOperator&)>;

    // `boxes` and `chooser` must outlive the window.
    frmKorvane(MessageBoxes& boxes, FileChooser& chooser, ExportRun run = {});

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void cmdExportar_Click();
    void cmdFechar_Click();
    void cmdPesqPath_Click();

    MessageBoxes& m_boxes;
    FileChooser& m_chooser;
    ExportRun m_run;

    CredentialField* m_txtServer;
    CredentialField* m_txtLogin;
    CredentialField* m_txtPassword;
    PathField* m_txtFilePath;
    QPushButton* m_cmdExportar;
    QPushButton* m_cmdFechar;
    QPushButton* m_cmdPesqPath;
};

} // namespace korvane
