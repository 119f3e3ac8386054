#pragma once

#include <QLineEdit>

namespace korvane {

// A server, login or password field: it selects its whole text each time it gains the focus,
// by Tab, by a click or from the program. A click that brings the focus selects again once the
// button is released, because the press itself puts the caret under the pointer.
class CredentialField final : public QLineEdit {
    Q_OBJECT
public:
    explicit CredentialField(QWidget* parent);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_clickGaveFocus = false;
};

// The path field: read-only, so only the chooser fills it, yet it takes the focus and its text
// can be selected and copied. Backspace and Delete, with any modifier, empty it. Entering it
// leaves its selection as it was (QLineEdit would select everything on Tab).
class PathField final : public QLineEdit {
    Q_OBJECT
public:
    explicit PathField(QWidget* parent);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace korvane
