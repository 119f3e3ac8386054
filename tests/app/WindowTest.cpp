#include "tests/app/WindowFixture.h"

#include <QLabel>
#include <QMenuBar>
#include <QElapsedTimer>
#include <QSignalSpy>

namespace korvane::test {
namespace {

using WindowLayout = WindowFixture;

TEST_F(WindowLayout, FixedFrameWithTitleAndCloseBoxOnly)
{
    EXPECT_EQ(window.objectName(), "frmKorvane");
    EXPECT_EQ(window.windowTitle(), "Informações Terminais NAC 3000");
    EXPECT_TRUE(window.isWindow());
    EXPECT_EQ(window.size(), QSize(507, 172));
    EXPECT_EQ(window.minimumSize(), QSize(507, 172));
    EXPECT_EQ(window.maximumSize(), QSize(507, 172));

    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.findChild<QMenuBar*>(), nullptr);
}

TEST_F(WindowLayout, IconHasBothImages)
{
    const QList<QSize> sizes = window.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_FALSE(window.windowIcon().pixmap(QSize(32, 32)).isNull());
}

TEST_F(WindowLayout, EveryControlAtItsPlace)
{
    struct Place {
        const char* name;
        QRect geometry;
        QString caption; // labels and buttons only
    };
    const Place places[] = {
        {"Label1", {8, 24, 161, 17}, "Servidor Brellwick / Marrowfen :"},
        {"txtServer", {168, 24, 153, 21}, {}},
        {"Label2", {8, 48, 161, 17}, "Login :"},
        {"txtLogin", {168, 48, 153, 21}, {}},
        {"Label3", {8, 72, 161, 17}, "Password :"},
        {"txtPassword", {168, 72, 153, 21}, {}},
        {"Label4", {8, 104, 161, 17}, "Caminho dos Ficheiros :"},
        {"txtFilePath", {168, 104, 305, 21}, {}},
        {"cmdPesqPath", {472, 104, 25, 21}, "..."},
        {"cmdExportar", {312, 136, 89, 25}, "&Exportar"},
        {"cmdFechar", {408, 136, 89, 25}, "&Fechar"},
    };
    for (const Place& place : places) {
        SCOPED_TRACE(place.name);
        QWidget& control = child(place.name);
        EXPECT_EQ(control.geometry(), place.geometry);
        EXPECT_TRUE(control.isVisible());
        if (auto* label = qobject_cast<QLabel*>(&control)) {
            EXPECT_EQ(label->text(), place.caption);
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
            EXPECT_EQ(label->buddy(), nullptr);
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << "text cut off";
        } else if (auto* push = qobject_cast<QPushButton*>(&control)) {
            EXPECT_EQ(push->text(), place.caption);
            EXPECT_FALSE(push->autoDefault());
            EXPECT_FALSE(push->isDefault());
        } else {
            auto* line = qobject_cast<QLineEdit*>(&control);
            ASSERT_NE(line, nullptr);
            EXPECT_TRUE(line->text().isEmpty());
            EXPECT_EQ(line->maxLength(), 32767); // QLineEdit's own ceiling: no limit of the window's
        }
    }
}

TEST_F(WindowLayout, StartsEmptyWithTheFocusInTheServerField)
{
    EXPECT_EQ(focusName(), "txtServer");
    for (const char* name : {"txtServer", "txtLogin", "txtPassword", "txtFilePath"})
        EXPECT_TRUE(field(name).text().isEmpty()) << name;
}

TEST_F(WindowLayout, PasswordShowsStarsAndKeepsInputMethodsOut)
{
    QLineEdit& password = field("txtPassword");
    QTest::keyClicks(&password, "s3cret!");
    EXPECT_EQ(password.text(), "s3cret!");
    EXPECT_EQ(password.echoMode(), QLineEdit::Password);
    EXPECT_EQ(password.displayText(), "*******");
    EXPECT_FALSE(password.testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_TRUE(password.inputMethodHints().testFlag(Qt::ImhHiddenText));
    EXPECT_TRUE(password.inputMethodHints().testFlag(Qt::ImhSensitiveData));
    for (const char* name : {"txtServer", "txtLogin", "txtFilePath"})
        EXPECT_EQ(field(name).echoMode(), QLineEdit::Normal) << name;
}

using TabOrder = WindowFixture;

TEST_F(TabOrder, TabWalksTheControlsInOrderAndComesBack)
{
    const QStringList order = {"txtServer", "txtLogin", "txtPassword", "txtFilePath",
                               "cmdExportar", "cmdFechar", "cmdPesqPath", "txtServer"};
    ASSERT_EQ(focusName(), order.first());
    for (qsizetype i = 1; i < order.size(); ++i) {
        press(Qt::Key_Tab);
        EXPECT_EQ(focusName(), order[i]) << "after Tab from " << order[i - 1].toStdString();
    }
}

TEST_F(TabOrder, ShiftTabWalksBackwards)
{
    const QStringList order = {"txtServer", "cmdPesqPath", "cmdFechar", "cmdExportar",
                               "txtFilePath", "txtPassword", "txtLogin", "txtServer"};
    ASSERT_EQ(focusName(), order.first());
    for (qsizetype i = 1; i < order.size(); ++i) {
        press(i % 2 ? Qt::Key_Backtab : Qt::Key_Tab, i % 2 ? Qt::NoModifier : Qt::ShiftModifier);
        EXPECT_EQ(focusName(), order[i]) << "after Shift+Tab from " << order[i - 1].toStdString();
    }
}

// Enter and Escape, from every control that takes the focus, press no button and close nothing.
using KeysThatDoNothing = WindowFixture;

TEST_F(KeysThatDoNothing, EnterAndEscapeAnywhere)
{
    QSignalSpy exportar(&button("cmdExportar"), &QPushButton::clicked);
    QSignalSpy fechar(&button("cmdFechar"), &QPushButton::clicked);
    QSignalSpy pesqPath(&button("cmdPesqPath"), &QPushButton::clicked);
    for (const char* name : {"txtServer", "txtLogin", "txtPassword", "txtFilePath", "cmdExportar", "cmdFechar",
                             "cmdPesqPath"}) {
        child(name).setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            press(key);
            EXPECT_EQ(focusName(), name);
        }
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(exportar.count() + fechar.count() + pesqPath.count(), 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(chooser.calls.empty());
    EXPECT_TRUE(boxes.calls.empty());
}

using AccessKeys = WindowFixture;

TEST_F(AccessKeys, AltEStartsTheExportFromAnyField)
{
    for (const char* name : {"txtServer", "txtFilePath", "cmdPesqPath"}) {
        child(name).setFocus();
        const int before = runs;
        EXPECT_TRUE(pressAccessKey(Qt::Key_E, [&] { return runs > before; })) << "Alt+E from " << name;
        ASSERT_TRUE(runEnded());
        EXPECT_EQ(runs, before + 1);
    }
    EXPECT_TRUE(boxes.calls.empty());
}

// The program's end is observed where it happens: in the running event loop.
using ProgramEnd = WindowFixture;

TEST_F(ProgramEnd, AltFEndsAtOnceWithoutAQuestion)
{
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    field("txtServer").setText("srv");
    const int code = runEventLoopWith([this] { press(Qt::Key_F, Qt::AltModifier); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(aboutToQuit.count(), 1);
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_EQ(runs, 0);
}

TEST_F(ProgramEnd, FecharClickEnds)
{
    const int code = runEventLoopWith([this] { QTest::mouseClick(&button("cmdFechar"), Qt::LeftButton); });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProgramEnd, SpaceOnFecharEnds)
{
    button("cmdFechar").setFocus();
    const int code = runEventLoopWith([] { press(Qt::Key_Space); });
    EXPECT_EQ(code, 0);
}

TEST_F(ProgramEnd, CloseBoxWithEverythingFilledEndsWithoutAQuestion)
{
    field("txtServer").setText("srv");
    field("txtLogin").setText("sa");
    field("txtPassword").setText("pw");
    choosePath("/tmp/terminais.xml");
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    bool accepted = false;
    const int code = runEventLoopWith([&] { accepted = window.close(); });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(aboutToQuit.count(), 1);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_EQ(runs, 0);
}

// What the export run sees of the window and what the window does around it.
using ExportWiring = WindowFixture;

TEST_F(ExportWiring, RunReadsTheFieldsAsTheyStand)
{
    field("txtServer").setText("  srv\\inst ");
    field("txtLogin").setText(" sa");
    field("txtPassword").setText("p w ");
    choosePath(" /tmp/a b.xml ");
    QStringList seen;
    onRun = [&](ExportOperator& op) {
        seen = {op.serverText(), op.loginText(), op.passwordText(), op.filePathText()};
    };
    clickExportarAndWait();
    ASSERT_EQ(runs, 1);
    EXPECT_EQ(seen, QStringList({"  srv\\inst ", " sa", "p w ", " /tmp/a b.xml "}));
    // The run changes nothing in the fields.
    EXPECT_EQ(field("txtServer").text(), "  srv\\inst ");
    EXPECT_EQ(field("txtFilePath").text(), " /tmp/a b.xml ");
}

TEST_F(ExportWiring, PathIsReadAfreshEachTime)
{
    QStringList seen;
    boxes.answers = {Answer::Ok};
    boxes.whileAsking = [this] { field("txtFilePath").setText("/tmp/other.xml"); };
    onRun = [&](ExportOperator& op) {
        seen << op.filePathText();
        op.askOkCancel("Pretende Continuar?", "O Ficheiro Será Sobreposto:");
        seen << op.filePathText();
    };
    clickExportarAndWait();
    EXPECT_EQ(seen, QStringList({"", "/tmp/other.xml"}));
}

TEST_F(ExportWiring, WaitCursorDuringTheRunButNotDuringItsBoxes)
{
    const auto waiting = [] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return cursor && cursor->shape() == Qt::WaitCursor;
    };
    Latch beforeBoxes;
    Latch betweenBoxes;
    Answer answer = Answer::Cancel;
    boxes.answers = {Answer::Ok};
    onRun = [&](ExportOperator& op) {
        beforeBoxes.wait();
        op.showMessage("Tem que indicar o caminho do ficheiro!", kApplicationTitle, MessageIcon::Critical);
        betweenBoxes.wait();
        answer = op.askOkCancel("Pretende Continuar?", "O Ficheiro Será Sobreposto:");
    };
    QTest::mouseClick(&button("cmdExportar"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return beforeBoxes.someoneWaits(); }));
    EXPECT_TRUE(waiting()) << "before the first box";
    beforeBoxes.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return betweenBoxes.someoneWaits(); }));
    EXPECT_TRUE(waiting()) << "between the boxes";
    betweenBoxes.open();
    ASSERT_TRUE(runEnded());

    EXPECT_EQ(answer, Answer::Ok);
    ASSERT_EQ(boxes.calls.size(), 2u);
    for (const ScriptedBoxes::Call& call : boxes.calls) {
        EXPECT_FALSE(call.overrideCursorUp) << call.text.toStdString();
        EXPECT_EQ(call.parent, &window);
    }
    EXPECT_EQ(boxes.calls[0].title, "Korvane");
    EXPECT_EQ(boxes.calls[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(boxes.calls[0].question);
    EXPECT_TRUE(boxes.calls[1].question);
    EXPECT_EQ(boxes.calls[1].title, "O Ficheiro Será Sobreposto:");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the cursor is back once the run is over";
}

TEST_F(ExportWiring, CancelAnswerReachesTheRun)
{
    boxes.answers = {Answer::Cancel};
    Answer answer = Answer::Ok;
    onRun = [&](ExportOperator& op) { answer = op.askOkCancel("Pretende Continuar?", "O Ficheiro Será Sobreposto:"); };
    clickExportarAndWait();
    EXPECT_EQ(answer, Answer::Cancel);
}

TEST_F(ExportWiring, FocusMoveToThePathSelectsNothing)
{
    choosePath("/tmp/terminais.xml");
    field("txtFilePath").setCursorPosition(3);
    field("txtLogin").setText("sa");
    field("txtLogin").setFocus();
    onRun = [](ExportOperator& op) { op.moveFocusToFilePath(); };
    clickExportarAndWait();
    EXPECT_EQ(focusName(), "txtFilePath");
    EXPECT_FALSE(field("txtFilePath").hasSelectedText());
}

// The run goes on its own thread; the window goes on with its events meanwhile.
class RunInProgress : public WindowFixture {
protected:
    // Starts a run that stops at `latch` until the test opens it.
    void startStoppedRun()
    {
        onRun = [this](ExportOperator&) { latch.wait(); };
        QTest::mouseClick(&button("cmdExportar"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return latch.someoneWaits(); })) << "the run did not start";
        ASSERT_TRUE(window.exportInProgress());
    }

    void TearDown() override
    {
        latch.open();
        WindowFixture::TearDown();
    }

    Latch latch;
};

TEST_F(RunInProgress, WindowRepaintsAndHandlesEventsWhileTheRunWaits)
{
    startStoppedRun();
    int paints = 0;
    struct PaintCounter : QObject {
        int& count;
        explicit PaintCounter(int& c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                ++count;
            return false;
        }
    } counter(paints);
    window.installEventFilter(&counter);
    bool timerFired = false;
    QTimer::singleShot(10, qApp, [&] { timerFired = true; });
    window.update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return timerFired && paints > 0; }, 5000));
    window.removeEventFilter(&counter);
    EXPECT_TRUE(window.exportInProgress()) << "the run still waits";
}

TEST_F(RunInProgress, SecondExportarAndEveryOtherInputStartNothing)
{
    field("txtServer").setText("srv");
    startStoppedRun();
    QSignalSpy exportar(&button("cmdExportar"), &QPushButton::clicked);

    QTest::mouseClick(&button("cmdExportar"), Qt::LeftButton);
    field("txtServer").setFocus();
    press(Qt::Key_E, Qt::AltModifier);
    QTest::keyClicks(&field("txtServer"), "xyz");
    QTest::keyClick(&field("txtServer"), Qt::Key_Backspace);
    QTest::mouseClick(&button("cmdPesqPath"), Qt::LeftButton);
    button("cmdExportar").setFocus();
    press(Qt::Key_Space);
    QTest::qWait(300);   // an access key clicks after a short animation: give it the time

    EXPECT_EQ(exportar.count(), 0);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(field("txtServer").text(), "srv");
    EXPECT_TRUE(chooser.calls.empty());
    EXPECT_EQ(focusName(), "cmdExportar") << "the focus stays where the operator put it";
    EXPECT_TRUE(button("cmdExportar").isEnabled()) << "nothing changes its look";

    latch.open();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(runs, 1);
    // Once it is over the window takes input again.
    QTest::keyClicks(&field("txtServer"), "2");
    EXPECT_EQ(field("txtServer").text(), "srv2");
    clickExportarAndWait();
    EXPECT_EQ(runs, 2);
}

TEST_F(RunInProgress, TabStillMovesOnToFechar)
{
    startStoppedRun();
    button("cmdExportar").setFocus();
    press(Qt::Key_Tab);
    EXPECT_EQ(focusName(), "cmdFechar");
}

// Every way out ends the event loop at once, the run still waiting.
TEST_F(RunInProgress, EveryCloseRequestEndsTheProgramAtOnce)
{
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"Fechar clicked", [this] { QTest::mouseClick(&button("cmdFechar"), Qt::LeftButton); }},
        {"Alt+F in a field", [this] { field("txtLogin").setFocus(); press(Qt::Key_F, Qt::AltModifier); }},
        {"close box", [this] { window.close(); }},
    };
    startStoppedRun();
    for (const auto& [name, request] : ways) {
        SCOPED_TRACE(name);
        window.show();
        QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
        QElapsedTimer clock;
        clock.start();
        const int code = runEventLoopWith(request);
        EXPECT_EQ(code, 0);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(aboutToQuit.count(), 1);
        EXPECT_TRUE(window.exportInProgress()) << "the run is abandoned, not waited for";
    }
    EXPECT_TRUE(boxes.calls.empty());
}

// The window as the program builds it: "&Exportar" runs the real export, which answers a blank
// path with its message and sends the focus to the path field.
class RealRun : public WindowFixture {
protected:
    RealRun()
        : WindowFixture(Run::Real)
    {
    }
};

TEST_F(RealRun, AltEWithoutAPathAsksForOne)
{
    field("txtServer").setText("srv");
    EXPECT_TRUE(pressAccessKey(Qt::Key_E, [this] { return !boxes.calls.empty(); }));
    ASSERT_TRUE(runEnded());
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "Tem que indicar o caminho do ficheiro!");
    EXPECT_EQ(boxes.calls[0].title, "Korvane");
    EXPECT_EQ(boxes.calls[0].icon, MessageIcon::Critical);
    EXPECT_EQ(focusName(), "txtFilePath");
    EXPECT_EQ(field("txtServer").text(), "srv");
}

} // namespace
} // namespace korvane::test
