// The dialog seam with answers a test gives in advance.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/dialogs.h"

namespace kelvaston::ui {

// Answers boxes from a queue that a test fills in advance, and records every box it was asked
// to show. A box that comes when nothing is queued, or of another kind than expected, is a
// failure the test sees through Problems().
class ScriptedDialogs final : public Dialogs {
public:
    struct Shown {
        bool input = false;
        QString text;
        QString title;
        MessageStyle style = MessageStyle::Plain;
        QString initial;  // an input box's default entry
    };

    void ExpectMessage(Answer answer) { queue_.push_back({false, answer, {}}); }
    // Runs as each box is shown, to look at the program's state at that moment.
    void OnShow(std::function<void(const Shown&)> observer) { observer_ = std::move(observer); }
    void ExpectInput(const QString& entry) { queue_.push_back({true, Answer::Ok, entry}); }

    Answer Message(const QString& text, const QString& title, MessageStyle style) override;
    QString Input(const QString& prompt, const QString& title, const QString& initial) override;

    const std::vector<Shown>& Boxes() const { return shown_; }
    // Unexpected boxes and expected boxes that never came.
    std::vector<std::string> Problems() const;
    void Clear();

private:
    struct Scripted {
        bool input;
        Answer answer;
        QString entry;
    };
    std::deque<Scripted> queue_;
    std::vector<Shown> shown_;
    std::vector<std::string> problems_;
    std::function<void(const Shown&)> observer_;
};

}  // namespace kelvaston::ui
