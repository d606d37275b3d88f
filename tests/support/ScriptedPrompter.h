#pragma once

#include "app/Prompter.h"

#include <QStringList>

namespace kavel::test {

// Records every message and question and answers questions with a fixed reply.
class ScriptedPrompter : public Prompter {
public:
    explicit ScriptedPrompter(bool answer = true) : answer_(answer) {}

    void ShowMessage(const QString& caption, const QString& text) override {
        messages.append(caption + QStringLiteral(": ") + text);
    }
    bool AskYesNo(const QString& caption, const QString& text) override {
        questions.append(caption + QStringLiteral(": ") + text);
        return answer_;
    }

    QStringList messages;
    QStringList questions;

private:
    bool answer_;
};

}  // namespace kavel::test
