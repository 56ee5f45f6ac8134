// The process the crash test kills: connects to a store folder as computer CRASH, loads the
// configuration, replaces it with configuration A or B and saves. Exit status 0 when the save
// reports success, 1 when it fails, 2 on wrong arguments.
//
//     save_crash_child FOLDER A|B
//
// The two configurations (51 connections, 251 accounts) differ in every connection and account
// name and in most values, so a store holding a mixture of both, or either one only in part, is
// told apart from each.
#include <cstdio>
#include <string>

#include "config/layout.h"
#include "config/store.h"
#include "platform/file_store.h"

namespace {

using namespace kelvaston;

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

}  // namespace

int main(int argc, char** argv) {
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
    FillConfiguration(settings, argv[2][0]);
    const config::SaveOutcome outcome = store.SaveSettings();
    if (outcome.result == config::SaveResult::Saved) return 0;
    std::fprintf(stderr, "save_crash_child: the save failed: %s\n", outcome.failedStep.c_str());
    return 1;
}
