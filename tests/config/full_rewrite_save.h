// The save as it was before it wrote only what changed: remove every stored connection and
// account key that the load read, and "volatile" (the Parameters key keeps its own values), then
// write all of the model. Keys the load did not read stay; accounts it did not read below a
// connection that the model still holds are written back below it first. Kept here as the
// reference the save is compared with: on any stored tree and any working copy, both must leave
// the same tree. It knows the layout from its own table and reaches the registry through the
// RegistryApi calls alone, so a wrong value name, type or number in the store's tables or value
// library shows as a difference instead of passing on both sides.
#pragma once

#include <algorithm>
#include <ranges>

#include "store_fixture.h"

namespace kelvaston::config::test {

// A value of the layout: its name, its registry type (1 REG_SZ, 4 REG_DWORD) and the field that
// holds it in the model, as text (a number as its decimal digits).
template <class Record>
struct Field {
    const char* name;
    std::uint32_t type;
    std::string Record::*field;
};
using G = GlobalSettings;
using A = AccountRecord;

// In the order in which a save writes them: the global values by name ("TickerEMail" before
// "TriggerPort"), the others as the layout lists them. "Enable KeepAlive", which no page
// shows, is written back too, so that the stored flag survives a save.
inline const std::array<Field<G>, 7> kGlobalFields = {{{"BDWDir", 1, &G::BDWDir},
                                                       {"DebugLevel", 4, &G::DebugLevel},
                                                       {"Listen RAS", 4, &G::ListenRAS},
                                                       {"ProxyHost", 1, &G::ProxyHost},
                                                       {"ProxyPort", 4, &G::ProxyPort},
                                                       {"TickerEMail", 1, &G::TickerEMail},
                                                       {"TriggerPort", 4, &G::TriggerPort}}};
inline const std::array<Field<ConnectionRecord>, 2> kConnectionFields = {
    {{"Enable Logging", 4, &ConnectionRecord::EnableLogging},
     {"TimeOut", 4, &ConnectionRecord::TimeOut}}};
inline const std::array<Field<A>, 19> kAccountFields = {
    {{"Addressmode", 4, &A::AddressMode},
     {"Addressmode Ticker", 4, &A::AddressModeTicker},
     {"Command", 1, &A::Command},
     {"Enable Account", 4, &A::EnableAccount},
     {"Enable Command", 4, &A::EnableCommand},
     {"Enable From UDP", 4, &A::EnableFromUDP},
     {"Enable KeepAlive", 4, &A::EnableKeepAlive},
     {"Enable UDP", 4, &A::EnableUDP},
     {"Enable Wissenschaft", 4, &A::EnableWissenschaft},
     {"LogFile", 1, &A::LogFile},
     {"Max Mails", 4, &A::MaxMails},
     {"POP Delete", 4, &A::POPDelete},
     {"POP Host", 1, &A::POPHost},
     {"POP Passwort", 1, &A::POPPasswort},
     {"POP User", 1, &A::POPUser},
     {"SMTP From", 1, &A::SMTPFrom},
     {"SMTP Host", 1, &A::SMTPHost},
     {"SMTP To", 1, &A::SMTPTo},
     {"UDP Port", 4, &A::UDPPort}}};

// A number field as the four bytes of a REG_DWORD, least significant first: empty text is 0,
// otherwise decimal digits with blanks around them allowed (the blanks a read trims). Anything
// else, or more than 32 bits, is no number: false.
inline bool DwordBytes(const std::string& text, std::string* bytes) {
    const std::size_t first = text.find_first_not_of(' '), end = text.find_last_not_of(' ') + 1;
    std::uint64_t n = 0;
    for (std::size_t i = first; i < end; ++i) {
        const auto digit = static_cast<unsigned char>(text[i] - '0');
        if (digit > 9 || (n = n * 10 + digit) > 0xFFFFFFFFu) return false;
    }
    *bytes = {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
              static_cast<char>(n >> 24)};
    return text.empty() || first != std::string::npos;
}

// Names as the registry tells them apart, for exactly the names the differential test draws
// (its connection and account lists, "K101".."K151", "Extra"): ASCII letters in either case and
// the UTF-8 "ä" / "Ä" are one letter each. Not a comparison for any other names.
inline std::string Upper(std::string name) {
    std::ranges::transform(name, name.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    });
    for (auto at = name.find("\xC3\xA4"); at != std::string::npos; at = name.find("\xC3\xA4", at))
        name[at + 1] = '\x84';
    return name;
}
inline bool SameName(const std::string& a, const std::string& b) {
    return Upper(a) == Upper(b);
}

// Creates the key `path` below `parent` with these values: byte for byte, or else as a program
// hands them to RegSetValueEx (text as text, a number as its four bytes).
inline bool WriteKey(platform::RegistryApi& api, Key parent, const std::string& path,
                     const Values& values, bool bytes) {
    Key key = platform::kNullKey;
    bool ok = api.CreateKey(parent, path, &key) == kSuccess;
    for (const auto& [name, type, data] : values) {
        const auto* start = reinterpret_cast<const std::uint8_t*>(data.data());
        ok = ok && (bytes ? api.SetValueBytes(key, name, type, data)
                          : api.SetValueEx(key, name, type, start,
                                           static_cast<std::uint32_t>(data.size()))) == kSuccess;
    }
    if (key != platform::kNullKey) api.CloseKey(key);
    return ok;
}

// Appends the key `path` with a record's values, in table order, to `model`; false when a number
// field holds no number.
template <class Record, std::size_t N>
bool AddKey(const std::string& path, const Record& record,
            const std::array<Field<Record>, N>& fields, Tree* model) {
    Values& values = model->emplace_back(path, Values{}).second;
    for (const auto& [name, type, field] : fields) {
        std::string& data = std::get<2>(values.emplace_back(name, type, record.*field));
        if (type == 4 && !DwordBytes(record.*field, &data)) return false;
    }
    return true;
}

// True when the save went through. A field that holds no number fails it before anything is
// written.
inline bool SaveByFullRewrite(platform::RegistryApi& api, const Settings& settings) {
    // The global values, each connection, then each account, lists up to their first empty name.
    Tree model;
    bool numbers = AddKey("Parameters", settings.Global, kGlobalFields, &model);
    const auto used =
        std::views::take_while([](const auto& record) { return !record.Name.empty(); });
    for (const ConnectionRecord& c : settings.Connections | used) {
        numbers = numbers && AddKey("Parameters\\" + c.Name, c, kConnectionFields, &model);
    }
    for (const AccountRecord& a : settings.Accounts | used) {
        numbers = numbers &&
                  AddKey("Parameters\\" + a.Connection + "\\" + a.Name, a, kAccountFields, &model);
    }
    Key service = platform::kNullKey;
    if (!numbers || api.OpenKeyEx(platform::kHKeyLocalMachine, kServicePath, 0,
                                  platform::kKeyAllAccess, &service) != kSuccess) {
        return false;
    }
    const Tree stored = ReadKey(api, service, "Parameters");
    const auto& loaded = settings.Loaded.Connections;
    Tree unread;  // accounts, by their path below the model's connection
    bool ok = true;
    for (auto key = stored.rbegin(); key != stored.rend(); ++key) {  // subkeys before their parents
        const auto& [path, values] = *key;
        const std::size_t slash = path.find('\\');
        const std::string connection = path.substr(0, slash);
        const std::string account = path.substr(slash + 1, path.find('\\', slash + 1) - slash - 1);
        const auto read = std::ranges::find_if(
            loaded, [&](const auto& c) { return SameName(c.Key, connection); });
        if (path.empty() || (read == loaded.end() && connection != "volatile")) continue;
        ok = ok && api.DeleteKey(service, "Parameters\\" + path) == kSuccess;
        const auto held = [&](const ConnectionRecord& c) {
            return !c.Name.empty() && SameName(c.Name, read->Name);
        };
        if (slash != std::string::npos && read != loaded.end() &&
            std::ranges::any_of(settings.Connections, held) &&
            std::ranges::none_of(
                read->Accounts, [&](const std::string& name) { return SameName(name, account); })) {
            unread.emplace_back("Parameters\\" + read->Name + path.substr(slash), values);
        }
    }
    for (const auto& [path, values] : unread) ok = ok && WriteKey(api, service, path, values, true);
    for (const auto& [path, values] : model) ok = ok && WriteKey(api, service, path, values, false);
    api.CloseKey(service);
    return ok;
}

}  // namespace kelvaston::config::test
