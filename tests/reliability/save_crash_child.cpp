// The process the crash test kills: connects to a store folder as computer CRASH, loads the
// configuration, replaces it with configuration A or B and saves. Exit status 0 when the save
// reports success, 1 when it fails, 2 on wrong arguments.
//
//     save_crash_child FOLDER A|B
#include <cstdio>
#include <string>

#include "config/store.h"
#include "configurations.h"
#include "platform/file_store.h"

int main(int argc, char** argv) {
    using namespace kelvaston;
    if (argc != 3 || (std::string(argv[2]) != "A" && std::string(argv[2]) != "B")) {
        std::fprintf(stderr, "usage: save_crash_child FOLDER A|B\n");
        return 2;
    }
    platform::FileStoreRegistry registry({argv[1], "CRASH"});
    config::Settings settings;
    config::InitSettings(settings);
    if (registry.ConnectRegistry("", platform::kHKeyLocalMachine, &settings.RootKey) != platform::error::kSuccess) return 1;
    config::ConfigStore store(registry, settings);
    store.LoadGlobalSettings();
    store.LoadConnections();
    store.LoadAccounts();
    reliability::FillConfiguration(settings, argv[2][0]);
    const config::SaveOutcome outcome = store.SaveSettings();
    if (outcome.result == config::SaveResult::Saved) return 0;
    std::fprintf(stderr, "save_crash_child: the save failed: %s\n", outcome.failedStep.c_str());
    return 1;
}
