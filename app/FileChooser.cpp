#include "app/FileChooser.h"

#include "app/ChooserListing.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>

namespace korvane {

namespace {

// The completion list of the file-name field is a popup window of its own, not a part of the
// dialog: after Return in the field it stays on screen when the dialog closes, and as the open
// popup it takes every key and click meant for the main window. So whatever the dialog opened
// is closed with it. The dialog was modal, so no popup still open can belong to anything else.
void CloseWhatTheDialogLeftOpen(QFileDialog& dialog)
{
    for (QCompleter* completer : dialog.findChildren<QCompleter*>()) {
        if (QAbstractItemView* list = completer->popup())
            list->hide();
    }
    // Hiding a popup takes it off Qt's stack of open popups; the bound is only a safeguard.
    for (int left = 16; left > 0; --left) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            break;
        popup->hide();
    }
}

} // namespace

DialogFileChooser::DialogFileChooser(QFileDialog::Options extraOptions)
    : m_extraOptions(extraOptions)
{
}

// The dialog lives for one opening only. Its file-name field's completion list shows itself
// again whenever a folder listing it waited for arrives, even after the dialog has closed; ended
// with the dialog, it cannot.
std::optional<QString> DialogFileChooser::chooseSaveFile(QWidget& parent, const QString& title, const QString& filter)
{
    QFileDialog dialog(&parent);
    dialog.setObjectName(QStringLiteral("digFiles"));
    dialog.setProxyModel(new ChooserListing(&dialog));   // the dialog takes it as its child
    dialog.setWindowTitle(title);
    dialog.setNameFilter(filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOptions(QFileDialog::DontConfirmOverwrite | m_extraOptions);
    dialog.setDefaultSuffix(QString());
    if (!m_lastChosen.isEmpty())
        dialog.selectFile(m_lastChosen);

    const int result = dialog.exec();
    CloseWhatTheDialogLeftOpen(dialog);
    if (result != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.constFirst().isEmpty())
        return std::nullopt;
    m_lastChosen = chosen.constFirst();
    return QDir::toNativeSeparators(m_lastChosen);
}

} // namespace korvane
