// The working copy of the service's configuration: global values, connections and accounts,
// the target computer and the registry handles through which it is reached. Every setting is
// text: numbers as decimal digits, flags as "0" or "1", empty text for "no value".
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/registry_api.h"

namespace kelvaston::config {

struct GlobalSettings {
    std::string ListenRAS;
    std::string BDWDir;
    std::string DebugLevel;
    std::string ProxyHost;
    std::string ProxyPort;
    std::string TriggerPort;
    std::string TickerEMail;

    bool operator==(const GlobalSettings&) const = default;
};

struct ConnectionRecord {
    std::string Name;
    std::string EnableLogging;
    std::string TimeOut;  // seconds

    bool operator==(const ConnectionRecord&) const = default;
};

struct AccountRecord {
    std::string Connection;
    std::string Name;
    std::string AddressMode;
    std::string AddressModeTicker;
    std::string Command;
    std::string EnableCommand;
    std::string EnableAccount;
    std::string EnableUDP;
    std::string EnableKeepAlive;
    std::string EnableFromUDP;
    std::string EnableWissenschaft;
    std::string LogFile;
    std::string MaxMails;
    std::string POPDelete;
    std::string POPHost;
    std::string POPPasswort;
    std::string POPUser;
    std::string SMTPFrom;
    std::string SMTPHost;
    std::string SMTPTo;
    std::string UDPPort;

    bool operator==(const AccountRecord&) const = default;
};

inline constexpr std::size_t kConnectionSlots = 51;
inline constexpr std::size_t kAccountSlots = 251;

// Used entries stand packed at the front of each list; the first slot with an empty Name ends
// it, or the list is full.
using ConnectionList = std::array<ConnectionRecord, kConnectionSlots>;
using AccountList = std::array<AccountRecord, kAccountSlots>;

// A connection of the list as the last load made it, with the keys it came from: a save
// removes a stored key only when the load read it and the list no longer holds it.
struct LoadedConnection {
    std::string Key;   // the stored key's name; empty when the load found none
    std::string Name;  // its name in the list now (a rename in the window follows it)
    std::vector<std::string> Accounts;  // the names of the keys below `Key` read as accounts
};

// What the last load read below the Parameters key, one entry per connection it put into the
// list, in that order, and whether keys were stored that it did not read: connections past the
// indexes it looks at, accounts past a list's slots, keys named with blanks only.
struct LoadedKeys {
    std::vector<LoadedConnection> Connections;
    bool ConnectionsLeftOut = false;
    bool AccountsLeftOut = false;
};

struct Settings {
    GlobalSettings Global;
    ConnectionList Connections;
    AccountList Accounts;
    LoadedKeys Loaded;
    std::string ComputerName;
};

// The initial texts of the global values, an empty computer name, both lists cleared and
// nothing loaded.
void InitSettings(Settings& settings);
void ClearConnections(ConnectionList& connections);
void ClearAccounts(AccountList& accounts);

// Removes slot `index` of a list: the later slots move one slot forward and the last slot is
// cleared. An index outside the list changes nothing.
void DeleteConnection(ConnectionList& connections, int index);
void DeleteAccount(AccountList& accounts, int index);

// The number of used slots at the front of a list.
std::size_t ConnectionCount(const ConnectionList& connections);
std::size_t AccountCount(const AccountList& accounts);

}  // namespace kelvaston::config
