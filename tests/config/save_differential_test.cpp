// The save writes only what differs from the stored tree; it must leave exactly the tree that
// removing every stored key and writing the whole model leaves (full_rewrite_save.cpp). Both
// run on random stored trees and working copies with everything a stored configuration can
// hold that the model does not: foreign keys and values, "volatile", names with blanks at their
// ends, NORAS in other spellings, missing, misspelt, mistyped and reordered values, numbers
// that are none.
#include <algorithm>
#include <chrono>
#include <cctype>
#include <random>

#include "full_rewrite_save.h"
#include "platform/registry_decorators.h"
#include "platform/text.h"
#include "store_fixture.h"

namespace kelvaston::config::test {
namespace {

class Random {
public:
    explicit Random(unsigned seed) : engine_(seed) {}
    std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine_); }
    bool OneIn(std::size_t n) { return Below(n) == 0; }
    template <class T>
    const T& From(const std::vector<T>& items) { return items[Below(items.size())]; }

private:
    std::mt19937 engine_;
};

const std::vector<std::string> kConnectionNames = {"NORAS", "noras", " Blank ", "volatile", "VOLATILE", "Arcor",
                                                   "T-Online", "C1"};
const std::vector<std::string> kAccountNames = {"info", "Info ", "x", " y"};
const std::vector<std::string> kTexts = {"", "7", "zehn", "99999999999", "pop.example.net", " 12 "};

// A value line for a layout value or a stranger: a number, a text where a number belongs, bytes.
std::string ValueLine(Random& random, const std::string& name) {
    switch (random.Below(4)) {
        case 0: return "\"" + name + "\"=\"" + random.From(kTexts) + "\"\n";
        case 1: return "\"" + name + "\"=hex:01,02,03\n";
        default: return "\"" + name + "\"=dword:0000000" + std::to_string(random.Below(10)) + "\n";
    }
}

// Some of a key's values, in a random order, some spelt in other case, and a stranger.
std::string ValueLines(Random& random, std::vector<std::string> names) {
    std::shuffle(names.begin(), names.end(), std::mt19937(static_cast<unsigned>(random.Below(1000))));
    std::string lines;
    for (std::string& name : names) {
        if (random.OneIn(3)) continue;
        if (random.OneIn(6)) for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        lines += ValueLine(random, name);
    }
    if (random.OneIn(4)) lines += ValueLine(random, "Foreign");
    return lines;
}

template <class Record, std::size_t N>
std::vector<std::string> NamesOf(const std::array<layout::ValueField<Record>, N>& fields) {
    std::vector<std::string> names;
    for (const auto& field : fields) names.emplace_back(field.name);
    return names;
}

std::string StoredTree(Random& random) {
    std::string body = kServiceLine;
    if (random.OneIn(8)) return body;  // no Parameters key yet
    body += kParametersLine + ValueLines(random, NamesOf(layout::kGlobalValues));
    std::vector<std::string> connections = kConnectionNames;
    for (std::size_t c = random.Below(5); c > 0; --c) {
        const std::string name = random.From(connections);
        std::erase_if(connections, [&](const std::string& n) { return platform::text::EqualsNoCase(n, name); });
        body += KeyLine(name) + ValueLines(random, NamesOf(layout::kConnectionValues));
        for (std::size_t a = random.Below(3); a > 0; --a) {
            const std::string account = name + "\\" + kAccountNames[a];
            body += KeyLine(account) + ValueLines(random, NamesOf(layout::kAccountValues));
            if (random.OneIn(5)) body += KeyLine(account + "\\Extra") + "\"E\"=\"1\"\n";
        }
    }
    return body;
}

void Edit(Random& random, Settings& s) {
    for (std::size_t edits = random.Below(6); edits > 0; --edits) {
        const std::size_t connections = ConnectionCount(s.Connections);
        const std::size_t accounts = AccountCount(s.Accounts);
        switch (random.Below(6)) {
            case 0:
                if (connections < kConnectionSlots) s.Connections[connections] = {random.From(kConnectionNames), "", "60"};
                break;
            case 1:
                if (connections > 0) DeleteConnection(s.Connections, static_cast<int>(random.Below(connections)));
                break;
            case 2:
                if (accounts < kAccountSlots) {
                    s.Accounts[accounts] = s.Accounts[0];
                    s.Accounts[accounts].Connection = random.From(kConnectionNames);
                    s.Accounts[accounts].Name = random.From(kAccountNames);
                }
                break;
            case 3:
                if (accounts > 0) {
                    const auto& field = layout::kAccountValues[random.Below(layout::kAccountValues.size())];
                    s.Accounts[random.Below(accounts)].*field.field = random.OneIn(8) ? "zehn" : random.From(kTexts);
                }
                break;
            case 4:
                if (connections > 0) s.Connections[random.Below(connections)].TimeOut = random.From(kTexts);
                break;
            default: s.Global.ProxyHost = random.From(kTexts); break;
        }
    }
}

using SaveDifferential = StoreTest;

TEST_F(SaveDifferential, WritingOnlyTheChangesLeavesTheTreeAFullRewriteLeaves) {
    int saved = 0;
    for (unsigned seed = 1; seed <= 60; ++seed) {
        Random random(seed);
        const std::string stored = StoredTree(random);
        Seed(stored);
        LoadAll();
        Edit(random, settings_);
        const Settings model = settings_;

        const bool fullSaved = SaveByFullRewrite(*registry_, settings_);
        const platform::KeyTree full = ServiceTree();
        Seed(stored);
        settings_ = model;
        // Every other save reads the stored tree with its reads overlapping, as for a remote registry.
        platform::LatencyRegistry overlapping(*registry_, std::chrono::microseconds(0));
        const SaveOutcome outcome = seed % 2 == 0 ? ConfigStore(overlapping, settings_).SaveSettings()
                                                  : store_->SaveSettings();
        ASSERT_EQ(outcome.result == SaveResult::Saved, fullSaved) << "seed " << seed << ": " << outcome.failedStep;
        ASSERT_EQ(ServiceTree(), full) << "seed " << seed;
        saved += fullSaved;
    }
    EXPECT_GT(saved, 20);  // most working copies save; the rest hold a number that is none
}

}  // namespace
}  // namespace kelvaston::config::test
