// A save killed at any moment leaves the store holding either the configuration it replaced or
// the one it wrote, never a mixture, a damaged file or nothing.
//
// The test seeds a store with configuration A, then again and again starts save_crash_child to
// save the other configuration, kills it with SIGKILL after a random time of up to one and a
// half times a measured save, and looks at what the store holds. 15 rounds; 200 with
// KELVASTON_LONG=1. The figures go to standard output as one line starting with "figures: ".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/layout.h"
#include "config/store.h"
#include "configurations.h"
#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"

namespace kelvaston::reliability {
namespace {

namespace error = platform::error;
using Clock = std::chrono::steady_clock;
using platform::KeyTree;

constexpr const char* kComputer = "CRASH";

bool LongMode() {
    const char* value = std::getenv("KELVASTON_LONG");
    return value != nullptr && std::string(value) == "1";
}

char Other(char which) { return which == 'A' ? 'B' : 'A'; }

// The store folder of the test, with the service's key in it.
class CrashStore {
public:
    CrashStore() : folder_(dir_ / "store") {
        std::filesystem::create_directories(folder_);
        platform::FileStoreRegistry registry({folder_, kComputer});
        platform::Key service = platform::kNullKey;
        EXPECT_EQ(registry.CreateKey(platform::kHKeyLocalMachine, config::layout::kServiceKey, &service),
                  error::kSuccess);
        registry.CloseKey(service);
    }

    const std::filesystem::path& Folder() const { return folder_; }
    std::filesystem::path File() const { return folder_ / (std::string(kComputer) + ".reg"); }

    // Saves configuration `which` in this process, as the editor would.
    bool CleanSave(char which) const {
        platform::FileStoreRegistry registry({folder_, kComputer});
        config::Settings settings;
        config::InitSettings(settings);
        if (registry.ConnectRegistry("", platform::kHKeyLocalMachine, &settings.RootKey) != error::kSuccess) return false;
        config::ConfigStore store(registry, settings);
        store.LoadGlobalSettings();
        store.LoadConnections();
        store.LoadAccounts();
        FillConfiguration(settings, which);
        return store.SaveSettings().result == config::SaveResult::Saved;
    }

    // The Parameters tree as a store that starts now reads it from the file; empty when the file
    // cannot be loaded or has no Parameters key.
    std::optional<KeyTree> StoredParameters() const {
        platform::FileStoreRegistry registry({folder_, kComputer});
        platform::Key root = platform::kNullKey;
        if (registry.ConnectRegistry("", platform::kHKeyLocalMachine, &root) != error::kSuccess) return std::nullopt;
        platform::Key parameters = platform::kNullKey;
        if (registry.OpenKeyEx(root, config::layout::kParametersKey, 0, platform::kKeyRead, &parameters) !=
            error::kSuccess) {
            return std::nullopt;
        }
        KeyTree tree;
        const auto status = platform::ReadTree(registry, parameters, config::layout::kParametersName, &tree);
        registry.CloseKey(parameters);
        if (status != error::kSuccess) return std::nullopt;
        return tree;
    }

    // Everything in the folder besides the store file: the temporary files of killed saves.
    std::vector<std::string> OtherFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            if (entry.path() != File()) names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    kelvaston::test::TempDir dir_;
    std::filesystem::path folder_;
};

pid_t StartChild(const std::filesystem::path& folder, char which) {
    const std::string configuration(1, which);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(KELVASTON_SAVE_CRASH_CHILD, KELVASTON_SAVE_CRASH_CHILD, folder.c_str(), configuration.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Waits for the child's end; a child still running after a minute (a lock never released, say)
// is killed and reported as status -1.
int WaitWithDeadline(pid_t pid) {
    const auto deadline = Clock::now() + std::chrono::minutes(1);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return status;
}

bool ExitedCleanly(int status) { return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

bool IsTemporaryFile(const std::string& name) {
    const std::string prefix = "." + std::string(kComputer) + ".reg.tmp-";
    return name.starts_with(prefix) && name.size() > prefix.size() &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

struct Figures {
    int runs = 0;
    int kills = 0;              // the child was killed while running
    int killedBeforeWrite = 0;  // ... and the store still held the configuration it replaced
    int killedAfterWrite = 0;   // ... and the store already held the new configuration
    int finishedFirst = 0;      // the child had ended before the kill came
    int corruptions = 0;        // the store file did not parse or could not be loaded
    int lost = 0;               // neither configuration, or a finished save not on disk
    int strayFiles = 0;         // files other than the store file and its temporary files
    std::size_t temporaryFilesLeft = 0;
    double saveMs = 0;
};

TEST(SaveCrash, AKilledSaveLeavesTheOldOrTheNewConfiguration) {
    const int runs = LongMode() ? 200 : 15;
    CrashStore store;

    // The two configurations as a clean save stores them.
    ASSERT_TRUE(store.CleanSave('B'));
    const std::optional<KeyTree> treeB = store.StoredParameters();
    ASSERT_TRUE(store.CleanSave('A'));
    const std::optional<KeyTree> treeA = store.StoredParameters();
    ASSERT_TRUE(treeA && treeB);
    ASSERT_NE(*treeA, *treeB);
    ASSERT_EQ(treeA->children.size(), config::kConnectionSlots);
    const auto treeOf = [&](char which) -> const KeyTree& { return which == 'A' ? *treeA : *treeB; };

    // A save by the child from start to end, timed; four of them, ending on A again.
    Figures figures;
    figures.runs = runs;
    std::vector<double> durations;
    char current = 'A';
    for (int i = 0; i < 4; ++i) {
        const auto start = Clock::now();
        const int status = WaitWithDeadline(StartChild(store.Folder(), Other(current)));
        durations.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ASSERT_TRUE(ExitedCleanly(status)) << "status " << status;
        current = Other(current);
        ASSERT_EQ(store.StoredParameters(), treeOf(current));
    }
    std::sort(durations.begin(), durations.end());
    figures.saveMs = durations[durations.size() / 2];

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> delayMs(0.0, 1.5 * figures.saveMs);
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
        const char target = Other(current);
        const pid_t pid = StartChild(store.Folder(), target);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(delayMs(random)));
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        // A child that ended between the look and the kill counts as finished.
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        if (!killed) {
            EXPECT_TRUE(ExitedCleanly(status)) << "the child ended with status " << status;
            ++figures.finishedFirst;
        } else {
            ++figures.kills;
        }

        if (!platform::regfile::Parse(kelvaston::test::ReadFile(store.File())).document) {
            ++figures.corruptions;
            ADD_FAILURE() << "the store file does not parse";
            break;
        }
        const std::optional<KeyTree> stored = store.StoredParameters();
        if (!stored) {
            ++figures.corruptions;
            ADD_FAILURE() << "the store file cannot be loaded or has no Parameters key";
            break;
        }
        if (*stored == treeOf(target)) {
            figures.killedAfterWrite += killed;
            current = target;
        } else if (*stored == treeOf(current)) {
            if (killed) {
                ++figures.killedBeforeWrite;
            } else {
                ++figures.lost;
                ADD_FAILURE() << "a save that ended cleanly is not in the store";
            }
        } else {
            ++figures.lost;
            ADD_FAILURE() << "the store holds neither configuration";
            break;
        }
        for (const auto& name : store.OtherFiles()) {
            if (!IsTemporaryFile(name)) {
                ++figures.strayFiles;
                ADD_FAILURE() << "unexpected file in the store folder: " << name;
            }
        }
    }

    // What killed saves left behind must not stop the next one, which also clears it away.
    const int status = WaitWithDeadline(StartChild(store.Folder(), Other(current)));
    EXPECT_TRUE(ExitedCleanly(status)) << "a save after the killed ones ended with status " << status;
    EXPECT_EQ(store.StoredParameters(), treeOf(Other(current)));
    figures.temporaryFilesLeft = store.OtherFiles().size();

    std::printf(
        "figures: save-crash runs=%d kills=%d killed-before-write=%d killed-after-write=%d finished-before-kill=%d "
        "corruptions=%d lost=%d stray-files=%d temp-files-left=%zu save-ms=%.1f seed=%u\n",
        figures.runs, figures.kills, figures.killedBeforeWrite, figures.killedAfterWrite, figures.finishedFirst,
        figures.corruptions, figures.lost, figures.strayFiles, figures.temporaryFilesLeft, figures.saveMs, seed);
    std::fflush(stdout);
    EXPECT_EQ(figures.corruptions, 0);
    EXPECT_EQ(figures.lost, 0);
    EXPECT_GT(figures.kills, 0) << "no save was killed: the test tested nothing";
    EXPECT_EQ(figures.temporaryFilesLeft, 0u) << "the temporary files of killed saves (whole configurations) stay";
}

}  // namespace
}  // namespace kelvaston::reliability
