// Renders the editor window, loaded from a sample configuration, to a PNG: how the window is
// compared with its layout, and the picture in the README.
//   kelvaston-screenshot SAMPLE.reg OUT.png [TAB [NODE]]
// TAB is the page in front (0..2); NODE a tree path such as "NORAS\info" to show.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "platform/file_store.h"
#include "ui/appearance.h"
#include "ui/dialogs.h"
#include "ui/editor.h"
#include "ui/window_picture.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kelvaston-screenshot SAMPLE.reg OUT.png [TAB [NODE]]\n");
        return 1;
    }
    QApplication app(argc, argv);
    kelvaston::ui::PrepareAppearance(app);
    QTemporaryDir store;
    const QString file = store.filePath(QStringLiteral("SERVER1.reg"));
    if (!QFile::copy(QString::fromLocal8Bit(argv[1]), file)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    // The store takes only files that are its owner's alone.
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    kelvaston::platform::FileStoreRegistry registry({store.path().toStdString(), "SERVER1"});
    kelvaston::ui::POPConfig window;
    kelvaston::ui::QtDialogs dialogs(&window);
    kelvaston::ui::Editor editor(registry, dialogs, window);
    editor.Main();
    const QImage picture =
        kelvaston::ui::WindowPicture(editor, argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 0,
                                     argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString());
    if (!picture.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
