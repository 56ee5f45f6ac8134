// The pictures of the window: PNG files in the program's resources (src/ui/pictures), each at
// its nominal size and at twice that for screens with two device pixels per pixel.
#pragma once

#include <QIcon>

namespace kelvaston::ui {

// The 16×16 pictures of the toolbar buttons and the tree, each with its greyed form for a
// disabled button.
enum class Image {
    Connection,      // folder with two networked computers
    Account,         // clock, house and letter
    SaveSettings,    // computer, arrow into a floppy
    ReadSettings,    // arrow into a drive
    Quit,            // monitor showing the moon
    ChooseComputer,  // two networked computers
    Delete,          // black cross
    CopyAccount,     // two letters
    Template,        // sheet with a house
};
QIcon ImageListPicture(Image image);

// The 32×32 pictures in the corner of the frames.
enum class FrameImage { Computer, PlugWithGear, Connection, Account, Hourglass, FlagAndGlobe };
QIcon FrameIcon(FrameImage image);

// The program's icon at the sizes a window's frame and the task switcher show (16, 32, 48 px).
QIcon WindowIcon();

}  // namespace kelvaston::ui
