// Kelvaston: the configuration editor of the Tolvane mail service.
#include <QApplication>

#include "platform/default_registry.h"
#ifndef _WIN32
#include "platform/file_store.h"
#endif
#include "ui/appearance.h"
#include "ui/dialogs.h"
#include "ui/editor.h"
#include "ui/pop_config.h"

int main(int argc, char** argv) {
    // What the first text needs of the font configuration is read while Qt starts.
    kelvaston::ui::WarmUpFonts();
    auto& registry = kelvaston::platform::DefaultRegistry();
#ifndef _WIN32
    // The local computer's file is read while Qt starts and the window is built.
    static_cast<kelvaston::platform::FileStoreRegistry&>(registry).PrefetchLocalHive();
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaston"));
    kelvaston::ui::PrepareAppearance(app);

    kelvaston::ui::POPConfig window;
    kelvaston::ui::QtDialogs dialogs(&window);
    kelvaston::ui::Editor editor(registry, dialogs, window);
    editor.Main();
    return QApplication::exec();
}
