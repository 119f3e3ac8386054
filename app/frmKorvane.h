#pragma once

#include "export/ExportOperator.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace korvane {

class CredentialField;
class FileChooser;
class InputGate;
class MessageBoxes;
class PathField;
class RunThread;

// The program's one window: server, login, password and the path of the XML file to write, with
// "..." to choose the path, "&Exportar" to run the export and "&Fechar" to quit. It has no default
// or cancel button, so Enter and Escape press nothing; closing it in any way ends the program.
//
// The export runs on a thread of its own while the window goes on repainting and answering the
// window manager; until it ends, the fields, "..." and "&Exportar" take no input, so a second run
// cannot start, and "&Fechar" and the close box still end the program at once (RunThread says
// how).
class frmKorvane final : public QWidget {
    Q_OBJECT
public:
    // The work behind "&Exportar"; ExportTerminals unless a test puts a double in its place. It is
    // called on the run's thread with an operator that does each call on the window's thread.
    using ExportRun = std::function<void(ExportOperator&)>;

    // `boxes` and `chooser` must outlive the window.
    frmKorvane(MessageBoxes& boxes, FileChooser& chooser, ExportRun run = {});
    ~frmKorvane() override;

    bool exportInProgress() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void cmdExportar_Click();
    void cmdFechar_Click();
    void cmdPesqPath_Click();
    void exportEnded();

    struct RunInProgress;

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

    InputGate* m_inputGate;
    std::unique_ptr<RunInProgress> m_runInProgress;
    // Last, so that it ends first, before anything the run may still be using.
    std::unique_ptr<RunThread> m_runThread;
};

} // namespace korvane
