// Where and how the service keeps its configuration below HKEY_LOCAL_MACHINE: the keys, and one
// table per kind of key naming each value with its type, the model field that mirrors it and
// the default that a load uses when the value is missing, and for an account what a new account
// and the template give it. Load and save both walk these tables, and so do the editor's pages
// and commands for an account.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "platform/value_library.h"

namespace kelvaston::config::layout {

// The service's key; it can be opened with write access where the service is installed.
inline const std::string kServiceKey = "System\\CurrentControlSet\\Services\\Tolvane Service";
// The key of the global values; every other key of the configuration is read below it.
inline const std::string kParametersKey = kServiceKey + "\\Parameters";
inline const std::string kParametersName = "Parameters";
// A subkey of the Parameters key that belongs to the service itself, not a connection.
inline const std::string kVolatileKey = "volatile";
// The built-in connection for working without a dial-up connection.
inline const std::string kNoRasConnection = "NORAS";

template <class Record>
struct ValueField {
    const char* name;   // the registry value
    std::int32_t type;  // platform::kTypeText or platform::kTypeNumber
    std::string Record::*field;
    const char* defaultText;  // what a load takes when the value is missing

    bool IsNumber() const { return type == platform::kTypeNumber; }
};

using platform::kTypeNumber;
using platform::kTypeText;

// In the order in which they are loaded.
inline constexpr std::array<ValueField<GlobalSettings>, 7> kGlobalValues = {{
    {"BDWDir", kTypeText, &GlobalSettings::BDWDir, "c:\\"},
    {"DebugLevel", kTypeNumber, &GlobalSettings::DebugLevel, "0"},
    {"Listen RAS", kTypeNumber, &GlobalSettings::ListenRAS, "0"},
    {"ProxyHost", kTypeText, &GlobalSettings::ProxyHost, "0"},
    {"ProxyPort", kTypeNumber, &GlobalSettings::ProxyPort, "0"},
    {"TriggerPort", kTypeNumber, &GlobalSettings::TriggerPort, "15001"},
    {"TickerEMail", kTypeText, &GlobalSettings::TickerEMail, ""},
}};
// The save writes the global values in name order: "TickerEMail" before "TriggerPort".
inline constexpr std::array<std::size_t, 7> kGlobalSaveOrder = {0, 1, 2, 3, 4, 6, 5};

inline constexpr std::array<ValueField<ConnectionRecord>, 2> kConnectionValues = {{
    {"Enable Logging", kTypeNumber, &ConnectionRecord::EnableLogging, "0"},
    {"TimeOut", kTypeNumber, &ConnectionRecord::TimeOut, "600"},
}};

// An account value with what the commands give it besides a load: a new account, and the
// template on the account page. A value with a template text has a control on the account page
// (the window finds it by the field); the template's texts are examples of what each field takes.
struct AccountValue : ValueField<AccountRecord> {
    const char* newAccountText;  // null: a new account keeps what its slot held
    const char* templateText;    // null: the value has no control
};

// Loaded and saved in this order, and in this order the editor shows, takes back and fills the
// account page.
inline constexpr std::array<AccountValue, 19> kAccountValues = {{
    {{"Addressmode", kTypeNumber, &AccountRecord::AddressMode, "3"}, "3", "3"},
    {{"Addressmode Ticker", kTypeNumber, &AccountRecord::AddressModeTicker, "0"}, "0", "0"},
    {{"Command", kTypeText, &AccountRecord::Command, ""}, "", ""},
    {{"Enable Account", kTypeNumber, &AccountRecord::EnableAccount, "0"}, "1", "1"},
    {{"Enable Command", kTypeNumber, &AccountRecord::EnableCommand, "0"}, "0", "0"},
    {{"Enable From UDP", kTypeNumber, &AccountRecord::EnableFromUDP, "0"}, "0", "0"},
    {{"Enable KeepAlive", kTypeNumber, &AccountRecord::EnableKeepAlive, "0"}, nullptr, nullptr},
    {{"Enable UDP", kTypeNumber, &AccountRecord::EnableUDP, "0"}, "0", "0"},
    {{"Enable Wissenschaft", kTypeNumber, &AccountRecord::EnableWissenschaft, "0"}, "0", "0"},
    {{"LogFile", kTypeText, &AccountRecord::LogFile, "c:\\Log.txt"}, "c:\\Log.txt", "c:\\Log.txt"},
    {{"Max Mails", kTypeNumber, &AccountRecord::MaxMails, "10"}, "10", "10"},
    {{"POP Delete", kTypeNumber, &AccountRecord::POPDelete, "1"}, "1", "1"},
    {{"POP Host", kTypeText, &AccountRecord::POPHost, ""}, "", "pop.example.net"},
    {{"POP Passwort", kTypeText, &AccountRecord::POPPasswort, ""}, "", ""},
    {{"POP User", kTypeText, &AccountRecord::POPUser, ""}, "", "popuser"},
    {{"SMTP From", kTypeText, &AccountRecord::SMTPFrom, ""}, "", "postmaster@example.com"},
    {{"SMTP Host", kTypeText, &AccountRecord::SMTPHost, ""}, "", "smtp.example.net"},
    {{"SMTP To", kTypeText, &AccountRecord::SMTPTo, ""}, "", "info@example.com"},
    {{"UDP Port", kTypeNumber, &AccountRecord::UDPPort, "15002"}, "15002", "15002"},
}};

}  // namespace kelvaston::config::layout
