#pragma once

#include "export/ExportOperator.h"

#include <QString>

#include <deque>
#include <functional>
#include <vector>

namespace korvane::test {

// An ExportOperator that plays back answers and records everything the run showed. A question
// without a scripted answer is recorded and answered Cancel, so a test that forgot one fails
// on its expectations rather than hanging.
class ScriptedOperator : public ExportOperator {
public:
    struct Message {
        QString text;
        QString title;
        MessageIcon icon;
        bool operator==(const Message&) const = default;
    };
    struct Question {
        QString text;
        QString title;
        bool operator==(const Question&) const = default;
    };

    QString filePath;
    QString server;
    QString login;
    QString password;
    std::deque<Answer> answers;
    // Runs while the question is shown, before its answer is given.
    std::function<void()> whileAsking;

    std::vector<Message> messages;
    std::vector<Question> questions;
    int focusMoves = 0;
    mutable int passwordReads = 0;

    QString filePathText() const override { return filePath; }
    QString serverText() const override { return server; }
    QString loginText() const override { return login; }
    QString passwordText() const override
    {
        ++passwordReads;
        return password;
    }

    void showMessage(const QString& text, const QString& title, MessageIcon icon) override
    {
        messages.push_back({text, title, icon});
    }

    Answer askOkCancel(const QString& text, const QString& title) override
    {
        questions.push_back({text, title});
        if (whileAsking)
            whileAsking();
        if (answers.empty())
            return Answer::Cancel;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    void moveFocusToFilePath() override { ++focusMoves; }
};

} // namespace korvane::test
