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
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"

namespace kelvaston::reliability {
namespace {

namespace error = platform::error;
using platform::Key;
using platform::kHKeyLocalMachine;
using platform::kNullKey;
using platform::Status;

constexpr int kKeys = 3, kValues = 3, kLeaves = 3;
constexpr const char* kComputer = "SHARED";
constexpr const char* kAbsent = "-";

std::int64_t Now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::string KeyPath(int k) { return "SOFTWARE\\Shared\\K" + std::to_string(k); }
std::string LeafPath(int l) { return "SOFTWARE\\Shared\\Leaves\\L" + std::to_string(l); }
// A register: a value "K<k>/v<v>", or a leaf key "L<l>" whose content is "+" (there) or absent.
std::string ValueRegister(int k, int v) { return "K" + std::to_string(k) + "/v" + std::to_string(v); }
std::string LeafRegister(int l) { return "L" + std::to_string(l); }

// One logged call: a write (set or delete) or a read of a register, what it wrote or saw, and
// when it began and returned.
struct Call {
    bool write = false;
    std::string reg, content;
    std::int64_t begun = 0, ended = 0;
};

std::string Initial(const std::string& reg) {
    if (reg[0] == 'L') return reg == "L0" ? "+" : kAbsent;
    return reg.ends_with("v2") ? kAbsent : "initial";
}

void Seed(const std::filesystem::path& folder) {
    platform::FileStoreRegistry store({folder, kComputer});
    ASSERT_EQ(store.BeginTransaction(kHKeyLocalMachine), error::kSuccess);
    for (int k = 0; k < kKeys; ++k) {
        Key key = kNullKey;
        ASSERT_EQ(store.CreateKey(kHKeyLocalMachine, KeyPath(k), &key), error::kSuccess);
        for (int v = 0; v < kValues; ++v) {
            const std::string text = Initial(ValueRegister(k, v));
            if (text == kAbsent) continue;
            ASSERT_EQ(store.SetValueEx(key, "v" + std::to_string(v), platform::kRegSz,
                                       reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                       static_cast<std::uint32_t>(text.size() + 1)),
                      error::kSuccess);
        }
        store.CloseKey(key);
    }
    for (int l = 0; l < kLeaves; ++l) {
        Key key = kNullKey;
        const std::string leaf = l == 0 ? LeafPath(l) : "SOFTWARE\\Shared\\Leaves";
        ASSERT_EQ(store.CreateKey(kHKeyLocalMachine, leaf, &key), error::kSuccess);
        store.CloseKey(key);
    }
    ASSERT_EQ(store.CommitTransaction(kHKeyLocalMachine), error::kSuccess);
}

// What the store says a register holds now.
std::string Read(platform::RegistryApi& store, const std::string& reg) {
    Key key = kNullKey;
    if (reg[0] == 'L') {
        const Status status = store.OpenKeyEx(kHKeyLocalMachine, LeafPath(reg[1] - '0'), 0, platform::kKeyRead, &key);
        store.CloseKey(key);
        return status == error::kSuccess ? "+" : status == error::kFileNotFound ? kAbsent : "error " + std::to_string(status);
    }
    if (const Status status = store.OpenKeyEx(kHKeyLocalMachine, KeyPath(reg[1] - '0'), 0, platform::kKeyRead, &key);
        status != error::kSuccess) {
        return "error " + std::to_string(status);
    }
    char data[64] = {};
    std::uint32_t size = sizeof data - 1;
    const Status status = store.QueryValueEx(key, reg.substr(3), nullptr, reinterpret_cast<std::uint8_t*>(data), &size);
    store.CloseKey(key);
    return status == error::kSuccess ? std::string(data) : status == error::kFileNotFound ? kAbsent : "error " + std::to_string(status);
}

// Writes `content` into a register: a text, or kAbsent to delete it; false when refused.
bool Write(platform::RegistryApi& store, const std::string& reg, const std::string& content) {
    Key key = kNullKey;
    bool ok = false;
    if (reg[0] == 'L') {
        if (content == kAbsent) return store.DeleteKey(kHKeyLocalMachine, LeafPath(reg[1] - '0')) == error::kSuccess;
        ok = store.CreateKey(kHKeyLocalMachine, LeafPath(reg[1] - '0'), &key) == error::kSuccess;
    } else if (store.OpenKeyEx(kHKeyLocalMachine, KeyPath(reg[1] - '0'), 0, platform::kKeyAllAccess, &key) ==
               error::kSuccess) {
        const std::string name = reg.substr(3);
        ok = content == kAbsent ? store.DeleteValue(key, name) == error::kSuccess
                                : store.SetValueEx(key, name, platform::kRegSz,
                                                   reinterpret_cast<const std::uint8_t*>(content.c_str()),
                                                   static_cast<std::uint32_t>(content.size() + 1)) == error::kSuccess;
    }
    store.CloseKey(key);
    return ok;
}

// One process's calls, logged to `log` a line each: "W|R register content begun ended".
int RunCalls(const std::filesystem::path& folder, int process, int calls, unsigned seed, const std::filesystem::path& log) {
    platform::FileStoreRegistry store({folder, kComputer});
    std::mt19937 random(seed + static_cast<unsigned>(process));
    std::ofstream out(log);
    const auto registerAt = [&](std::mt19937& r) {
        const int pick = static_cast<int>(r() % (kKeys * kValues + kLeaves));
        return pick < kKeys * kValues ? ValueRegister(pick / kValues, pick % kValues) : LeafRegister(pick - kKeys * kValues);
    };
    for (int n = 0; n < calls;) {
        // Every third process groups up to three writes in a transaction now and then.
        if (process % 3 == 2 && random() % 4 == 0) {
            const std::int64_t begun = Now();
            if (store.BeginTransaction(kHKeyLocalMachine) != error::kSuccess) return 1;
            std::map<std::string, std::string> written;
            for (int i = 0, count = 1 + static_cast<int>(random() % 3); i < count; ++i, ++n) {
                const std::string reg = registerAt(random);
                const std::string content = random() % 3 == 0 ? std::string(kAbsent)
                                                              : "p" + std::to_string(process) + "n" + std::to_string(n);
                // Inside the transaction a write that does nothing (a missing value deleted)
                // leaves the register as it was.
                if (Write(store, reg, reg[0] == 'L' && content != kAbsent ? "+" : content)) {
                    written[reg] = reg[0] == 'L' && content != kAbsent ? "+" : content;
                }
            }
            if (store.CommitTransaction(kHKeyLocalMachine) != error::kSuccess) return 2;
            const std::int64_t ended = Now();
            for (const auto& [reg, content] : written) out << "W " << reg << ' ' << content << ' ' << begun << ' ' << ended << '\n';
            continue;
        }
        const std::string reg = registerAt(random);
        const int kind = static_cast<int>(random() % 3);
        const std::int64_t begun = Now();
        if (kind == 0) {
            const std::string seen = Read(store, reg);
            out << "R " << reg << ' ' << seen << ' ' << begun << ' ' << Now() << '\n';
        } else {
            std::string content = kind == 1 ? "p" + std::to_string(process) + "n" + std::to_string(n) : kAbsent;
            if (reg[0] == 'L' && content != kAbsent) content = "+";
            const bool done = Write(store, reg, content);
            const std::int64_t ended = Now();
            // A deletion of what is not there is a read that found it absent.
            if (done) out << "W " << reg << ' ' << content << ' ' << begun << ' ' << ended << '\n';
            if (!done && content == kAbsent) out << "R " << reg << ' ' << kAbsent << ' ' << begun << ' ' << ended << '\n';
            if (!done && content != kAbsent) return 3;
        }
        ++n;
    }
    return out.good() ? 0 : 4;
}

std::vector<Call> ReadLog(const std::filesystem::path& log) {
    std::vector<Call> calls;
    std::ifstream in(log);
    std::string kind;
    Call call;
    while (in >> kind >> call.reg >> call.content >> call.begun >> call.ended) {
        call.write = kind == "W";
        calls.push_back(call);
    }
    return calls;
}

TEST(StoresSharingOneFile, BehaveAsOneRegistryTakingTheCallsInTurn) {
    const bool longMode = std::getenv("KELVASTON_LONG") != nullptr;
    const int processes = longMode ? 6 : 4, calls = longMode ? 400 : 40;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    test::TempDir dir;
    Seed(dir.Path());
    platform::KeyTree before;
    {
        platform::FileStoreRegistry store({dir.Path(), kComputer});
        ASSERT_EQ(platform::ReadTree(store, kHKeyLocalMachine, "HKLM", &before), error::kSuccess);
    }
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) std::_Exit(RunCalls(dir.Path(), p, calls, seed, dir / ("log" + std::to_string(p))));
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a process failed: " << status;
    }
    std::map<std::string, std::vector<Call>> writes;
    std::vector<Call> reads;
    for (int p = 0; p < processes; ++p) {
        for (Call& call : ReadLog(dir / ("log" + std::to_string(p)))) {
            (call.write ? writes[call.reg] : reads).push_back(call);
        }
    }
    ASSERT_FALSE(writes.empty());
    // Whether `content` in `reg` may be seen by a call over [begun, ended]: left by a write that
    // had begun, or the initial content, and not overwritten by a write completed before `begun`.
    const auto explains = [&](const std::string& reg, const std::string& content, std::int64_t begun, std::int64_t ended) {
        const auto& all = writes[reg];
        const auto overwritten = [&](std::int64_t after) {
            for (const Call& later : all) {
                if (later.begun > after && later.ended < begun) return true;
            }
            return false;
        };
        if (content == Initial(reg) && !overwritten(std::numeric_limits<std::int64_t>::min())) return true;
        for (const Call& write : all) {
            if (write.content == content && write.begun < ended && !overwritten(write.ended)) return true;
        }
        return false;
    };
    int checked = 0;
    for (const Call& read : reads) {
        EXPECT_TRUE(explains(read.reg, read.content, read.begun, read.ended))
            << "a stale or unexplained read of " << read.reg << ": " << read.content;
        ++checked;
    }
    platform::FileStoreRegistry store({dir.Path(), kComputer});
    const std::int64_t end = Now();
    for (int k = 0; k < kKeys; ++k) {
        for (int v = 0; v < kValues; ++v) {
            const std::string reg = ValueRegister(k, v);
            EXPECT_TRUE(explains(reg, Read(store, reg), end, end)) << reg << " holds " << Read(store, reg);
        }
    }
    for (int l = 0; l < kLeaves; ++l) {
        EXPECT_TRUE(explains(LeafRegister(l), Read(store, LeafRegister(l)), end, end)) << LeafRegister(l);
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
    std::printf("figures: store-sharing processes=%d calls=%d writes=%zu reads=%d\n", processes, processes * calls,
                written, checked);
}

}  // namespace
}  // namespace kelvaston::reliability
