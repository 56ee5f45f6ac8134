#include "reg_file_checks.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/text.h"

namespace kelvaston::fuzz {
namespace {

namespace regfile = platform::regfile;
namespace text = platform::text;
namespace error = platform::error;
using platform::Key;
using platform::KeyTree;

// One key as the Writer takes it: its full path and the values below it.
struct KeyBlock {
    std::string path;
    std::vector<regfile::Value> values;
};

std::string JoinPath(const std::string& root, const std::vector<std::string>& names) {
    std::string path = root;
    for (const auto& name : names) path += "\\" + name;
    return path;
}

bool SameEntry(const regfile::Entry& a, const regfile::Entry& b) {
    return a.kind == b.kind && a.root == b.root && a.path == b.path && a.value == b.value;
}

std::string Describe(const regfile::Entry& entry) {
    std::string out = "kind " + std::to_string(static_cast<int>(entry.kind)) + " " + JoinPath(entry.root, entry.path);
    if (entry.kind == regfile::EntryKind::SetValue || entry.kind == regfile::EntryKind::DeleteValue) {
        out += " value \"" + entry.value.name + "\" type " + std::to_string(entry.value.type) + " (" +
               std::to_string(entry.value.data.size()) + " bytes)";
    }
    return out;
}

std::string WriteBlocks(const std::vector<KeyBlock>& blocks, regfile::Encoding encoding) {
    regfile::Writer writer(encoding);
    for (const auto& block : blocks) writer.AddKey(block.path, block.values);
    return writer.Finish();
}

// The keys and values of a document in file order, as the Writer takes them and as a parse of
// its output must deliver them.
std::string Blocks(const regfile::Document& document, std::vector<KeyBlock>* blocks,
                   std::vector<regfile::Entry>* entries) {
    for (const auto& entry : document.entries) {
        if (entry.kind == regfile::EntryKind::Key) {
            blocks->push_back({JoinPath(entry.root, entry.path), {}});
        } else if (entry.kind == regfile::EntryKind::SetValue) {
            if (blocks->empty()) return "a value before the first key: " + Describe(entry);
            blocks->back().values.push_back(entry.value);
        } else {
            continue;
        }
        entries->push_back(entry);
    }
    return {};
}

std::string CompareEntries(const std::vector<regfile::Entry>& expected, const std::vector<regfile::Entry>& actual) {
    const std::size_t common = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (!SameEntry(expected[i], actual[i])) {
            return "entry " + std::to_string(i) + " differs: expected " + Describe(expected[i]) + ", read back " +
                   Describe(actual[i]);
        }
    }
    if (expected.size() != actual.size()) {
        return std::to_string(expected.size()) + " entries written, " + std::to_string(actual.size()) + " read back";
    }
    return {};
}

bool IsCanonicalRoot(std::string_view root) {
    return root == "HKEY_LOCAL_MACHINE" || root == "HKEY_CURRENT_USER" || root == "HKEY_CLASSES_ROOT" ||
           root == "HKEY_USERS" || root == "HKEY_CURRENT_CONFIG";
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Writes a store file as the store would find its own: its owner's only.
bool WriteAll(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::error_code ec;
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    return static_cast<bool>(out.flush()) && !ec;
}

std::vector<std::string> FolderListing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The whole hive of computer FUZZ as a fresh store reads it from the file.
std::string ReadHive(const std::filesystem::path& folder, KeyTree* tree) {
    platform::FileStoreRegistry registry({folder, "FUZZ"});
    Key root = platform::kNullKey;
    if (const auto status = registry.ConnectRegistry("", platform::kHKeyLocalMachine, &root); status != error::kSuccess) {
        return "a second store cannot connect to the file it wrote: status " + std::to_string(status) +
               (registry.LastHiveFileError() ? ", line " + std::to_string(registry.LastHiveFileError()->line) + ": " +
                                               registry.LastHiveFileError()->message
                                         : std::string());
    }
    if (const auto status = platform::ReadTree(registry, root, "HKEY_LOCAL_MACHINE", tree); status != error::kSuccess) {
        return "a second store cannot read the tree it loaded: status " + std::to_string(status);
    }
    registry.CloseKey(root);
    return {};
}

constexpr std::string_view kProbeKey = "Kelvaston Fuzz Probe";

// On a hive that loaded: read everything, add a key with a value, flush, compare with what a
// second store reads; then remove the key again and compare with the first tree.
std::string ExerciseLoadedHive(platform::FileStoreRegistry& registry, Key root, const std::filesystem::path& folder) {
    KeyTree before;
    if (const auto status = platform::ReadTree(registry, root, "HKEY_LOCAL_MACHINE", &before); status != error::kSuccess) {
        return "the loaded tree cannot be read through the registry interface: status " + std::to_string(status);
    }
    const std::string probeFolded = text::FoldCase(kProbeKey);
    const bool probeIsNew = std::none_of(before.children.begin(), before.children.end(),
                                         [&](const KeyTree& child) { return text::FoldCase(child.name) == probeFolded; });

    Key probe = platform::kNullKey;
    if (const auto status = registry.CreateKey(root, std::string(kProbeKey), &probe); status != error::kSuccess) {
        return "creating a key in the loaded hive failed: status " + std::to_string(status);
    }
    static constexpr char kData[] = "Wert \xC3\xA4";
    const auto set = registry.SetValueEx(probe, "Probe", platform::kRegSz, reinterpret_cast<const std::uint8_t*>(kData),
                                         sizeof kData);
    registry.CloseKey(probe);
    if (set != error::kSuccess) return "setting a value in the loaded hive failed: status " + std::to_string(set);
    if (const auto status = registry.FlushKey(root); status != error::kSuccess) {
        return "flushing the loaded hive failed: status " + std::to_string(status);
    }
    KeyTree inMemory;
    if (const auto status = platform::ReadTree(registry, root, "HKEY_LOCAL_MACHINE", &inMemory); status != error::kSuccess) {
        return "the tree cannot be read after the flush: status " + std::to_string(status);
    }
    KeyTree onDisk;
    if (std::string failed = ReadHive(folder, &onDisk); !failed.empty()) return failed;
    if (onDisk != inMemory) return "the written file reads back as another tree than the one in memory";
    if (!probeIsNew) return {};

    if (const auto status = registry.DeleteKey(root, std::string(kProbeKey)); status != error::kSuccess) {
        return "removing the added key failed: status " + std::to_string(status);
    }
    if (const auto status = registry.FlushKey(root); status != error::kSuccess) {
        return "flushing the removal failed: status " + std::to_string(status);
    }
    KeyTree after;
    if (std::string failed = ReadHive(folder, &after); !failed.empty()) return failed;
    if (after != before) return "adding and removing a key did not give the loaded tree back";
    return {};
}

}  // namespace

std::string CheckRoundTrip(std::string_view bytes) {
    const regfile::ParseResult parsed = regfile::Parse(bytes);
    if (!parsed.document) {
        if (parsed.error.message.empty()) return "a parse failed without saying why";
        if (parsed.error.line < 0) return "a parse failed at a negative line";
        return {};
    }
    std::vector<KeyBlock> blocks;
    std::vector<regfile::Entry> expected;
    if (std::string failed = Blocks(*parsed.document, &blocks, &expected); !failed.empty()) return failed;

    for (const auto encoding : {regfile::Encoding::Utf8Lf, regfile::Encoding::Utf16LeBomCrlf}) {
        const std::string which = encoding == regfile::Encoding::Utf8Lf ? "UTF-8" : "UTF-16LE";
        const std::string written = WriteBlocks(blocks, encoding);
        const regfile::ParseResult again = regfile::Parse(written);
        if (!again.document) {
            return "the " + which + " text written from a parsed file does not parse: line " +
                   std::to_string(again.error.line) + ": " + again.error.message;
        }
        if (again.document->flavor != regfile::Flavor::Regedit5) return "the " + which + " text is not read as 5.00";
        for (const auto& entry : again.document->entries) {
            if (entry.kind != regfile::EntryKind::Key && entry.kind != regfile::EntryKind::SetValue) {
                return "the " + which + " text reads back with a deletion";
            }
        }
        if (std::string failed = CompareEntries(expected, again.document->entries); !failed.empty()) {
            return "the " + which + " text reads back differently: " + failed;
        }
        // What was read back must write the same bytes again.
        std::vector<KeyBlock> blocksAgain;
        std::vector<regfile::Entry> ignored;
        if (std::string failed = Blocks(*again.document, &blocksAgain, &ignored); !failed.empty()) return failed;
        if (WriteBlocks(blocksAgain, encoding) != written) return "writing the " + which + " text again changes it";
    }
    return {};
}

std::string CheckTextHelpers(std::string_view bytes) {
    // SplitKeyPath: what it accepts is a known root and names that join back to the same path.
    std::string splitError;
    if (const auto split = regfile::SplitKeyPath(bytes, &splitError)) {
        if (!IsCanonicalRoot(split->root)) return "SplitKeyPath gave the root \"" + split->root + "\"";
        for (const auto& name : split->path) {
            if (name.empty() || name.find('\\') != std::string::npos) return "SplitKeyPath gave a bad name";
        }
        std::string again;
        const auto rejoined = regfile::SplitKeyPath(JoinPath(split->root, split->path), &again);
        if (!rejoined || rejoined->root != split->root || rejoined->path != split->path) {
            return "a path SplitKeyPath accepted splits differently once joined: " + again;
        }
    } else if (splitError.empty()) {
        return "SplitKeyPath refused a path without saying why";
    }

    // FoldCase: valid UTF-8 out, and folding twice is folding once.
    const std::string folded = text::FoldCase(bytes);
    if (!text::IsValidUtf8(folded)) return "FoldCase gave invalid UTF-8";
    if (text::FoldCase(folded) != folded) return "FoldCase is not idempotent";
    if (!text::EqualsNoCase(bytes, folded)) return "a text does not equal its folded form";

    // UTF-16LE to UTF-8 gives valid UTF-8 that survives the way back and forth.
    const std::string utf8 = text::Utf16LeToUtf8(bytes);
    if (!text::IsValidUtf8(utf8)) return "Utf16LeToUtf8 gave invalid UTF-8";
    if (text::Utf16LeToUtf8(text::Utf8ToUtf16Le(utf8)) != utf8) return "UTF-8 from UTF-16 does not survive UTF-16";
    if (text::IsValidUtf8(bytes) && text::Utf16LeToUtf8(text::Utf8ToUtf16Le(bytes)) != bytes) {
        return "valid UTF-8 does not survive UTF-16";
    }
    const std::string latin = text::Cp1252ToUtf8(bytes);
    if (!text::IsValidUtf8(latin)) return "Cp1252ToUtf8 gave invalid UTF-8";

    // TruncateUtf8 cuts valid text to a valid prefix of at most the size asked.
    const std::size_t limit = bytes.empty() ? 0 : static_cast<unsigned char>(bytes.front());
    const std::string_view cut = text::TruncateUtf8(latin, limit);
    if (latin.size() <= limit && cut != latin) return "TruncateUtf8 cut a text that fits";
    if (latin.size() > limit && (cut.size() > limit || cut.size() + 3 < limit)) {
        return "TruncateUtf8 kept " + std::to_string(cut.size()) + " bytes of a limit of " + std::to_string(limit);
    }
    if (latin.compare(0, cut.size(), cut) != 0 || !text::IsValidUtf8(cut)) return "TruncateUtf8 split a character";
    return {};
}

std::string CheckStoreFile(std::string_view bytes, const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    const auto file = folder / "FUZZ.reg";
    if (!WriteAll(file, bytes)) return "cannot write the input to " + file.string() + " (not a fault of the store)";
    const bool parses = regfile::Parse(bytes).document.has_value();

    bool loaded = false;
    {
        platform::FileStoreRegistry registry({folder, "FUZZ"});
        Key root = platform::kNullKey;
        const auto status = registry.ConnectRegistry("", platform::kHKeyLocalMachine, &root);
        if (status == error::kSuccess) {
            loaded = true;
            if (!parses) return "the store loaded a file that does not parse";
            if (std::string failed = ExerciseLoadedHive(registry, root, folder); !failed.empty()) return failed;
            registry.CloseKey(root);
        } else {
            if (status != error::kBadDb) return "connecting to the file failed with status " + std::to_string(status);
            if (!registry.LastHiveFileError()) return "the store refused the file without saying where";
            // A change through HKEY_LOCAL_MACHINE must not reach a file that did not load.
            Key probe = platform::kNullKey;
            if (registry.CreateKey(platform::kHKeyLocalMachine, std::string(kProbeKey), &probe) == error::kSuccess) {
                return "a key was created in a hive whose file did not load";
            }
        }
    }  // the store's end writes whatever it still holds
    if (!loaded && ReadAll(file) != bytes) return "a store file that did not load was overwritten";
    const std::vector<std::string> left = FolderListing(folder);
    if (left != std::vector<std::string>{"FUZZ.reg"}) {
        std::string names;
        for (const auto& name : left) names += " " + name;
        return "the store folder holds more than its file:" + names;
    }
    return {};
}

}  // namespace kelvaston::fuzz
