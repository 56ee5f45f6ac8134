#include "ui/appearance.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QImageReader>
#include <QLibraryInfo>
#include <QLocale>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QTranslator>
#include <thread>

#if KELVASTON_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

namespace kelvaston::ui {
namespace {

constexpr const char* kTahomaFiles[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                        "/usr/share/wine/fonts/tahomabd.ttf"};

// The fonts' thread; a program that ends before it is waited for still waits for it.
std::thread& WarmUpThread() {
    static struct Holder {
        std::thread thread;
        ~Holder() {
            if (thread.joinable()) thread.join();
        }
    } holder;
    return holder.thread;
}

#if KELVASTON_FONTCONFIG
// Reading fontconfig's configuration and font lists takes about ten milliseconds, the larger
// part of what the first text costs. Done here, Qt finds it done. Where the system has no
// Tahoma, Wine's font of the same metrics joins fontconfig's fonts as an application font.
void LoadFontConfiguration() {
    if (FcInit() == FcFalse) return;
    FcPattern* tahoma = FcPatternBuild(nullptr, FC_FAMILY, FcTypeString, "Tahoma", nullptr);
    FcObjectSet* family = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* found = tahoma && family ? FcFontList(nullptr, tahoma, family) : nullptr;
    if (found != nullptr && found->nfont == 0) {
        for (const char* file : kTahomaFiles) {
            FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(file));
        }
    }
    if (found != nullptr) FcFontSetDestroy(found);
    if (family != nullptr) FcObjectSetDestroy(family);
    if (tahoma != nullptr) FcPatternDestroy(tahoma);
}
#endif

// Runs a task on its own thread and waits for it when the application object goes, which is
// long after the task is done.
class Background final : public QObject {
public:
    template <class Task>
    Background(QObject* parent, Task task) : QObject(parent), thread_(std::move(task)) {}
    ~Background() override { thread_.join(); }

private:
    std::thread thread_;
};

// The first group box painted makes the style load a picture, and with it every image format
// plugin of the system, with their libraries: a few milliseconds spent here while the window is
// built. Reading a picture's date makes the C library read the time zone.
void LoadImagePlugins() {
    QImageReader::supportedImageFormats();
    QFileInfo(QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png"))
        .lastModified();
}

// The style of the platform (Fusion on Linux), with a star for each character of a password.
class KelvastonStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

void WarmUpFonts() {
#if KELVASTON_FONTCONFIG
    if (!WarmUpThread().joinable()) WarmUpThread() = std::thread(LoadFontConfiguration);
#endif
}

void PrepareAppearance(QApplication& app) {
    new Background(&app, LoadImagePlugins);
    // "Ja", "Nein", "Abbrechen" on the standard buttons.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(translator);
    }
    if (WarmUpThread().joinable()) WarmUpThread().join();
    // Tahoma where the system has it; elsewhere Wine's font of the same metrics.
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
        for (const char* file : kTahomaFiles)
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    }
#ifdef _WIN32
    QApplication::setStyle(new KelvastonStyle());
#else
    // One look on every Linux desktop, and in the screenshots.
    QApplication::setStyle(new KelvastonStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
#endif
}

}  // namespace kelvaston::ui
