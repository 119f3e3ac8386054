#include "app/GuiThreadOperator.h"

#include <QThread>

namespace korvane {

GuiThreadOperator::GuiThreadOperator(ExportOperator& guiSide)
    : m_guiSide(guiSide)
{
}

void GuiThreadOperator::onGuiThread(const std::function<void()>& call) const
{
    if (QThread::currentThread() == thread()) {
        call();
        return;
    }
    std::unique_lock lock(m_mutex);
    m_pending = &call;
    m_done = false;
    m_failure = nullptr;
    lock.unlock();
    // By name, without arguments: the event carries nothing but the wish to run donePending.
    QMetaObject::invokeMethod(const_cast<GuiThreadOperator*>(this), "donePending", Qt::QueuedConnection);
    lock.lock();
    m_answered.wait(lock, [this] { return m_done; });
    m_pending = nullptr;
    if (m_failure)
        std::rethrow_exception(std::exchange(m_failure, nullptr));
}

// On the window's thread. A box shown here runs its own event loop; the lock is not held
// meanwhile, and the run waits for the answer.
void GuiThreadOperator::donePending()
{
    std::unique_lock lock(m_mutex);
    const std::function<void()>* call = m_pending;
    lock.unlock();
    if (!call)
        return;
    std::exception_ptr failure;
    try {
        (*call)();
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    m_failure = failure;
    m_done = true;
    m_answered.notify_all();
}

QString GuiThreadOperator::textOnGuiThread(QString (ExportOperator::*read)() const) const
{
    QString text;
    onGuiThread([&] { text = (m_guiSide.*read)(); });
    return text;
}

QString GuiThreadOperator::filePathText() const { return textOnGuiThread(&ExportOperator::filePathText); }
QString GuiThreadOperator::serverText() const { return textOnGuiThread(&ExportOperator::serverText); }
QString GuiThreadOperator::loginText() const { return textOnGuiThread(&ExportOperator::loginText); }
QString GuiThreadOperator::passwordText() const { return textOnGuiThread(&ExportOperator::passwordText); }

void GuiThreadOperator::showMessage(const QString& text, const QString& title, MessageIcon icon)
{
    onGuiThread([&] { m_guiSide.showMessage(text, title, icon); });
}

Answer GuiThreadOperator::askOkCancel(const QString& text, const QString& title)
{
    Answer answer = Answer::Cancel;
    onGuiThread([&] { answer = m_guiSide.askOkCancel(text, title); });
    return answer;
}

void GuiThreadOperator::moveFocusToFilePath()
{
    onGuiThread([this] { m_guiSide.moveFocusToFilePath(); });
}

} // namespace korvane
