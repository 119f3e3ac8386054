#include "app/MessageBoxes.h"
#include "tests/support/ModalWatcher.h"

#include <QPushButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace korvane::test {
namespace {

struct BoxSeen {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QMessageBox::StandardButton escapeButton = QMessageBox::NoButton;
    QWidget* parent = nullptr;
    Qt::TextFormat format = Qt::AutoText;
};

// Shows a box with `open` and, once it is up, notes what it looks like and lets `answer` close it.
BoxSeen whileShowing(const std::function<void()>& open, const std::function<void(QMessageBox&)>& answer)
{
    BoxSeen seen;
    WhileModal<QMessageBox>(
        open,
        [&](QMessageBox& box) {
            seen = {box.text(),
                    box.windowTitle(),
                    box.icon(),
                    box.standardButtons(),
                    box.defaultButton() ? box.standardButton(box.defaultButton()) : QMessageBox::NoButton,
                    box.escapeButton() ? box.standardButton(box.escapeButton()) : QMessageBox::NoButton,
                    box.parentWidget(),
                    box.textFormat()};
            answer(box);
        },
        [](QDialog& dialog) { dialog.done(QMessageBox::Cancel); });
    return seen;
}

void pressOn(QMessageBox& box, Qt::Key key)
{
    QTest::keyClick(box.focusWidget() ? box.focusWidget() : &box, key);
}

TEST(QtMessageBoxes, MessageHasOkOnlyAndTheGivenTitleAndIcon)
{
    QWidget window;
    window.show();
    QtMessageBoxes boxes;
    for (MessageIcon icon : {MessageIcon::Critical, MessageIcon::Information}) {
        const BoxSeen seen = whileShowing(
            [&] { boxes.showMessage(window, "Tem que indicar o caminho do ficheiro!", "Korvane", icon); },
            [](QMessageBox& box) { pressOn(box, Qt::Key_Return); });
        EXPECT_EQ(seen.text, "Tem que indicar o caminho do ficheiro!");
        EXPECT_EQ(seen.title, "Korvane");
        EXPECT_EQ(seen.icon, icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Information);
        EXPECT_EQ(seen.buttons, QMessageBox::Ok);
        EXPECT_EQ(seen.parent, &window);
    }
}

TEST(QtMessageBoxes, TextIsShownAsItStands)
{
    QWidget window;
    window.show();
    QtMessageBoxes boxes;
    const QString text = "-2147467259 - <b>Login</b> failed";
    const BoxSeen seen = whileShowing([&] { boxes.showMessage(window, text, "Korvane", MessageIcon::Critical); },
                                      [](QMessageBox& box) { box.accept(); });
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.format, Qt::PlainText);
}

TEST(QtMessageBoxes, QuestionOkIsTheDefaultEscapeAndCloseAnswerCancel)
{
    QWidget window;
    window.show();
    QtMessageBoxes boxes;
    struct Case {
        const char* how;
        std::function<void(QMessageBox&)> answer;
        Answer expected;
    };
    const Case cases[] = {
        {"Enter", [](QMessageBox& box) { pressOn(box, Qt::Key_Return); }, Answer::Ok},
        {"Escape", [](QMessageBox& box) { pressOn(box, Qt::Key_Escape); }, Answer::Cancel},
        {"close box", [](QMessageBox& box) { box.close(); }, Answer::Cancel},
        {"Cancel button", [](QMessageBox& box) { box.button(QMessageBox::Cancel)->click(); }, Answer::Cancel},
        {"OK button", [](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); }, Answer::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Answer answer = c.expected == Answer::Ok ? Answer::Cancel : Answer::Ok;
        const BoxSeen seen = whileShowing(
            [&] { answer = boxes.askOkCancel(window, "Pretende Continuar?", "O Ficheiro Será Sobreposto:"); },
            c.answer);
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(seen.text, "Pretende Continuar?");
        EXPECT_EQ(seen.title, "O Ficheiro Será Sobreposto:");
        EXPECT_EQ(seen.icon, QMessageBox::Information);
        EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(seen.defaultButton, QMessageBox::Ok);
        EXPECT_EQ(seen.escapeButton, QMessageBox::Cancel);
    }
}

} // namespace
} // namespace korvane::test
