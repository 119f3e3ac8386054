#pragma once

#include <QFileDialog>
#include <QString>

#include <optional>

namespace korvane {

// The save-file chooser behind "...". The program uses DialogFileChooser; tests script it.
class FileChooser {
public:
    virtual ~FileChooser() = default;

    // Shows a modal save-file dialog over `parent` with one name filter such as "Ficheiros XML (*.xml)".
    // Returns the chosen file's full path, or nothing when the operator cancelled. May throw; the window
    // treats any failure like Cancel.
    virtual std::optional<QString> chooseSaveFile(QWidget& parent, const QString& title, const QString& filter) = 0;
};

// A new QFileDialog for each opening, ended before the choice is returned, that offers the file
// chosen last in this run of the program. The name is used exactly as typed: no suffix is added,
// and the dialog does not warn about an existing file (the export run asks before replacing one).
class DialogFileChooser final : public FileChooser {
public:
    // `extraOptions` are added to the dialog's own; tests pass QFileDialog::DontUseNativeDialog.
    explicit DialogFileChooser(QFileDialog::Options extraOptions = {});

    std::optional<QString> chooseSaveFile(QWidget& parent, const QString& title, const QString& filter) override;

private:
    QFileDialog::Options m_extraOptions;
    QString m_lastChosen;
};

} // namespace korvane
