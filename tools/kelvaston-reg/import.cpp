// import: applies a .reg file, whole or not at all.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "change.h"
#include "messages.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "session.h"
#include "verbs.h"

namespace kelvaston::tools::detail {

using namespace platform;

namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream in(PathFromUtf8(name), std::ios::binary);
    std::error_code ec;
    if (!in || std::filesystem::is_directory(PathFromUtf8(name), ec))
        throw Failure("cannot open the file " + name);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure("cannot read the file " + name);
    return bytes;
}

std::string Where(const std::string& file, int line) {
    return line > 0 ? file + ":" + std::to_string(line) : file;
}

}  // namespace

int Import(const Command& command, RegistryApi& api, std::ostream& out) {
    const std::string& file = command.operands[0];
    const regfile::ParseResult parsed = regfile::Parse(ReadFile(file));
    if (!parsed.document)
        throw Failure(Where(file, parsed.error.line) + ": " + parsed.error.message);
    // Everything is checked before the first change, so a file that cannot be applied as a
    // whole changes nothing: what the file says, then the names the registry takes by name
    // (keys are opened, made and deleted by name, and so are values deleted), then, inside the
    // transaction, what is there now.
    const std::string nothing = "nothing was imported";
    for (const auto& entry : parsed.document->entries) {
        if (entry.root != kRootName) {
            throw Failure(Where(file, entry.line) +
                          ": only HKEY_LOCAL_MACHINE keys can be imported, not " + entry.root +
                          "; " + nothing);
        }
        if (entry.kind == regfile::EntryKind::DeleteKey && entry.path.empty()) {
            throw Failure(Where(file, entry.line) +
                          ": HKEY_LOCAL_MACHINE itself cannot be deleted; " + nothing);
        }
        if (entry.kind == regfile::EntryKind::Key || entry.kind == regfile::EntryKind::DeleteKey) {
            for (const auto& name : entry.path) {
                if (const auto character = UnstorableCharacter(api, name)) {
                    throw Failure(Where(file, entry.line) + ": " +
                                  CannotStore("the key name \"" + Shown(name) + "\"", *character) +
                                  "; " + nothing);
                }
            }
        }
        if (entry.kind == regfile::EntryKind::DeleteValue) {
            if (const auto character = UnstorableCharacter(api, entry.value.name)) {
                throw Failure(
                    Where(file, entry.line) + ": " +
                    CannotStore("the value name \"" + Shown(entry.value.name) + "\"", *character) +
                    "; " + nothing);
            }
        }
    }

    Session session(api, "");
    Change change(session);
    for (const auto& entry : parsed.document->entries) {
        PutBack& guard = change.Guard();
        std::string unstorable;
        Status status = error::kSuccess;
        switch (entry.kind) {
            case regfile::EntryKind::Key: status = guard.WillCreate(entry.path); break;
            case regfile::EntryKind::DeleteKey:
                status = guard.WillDelete(entry.path, &unstorable);
                break;
            case regfile::EntryKind::SetValue:
            case regfile::EntryKind::DeleteValue:
                status = guard.WillChangeValue(entry.path, entry.value.name,
                                               entry.kind == regfile::EntryKind::DeleteValue);
                break;
        }
        if (status == error::kNoUnicodeTranslation) {
            const std::string what = unstorable.empty()
                                         ? "the value name \"" + Shown(entry.value.name) + "\""
                                         : "the key " + Shown(FullPath({unstorable})) + " below it";
            throw Failure(Where(file, entry.line) + ": cannot apply this line to " +
                          Shown(FullPath(entry.path)) + ": " + what +
                          " holds a character this computer's registry cannot handle by name; " +
                          nothing);
        }
        if (status != error::kSuccess) {
            throw Failure(Where(file, entry.line) + ": cannot read " + Shown(FullPath(entry.path)) +
                          " before changing it: " + Reason(api, status) + "; " + nothing);
        }
    }
    change.Writing();
    const regfile::Entry* failed = nullptr;
    if (const Status status = ApplyEntries(api, session.Root(), parsed.document->entries, &failed);
        status != error::kSuccess) {
        const std::string reason = Reason(api, status);
        throw Failure(Where(file, failed->line) + ": cannot apply this line to " +
                      Shown(FullPath(failed->path)) + ": " + reason + change.Undo(nothing));
    }
    change.Commit(nothing);
    out << kDone << "\n";
    return 0;
}

std::string_view ImportUsage() {
    return R"(  kelvaston-reg import FILE
      Applies a .reg file as regedit writes it ("Windows Registry Editor Version 5.00" or
      "REGEDIT4"; UTF-16 or 8-bit), including [-KEY] and "NAME"=- deletions (value
      lines right below a [-KEY] line belong to no key and are passed over, as regedit
      does). Only HKEY_LOCAL_MACHINE keys are accepted. The whole file is checked first:
      a file with an error changes nothing, and the error names the line.

)";
}

}  // namespace kelvaston::tools::detail
