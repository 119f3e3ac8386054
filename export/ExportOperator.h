#pragma once

#include <QString>

namespace korvane {

// The program's own title, carried by every message box that sets no title of its own.
inline const QString kApplicationTitle = QStringLiteral("Korvane");

enum class MessageIcon { Critical, Information };
enum class Answer { Ok, Cancel };

// Everything the export run needs from whoever started it: the four field texts, modal
// messages, the OK/Cancel question and the focus move. The window implements it with its
// widgets and QMessageBox, korvane-export with the terminal, tests with a scripted double.
class ExportOperator {
public:
    virtual ~ExportOperator() = default;

    // Read afresh each time: the run reads the path once per step that needs it.
    virtual QString filePathText() const = 0;
    virtual QString serverText() const = 0;
    virtual QString loginText() const = 0;
    virtual QString passwordText() const = 0;

    // A modal box with an OK button only.
    virtual void showMessage(const QString& text, const QString& title, MessageIcon icon) = 0;
    // A modal box with OK (the default) and Cancel and the information icon; closing it
    // without a choice or pressing Escape answers Cancel.
    virtual Answer askOkCancel(const QString& text, const QString& title) = 0;
    virtual void moveFocusToFilePath() = 0;
};

} // namespace korvane
