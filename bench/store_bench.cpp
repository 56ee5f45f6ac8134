// Load and save of a full configuration (51 connections, 251 accounts) through the file store:
// time of each and the registry calls they make, beside a bare read and write of the same file.
// Prints figures; it passes or fails nothing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/layout.h"
#include "config/store.h"
#include "platform/file_store.h"
#include "platform/registry_decorators.h"

namespace {

using namespace kelvaston;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 15;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void FillFullConfiguration(config::Settings& s) {
    config::InitSettings(s);
    s.Global = {"1", "c:\\inetpub\\bdw", "4", "proxy.example.com", "8080", "15001", "ticker@example.com"};
    for (std::size_t c = 0; c < config::kConnectionSlots; ++c) {
        s.Connections[c] = {c == 0 ? "NORAS" : "Verbindung " + std::to_string(c), "1", std::to_string(300 + c)};
    }
    for (std::size_t a = 0; a < config::kAccountSlots; ++a) {
        config::AccountRecord& r = s.Accounts[a];
        r.Connection = s.Connections[a % config::kConnectionSlots].Name;
        r.Name = "konto" + std::to_string(a);
        for (const auto& field : config::layout::kAccountValues) {
            r.*field.field = field.IsNumber() ? std::to_string(a % 7) : std::string("wert-") + field.name;
        }
        r.POPHost = "pop" + std::to_string(a) + ".example.net";
        r.SMTPTo = "postfach" + std::to_string(a) + "@example.org";
    }
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The physical floor: read the file, write it to a temporary file, fsync, rename.
void BareReadWrite(const std::filesystem::path& file) {
    const std::string bytes = ReadAll(file);
    const auto temp = file.parent_path() / ".bare.tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd) != 0) {
        std::perror("bare write");
    }
    ::close(fd);
    std::filesystem::rename(temp, file);
}


// One full load through `api`, into a fresh model.
void Load(platform::RegistryApi& api, config::Settings& settings) {
    config::InitSettings(settings);
    config::ConfigStore store(api, settings);
    store.Api().ConnectRegistry("", platform::kHKeyLocalMachine, &settings.RootKey);
    platform::Key service = platform::kNullKey;
    store.Api().OpenKeyEx(settings.RootKey, config::layout::kServiceKey, 0, platform::kKeyWrite, &service);
    store.Api().CloseKey(service);
    store.LoadGlobalSettings();
    store.LoadConnections();
    store.LoadAccounts();
}

std::string Breakdown(const platform::CountingRegistry& counter) {
    std::string text;
    for (std::size_t i = 0; i < static_cast<std::size_t>(platform::Call::kCount); ++i) {
        const auto call = static_cast<platform::Call>(i);
        if (counter.Count(call) == 0) continue;
        text += (text.empty() ? "" : ", ") + std::string(platform::CallName(call)) + " " +
                std::to_string(counter.Count(call));
    }
    return text;
}

}  // namespace

int main() {
    const auto folder = std::filesystem::temp_directory_path() / ("kelvaston-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "BENCH.reg";
    config::Settings full;
    {
        // The service's key, then a first save of the full configuration.
        platform::FileStoreRegistry registry({folder, "BENCH"});
        platform::Key service = platform::kNullKey;
        registry.CreateKey(platform::kHKeyLocalMachine, config::layout::kServiceKey, &service);
        registry.CloseKey(service);
        FillFullConfiguration(full);
        registry.ConnectRegistry("", platform::kHKeyLocalMachine, &full.RootKey);
        config::ConfigStore store(registry, full);
        if (store.SaveSettings().result != config::SaveResult::Saved) {
            std::fprintf(stderr, "seeding the store failed\n");
            return 1;
        }
    }

    std::vector<double> load, save, edit, bare;
    std::size_t loadCalls = 0, saveCalls = 0, editCalls = 0, accounts = 0;
    std::string loadKinds, saveKinds, editKinds;
    for (int run = 0; run < kRuns; ++run) {
        platform::FileStoreRegistry registry({folder, "BENCH"});
        platform::CountingRegistry counter(registry);
        config::Settings settings;

        auto start = Clock::now();
        Load(counter, settings);
        load.push_back(Milliseconds(Clock::now() - start));
        loadCalls = counter.Total();
        loadKinds = Breakdown(counter);
        accounts = config::AccountCount(settings.Accounts);

        counter.Reset();
        config::ConfigStore store(counter, settings);
        start = Clock::now();
        const auto outcome = store.SaveSettings();
        save.push_back(Milliseconds(Clock::now() - start));
        saveCalls = counter.Total();
        saveKinds = Breakdown(counter);
        if (outcome.result != config::SaveResult::Saved) {
            std::fprintf(stderr, "save failed: %s\n", outcome.failedStep.c_str());
            return 1;
        }

        // The same after one account value changed.
        settings.Accounts[100].POPHost = "pop-" + std::to_string(run) + ".example.net";
        counter.Reset();
        start = Clock::now();
        if (config::ConfigStore(counter, settings).SaveSettings().result != config::SaveResult::Saved) {
            std::fprintf(stderr, "the save of one change failed\n");
            return 1;
        }
        edit.push_back(Milliseconds(Clock::now() - start));
        editCalls = counter.Total();
        editKinds = Breakdown(counter);

        start = Clock::now();
        BareReadWrite(file);
        bare.push_back(Milliseconds(Clock::now() - start));
    }

    // A load and a save of the unchanged configuration through a registry that takes 1 ms and
    // 30 ms a call, as a remote one on a LAN and over a VPN would; calls made at the same time
    // wait at the same time.
    double remoteLoadMs[2] = {}, remoteSaveMs[2] = {};
    for (const int i : {0, 1}) {
        platform::FileStoreRegistry registry({folder, "BENCH"});
        platform::LatencyRegistry remote(registry, std::chrono::milliseconds(i == 0 ? 1 : 30));
        config::Settings settings;
        auto start = Clock::now();
        Load(remote, settings);
        remoteLoadMs[i] = Milliseconds(Clock::now() - start);
        config::ConfigStore store(remote, settings);
        start = Clock::now();
        store.SaveSettings();
        remoteSaveMs[i] = Milliseconds(Clock::now() - start);
    }
    const double loadMs = Median(load), saveMs = Median(save), editMs = Median(edit), bareMs = Median(bare);
    // Reading every value on its own, by opening its key, reading it and closing the key again.
    const std::size_t values = 7 + 2 * config::kConnectionSlots + config::layout::kAccountValues.size() * accounts;
    const std::size_t keys = 1 + config::kConnectionSlots + accounts;
    const std::size_t naiveLoad = 3 * values + (loadCalls - keys);

    std::printf("Full configuration: %zu connections, %zu accounts, store file %ju bytes (median of %d runs)\n",
                config::kConnectionSlots, accounts, static_cast<std::uintmax_t>(std::filesystem::file_size(file)),
                kRuns);
    std::printf("\nRegistry calls\n");
    std::printf("  load              %6zu   (%s)\n", loadCalls, loadKinds.c_str());
    std::printf("                    %6zu   when every value is read on its own: open, read, close (computed)\n",
                naiveLoad);
    std::printf("  save, unchanged   %6zu   (%s)\n", saveCalls, saveKinds.c_str());
    std::printf("  save, one change  %6zu   (%s)\n", editCalls, editKinds.c_str());
    std::printf("\nTime through the file store\n");
    std::printf("  load                               %8.2f ms\n", loadMs);
    std::printf("  save, unchanged (nothing written)  %8.2f ms\n", saveMs);
    std::printf("  save, one change (file written)    %8.2f ms\n", editMs);
    std::printf("  bare read + write of the same file %8.2f ms\n", bareMs);
    std::printf("  (load + save of a change) / bare   %8.1f\n", (loadMs + editMs) / bareMs);
    std::printf("\nRemote registry, every call a round trip (measured)\n");
    std::printf("  load at  1 ms a call               %8.0f ms\n", remoteLoadMs[0]);
    std::printf("  load at 30 ms a call               %8.0f ms\n", remoteLoadMs[1]);
    std::printf("  unchanged save at  1 ms a call     %8.0f ms\n", remoteSaveMs[0]);
    std::printf("  unchanged save at 30 ms a call     %8.0f ms\n", remoteSaveMs[1]);
    std::printf("\nfigures: load calls=%zu\n", loadCalls);
    std::printf("figures: save-unchanged calls=%zu\n", saveCalls);
    std::printf("figures: save-one-edit calls=%zu\n", editCalls);
    std::printf("figures: load-30ms ms=%.0f\n", remoteLoadMs[1]);
    std::printf("figures: save-unchanged-30ms ms=%.0f\n", remoteSaveMs[1]);
    std::filesystem::remove_all(folder);
    return 0;
}
