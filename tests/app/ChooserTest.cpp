#include "tests/app/WindowFixture.h"
#include "tests/support/ModalWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>

namespace korvane::test {
namespace {

using Chooser = WindowFixture;

TEST_F(Chooser, AsksWithItsTitleAndFilterOverTheWindow)
{
    chooser.willCancel();
    QTest::mouseClick(&button("cmdPesqPath"), Qt::LeftButton);
    ASSERT_EQ(chooser.calls.size(), 1u);
    EXPECT_EQ(chooser.calls[0].parent, &window);
    EXPECT_EQ(chooser.calls[0].title, "Indique a Localização do Ficheiro a Gravar:");
    EXPECT_EQ(chooser.calls[0].filter, "Ficheiros XML (*.xml)");
}

TEST_F(Chooser, ChoiceFillsThePathAndTakesTheFocusThere)
{
    field("txtLogin").setText("sa");
    chooser.willChoose("/tmp/pasta/terminais");
    QTest::mouseClick(&button("cmdPesqPath"), Qt::LeftButton);
    EXPECT_EQ(field("txtFilePath").text(), "/tmp/pasta/terminais");
    EXPECT_EQ(focusName(), "txtFilePath");
    EXPECT_EQ(field("txtLogin").text(), "sa");
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(Chooser, CancelOrFailureEmptiesThePathSilentlyAndTheFocusStays)
{
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failure" : "cancel");
        choosePath("/tmp/terminais.xml");
        ASSERT_EQ(field("txtFilePath").text(), "/tmp/terminais.xml");
        fail ? chooser.willFail() : chooser.willCancel();
        QTest::mouseClick(&button("cmdPesqPath"), Qt::LeftButton);
        EXPECT_EQ(field("txtFilePath").text(), "");
        EXPECT_EQ(focusName(), "cmdPesqPath");
    }
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(Chooser, SpaceOnTheButtonOpensIt)
{
    button("cmdPesqPath").setFocus();
    chooser.willChoose("/tmp/t.xml");
    press(Qt::Key_Space);
    EXPECT_EQ(field("txtFilePath").text(), "/tmp/t.xml");
}

// The one test through Qt's own dialog: the dialog is found once it is modal, a name is typed
// into it and the dialog is accepted or cancelled from the keyboard.
class RealDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        owner.show();
    }

    // Opens the chooser and, once its dialog is up, lets `drive` work it.
    std::optional<QString> choose(const std::function<void(QFileDialog&)>& drive)
    {
        return WhileModal<QFileDialog>(
            [&] { return chooser.chooseSaveFile(owner, "Indique a Localização do Ficheiro a Gravar:", "Ficheiros XML (*.xml)"); },
            [&](QFileDialog& dialog) {
                seen = Seen{dialog.windowTitle(), dialog.nameFilters(), dialog.acceptMode(), dialog.options(),
                            dialog.defaultSuffix(), dialog.selectedFiles(), dialog.parentWidget(),
                            dialog.objectName()};
                drive(dialog);
            });
    }

    static void typeName(QFileDialog& dialog, const QString& name)
    {
        auto* nameEdit = dialog.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(nameEdit, nullptr);
        nameEdit->setFocus();
        nameEdit->selectAll();
        QTest::keyClicks(nameEdit, name);
        QTest::keyClick(nameEdit, Qt::Key_Return);
    }

    struct Seen {
        QString title;
        QStringList filters;
        QFileDialog::AcceptMode mode{};
        QFileDialog::Options options;
        QString suffix;
        QStringList offered;
        QWidget* parent = nullptr;
        QString name;
    };

    QTemporaryDir folder;
    QWidget owner;
    DialogFileChooser chooser{QFileDialog::DontUseNativeDialog};
    Seen seen;
};

TEST_F(RealDialog, NameWithoutSuffixExistingFileAndCancel)
{
    const QString existing = folder.filePath("antigo.xml");
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    // A name typed without ".xml" comes back as typed, as a full path.
    const std::optional<QString> first = choose([&](QFileDialog& dialog) {
        dialog.setDirectory(folder.path());
        typeName(dialog, "terminais");
    });
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, QDir::toNativeSeparators(folder.filePath("terminais")));
    EXPECT_EQ(seen.title, "Indique a Localização do Ficheiro a Gravar:");
    EXPECT_EQ(seen.filters, QStringList({"Ficheiros XML (*.xml)"}));
    EXPECT_EQ(seen.mode, QFileDialog::AcceptSave);
    EXPECT_TRUE(seen.options.testFlag(QFileDialog::DontConfirmOverwrite));
    EXPECT_TRUE(seen.suffix.isEmpty());
    EXPECT_EQ(seen.parent, &owner);
    EXPECT_EQ(seen.name, "digFiles");

    // The next opening offers that file; an existing file is taken without a question.
    const std::optional<QString> second = choose([&](QFileDialog& dialog) { typeName(dialog, "antigo.xml"); });
    EXPECT_EQ(seen.offered, QStringList({folder.filePath("terminais")}));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*second, QDir::toNativeSeparators(existing));

    // Escape cancels, and a cancel leaves the last choice on offer.
    const std::optional<QString> third = choose([](QFileDialog& dialog) {
        QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(third.has_value());
    EXPECT_EQ(seen.offered, QStringList({existing}));
    const std::optional<QString> fourth = choose([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(fourth.has_value());
    EXPECT_EQ(seen.offered, QStringList({existing}));
}

} // namespace
} // namespace korvane::test
