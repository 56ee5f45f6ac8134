// What the window needs of the application before it is created: German standard buttons and
// the Tahoma font (or a font with Tahoma's metrics, so that no caption is clipped).
#pragma once

#include <QApplication>

namespace kelvaston::ui {

void PrepareAppearance(QApplication& app);

}  // namespace kelvaston::ui
