// A save killed at any moment leaves the store holding either the configuration it replaced or
// the one it wrote, never a mixture, a damaged file or nothing; what killed saves leave behind
// does not stop the next save, which clears it away.
//
// The store starts with configuration A; then again and again a child process saves the other
// one and is killed with SIGKILL after a random time of up to one and a half times a measured
// save. 15 rounds; 200 with KELVASTON_LONG=1. Every child is killed after a minute at most.
//
// The two configurations (51 connections, 251 accounts) differ in every connection and account
// name and in most values, so a store holding a mixture of both, or either one only in part, is
// told apart from each.
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
#include <thread>

#include "config/layout.h"
#include "config/store.h"
#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"
#include "support/value_printer.h"

namespace kelvaston::reliability {
namespace {

using Clock = std::chrono::steady_clock;
using platform::KeyTree;

// The Parameters tree as a store that starts now reads it; nothing when the store cannot be
// loaded or has no Parameters key.
std::optional<KeyTree> StoredParameters(const std::filesystem::path& folder) {
    platform::FileStoreRegistry registry({folder, "CRASH"});
    platform::Key root = platform::kNullKey, parameters = platform::kNullKey;
    KeyTree tree;  // the handles go with the registry
    const bool read =
        registry.ConnectRegistry("", platform::kHKeyLocalMachine, &root) == platform::error::kSuccess &&
        registry.OpenKeyEx(root, config::layout::kParametersKey, 0, platform::kKeyRead, &parameters) == platform::error::kSuccess &&
        platform::ReadTree(registry, parameters, config::layout::kParametersName, &tree) == platform::error::kSuccess;
    return read ? std::optional(tree) : std::nullopt;
}

// Fills the global values and both lists of `s` with configuration 'A' or 'B'.
void FillConfiguration(config::Settings& s, char which) {
    const bool a = which == 'A';
    const std::string connection = a ? "Verbindung " : "Leitung ", account = a ? "konto" : "postfach";
    const std::size_t shift = a ? 0 : 3;  // moves every number of B off A's
    s.Global = {a ? "1" : "0", a ? "c:\\inetpub\\bdw" : "d:\\daten\\bdw", a ? "4" : "2",
                a ? "proxy.example.com" : "cache.example.org", a ? "8080" : "3128", a ? "15001" : "15101",
                a ? "ticker@example.com" : "nachrichten@example.org"};
    for (std::size_t c = 0; c < config::kConnectionSlots; ++c) {
        s.Connections[c] = {c == 0 ? "NORAS" : connection + std::to_string(c), a ? "1" : "0",
                            std::to_string(300 + c + shift)};
    }
    for (std::size_t i = 0; i < config::kAccountSlots; ++i) {
        config::AccountRecord& r = s.Accounts[i];
        r.Connection = s.Connections[i % config::kConnectionSlots].Name;
        r.Name = account + std::to_string(i);
        for (const auto& field : config::layout::kAccountValues) {
            r.*field.field = field.IsNumber() ? std::to_string((i + shift) % 7)
                                              : std::string(a ? "wert-" : "inhalt-") + field.name;
        }
        r.POPHost = (a ? "pop" : "mail") + std::to_string(i) + ".example.net";
    }
}

// A child process that connects to the store folder as computer CRASH, loads the configuration,
// replaces it with configuration `which` and saves, killed after `killAfterMs` if given and after
// a minute in any case; its wait status (exit status 0 when the save reports success), with
// whether it was killed before its end.
std::pair<int, bool> RunChild(const std::filesystem::path& folder, char which, std::optional<double> killAfterMs) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        platform::FileStoreRegistry registry({folder, "CRASH"});
        config::Settings settings;
        config::InitSettings(settings);
        const platform::Key hklm = platform::kHKeyLocalMachine;
        if (registry.ConnectRegistry("", hklm, &settings.RootKey) != platform::error::kSuccess) {
            std::_Exit(1);
        }
        config::ConfigStore store(registry, settings);
        store.LoadGlobalSettings();
        store.LoadConnections();
        store.LoadAccounts();
        FillConfiguration(settings, which);
        const config::SaveOutcome outcome = store.SaveSettings();
        if (outcome.result == config::SaveResult::Saved) std::_Exit(0);
        std::fprintf(stderr, "the save failed: %s\n", outcome.failedStep.c_str());
        std::_Exit(1);
    }
    const auto deadline = Clock::now() + std::chrono::duration<double, std::milli>(killAfterMs.value_or(60000));
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return {status, WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL};
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return {status, false};
}

bool Succeeded(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

TEST(SaveCrash, AKilledSaveLeavesTheOldOrTheNewConfiguration) {
    const int runs = std::string(std::getenv("KELVASTON_LONG") ? std::getenv("KELVASTON_LONG") : "") == "1" ? 200 : 15;
    kelvaston::test::TempDir dir;
    const std::filesystem::path folder = dir.Path(), file = folder / "CRASH.reg";
    kelvaston::test::WriteFile(file, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
                                         config::layout::kServiceKey + "]\n");
    // The two configurations as a whole save stores them, and how long such a save takes.
    std::optional<KeyTree> trees[2];
    std::vector<double> durations;
    for (const char which : {'B', 'A', 'B', 'A'}) {
        const auto start = Clock::now();
        ASSERT_TRUE(Succeeded(RunChild(folder, which, std::nullopt).first));
        durations.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        trees[which - 'A'] = StoredParameters(folder);
        ASSERT_TRUE(trees[which - 'A']);
    }
    ASSERT_NE(trees[0], trees[1]);
    ASSERT_EQ(trees[0]->children.size(), config::kConnectionSlots);
    std::sort(durations.begin(), durations.end());

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> delayMs(0.0, 1.5 * durations[2]);
    char current = 'A';
    int kills = 0;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
        const char target = current == 'A' ? 'B' : 'A';
        const auto [status, killed] = RunChild(folder, target, delayMs(random));
        kills += killed;
        EXPECT_TRUE(killed || Succeeded(status)) << "the child ended with status " << status;
        ASSERT_TRUE(platform::regfile::Parse(kelvaston::test::ReadFile(file)).document) << "the store does not parse";
        const std::optional<KeyTree> stored = StoredParameters(folder);
        ASSERT_TRUE(stored) << "the store cannot be loaded or has no Parameters key";
        if (*stored == trees[target - 'A']) {
            current = target;
        } else {
            ASSERT_EQ(*stored, trees[current - 'A']) << "neither configuration";
            EXPECT_TRUE(killed) << "a save that ended cleanly is not in the store";
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(entry.path() == file || name == ".CRASH.reg.lock" || name.starts_with(".CRASH.reg.tmp-"))
                << "a stray file: " << name;
        }
    }
    const char last = current == 'A' ? 'B' : 'A';
    EXPECT_TRUE(Succeeded(RunChild(folder, last, std::nullopt).first)) << "a save after the killed ones failed";
    EXPECT_EQ(StoredParameters(folder), trees[last - 'A']);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2) << "temporary files stay";
    std::printf("figures: save-crash runs=%d kills=%d save-ms=%.1f seed=%u\n", runs, kills, durations[2], seed);
    EXPECT_GT(kills, 0) << "no save was killed: the test tested nothing";
}

}  // namespace
}  // namespace kelvaston::reliability
