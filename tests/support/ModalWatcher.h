#pragma once

// For the window's tests (Qt Widgets): works the modal dialog a call shows from inside that
// call's own event loop.

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>

namespace korvane::test {

// Calls `open`, which shows a modal dialog and returns once it is closed. As soon as a visible
// modal `Dialog` is up, `drive` gets it (once), to read it and to answer it. Should the dialog
// still be up after ten seconds, `giveUp` closes it, so a test whose answer went astray ends.
template<typename Dialog, typename Open>
auto WhileModal(Open open, const std::function<void(Dialog&)>& drive,
                const std::function<void(QDialog&)>& giveUp = [](QDialog& dialog) { dialog.reject(); })
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        drive(*dialog);
    });
    poll.start(10);
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            giveUp(*dialog);
    });
    safety.start(10000);
    return open();
}

} // namespace korvane::test
