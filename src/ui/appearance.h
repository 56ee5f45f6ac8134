// What the window needs of the application before it is created: German standard buttons and
// the Tahoma font (or a font with Tahoma's metrics, so that no caption is clipped).
#pragma once

#include <QApplication>

namespace kelvaston::ui {

// Starts, on another thread, what the first text of the window will need of the system's font
// configuration, so that it is ready when Qt asks: call it first thing in main, before the
// application object exists. PrepareAppearance waits for it.
void WarmUpFonts();

void PrepareAppearance(QApplication& app);

}  // namespace kelvaston::ui
