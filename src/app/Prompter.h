#pragma once

#include <QString>

namespace kavel {

// The questions and messages that the model shows the user. The window application answers
// with message boxes, the command line on its terminal, tests with a script. Main thread only.
class Prompter {
public:
    virtual ~Prompter() = default;
    // An OK-only message with its caption ("Warning", "Input Error!", the application title).
    virtual void ShowMessage(const QString& caption, const QString& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
};

}  // namespace kavel
