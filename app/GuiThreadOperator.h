#pragma once

#include "export/ExportOperator.h"

#include <QObject>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

namespace korvane {

// The operator an export run talks to from its own thread. Each call is carried over to the
// window's thread, done there by the window's operator, and waited for: the run sees the fields
// as they stand at that moment, its boxes are the window's own, modal on it, and widgets are
// touched on the window's thread only. A call made on the window's thread is done at once.
//
// Lives on the window's thread, as `guiSide` does; it must outlive the run.
class GuiThreadOperator final : public QObject, public ExportOperator {
    Q_OBJECT
public:
    explicit GuiThreadOperator(ExportOperator& guiSide);

    QString filePathText() const override;
    QString serverText() const override;
    QString loginText() const override;
    QString passwordText() const override;

    void showMessage(const QString& text, const QString& title, MessageIcon icon) override;
    Answer askOkCancel(const QString& text, const QString& title) override;
    void moveFocusToFilePath() override;

private slots:
    void donePending();

private:
    // Does `call` on this object's thread and returns once it is done; rethrows what it threw.
    void onGuiThread(const std::function<void()>& call) const;
    QString textOnGuiThread(QString (ExportOperator::*read)() const) const;

    ExportOperator& m_guiSide;

    // The call waiting for the window's thread, handed over under the lock rather than inside
    // Qt's event, so that everything the two threads share is ordered by this one lock.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_answered;
    mutable const std::function<void()>* m_pending = nullptr;
    mutable bool m_done = false;
    mutable std::exception_ptr m_failure;
};

} // namespace korvane
