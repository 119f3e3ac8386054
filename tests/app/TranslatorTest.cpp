#include "app/FileChooser.h"
#include "app/MessageBoxes.h"
#include "app/Translator.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>

namespace korvane::test {
namespace {

// Asked first of all translators and answering nothing: notes every text Qt looks up.
class RecordingTranslator final : public QTranslator {
public:
    using Key = std::tuple<std::string, std::string, std::string>;   // context, source, disambiguation

    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* disambiguation, int) const override
    {
        asked.insert({context ? context : "", source ? source : "", disambiguation ? disambiguation : ""});
        return QString();
    }

    mutable std::set<Key> asked;
};

// Closes the modal dialog that `open` shows once `ready` says it is fully built, with a deadline.
void WhileModal(const std::function<void()>& open, const std::function<bool(QDialog&)>& ready)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible() && ready(*dialog)) {
            poll.stop();
            dialog->reject();
        }
    });
    poll.start(20);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] {
        ADD_FAILURE() << "the dialog was not ready within 10 s";
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    deadline.start(10000);
    open();
}

// Every text Qt looks up while it builds what the operator sees (the save-file chooser with a
// folder and a file listed, the menus of the fields, the two kinds of box) has a European
// Portuguese text in Qt's file or the program's: none is left to show in English.
TEST(Translator, EveryTextOfTheChooserBoxesAndMenusIsPortuguese)
{
    const Translator portuguese;
    ASSERT_TRUE(portuguese.hasQtTranslations()) << "Qt's qt_pt_PT.qm is missing (qt6-translations-l10n)";
    ASSERT_TRUE(portuguese.hasOwnTranslations());
    RecordingTranslator recorder;
    QCoreApplication::installTranslator(&recorder);

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("pasta")));
    QFile file(folder.filePath(QStringLiteral("antigo.xml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<Vorantis/>");
    file.close();

    QWidget owner;
    owner.show();
    DialogFileChooser chooser{QFileDialog::DontUseNativeDialog};
    bool pointed = false;
    WhileModal([&] { chooser.chooseSaveFile(owner, QStringLiteral("Título"), QStringLiteral("Ficheiros XML (*.xml)")); },
               [&](QDialog& dialog) {
                   if (!std::exchange(pointed, true))
                       static_cast<QFileDialog&>(dialog).setDirectory(folder.path());
                   // Ready once the folder and the file are listed with their types and dates.
                   auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
                   if (!view || !view->model() || view->model()->rowCount(view->rootIndex()) < 2)
                       return false;
                   for (int row = 0; row < 2; ++row)
                       for (int column = 0; column < 4; ++column)
                           static_cast<void>(view->model()->index(row, column, view->rootIndex()).data());
                   for (QMenu* menu : dialog.findChildren<QMenu*>())
                       static_cast<void>(menu->actions());
                   return true;
               });

    QtMessageBoxes boxes;
    WhileModal([&] { boxes.showMessage(owner, QStringLiteral("Terminado!"), QStringLiteral("Korvane"),
                                       MessageIcon::Information); },
               [](QDialog&) { return true; });
    WhileModal([&] { boxes.askOkCancel(owner, QStringLiteral("Pretende Continuar?"), QStringLiteral("O Ficheiro Será Sobreposto:")); },
               [](QDialog&) { return true; });

    for (QLineEdit::EchoMode mode : {QLineEdit::Normal, QLineEdit::Password}) {
        for (bool readOnly : {false, true}) {
            QLineEdit field(&owner);
            field.setEchoMode(mode);
            field.setReadOnly(readOnly);
            field.setText(QStringLiteral("texto"));
            field.selectAll();
            const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        }
    }
    QCoreApplication::removeTranslator(&recorder);

    ASSERT_FALSE(recorder.asked.empty());
    std::set<std::string> contexts;
    for (const auto& [context, source, disambiguation] : recorder.asked) {
        contexts.insert(context);
        // Key names are looked up as a whole table whenever a key sequence is read from text;
        // those a menu shows (Ctrl, Shift) are in Qt's file, most others name keys no desk has.
        if (context == "QShortcut")
            continue;
        EXPECT_TRUE(portuguese.translates(context.c_str(), source.c_str(),
                                          disambiguation.empty() ? nullptr : disambiguation.c_str()))
            << context << " \"" << source << "\" (" << disambiguation << ") has no Portuguese text";
    }
    for (const char* context : {"QFileDialog", "QFileSystemModel", "QAbstractFileIconProvider", "QPlatformTheme", "QLineEdit"})
        EXPECT_TRUE(contexts.count(context)) << context << " was never asked: the test no longer sees what it checks";
}

// A few texts as the operator reads them: European, not Brazilian, Portuguese.
TEST(Translator, StandardButtonsAndChooserLabelsReadEuropeanPortuguese)
{
    const Translator portuguese;
    const std::vector<std::tuple<const char*, const char*, const char*, QString>> cases = {
        {"QPlatformTheme", "OK", nullptr, QStringLiteral("OK")},
        {"QPlatformTheme", "Cancel", nullptr, QStringLiteral("Cancelar")},
        {"QPlatformTheme", "Save", nullptr, QStringLiteral("Guardar")},
        {"QFileDialog", "&Save", nullptr, QStringLiteral("&Guardar")},
        {"QFileDialog", "File &name:", nullptr, QStringLiteral("&Nome do ficheiro:")},
        {"QFileDialog", "Files of type:", nullptr, QStringLiteral("Ficheiros do tipo:")},
        {"QFileDialog", "Look in:", nullptr, QStringLiteral("Procurar em:")},
        {"QFileSystemModel", "Date Modified", nullptr, QStringLiteral("Data de modificação")},
        {"QAbstractFileIconProvider", "Folder", "All other platforms", QStringLiteral("Pasta")},
        {"QLineEdit", "Select All", nullptr, QStringLiteral("Selecionar tudo")},
        {"QLineEdit", "&Paste", nullptr, QStringLiteral("Co&lar")},
    };
    for (const auto& [context, source, disambiguation, expected] : cases)
        EXPECT_EQ(QCoreApplication::translate(context, source, disambiguation), expected) << context << " " << source;
}

} // namespace
} // namespace korvane::test
