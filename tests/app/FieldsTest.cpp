#include "app/MainMod.h"
#include "tests/app/WindowFixture.h"

#include <QClipboard>
#include <QMenu>

#include <memory>

namespace korvane::test {
namespace {

TEST(SelectAllText, SelectsEverythingWithTheCaretAtTheEnd)
{
    for (const QString& text : {QString("abc"), QString(" x y "), QString("ção€")}) {
        QLineEdit field;
        field.setText(text);
        field.setCursorPosition(1);
        SelectAllText(field);
        EXPECT_EQ(field.selectedText(), text);
        EXPECT_EQ(field.selectionStart(), 0);
        EXPECT_EQ(field.cursorPosition(), text.size());
    }
}

TEST(SelectAllText, EmptyFieldLeavesTheCaretAtZero)
{
    QLineEdit field;
    SelectAllText(field);
    EXPECT_FALSE(field.hasSelectedText());
    EXPECT_EQ(field.cursorPosition(), 0);
}

const char* const kCredentialFields[] = {"txtServer", "txtLogin", "txtPassword"};

// Each credential field is given a text with the caret in its middle and no selection; entering it
// by any way must select all of it.
class SelectOnEntry : public WindowFixture {
protected:
    void fill()
    {
        for (const char* name : kCredentialFields) {
            field(name).setText(QStringLiteral("valor de %1").arg(QLatin1String(name)));
            field(name).setCursorPosition(3);
        }
    }
    void expectAllSelected(const char* name)
    {
        QLineEdit& line = field(name);
        EXPECT_EQ(focusName(), name);
        EXPECT_EQ(line.selectedText(), line.text()) << name;
        EXPECT_EQ(line.selectionStart(), 0) << name;
        EXPECT_EQ(line.cursorPosition(), line.text().size()) << name;
    }
};

TEST_F(SelectOnEntry, TabAndShiftTabSelectTheCredentialFields)
{
    fill();
    button("cmdPesqPath").setFocus();
    for (const char* name : kCredentialFields) {
        field(name).setCursorPosition(3);
        press(Qt::Key_Tab);
        expectAllSelected(name);
    }
    field("txtServer").setFocus();
    for (const char* name : {"cmdPesqPath", "cmdFechar", "cmdExportar", "txtFilePath"}) {
        press(Qt::Key_Backtab);
        EXPECT_EQ(focusName(), name);
    }
    press(Qt::Key_Backtab);
    expectAllSelected("txtPassword");
}

TEST_F(SelectOnEntry, ClickSelectsAllOnceTheButtonIsUp)
{
    fill();
    for (const char* name : kCredentialFields) {
        button("cmdExportar").setFocus();
        QTest::mouseClick(&field(name), Qt::LeftButton, {}, QPoint(5, 10));
        QCoreApplication::processEvents();
        expectAllSelected(name);
    }
}

TEST_F(SelectOnEntry, ClickInsideTheFocusedFieldPlacesTheCaretAsUsual)
{
    fill();
    field("txtLogin").setFocus();
    QTest::mouseClick(&field("txtLogin"), Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_FALSE(field("txtLogin").hasSelectedText());
}

TEST_F(SelectOnEntry, FocusFromTheProgramSelectsToo)
{
    fill();
    for (const char* name : kCredentialFields) {
        button("cmdFechar").setFocus();
        field(name).setFocus(Qt::OtherFocusReason);
        expectAllSelected(name);
    }
}

TEST_F(SelectOnEntry, EmptyFieldSelectionStartsAtZero)
{
    button("cmdFechar").setFocus();
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    EXPECT_EQ(focusName(), "txtServer");
    EXPECT_FALSE(field("txtServer").hasSelectedText());
    EXPECT_EQ(field("txtServer").cursorPosition(), 0);
}

TEST_F(SelectOnEntry, PathFieldKeepsItsSelectionOnEntry)
{
    choosePath("/tmp/terminais.xml");
    QLineEdit& path = field("txtFilePath");
    EXPECT_FALSE(path.hasSelectedText()) << "a choice puts the focus there without selecting";

    path.setCursorPosition(4);
    field("txtPassword").setFocus();
    press(Qt::Key_Tab);
    ASSERT_EQ(focusName(), "txtFilePath");
    EXPECT_FALSE(path.hasSelectedText());
    EXPECT_EQ(path.cursorPosition(), 4);

    press(Qt::Key_Backtab);
    path.setSelection(9, -4);
    press(Qt::Key_Tab);
    ASSERT_EQ(focusName(), "txtFilePath");
    EXPECT_EQ(path.selectionStart(), 5);
    EXPECT_EQ(path.selectedText(), "term");
    EXPECT_EQ(path.cursorPosition(), 5);

    button("cmdExportar").setFocus();
    QTest::mouseClick(&path, Qt::LeftButton, {}, QPoint(3, 10));
    EXPECT_FALSE(path.hasSelectedText());
}

using PathKeys = WindowFixture;

TEST_F(PathKeys, BackspaceAndDeleteWithAnyModifierEmptyIt)
{
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    const Case cases[] = {
        {Qt::Key_Backspace, Qt::NoModifier},     {Qt::Key_Delete, Qt::NoModifier},
        {Qt::Key_Backspace, Qt::ControlModifier}, {Qt::Key_Delete, Qt::ShiftModifier},
        {Qt::Key_Backspace, Qt::ShiftModifier},   {Qt::Key_Delete, Qt::ControlModifier},
        {Qt::Key_Backspace, Qt::AltModifier},     {Qt::Key_Delete, Qt::AltModifier | Qt::ShiftModifier},
    };
    QLineEdit& path = field("txtFilePath");
    for (const Case& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString());
        // The caret at the start, in the middle, at the end, and part of the text selected.
        for (int where = 0; where < 4; ++where) {
            choosePath("/tmp/pasta/terminais.xml");
            if (where == 3)
                path.setSelection(5, 5);
            else
                path.setCursorPosition(where * 12);
            press(c.key, c.modifiers);
            EXPECT_EQ(path.text(), "") << "caret case " << where;
            EXPECT_EQ(focusName(), "txtFilePath");
        }
        press(c.key, c.modifiers);
        EXPECT_EQ(path.text(), "");
    }
}

TEST_F(PathKeys, TypingChangesNothing)
{
    choosePath("/tmp/terminais.xml");
    QLineEdit& path = field("txtFilePath");
    QTest::keyClicks(&path, "abc 123/\\");
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Insert, Qt::Key_Home, Qt::Key_Z})
        press(key);
    press(Qt::Key_Z, Qt::ShiftModifier);
    press(Qt::Key_Z, Qt::ControlModifier); // undo
    press(Qt::Key_X, Qt::ControlModifier); // cut
    EXPECT_EQ(path.text(), "/tmp/terminais.xml");
    QTest::keyClicks(&field("txtFilePath"), "x");
    EXPECT_EQ(path.text(), "/tmp/terminais.xml");
}

TEST_F(PathKeys, PastingChangesNothingButCopyingWorks)
{
    choosePath("/tmp/terminais.xml");
    QLineEdit& path = field("txtFilePath");
    QGuiApplication::clipboard()->setText("/etc/passwd");
    press(Qt::Key_V, Qt::ControlModifier);
    press(Qt::Key_Insert, Qt::ShiftModifier);
    QTest::mouseClick(&path, Qt::MiddleButton, {}, QPoint(5, 10));
    EXPECT_EQ(path.text(), "/tmp/terminais.xml");
    // Nor does the field's own menu offer to paste or cut.
    const std::unique_ptr<QMenu> menu(path.createStandardContextMenu());
    for (const QAction* action : menu->actions()) {
        const bool edits = action->text().contains("Paste") || action->text().contains("Cut");
        EXPECT_FALSE(edits && action->isEnabled()) << action->text().toStdString();
    }

    // The whole text, or a part picked with the keyboard, can be copied out.
    press(Qt::Key_A, Qt::ControlModifier);
    press(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/tmp/terminais.xml");
    press(Qt::Key_Home);
    for (int i = 0; i < 4; ++i)
        press(Qt::Key_Right, Qt::ShiftModifier);
    press(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/tmp");
    EXPECT_EQ(path.text(), "/tmp/terminais.xml");
}

} // namespace
} // namespace korvane::test
