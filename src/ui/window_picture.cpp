#include "ui/window_picture.h"

#include <QCoreApplication>
#include <QTreeWidgetItemIterator>

namespace kelvaston::ui {

QImage WindowPicture(Editor& editor, int page, const QString& node) {
    POPConfig& window = editor.Window();
    window.Kartei->setCurrentIndex(page);
    for (QTreeWidgetItemIterator it(window.GlobalList); *it != nullptr; ++it) {
        if (NodePath(**it) != node) continue;
        QTreeWidgetItem* parent = (*it)->parent();
        (parent != nullptr ? parent : *it)->setExpanded(true);
        if (parent != nullptr) {
            editor.ShowSettings(parent->text(0), (*it)->text(0));
        } else {
            editor.ShowSettings((*it)->text(0));
        }
    }
    QCoreApplication::processEvents();
    return window.grab().toImage();
}

}  // namespace kelvaston::ui
