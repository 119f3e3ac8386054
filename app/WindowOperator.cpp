#include "app/WindowOperator.h"

#include "app/MessageBoxes.h"

#include <QGuiApplication>
#include <QLineEdit>

#include <optional>

namespace korvane {

namespace {

// Lifts the application's override cursor for the time a box is shown, and puts it back after.
class NormalCursorWhileAsking {
public:
    NormalCursorWhileAsking()
    {
        if (const QCursor* cursor = QGuiApplication::overrideCursor()) {
            m_lifted = *cursor;
            QGuiApplication::restoreOverrideCursor();
        }
    }
    ~NormalCursorWhileAsking()
    {
        if (m_lifted)
            QGuiApplication::setOverrideCursor(*m_lifted);
    }
    NormalCursorWhileAsking(const NormalCursorWhileAsking&) = delete;
    NormalCursorWhileAsking& operator=(const NormalCursorWhileAsking&) = delete;

private:
    std::optional<QCursor> m_lifted;
};

} // namespace

WindowOperator::WindowOperator(QWidget& window, const WindowFields& fields, MessageBoxes& boxes)
    : m_window(window)
    , m_fields(fields)
    , m_boxes(boxes)
{
}

QString WindowOperator::filePathText() const { return m_fields.filePath.text(); }
QString WindowOperator::serverText() const { return m_fields.server.text(); }
QString WindowOperator::loginText() const { return m_fields.login.text(); }
QString WindowOperator::passwordText() const { return m_fields.password.text(); }

void WindowOperator::showMessage(const QString& text, const QString& title, MessageIcon icon)
{
    const NormalCursorWhileAsking normalCursor;
    m_boxes.showMessage(m_window, text, title, icon);
}

Answer WindowOperator::askOkCancel(const QString& text, const QString& title)
{
    const NormalCursorWhileAsking normalCursor;
    return m_boxes.askOkCancel(m_window, text, title);
}

void WindowOperator::moveFocusToFilePath()
{
    m_fields.filePath.setFocus(Qt::OtherFocusReason);
}

WaitCursor::WaitCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

} // namespace korvane
