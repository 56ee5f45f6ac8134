#include "scripted_dialogs.h"

namespace kelvaston::ui {

Answer ScriptedDialogs::Message(const QString& text, const QString& title, MessageStyle style) {
    shown_.push_back({false, text, title, style, {}});
    if (observer_) observer_(shown_.back());
    if (queue_.empty() || queue_.front().input) {
        problems_.push_back("unexpected message box \"" + title.toStdString() +
                            "\": " + text.toStdString());
        if (!queue_.empty()) queue_.pop_front();
        return style == MessageStyle::Question ? Answer::No : Answer::Ok;
    }
    const Answer answer = queue_.front().answer;
    queue_.pop_front();
    return answer;
}

QString ScriptedDialogs::Input(const QString& prompt, const QString& title,
                               const QString& initial) {
    shown_.push_back({true, prompt, title, MessageStyle::Plain, initial});
    if (observer_) observer_(shown_.back());
    if (queue_.empty() || !queue_.front().input) {
        problems_.push_back("unexpected input box \"" + title.toStdString() +
                            "\": " + prompt.toStdString());
        if (!queue_.empty()) queue_.pop_front();
        return {};
    }
    QString entry = queue_.front().entry;
    queue_.pop_front();
    return entry;
}

std::vector<std::string> ScriptedDialogs::Problems() const {
    std::vector<std::string> problems = problems_;
    for (const auto& left : queue_) {
        problems.push_back(left.input ? "expected input box never came"
                                      : "expected message box never came");
    }
    return problems;
}

void ScriptedDialogs::Clear() {
    queue_.clear();
    shown_.clear();
    problems_.clear();
}

}  // namespace kelvaston::ui
