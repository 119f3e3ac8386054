#pragma once

#include "export/ExportOperator.h"

#include <QCursor>

class QLineEdit;
class QWidget;

namespace korvane {

class MessageBoxes;

// The four fields the export run reads.
struct WindowFields {
    QLineEdit& server;
    QLineEdit& login;
    QLineEdit& password;
    QLineEdit& filePath;
};

// The export run's view of the window: the field texts as they stand, the boxes over the window,
// and the move to the path field. While a box waits for the operator the run's wait cursor gives
// way to the normal one. Used on the window's thread only; a run on its own thread reaches it
// through GuiThreadOperator.
class WindowOperator final : public ExportOperator {
public:
    WindowOperator(QWidget& window, const WindowFields& fields, MessageBoxes& boxes);

    QString filePathText() const override;
    QString serverText() const override;
    QString loginText() const override;
    QString passwordText() const override;

    void showMessage(const QString& text, const QString& title, MessageIcon icon) override;
    Answer askOkCancel(const QString& text, const QString& title) override;
    void moveFocusToFilePath() override;

private:
    QWidget& m_window;
    WindowFields m_fields;
    MessageBoxes& m_boxes;
};

// The wait cursor over the whole application for as long as it lives.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace korvane
