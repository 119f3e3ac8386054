#include "app/MessageBoxes.h"

#include <QMessageBox>

namespace korvane {

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void QtMessageBoxes::showMessage(QWidget& parent, const QString& text, const QString& title, MessageIcon icon)
{
    QMessageBox box(toQtIcon(icon), title, text, QMessageBox::Ok, &parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

Answer QtMessageBoxes::askOkCancel(QWidget& parent, const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok | QMessageBox::Cancel, &parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

} // namespace korvane
