// Kelvaston: the configuration editor of the Tolvane mail service.
#include <QApplication>

#include "platform/default_registry.h"
#include "ui/appearance.h"
#include "ui/dialogs.h"
#include "ui/editor.h"
#include "ui/pop_config.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaston"));
    kelvaston::ui::PrepareAppearance(app);

    kelvaston::ui::POPConfig window;
    kelvaston::ui::QtDialogs dialogs(&window);
    kelvaston::ui::Editor editor(kelvaston::platform::DefaultRegistry(), dialogs, window);
    editor.Main();
    return QApplication::exec();
}
