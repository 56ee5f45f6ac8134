#include "config/settings.h"

#include <algorithm>

namespace kelvaston::config {

void InitSettings(Settings& settings) {
    settings.Global = GlobalSettings{.ListenRAS = "1",
                                     .BDWDir = "",
                                     .DebugLevel = "4",
                                     .ProxyHost = "",
                                     .ProxyPort = "",
                                     .TriggerPort = "",
                                     .TickerEMail = ""};
    settings.ComputerName.clear();
    ClearConnections(settings.Connections);
    ClearAccounts(settings.Accounts);
    settings.Loaded = {};
}

void ClearConnections(ConnectionList& connections) {
    connections.fill(ConnectionRecord{});
}

void ClearAccounts(AccountList& accounts) {
    accounts.fill(AccountRecord{});
}

namespace {

template <class List>
void DeleteSlot(List& list, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return;
    for (std::size_t i = static_cast<std::size_t>(index); i + 1 < list.size(); ++i)
        list[i] = list[i + 1];
    list.back() = {};
}

}  // namespace

void DeleteConnection(ConnectionList& connections, int index) {
    DeleteSlot(connections, index);
}

void DeleteAccount(AccountList& accounts, int index) {
    DeleteSlot(accounts, index);
}

std::size_t ConnectionCount(const ConnectionList& connections) {
    return static_cast<std::size_t>(std::find_if(connections.begin(), connections.end(),
                                                 [](const auto& c) { return c.Name.empty(); }) -
                                    connections.begin());
}

std::size_t AccountCount(const AccountList& accounts) {
    return static_cast<std::size_t>(std::find_if(accounts.begin(), accounts.end(),
                                                 [](const auto& a) { return a.Name.empty(); }) -
                                    accounts.begin());
}

}  // namespace kelvaston::config
