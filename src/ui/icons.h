// The pictures of the window, painted in code. Every icon renders its pixmaps on demand at the
// requested size and device pixel ratio, so they stay sharp on any screen; at their nominal
// size the outlines sit on whole pixels.
#pragma once

#include <QIcon>

namespace kelvaston::ui {

// The image list, nominal 16×16, numbered 1..10:
//   1 connection (folder with two networked computers)   6 choose computer (two networked computers)
//   2 account (clock, house and letter)                  7 delete (black cross)
//   3 save settings (computer, arrow into a floppy)      8 copy account (two letters)
//   4 read settings (arrow into a drive)                 9 folder with sheets and an arrow
//   5 quit (monitor showing the moon)                   10 template (sheet with a house)
// Any other number gives a null icon.
QIcon ImageListPicture(int number);

// The 32×32 pictures in the corner of the frames, index 0..5: computer, plug with gear wheel,
// connection, account, hourglass before a window, flag before a globe. Null when out of range.
QIcon FrameIcon(int index);

// The program's icon: a letter in front of a tray of mail (16, 32, 48 and 256 px).
QIcon ApplicationIcon();
// The same at the sizes a window's frame and the task switcher show (16, 32 and 48 px): an X
// window carries its icon in every size it is offered, and 256 px cost milliseconds at start.
QIcon WindowIcon();

}  // namespace kelvaston::ui
