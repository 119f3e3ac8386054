#include "app/InputGate.h"

#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

namespace korvane {

namespace {

bool MovesTheFocus(const QEvent& event)
{
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease)
        return false;
    const auto& key = static_cast<const QKeyEvent&>(event);
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    return (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab) && modifiers == Qt::NoModifier;
}

// ShortcutOverride is not among these: a field that accepted it would take Alt+F from "&Fechar".
bool IsInput(const QEvent& event)
{
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

InputGate::InputGate(std::initializer_list<QWidget*> guarded, QObject* parent)
    : QObject(parent)
{
    for (QWidget* widget : guarded)
        widget->installEventFilter(this);
}

bool InputGate::eventFilter(QObject* watched, QEvent* event)
{
    if (m_shut && IsInput(*event) && !MovesTheFocus(*event)) {
        event->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvane
