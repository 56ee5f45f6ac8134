// Start-up to the window shown and painted: Kelvaston on a full configuration (51 connections,
// 251 accounts) beside a bare Qt window of the same size. Each start is a new process started
// from this program's own file, so that every kind of start loads the same libraries; it is
// timed by the parent from the fork to the child's word that its window has painted. Prints
// figures.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/layout.h"
#include "config/store.h"
#include "platform/file_store.h"
#include "ui/appearance.h"
#include "ui/dialogs.h"
#include "ui/editor.h"

namespace {

using namespace kelvaston;
using Clock = std::chrono::steady_clock;
constexpr int kRuns = 15;

// Watches a window for its first paint.
class FirstPaint final : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return QObject::eventFilter(watched, event);
    }
};

void WaitForPaint(QWidget& window, int signalFd) {
    FirstPaint watcher;
    window.installEventFilter(&watcher);
    while (!watcher.painted) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const char done = 1;
    if (::write(signalFd, &done, 1) != 1) std::_Exit(3);
    // Tearing the window down is not start-up: the child ends here, so that counting a child's
    // instructions (valgrind --tool=callgrind) counts its start-up alone.
    std::_Exit(0);
}

int RunBare(int argc, char** argv, int signalFd) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(685, 452);
    window.show();
    WaitForPaint(window, signalFd);
    return 0;
}

// The bare window with one line of text on it: what the first text costs (fonts found, one
// loaded, its glyphs drawn), with nothing of Kelvaston's.
int RunOneLabel(int argc, char** argv, int signalFd) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(685, 452);
    QLabel label(QStringLiteral("Verbindungen :"), &window);
    label.move(8, 12);
    window.show();
    WaitForPaint(window, signalFd);
    return 0;
}

// Kelvaston's window, empty: no registry, no configuration.
int RunEmptyWindow(int argc, char** argv, int signalFd) {
    ui::WarmUpFonts();
    QApplication app(argc, argv);
    ui::PrepareAppearance(app);
    ui::POPConfig window;
    window.show();
    WaitForPaint(window, signalFd);
    return 0;
}

// As the program's main does it.
int RunEditor(int argc, char** argv, int signalFd, const std::filesystem::path& store) {
    ui::WarmUpFonts();
    platform::FileStoreRegistry registry({store, "BENCH"});
    registry.PrefetchLocalHive();
    QApplication app(argc, argv);
    ui::PrepareAppearance(app);
    ui::POPConfig window;
    ui::QtDialogs dialogs(&window);
    ui::Editor editor(registry, dialogs, window);
    editor.Main();
    WaitForPaint(window, signalFd);
    return 0;
}

enum class Mode { Bare, OneLabel, EmptyWindow, Editor };
constexpr const char* kModeNames[] = {"bare", "label", "empty", "editor"};

// Milliseconds from the fork to the child's signal.
double StartOnce(Mode mode, const std::filesystem::path& store) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execl("/proc/self/exe", "startup_bench", "--child", kModeNames[static_cast<int>(mode)],
                store.c_str(), fd.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(fds[1]);
    char done = 0;
    const bool signalled = ::read(fds[0], &done, 1) == 1;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // Let the display server finish with the window that just closed before the next start.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return signalled ? ms : -1;
}

// A started child: the mode, the store folder and the descriptor to signal on.
int RunChild(int argc, char** argv) {
    const std::string mode = argv[2];
    const std::filesystem::path store = argv[3];
    const int fd = std::atoi(argv[4]);
    int qtArgc = 1;
    if (mode == "editor") return RunEditor(qtArgc, argv, fd, store);
    if (mode == "empty") return RunEmptyWindow(qtArgc, argv, fd);
    if (mode == "label") return RunOneLabel(qtArgc, argv, fd);
    (void)argc;
    return RunBare(qtArgc, argv, fd);
}

void FillFull(config::Settings& s) {
    config::InitSettings(s);
    for (std::size_t c = 0; c < config::kConnectionSlots; ++c) {
        s.Connections[c] = {c == 0 ? "NORAS" : "Verbindung " + std::to_string(c), "1", "600"};
    }
    for (std::size_t a = 0; a < config::kAccountSlots; ++a) {
        config::AccountRecord& r = s.Accounts[a];
        r.Connection = s.Connections[a % config::kConnectionSlots].Name;
        r.Name = "konto" + std::to_string(a);
        for (const auto& field : config::layout::kAccountValues) {
            r.*field.field = field.IsNumber() ? "1" : std::string("wert-") + field.name;
        }
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc == 5 && std::string(argv[1]) == "--child") return RunChild(argc, argv);
    if (std::getenv("XDG_RUNTIME_DIR") ==
        nullptr) {  // Qt asks for one; a private one, as a session has
        const auto runtime = std::filesystem::temp_directory_path() /
                             ("kelvaston-runtime-" + std::to_string(::getuid()));
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    const auto store = std::filesystem::temp_directory_path() /
                       ("kelvaston-startup-" + std::to_string(::getpid()));
    std::filesystem::create_directories(store);
    {
        platform::FileStoreRegistry registry({store, "BENCH"});
        platform::Key service = platform::kNullKey;
        registry.CreateKey(platform::kHKeyLocalMachine, config::layout::kServiceKey, &service);
        registry.CloseKey(service);
        config::Settings settings;
        config::ConfigStore saver(registry, settings);
        saver.Connect("");
        FillFull(settings);
        if (saver.SaveSettings().result != config::SaveResult::Saved) return 1;
    }
    std::vector<double> bare, label, empty, editor;
    for (const Mode mode : {Mode::Bare, Mode::OneLabel, Mode::EmptyWindow, Mode::Editor})
        StartOnce(mode, store);  // warm
    for (int run = 0; run < kRuns; ++run) {
        bare.push_back(StartOnce(Mode::Bare, store));
        label.push_back(StartOnce(Mode::OneLabel, store));
        empty.push_back(StartOnce(Mode::EmptyWindow, store));
        editor.push_back(StartOnce(Mode::Editor, store));
    }
    const double b = Median(bare), l = Median(label), w = Median(empty), e = Median(editor);
    std::printf(
        "Start-up to the first paint: a new process each, median of %d starts, platform %s\n",
        kRuns, std::getenv("QT_QPA_PLATFORM"));
    std::printf("  bare Qt window, no widgets                 %7.1f ms\n", b);
    std::printf("  bare Qt window, one line of text           %7.1f ms\n", l);
    std::printf("  Kelvaston's window, empty (no registry)    %7.1f ms\n", w);
    std::printf("  Kelvaston, 51 connections, 251 accounts    %7.1f ms\n", e);
    std::printf("  Kelvaston / bare window                    %7.2f\n", e / b);
    std::printf("  Kelvaston / its own empty window           %7.2f\n", e / w);
    std::printf("  one line of text / bare window             %7.2f\n", l / b);
    std::printf("  Kelvaston / one line of text               %7.2f\n", e / l);
    std::filesystem::remove_all(store);
    return 0;
}
