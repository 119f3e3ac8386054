#include "FileChooser.h"

#include "ChooserListing.h"

#include <QDir>

namespace korvane {

DialogFileChooser::DialogFileChooser(QFileDialog::Options extraOptions)
    : m_extraOptions(extraOptions)
{
}

std::optional<QString> DialogFileChooser::chooseSaveFile(QWidget& parent, const QString& title, const QString& filter)
{
    if (!m_dialog || m_dialog->parentWidget() != &parent) {
        m_dialog = new QFileDialog(&parent);
        m_dialog->setObjectName(QStringLiteral("digFiles"));
        m_dialog->setProxyModel(new ChooserListing(m_dialog));
    }
    QFileDialog& dialog = *m_dialog;
    dialog.setWindowTitle(title);
    dialog.setNameFilter(filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOptions(QFileDialog::DontConfirmOverwrite | m_extraOptions);
    dialog.setDefaultSuffix(QString());
    if (!m_lastChosen.isEmpty())
        dialog.selectFile(m_lastChosen);

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.constFirst().isEmpty())
        return std::nullopt;
    m_lastChosen = chosen.constFirst();
    return QDir::toNativeSeparators(m_lastChosen);
}

} // namespace korvane
