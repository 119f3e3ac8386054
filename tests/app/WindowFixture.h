#pragma once

#include "app/FileChooser.h"
#include "app/MessageBoxes.h"
#include "app/frmKorvane.h"
#include "export/ExportTerminals.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include <ostream>

// Lets GoogleTest print the texts it compares.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace korvane::test {

// Message boxes that answer from a script and record what they were asked, including whether the
// application's override cursor was up while the box was shown.
class ScriptedBoxes final : public MessageBoxes {
public:
    struct Call {
        bool question = false;
        QString text;
        QString title;
        MessageIcon icon = MessageIcon::Information;
        QWidget* parent = nullptr;
        bool overrideCursorUp = false;
    };

    std::vector<Call> calls;
    std::deque<Answer> answers;
    // Runs while a question is shown, before its answer is given.
    std::function<void()> whileAsking;

    void showMessage(QWidget& parent, const QString& text, const QString& title, MessageIcon icon) override
    {
        calls.push_back({false, text, title, icon, &parent, QGuiApplication::overrideCursor() != nullptr});
    }

    Answer askOkCancel(QWidget& parent, const QString& text, const QString& title) override
    {
        calls.push_back({true, text, title, MessageIcon::Information, &parent,
                         QGuiApplication::overrideCursor() != nullptr});
        if (whileAsking)
            whileAsking();
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return Answer::Cancel;
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// A chooser that plays back scripted outcomes: a path, Cancel (nothing) or a failure (it throws).
class ScriptedChooser final : public FileChooser {
public:
    struct Call {
        QWidget* parent = nullptr;
        QString title;
        QString filter;
    };
    using Outcome = std::function<std::optional<QString>()>;

    std::vector<Call> calls;
    std::deque<Outcome> outcomes;

    void willChoose(const QString& path) { outcomes.push_back([path] { return std::optional<QString>(path); }); }
    void willCancel() { outcomes.push_back([] { return std::optional<QString>(); }); }
    void willFail()
    {
        outcomes.push_back([]() -> std::optional<QString> { throw std::runtime_error("dialog failed"); });
    }

    std::optional<QString> chooseSaveFile(QWidget& parent, const QString& title, const QString& filter) override
    {
        calls.push_back({&parent, title, filter});
        if (outcomes.empty()) {
            ADD_FAILURE() << "unexpected chooser";
            return std::nullopt;
        }
        const Outcome outcome = outcomes.front();
        outcomes.pop_front();
        return outcome();
    }
};

// A point a run double stops at until the test lets it go on. The wait has a deadline, so a test
// that forgets to open it fails rather than hangs.
class Latch {
public:
    // On the run's thread. False when the deadline passed first.
    bool wait(std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        m_waiting = true;
        return m_opened.wait_for(lock, deadline, [this] { return m_open; });
    }
    bool someoneWaits() const
    {
        const std::lock_guard lock(m_mutex);
        return m_waiting;
    }
    void open()
    {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        m_opened.notify_all();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_waiting = false;
    bool m_open = false;
};

// The window, shown and active, with scripted boxes and chooser. "&Exportar" runs a double that
// counts its calls and then does `onRun` (both on the run's thread), or with `Run::Real` the
// export run itself, with a one-second time-out.
class WindowFixture : public ::testing::Test {
protected:
    enum class Run { Double, Real };

    explicit WindowFixture(Run run = Run::Double)
        : window(boxes, chooser, run == Run::Real ? frmKorvane::ExportRun([](ExportOperator& op) {
              ExportOptions options;
              options.timeoutSeconds = 1;
              ExportTerminals(op, options);
          })
                                                  : frmKorvane::ExportRun([this](ExportOperator& op) {
                                                        ++runs;
                                                        if (onRun)
                                                            onRun(op);
                                                    }))
    {
    }

    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // A run left going would end the test program with the window (see RunThread).
    void TearDown() override
    {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window.exportInProgress(); }, 15000))
            << "the run did not end";
    }

    // Waits, handling events, until the run started by the last click is over.
    bool runEnded(int deadlineMs = 10000)
    {
        return QTest::qWaitFor([this] { return !window.exportInProgress(); }, deadlineMs);
    }

    void clickExportarAndWait()
    {
        QTest::mouseClick(&button("cmdExportar"), Qt::LeftButton);
        ASSERT_TRUE(runEnded()) << "the run did not end";
    }

    template <typename Widget = QWidget>
    Widget& child(const char* name)
    {
        auto* widget = window.findChild<Widget*>(QLatin1String(name));
        if (!widget)
            throw std::logic_error(std::string("no control ") + name);
        return *widget;
    }
    QLineEdit& field(const char* name) { return child<QLineEdit>(name); }
    QPushButton& button(const char* name) { return child<QPushButton>(name); }

    static QString focusName()
    {
        const QWidget* focus = QApplication::focusWidget();
        return focus ? focus->objectName() : QStringLiteral("<none>");
    }

    // Presses a key where the focus is, as the keyboard would.
    static void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, key, modifiers);
    }

    // An access key clicks its button the way the toolkit does it: the click follows a short
    // animation, out of the event loop.
    static bool pressAccessKey(Qt::Key key, const std::function<bool()>& clicked)
    {
        press(key, Qt::AltModifier);
        return QTest::qWaitFor(clicked, 2000);
    }

    void choosePath(const QString& path)
    {
        chooser.willChoose(path);
        QTest::mouseClick(&button("cmdPesqPath"), Qt::LeftButton);
    }

    ScriptedBoxes boxes;
    ScriptedChooser chooser;
    std::atomic<int> runs{0};
    std::function<void(ExportOperator&)> onRun;
    frmKorvane window;
};

// Runs the application's event loop, starting with `action`, until something ends it. Returns the
// loop's exit code, or kStillRunning when nothing ended it within a generous safety margin.
inline constexpr int kStillRunning = -4242;
inline int runEventLoopWith(const std::function<void()>& action)
{
    QTimer::singleShot(0, qApp, action);
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, qApp, [] { QCoreApplication::exit(kStillRunning); });
    safety.start(10000);
    return QApplication::exec();
}

} // namespace korvane::test
