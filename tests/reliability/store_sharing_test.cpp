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

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <random>

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

constexpr const char* kComputer = "SHARED";
constexpr const char* kAbsent = "-";

std::int64_t Now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
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
    const Status opened = store.OpenKeyEx(kHKeyLocalMachine, KeyPath(reg), 0, platform::kKeyRead, &key);
    char data[64] = {};
    std::uint32_t size = sizeof data - 1;
    Status status = opened;
    if (reg[0] == 'K' && opened == error::kSuccess) {
        status = store.QueryValueEx(key, reg.substr(3), nullptr, reinterpret_cast<std::uint8_t*>(data), &size);
    }
    store.CloseKey(key);
    if (status == error::kSuccess) return reg[0] == 'L' ? "+" : data;
    // A key K<k> is never deleted: its absence is an error, not an absent register.
    return status == error::kFileNotFound && (reg[0] == 'L' || opened == error::kSuccess) ? kAbsent
                                                                                          : "error " + std::to_string(status);
}

// Writes `content` into a register: a text ("+" for a leaf), or kAbsent to delete it; false when refused.
bool Write(platform::RegistryApi& store, const std::string& reg, const std::string& content) {
    if (reg[0] == 'L' && content == kAbsent) return store.DeleteKey(kHKeyLocalMachine, KeyPath(reg)) == error::kSuccess;
    Key key = kNullKey;
    bool ok = (reg[0] == 'L' ? store.CreateKey(kHKeyLocalMachine, KeyPath(reg), &key)
                             : store.OpenKeyEx(kHKeyLocalMachine, KeyPath(reg), 0, platform::kKeyAllAccess, &key)) ==
              error::kSuccess;
    if (ok && reg[0] == 'K') {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.c_str());
        ok = (content == kAbsent ? store.DeleteValue(key, reg.substr(3))
                                 : store.SetValueEx(key, reg.substr(3), platform::kRegSz, bytes,
                                                    static_cast<std::uint32_t>(content.size() + 1))) == error::kSuccess;
    }
    store.CloseKey(key);
    return ok;
}

// One process's calls, logged to `log` a line each: "W|R register content begun ended".
int RunCalls(const std::filesystem::path& folder, int process, int calls, unsigned seed, const std::filesystem::path& log) {
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
            const auto kind = random() % 3;  // alone: a read, a set or a deletion; grouped: one in three deletes
            if (!grouped && kind == 0) {
                const std::string seen = Read(store, reg);
                out << "R " << reg << ' ' << seen << ' ' << begun << ' ' << Now() << '\n';
                continue;
            }
            const std::string content = (grouped ? kind == 0 : kind == 2) ? kAbsent
                                        : reg[0] == 'L'                   ? "+"
                                                        : "p" + std::to_string(process) + "n" + std::to_string(n);
            // A deletion of what is not there changes nothing: alone, it is a read that found it absent.
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
        for (const auto& [reg, content] : written) out << "W " << reg << ' ' << content << ' ' << begun << ' ' << ended << '\n';
    }
    return out.good() ? 0 : 4;
}

TEST(StoresSharingOneFile, BehaveAsOneRegistryTakingTheCallsInTurn) {
    const bool longMode = std::getenv("KELVASTON_LONG") != nullptr;
    const int processes = longMode ? 6 : 4, calls = longMode ? 400 : 40;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    test::TempDir dir;
    test::WriteFile(dir / (kComputer + std::string(".reg")), test::ReadFile(KELVASTON_SHARED_START));
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
        if (pid == 0) std::_Exit(RunCalls(dir.Path(), p, calls, seed, dir / ("log" + std::to_string(p))));
    }
    for (int p = 0; p < processes; ++p) {
        int status = 0;
        ASSERT_GT(::wait(&status), 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a process failed: " << status;
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
    const auto explains = [&](const std::string& reg, const std::string& content, std::int64_t begun, std::int64_t ended) {
        const auto& all = writes[reg];
        const auto overwritten = [&](std::int64_t after) {
            return std::ranges::any_of(all, [&](const Call& later) { return later.begun > after && later.ended < begun; });
        };
        return (content == initial.at(reg) && !overwritten(std::numeric_limits<std::int64_t>::min())) ||
               std::ranges::any_of(all, [&](const Call& write) {
                   return write.content == content && write.begun < ended && !overwritten(write.ended);
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
    std::printf("figures: store-sharing processes=%d calls=%d writes=%zu reads=%zu\n", processes, processes * calls,
                written, reads.size());
}

}  // namespace
}  // namespace kelvaston::reliability
