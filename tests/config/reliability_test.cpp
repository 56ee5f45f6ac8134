// Saves that fail, saves that are refused by the disk, and saves of two processes at once: the
// stored configuration afterwards is always a whole one, the old or the new.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/registry_decorators.h"
#include "store_fixture.h"

namespace kelvaston::config::test {
namespace {

namespace error = platform::error;

bool LongMode() {
    const char* value = std::getenv("KELVASTON_LONG");
    return value != nullptr && std::string(value) == "1";
}

// A configuration of `connections` connections with `perConnection` accounts each.
void Fill(Settings& s, int connections, int perConnection, const std::string& flavour) {
    ClearConnections(s.Connections);
    ClearAccounts(s.Accounts);
    s.Global = {"1", "d:\\" + flavour, "2", "proxy." + flavour + ".example", "8080", "15001", flavour + "@example.com"};
    std::size_t account = 0;
    for (int c = 0; c < connections; ++c) {
        const std::string name = c == 0 ? "NORAS" : flavour + "-Verbindung " + std::to_string(c);
        s.Connections[static_cast<std::size_t>(c)] = {name, std::to_string(c % 2), std::to_string(60 * (c + 1))};
        for (int a = 0; a < perConnection; ++a, ++account) {
            AccountRecord& r = s.Accounts[account];
            r.Connection = name;
            r.Name = "konto" + std::to_string(a);
            for (const auto& field : layout::kAccountValues) {
                r.*field.field = field.IsNumber() ? std::to_string((a + c) % 5) : flavour + "-" + field.name;
            }
        }
    }
}

class Reliability : public StoreTest {
protected:
    // The file as a clean save of `flavour` leaves it, and the service's tree then.
    std::pair<std::string, platform::KeyTree> CleanSave(const std::string& flavour) {
        Seed(kServiceLine);
        Fill(settings_, 10, 4, flavour);
        EXPECT_EQ(store_->SaveSettings().result, SaveResult::Saved);
        return {kelvaston::test::ReadFile(dir_ / "Desk1.reg"), ServiceTree()};
    }
    void SeedFile(const std::string& bytes) {
        store_.reset();
        registry_.reset();
        kelvaston::test::WriteFile(dir_ / "Desk1.reg", bytes);
        Connect();
        LoadAll();
    }
    // Runs `save` in a child process and returns its exit code.
    template <class Body>
    static int InChild(Body&& body) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) std::_Exit(body());
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST_F(Reliability, ReliabilitySweepAFailureAtAnyCallOfAMidSizedSave) {
    const auto [oldFile, oldTree] = CleanSave("alt");
    const auto [newFile, newTree] = CleanSave("neu");
    SeedFile(oldFile);
    Fill(settings_, 10, 4, "neu");
    platform::CountingRegistry counter(*registry_);
    ConfigStore counted(counter, settings_);
    ASSERT_EQ(counted.SaveSettings().result, SaveResult::Saved);
    const std::size_t calls = counter.Total();

    const std::size_t stride = LongMode() ? 1 : 23;
    std::size_t tried = 0, lost = 0, failed = 0;
    for (std::size_t k = 1; k <= calls; k += stride) {
        SeedFile(oldFile);
        Fill(settings_, 10, 4, "neu");
        platform::FaultInjectingRegistry faulty(*registry_);
        faulty.FailNth(std::nullopt, k, k % 2 == 0 ? error::kAccessDenied : error::kRegistryIoFailed);
        const SaveOutcome outcome = ConfigStore(faulty, settings_).SaveSettings();
        ++tried;
        failed += outcome.result != SaveResult::Saved;
        const platform::KeyTree& expected = outcome.result == SaveResult::Saved ? newTree : oldTree;
        Connect();  // what reached the disk
        const bool whole = ServiceTree() == expected && outcome.result != SaveResult::FailedNotRestored;
        lost += whole ? 0 : 1;
        EXPECT_TRUE(whole) << "call " << k << " of " << calls << ": " << outcome.failedStep;
    }
    std::printf("figures: injected failures tried=%zu (of %zu calls per save), saves failed=%zu, "
                "configurations lost=%zu\n", tried, calls, failed, lost);
    EXPECT_GT(failed, tried / 2);
}

TEST_F(Reliability, ARegistryThatRefusesEveryCallOfAKindIsReportedAndTheModelKept) {
    const auto [newFile, newTree] = CleanSave("neu");
    const auto [oldFile, oldTree] = CleanSave("alt");
    for (const auto kind : {platform::Call::SetValueEx, platform::Call::CreateKey, platform::Call::DeleteKey,
                            platform::Call::OpenKeyEx, platform::Call::QueryKeyContents, platform::Call::FlushKey}) {
        SeedFile(oldFile);
        Fill(settings_, 10, 4, "neu");
        const Settings model = settings_;
        platform::FaultInjectingRegistry faulty(*registry_);
        faulty.FailNth(kind, 1, error::kRegistryIoFailed, true);
        const SaveOutcome outcome = ConfigStore(faulty, settings_).SaveSettings();
        EXPECT_NE(outcome.result, SaveResult::Saved) << platform::CallName(kind);
        EXPECT_EQ(settings_.Accounts, model.Accounts) << platform::CallName(kind);
        // Once the registry answers again, saving again stores the model.
        faulty.Disarm();
        EXPECT_EQ(ConfigStore(faulty, settings_).SaveSettings().result, SaveResult::Saved) << platform::CallName(kind);
        Connect();
        EXPECT_EQ(ServiceTree(), newTree) << platform::CallName(kind);
    }
}

// The disk refuses the write: the folder became read-only, or the disk is full. The save says
// so and the file keeps the old configuration.
TEST_F(Reliability, ADiskThatRefusesTheWriteKeepsTheOldFile) {
    const auto [oldFile, oldTree] = CleanSave("alt");
    const auto run = [&](auto&& prepare, auto&& refuse) {
        SeedFile(oldFile);
        prepare();
        return InChild([&] {
            Fill(settings_, 10, 4, "neu");
            refuse();
            const SaveOutcome outcome = store_->SaveSettings();
            return outcome.result == SaveResult::FailedRestored && outcome.step == SaveStep::Flush ? 0 : 1;
        });
    };
    // A read-only folder. Root writes anywhere, so the child gives up root for the owner of the
    // folder and the file.
    const uid_t nobody = 65534;
    const bool root = ::geteuid() == 0;
    const auto owner = [&](uid_t uid) {
        if (!root) return;
        ASSERT_EQ(::chown(dir_.Path().c_str(), uid, uid), 0);
        ASSERT_EQ(::chown((dir_ / "Desk1.reg").c_str(), uid, uid), 0);
    };
    EXPECT_EQ(run([&] { owner(nobody); },
                  [&] {
                      if (root && ::setuid(nobody) != 0) std::_Exit(2);
                      ::chmod(dir_.Path().c_str(), 0555);
                  }),
              0);
    ::chmod(dir_.Path().c_str(), 0700);
    owner(0);
    EXPECT_EQ(kelvaston::test::ReadFile(dir_ / "Desk1.reg"), oldFile);

    // A full disk: the file may not grow past a few kilobytes.
    EXPECT_EQ(run([] {},
                  [] {
                      std::signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit{4096, 4096};
                      ::setrlimit(RLIMIT_FSIZE, &limit);
                  }),
              0);
    EXPECT_EQ(kelvaston::test::ReadFile(dir_ / "Desk1.reg"), oldFile);
}

TEST_F(Reliability, ConcurrentSavesOfTwoProcessesNeverTearTheFileOrLoseKeys) {
    const auto [oldFile, oldTree] = CleanSave("alt");
    const int rounds = LongMode() ? 100 : 8;
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int r = 0; r < rounds; ++r) {
                platform::FileStoreRegistry registry({dir_.Path(), "Desk1"});
                Settings model;
                InitSettings(model);
                registry.ConnectRegistry("", platform::kHKeyLocalMachine, &model.RootKey);
                ConfigStore store(registry, model);
                store.LoadGlobalSettings();
                store.LoadConnections();
                store.LoadAccounts();
                model.Global.ProxyHost = "p" + std::to_string(p) + "-" + std::to_string(r);
                platform::Key marker = platform::kNullKey;
                registry.CreateKey(model.RootKey, "SOFTWARE\\P" + std::to_string(p) + "\\R" + std::to_string(r),
                                   &marker);
                registry.CloseKey(marker);
                failures += store.SaveSettings().result != SaveResult::Saved;
                registry.CloseKey(model.RootKey);
            }
            std::_Exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // The file parses, every marker of both processes is there, and the configuration is whole.
    ASSERT_TRUE(platform::regfile::Parse(kelvaston::test::ReadFile(dir_ / "Desk1.reg")).document);
    Connect();
    LoadAll();
    std::size_t markers = 0;
    for (int p = 0; p < 2; ++p) {
        for (int r = 0; r < rounds; ++r) {
            platform::Key key = platform::kNullKey;
            markers += registry_->OpenKeyEx(settings_.RootKey, "SOFTWARE\\P" + std::to_string(p) + "\\R" + std::to_string(r),
                                            0, platform::kKeyRead, &key) == error::kSuccess;
            if (key != platform::kNullKey) registry_->CloseKey(key);
        }
    }
    EXPECT_EQ(markers, static_cast<std::size_t>(2 * rounds));
    // Apart from the one value the processes changed, the configuration is the one saved first.
    const std::string proxy = settings_.Global.ProxyHost;
    EXPECT_TRUE(proxy == "p0-" + std::to_string(rounds - 1) || proxy == "p1-" + std::to_string(rounds - 1)) << proxy;
    platform::KeyTree tree = ServiceTree();
    for (auto& child : tree.children) {
        if (child.name != "Parameters") continue;
        for (auto& value : child.values) {
            if (value.name == "ProxyHost") value.data = "proxy.alt.example";
        }
    }
    EXPECT_EQ(tree, oldTree);
    std::printf("figures: concurrent saves=%d in 2 processes, torn files=0, lost markers=%zu\n", 2 * rounds,
                static_cast<std::size_t>(2 * rounds) - markers);
}

}  // namespace
}  // namespace kelvaston::config::test
