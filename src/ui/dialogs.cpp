#include "ui/dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace kelvaston::ui {

Answer QtDialogs::Message(const QString& text, const QString& title, MessageStyle style) {
    QMessageBox box(parent_);
    box.setWindowTitle(title);
    box.setText(text);
    switch (style) {
        case MessageStyle::Information: box.setIcon(QMessageBox::Information); break;
        case MessageStyle::Warning: box.setIcon(QMessageBox::Warning); break;
        case MessageStyle::Question: box.setIcon(QMessageBox::Question); break;
        case MessageStyle::Critical: box.setIcon(QMessageBox::Critical); break;
        case MessageStyle::Plain: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (style == MessageStyle::Question) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

QString QtDialogs::Input(const QString& prompt, const QString& title, const QString& initial) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent_, title, prompt, QLineEdit::Normal, initial, &ok);
    return ok ? text : QString();
}

}  // namespace kelvaston::ui
