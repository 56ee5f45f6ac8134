// Reliability under several processes, on Linux (the file store, fork and SIGKILL).
//
// Processes sharing one store file, each making random calls at the same time: the store must
// behave as one registry that takes the calls one after another.
//
// The store holds a few values and leaf keys, each a register written by sets and deletions
// with texts no other call writes. Every process logs each call with the moments it began and
// returned (a monotonic clock all processes share). Then:
//   - every read gave what some write that had begun before it returned left there, and no
//     write that completed before the read began had overwritten that;
//   - at the end each register holds what an acknowledged write left there, one that no other
//     acknowledged write of it followed; a register never written holds what it held at first;
//   - nothing else changed: no other key or value appeared or went.
// Some processes group their calls in transactions, which count as one write at the commit.
// 4 processes of 40 calls; KELVASTON_LONG=1: 6 processes of 400 calls.
//
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
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
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

namespace error = platform::error;
using Clock = std::chrono::steady_clock;
using platform::Key;
using platform::KeyTree;
using platform::kHKeyLocalMachine;
using platform::kNullKey;
using platform::Status;

// KELVASTON_LONG=1: the long mode.
bool LongMode() {
    const char* mode = std::getenv("KELVASTON_LONG");
    return mode != nullptr && std::string(mode) == "1";
}

constexpr const char* kComputer = "SHARED";
constexpr const char* kAbsent = "-";

// Nanoseconds on the steady clock, CLOCK_MONOTONIC on Linux: the same in every process.
std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The registers: values "K<k>/v<v>" of the keys SOFTWARE\Shared\K<k>, and leaf keys "L<l>" below
// SOFTWARE\Shared\Leaves whose content is "+" (there) or absent. shared-start.reg holds their
// first contents.
const std::vector<std::string> kRegisters = {"K0/v0", "K0/v1", "K0/v2", "K1/v0", "K1/v1", "K1/v2",
                                             "K2/v0", "K2/v1", "K2/v2", "L0",    "L1",    "L2"};
std::string KeyPath(const std::string& reg) {
    return std::string("SOFTWARE\\Shared\\") + (reg[0] == 'L' ? "Leaves\\" : "") + reg.substr(0, 2);
}

// One logged call (a write, set or delete, or a read) of a register: what it wrote or saw, and
// when it began and returned.
struct Call {
    std::string reg, content;
    std::int64_t begun = 0, ended = 0;
};

// What the store says a register holds now.
std::string Read(platform::RegistryApi& store, const std::string& reg) {
    Key key = kNullKey;
    const Status opened =
        store.OpenKeyEx(kHKeyLocalMachine, KeyPath(reg), 0, platform::kKeyRead, &key);
    char data[64] = {};
    std::uint32_t size = sizeof data - 1;
    Status status = opened;
    if (reg[0] == 'K' && opened == error::kSuccess) {
        status = store.QueryValueEx(key, reg.substr(3), nullptr,
                                    reinterpret_cast<std::uint8_t*>(data), &size);
    }
    store.CloseKey(key);
    if (status == error::kSuccess) return reg[0] == 'L' ? "+" : data;
    // A key K<k> is never deleted: its absence is an error, not an absent register.
    return status == error::kFileNotFound && (reg[0] == 'L' || opened == error::kSuccess)
               ? kAbsent
               : "error " + std::to_string(status);
}

// Writes `content` into a register: a text ("+" for a leaf), or kAbsent to delete it; false when
// refused.
bool Write(platform::RegistryApi& store, const std::string& reg, const std::string& content) {
    if (reg[0] == 'L' && content == kAbsent)
        return store.DeleteKey(kHKeyLocalMachine, KeyPath(reg)) == error::kSuccess;
    Key key = kNullKey;
    bool ok = (reg[0] == 'L' ? store.CreateKey(kHKeyLocalMachine, KeyPath(reg), &key)
                             : store.OpenKeyEx(kHKeyLocalMachine, KeyPath(reg), 0,
                                               platform::kKeyAllAccess, &key)) == error::kSuccess;
    if (ok && reg[0] == 'K') {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.c_str());
        ok = (content == kAbsent
                  ? store.DeleteValue(key, reg.substr(3))
                  : store.SetValueEx(key, reg.substr(3), platform::kRegSz, bytes,
                                     static_cast<std::uint32_t>(content.size() + 1))) ==
             error::kSuccess;
    }
    store.CloseKey(key);
    return ok;
}

// One process's calls, logged to `log` a line each: "W|R register content begun ended".
int RunCalls(const std::filesystem::path& folder, int process, int calls, unsigned seed,
             const std::filesystem::path& log) {
    // A signal every tenth of a millisecond, its handler installed without SA_RESTART: a call
    // that waits for another process's lock is interrupted, and must wait again, not fail.
    struct sigaction tick {};
    tick.sa_handler = [](int) {};
    const itimerval often{{0, 100}, {0, 100}};
    if (::sigaction(SIGALRM, &tick, nullptr) != 0 || ::setitimer(ITIMER_REAL, &often, nullptr) != 0)
        return 5;
    platform::FileStoreRegistry store({folder, kComputer});
    std::mt19937 random(seed + static_cast<unsigned>(process));
    std::ofstream out(log);
    for (int n = 0; n < calls;) {
        // Every third process groups up to three writes in a transaction now and then.
        const bool grouped = process % 3 == 2 && random() % 4 == 0;
        const int count = grouped ? 1 + static_cast<int>(random() % 3) : 1;
        const std::int64_t begun = Now();
        if (grouped && store.BeginTransaction(kHKeyLocalMachine) != error::kSuccess) return 1;
        std::map<std::string, std::string> written;
        for (int i = 0; i < count; ++i, ++n) {
            const std::string& reg = kRegisters[random() % kRegisters.size()];
            const auto kind =
                random() % 3;  // alone: a read, a set or a deletion; grouped: one in three deletes
            if (!grouped && kind == 0) {
                const std::string seen = Read(store, reg);
                out << "R " << reg << ' ' << seen << ' ' << begun << ' ' << Now() << '\n';
                continue;
            }
            const std::string content =
                (grouped ? kind == 0 : kind == 2) ? kAbsent
                : reg[0] == 'L'                   ? "+"
                                : "p" + std::to_string(process) + "n" + std::to_string(n);
            // A deletion of what is not there changes nothing: alone, it is a read that found it
            // absent.
            if (Write(store, reg, content)) {
                written[reg] = content;
            } else if (content != kAbsent) {
                return 3;
            } else if (!grouped) {
                out << "R " << reg << ' ' << kAbsent << ' ' << begun << ' ' << Now() << '\n';
            }
        }
        if (grouped && store.CommitTransaction(kHKeyLocalMachine) != error::kSuccess) return 2;
        const std::int64_t ended = Now();
        for (const auto& [reg, content] : written)
            out << "W " << reg << ' ' << content << ' ' << begun << ' ' << ended << '\n';
    }
    return out.good() ? 0 : 4;
}

TEST(StoresSharingOneFile, BehaveAsOneRegistryTakingTheCallsInTurn) {
    const int processes = LongMode() ? 6 : 4, calls = LongMode() ? 400 : 40;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    test::TempDir dir;
    test::WriteFile(dir / (kComputer + std::string(".reg")),
                    test::ReadFile(KELVASTON_SHARED_START));
    platform::KeyTree before;
    std::map<std::string, std::string> initial;
    {
        platform::FileStoreRegistry store({dir.Path(), kComputer});
        ASSERT_EQ(platform::ReadTree(store, kHKeyLocalMachine, "HKLM", &before), error::kSuccess);
        for (const std::string& reg : kRegisters) initial[reg] = Read(store, reg);
    }
    // Values and keys there at first and not, in every kind of register.
    ASSERT_EQ(initial["K2/v1"] + initial["K2/v2"] + initial["L0"] + initial["L2"], "initial-+-");
    for (int p = 0; p < processes; ++p) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            std::_Exit(RunCalls(dir.Path(), p, calls, seed, dir / ("log" + std::to_string(p))));
    }
    for (int p = 0; p < processes; ++p) {
        int status = 0;
        ASSERT_GT(::wait(&status), 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "a process failed: " << status;
    }
    std::map<std::string, std::vector<Call>> writes;
    std::vector<Call> reads;
    for (int p = 0; p < processes; ++p) {
        std::ifstream in(dir / ("log" + std::to_string(p)));
        std::string kind;
        for (Call call; in >> kind >> call.reg >> call.content >> call.begun >> call.ended;) {
            (kind == "W" ? writes[call.reg] : reads).push_back(call);
        }
    }
    ASSERT_FALSE(writes.empty());
    // Whether `content` in `reg` may be seen by a call over [begun, ended]: left by a write that
    // had begun, or the initial content, and not overwritten by a write completed before `begun`.
    const auto explains = [&](const std::string& reg, const std::string& content,
                              std::int64_t begun, std::int64_t ended) {
        const auto& all = writes[reg];
        const auto overwritten = [&](std::int64_t after) {
            return std::ranges::any_of(
                all, [&](const Call& later) { return later.begun > after && later.ended < begun; });
        };
        return (content == initial.at(reg) &&
                !overwritten(std::numeric_limits<std::int64_t>::min())) ||
               std::ranges::any_of(all, [&](const Call& write) {
                   return write.content == content && write.begun < ended &&
                          !overwritten(write.ended);
               });
    };
    for (const Call& read : reads) {
        EXPECT_TRUE(explains(read.reg, read.content, read.begun, read.ended))
            << "a stale or unexplained read of " << read.reg << ": " << read.content;
    }
    platform::FileStoreRegistry store({dir.Path(), kComputer});
    const std::int64_t end = Now();
    for (const std::string& reg : kRegisters) {
        const std::string held = Read(store, reg);
        EXPECT_TRUE(explains(reg, held, end, end)) << reg << " holds " << held;
    }
    // Nothing but the registers changed: the tree without them is the tree as it was.
    platform::KeyTree after;
    ASSERT_EQ(platform::ReadTree(store, kHKeyLocalMachine, "HKLM", &after), error::kSuccess);
    const auto registersOnly = [](platform::KeyTree tree) {
        platform::KeyTree& shared = tree.children.at(0).children.at(0);
        for (auto& child : shared.children) {
            if (child.name == "Leaves") child.children.clear();
            child.values.clear();
        }
        return tree;
    };
    EXPECT_EQ(registersOnly(after), registersOnly(before));
    std::size_t written = 0;
    for (const auto& [reg, all] : writes) written += all.size();
    std::printf("figures: store-sharing processes=%d calls=%d writes=%zu reads=%zu\n", processes,
                processes * calls, written, reads.size());
}

// ---------------------------------------------------------------------------------------------
// A save killed at any moment

// The Parameters tree as a store that starts now reads it; nothing when the store cannot be
// loaded or has no Parameters key.
std::optional<KeyTree> StoredParameters(const std::filesystem::path& folder) {
    platform::FileStoreRegistry registry({folder, "CRASH"});
    Key root = kNullKey, parameters = kNullKey;
    KeyTree tree;  // the handles go with the registry
    const bool read = registry.ConnectRegistry("", kHKeyLocalMachine, &root) == error::kSuccess &&
                      registry.OpenKeyEx(root, config::layout::kParametersKey, 0,
                                         platform::kKeyRead, &parameters) == error::kSuccess &&
                      platform::ReadTree(registry, parameters, config::layout::kParametersName,
                                         &tree) == error::kSuccess;
    return read ? std::optional(tree) : std::nullopt;
}

// Fills the global values and both lists of `s` with configuration 'A' or 'B'.
void FillConfiguration(config::Settings& s, char which) {
    const bool a = which == 'A';
    const std::string connection = a ? "Verbindung " : "Leitung ",
                      account = a ? "konto" : "postfach";
    const std::size_t shift = a ? 0 : 3;  // moves every number of B off A's
    s.Global = {a ? "1" : "0",
                a ? "c:\\inetpub\\bdw" : "d:\\daten\\bdw",
                a ? "4" : "2",
                a ? "proxy.example.com" : "cache.example.org",
                a ? "8080" : "3128",
                a ? "15001" : "15101",
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
std::pair<int, bool> RunChild(const std::filesystem::path& folder, char which,
                              std::optional<double> killAfterMs) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        platform::FileStoreRegistry registry({folder, "CRASH"});
        config::Settings settings;
        config::InitSettings(settings);
        config::ConfigStore store(registry, settings);
        if (store.Connect("").result != config::ConnectResult::Connected) std::_Exit(1);
        store.Load();
        FillConfiguration(settings, which);
        const config::SaveOutcome outcome = store.SaveSettings();
        if (outcome.result == config::SaveResult::Saved) std::_Exit(0);
        std::fprintf(stderr, "the save failed: %s\n", config::Describe(outcome).c_str());
        std::_Exit(1);
    }
    const auto deadline =
        Clock::now() + std::chrono::duration<double, std::milli>(killAfterMs.value_or(60000));
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

bool Succeeded(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SaveCrash, AKilledSaveLeavesTheOldOrTheNewConfiguration) {
    const int runs = LongMode() ? 200 : 15;
    kelvaston::test::TempDir dir;
    const std::filesystem::path folder = dir.Path(), file = folder / "CRASH.reg";
    kelvaston::test::WriteFile(file,
                               "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
                                   config::layout::kServiceKey + "]\n");
    // The two configurations as a whole save stores them, and how long such a save takes.
    std::optional<KeyTree> trees[2];
    std::vector<double> durations;
    for (const char which : {'B', 'A', 'B', 'A'}) {
        const auto start = Clock::now();
        ASSERT_TRUE(Succeeded(RunChild(folder, which, std::nullopt).first));
        durations.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
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
        ASSERT_TRUE(platform::regfile::Parse(kelvaston::test::ReadFile(file)).document)
            << "the store does not parse";
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
            EXPECT_TRUE(entry.path() == file || name == ".CRASH.reg.lock" ||
                        name.starts_with(".CRASH.reg.tmp-"))
                << "a stray file: " << name;
        }
    }
    const char last = current == 'A' ? 'B' : 'A';
    EXPECT_TRUE(Succeeded(RunChild(folder, last, std::nullopt).first))
        << "a save after the killed ones failed";
    EXPECT_EQ(StoredParameters(folder), trees[last - 'A']);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2)
        << "temporary files stay";
    std::printf("figures: save-crash runs=%d kills=%d save-ms=%.1f seed=%u\n", runs, kills,
                durations[2], seed);
    EXPECT_GT(kills, 0) << "no save was killed: the test tested nothing";
}

}  // namespace
}  // namespace kelvaston::reliability
