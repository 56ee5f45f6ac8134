// The window and another program on the same stored configuration. (A user's whole session
// against a golden store file is a case of the command table.)
#include <algorithm>

#include "platform/registry_tree.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

class EndToEnd : public WindowTest {};

// Another program changes the stored configuration while the window is open: it removes a
// connection, adds another and changes a value the window shows. A save then leaves what the
// window shows, with its edit, whatever the other program did, and keeps the connection the
// window never showed; read again, the window shows the same and that one. (On Linux the other
// program is a store of its own on the same file; on Windows the registry itself.)
TEST_F(EndToEnd, ASaveAfterAnotherProgramsChangesLeavesWhatTheWindowShows) {
    Start(Sample());
    const auto other = OpenHive();
    const std::string parameters = kServicePath + "\\Parameters";
    const auto otherSets = [&](const std::string& path, const std::string& name, std::uint32_t type, const std::string& data) {
        platform::Key key = platform::kNullKey;
        ASSERT_EQ(other->CreateKey(platform::kHKeyLocalMachine, parameters + "\\" + path, &key), 0);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        ASSERT_EQ(other->SetValueEx(key, name, type, bytes, static_cast<std::uint32_t>(data.size())), 0);
        other->CloseKey(key);
    };
    for (const bool edited : {false, true}) {
        SCOPED_TRACE(edited ? "with an edit" : "without an edit");
        platform::Key key = platform::kNullKey;
        ASSERT_EQ(other->OpenKeyEx(platform::kHKeyLocalMachine, parameters, 0, platform::kKeyAllAccess, &key), 0);
        ASSERT_EQ(platform::DeleteTree(*other, key, "T-Online"), 0);
        other->CloseKey(key);
        otherSets("Extra", "TimeOut", platform::kRegDword, std::string("\x3c\0\0\0", 4));
        otherSets("NORAS\\info", "POP Host", platform::kRegSz, std::string("other->example", 14));
        if (edited) {
            Click("T-Online");
            Type(W().ConnectionTimeOut, "5");
            Click("T-Online");
        }
        config::Settings shown = Model();
        Press(3);
        EXPECT_EQ(Saved().find("other->example"), std::string::npos);
        EXPECT_NE(Saved().find(edited ? "\"TimeOut\"=dword:0000012c" : "Parameters\\T-Online]"), std::string::npos);
        Press(2);
        EXPECT_EQ(Model().Global, shown.Global);
        EXPECT_EQ(Model().Accounts, shown.Accounts);
        // The window now shows the other program's connection too, where the registry lists it.
        auto& connections = shown.Connections;
        if (std::none_of(connections.begin(), connections.end(), [](auto& c) { return c.Name == "Extra"; })) {
            const auto at = std::find_if(connections.begin(), connections.end(), [](auto& c) { return c.Name > "Extra"; });
            std::move_backward(at, connections.end() - 1, connections.end());
            *at = config::ConnectionRecord{"Extra", "0", "60"};
        }
        EXPECT_EQ(Model().Connections, connections);
    }
}

}  // namespace
}  // namespace kelvaston::ui::test
