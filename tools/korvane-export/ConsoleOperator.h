#pragma once

#include "export/ExportOperator.h"

#include <optional>

namespace korvane {

// The export run's operator on a console: the fields come from the command line, the password
// from KORVANE_PASSWORD or the terminal, messages go to stdout (information) and stderr
// (failures), and the overwrite question is asked on the terminal unless --yes answered it.
class ConsoleOperator : public ExportOperator {
public:
    // Where the password comes from when it is not asked for on the terminal.
    static constexpr const char* kPasswordVariable = "KORVANE_PASSWORD";

    struct Fields {
        QString server;
        QString login;
        QString filePath;
        bool yes = false;
        // From the environment, taken out of it at start-up; asked for on the terminal when absent.
        std::optional<QString> password;
    };

    explicit ConsoleOperator(Fields fields);
    ~ConsoleOperator() override;
    ConsoleOperator(const ConsoleOperator&) = delete;
    ConsoleOperator& operator=(const ConsoleOperator&) = delete;

    QString filePathText() const override { return m_fields.filePath; }
    QString serverText() const override { return m_fields.server; }
    QString loginText() const override { return m_fields.login; }
    // The password from the environment, else asked for each time the run needs it (once).
    QString passwordText() const override;

    void showMessage(const QString& text, const QString& title, MessageIcon icon) override;
    Answer askOkCancel(const QString& text, const QString& title) override;
    void moveFocusToFilePath() override {}

    // True when the run went through to "Terminado!" with nothing reported on the way.
    bool finished() const noexcept { return m_finished && !m_failed; }

private:
    Fields m_fields;
    bool m_finished = false;
    bool m_failed = false;
};

} // namespace korvane
