// The window as the README's pictures show it, for the screenshot tool and for the test that
// keeps those pictures true.
#pragma once

#include <QImage>
#include <QString>

#include "ui/editor.h"

namespace kelvaston::ui {

// The editor's window with page `page` of the tab control in front and the node `node`
// ("Connection" or "Connection\Account"; empty: none) shown as a click on it shows it.
QImage WindowPicture(Editor& editor, int page, const QString& node);

}  // namespace kelvaston::ui
