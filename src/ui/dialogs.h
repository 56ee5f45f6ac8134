// Every modal box of the window goes through this seam: message boxes in the five styles and
// input boxes. The program uses QtDialogs; the window's tests script the answers.
#pragma once

#include <QString>
#include <QWidget>

namespace kelvaston::ui {

enum class MessageStyle {
    Information,  // OK, information icon
    Warning,      // OK, exclamation icon
    Question,     // Yes and No, question icon
    Critical,     // OK, stop icon
    Plain,        // OK, no icon
};

enum class Answer { Ok, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual Answer Message(const QString& text, const QString& title, MessageStyle style) = 0;
    // The text entered, or the empty text when the user cancels.
    virtual QString Input(const QString& prompt, const QString& title, const QString& initial) = 0;
};

class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent) : parent_(parent) {}
    Answer Message(const QString& text, const QString& title, MessageStyle style) override;
    QString Input(const QString& prompt, const QString& title, const QString& initial) override;

private:
    QWidget* parent_;
};

}  // namespace kelvaston::ui
