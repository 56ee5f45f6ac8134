// The Windows program's registry calls, measured: the full configuration is saved below the
// service's key of this computer's registry (Windows, or Wine's), then loaded, saved unchanged
// and saved with one edit through advapi32 behind a meter that counts every call; then loaded
// and saved again with every call waiting 30 ms first, calls overlapping as they do with another
// computer's registry. Prints "figures:" lines. Refuses to run where the service is installed:
// it removes the service's key when it ends.
#include <chrono>
#include <cstdio>
#include <string>

#include "config/layout.h"
#include "config/store.h"
#include "full_configuration.h"
#include "platform/registry_tree.h"
#include "platform/win32_registry.h"

#include "platform/advapi32.h"  // last: it includes <windows.h>

namespace {

using namespace kelvaston;
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool Saved(config::ConfigStore& store, const char* what) {
    const config::SaveOutcome outcome = store.SaveSettings();
    if (outcome.result == config::SaveResult::Saved) return true;
    std::fprintf(stderr, "win32_bench: %s failed: %s\n", what, config::Describe(outcome).c_str());
    return false;
}

// Loads, saves unchanged and saves one edit, each counted; false when a step failed.
bool CountCalls(platform::Advapi32Meter& meter, const platform::Advapi32& measured) {
    platform::Win32Registry registry(measured, true);
    config::Settings settings;
    config::ConfigStore store(registry, settings);
    meter.calls = 0;
    if (store.Connect("").result != config::ConnectResult::Connected) return false;
    store.Load();
    const std::size_t load = meter.calls.exchange(0);
    if (config::AccountCount(settings.Accounts) != config::kAccountSlots) {
        std::fprintf(stderr, "win32_bench: the load found %zu accounts\n",
                     config::AccountCount(settings.Accounts));
        return false;
    }
    if (!Saved(store, "the unchanged save")) return false;
    const std::size_t unchanged = meter.calls.exchange(0);
    settings.Accounts[100].POPHost = "pop-edited.example.net";
    if (!Saved(store, "the save of one edit")) return false;
    const std::size_t edit = meter.calls.exchange(0);
    std::printf("figures: win32 load calls=%zu\n", load);
    std::printf("figures: win32 save-unchanged calls=%zu\n", unchanged);
    std::printf("figures: win32 save-one-edit calls=%zu\n", edit);
    return true;
}

// A load and an unchanged save with every call waiting `delay` first.
bool TimeCalls(platform::Advapi32Meter& meter, const platform::Advapi32& measured,
               std::chrono::milliseconds delay) {
    platform::Win32Registry registry(measured, true);
    config::Settings settings;
    config::ConfigStore store(registry, settings);
    meter.delay = delay;
    auto start = Clock::now();
    const bool connected = store.Connect("").result == config::ConnectResult::Connected;
    if (connected) store.Load();
    const double loadMs = MillisecondsSince(start);
    start = Clock::now();
    const bool saved = connected && Saved(store, "the unchanged save");
    const double saveMs = MillisecondsSince(start);
    meter.delay = {};
    if (!saved) return false;
    std::printf("figures: win32 load-%lldms ms=%.0f\n", static_cast<long long>(delay.count()),
                loadMs);
    std::printf("figures: win32 save-unchanged-%lldms ms=%.0f\n",
                static_cast<long long>(delay.count()), saveMs);
    return true;
}

}  // namespace

int main() {
    const std::string service = config::layout::kServiceKey;
    HKEY existing = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, service.c_str(), 0, KEY_READ, &existing) ==
        ERROR_SUCCESS) {
        RegCloseKey(existing);
        std::fprintf(stderr, "win32_bench: the service's key exists here; it is left alone\n");
        return 1;
    }
    bool ok = false;
    {
        platform::Win32Registry registry;
        platform::Key key = platform::kNullKey;
        config::Settings full;
        config::ConfigStore seeding(registry, full);
        if (registry.CreateKey(platform::kHKeyLocalMachine, service, &key) ==
            platform::error::kSuccess) {
            registry.CloseKey(key);
            ok = seeding.Connect("").result == config::ConnectResult::Connected;
            bench::FillFullConfiguration(full);
            ok = ok && Saved(seeding, "seeding the configuration");
        }
    }
    platform::Advapi32Meter meter;
    const platform::Advapi32& measured = platform::MeasuredAdvapi32(meter);
    ok = ok && CountCalls(meter, measured) &&
         TimeCalls(meter, measured, std::chrono::milliseconds(30));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, service.c_str());
    return ok ? 0 : 1;
}
