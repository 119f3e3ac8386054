#include "app/Fields.h"

#include "app/MainMod.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace korvane {

namespace {

// Focus that returns with the window (after a message box, or from another program) or from a
// popup is not an entry into the field: the field keeps what the operator had selected.
bool entersField(Qt::FocusReason reason)
{
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

} // namespace

CredentialField::CredentialField(QWidget* parent)
    : QLineEdit(parent)
{
}

void CredentialField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (!entersField(event->reason()))
        return;
    SelectAllText(*this);
    m_clickGaveFocus = event->reason() == Qt::MouseFocusReason;
}

void CredentialField::focusOutEvent(QFocusEvent* event)
{
    m_clickGaveFocus = false;
    QLineEdit::focusOutEvent(event);
}

void CredentialField::mouseReleaseEvent(QMouseEvent* event)
{
    QLineEdit::mouseReleaseEvent(event);
    if (m_clickGaveFocus) {
        m_clickGaveFocus = false;
        SelectAllText(*this);
    }
}

PathField::PathField(QWidget* parent)
    : QLineEdit(parent)
{
    setReadOnly(true);
}

void PathField::focusInEvent(QFocusEvent* event)
{
    const int start = selectionStart();
    const int length = selectionLength();
    const int cursor = cursorPosition();
    QLineEdit::focusInEvent(event);
    if (length == 0)
        setCursorPosition(cursor);
    else if (cursor == start)
        setSelection(start + length, -length);
    else
        setSelection(start, length);
}

void PathField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete)
        clear();
    QLineEdit::keyPressEvent(event);
}

} // namespace korvane
