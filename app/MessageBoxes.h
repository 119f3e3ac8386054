#pragma once

#include "export/ExportOperator.h"

class QWidget;

namespace korvane {

// The modal boxes through which the window talks to the operator. The program uses
// QtMessageBoxes; tests put a scripted double in its place.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // A box with an OK button only.
    virtual void showMessage(QWidget& parent, const QString& text, const QString& title, MessageIcon icon) = 0;
    // A box with the information icon, OK (the default) and Cancel; Escape and the close box answer Cancel.
    virtual Answer askOkCancel(QWidget& parent, const QString& text, const QString& title) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    void showMessage(QWidget& parent, const QString& text, const QString& title, MessageIcon icon) override;
    Answer askOkCancel(QWidget& parent, const QString& text, const QString& title) override;
};

} // namespace korvane
