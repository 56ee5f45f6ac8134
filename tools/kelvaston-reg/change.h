// Changes to the registry that are made whole or not at all.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "platform/registry_api.h"
#include "platform/registry_tree.h"
#include "session.h"

namespace kelvaston::tools::detail {

// Where `name` holds a character this registry cannot store in a name (UnstorableAt): the
// character, in quotes, for a message; nothing when it can store all of it.
std::optional<std::string> UnstorableCharacter(const platform::RegistryApi& api,
                                               std::string_view name);

// "`what` holds `character`, which this computer's registry cannot store ...".
std::string CannotStore(const std::string& what, const std::string& character);

// Every key name of the path must be one this registry can store, for the calls that open
// and make keys by name; `nothing` ends the failure's message.
void CheckNames(const platform::RegistryApi& api, const KeySpec& spec, const std::string& nothing);

// What a command is about to change, read before its first write and inside its transaction, so
// that a command that fails half-way can put back what it changed where the registry does not
// undo it (advapi32 has no transactions): keys it makes are deleted again, keys it deletes are
// written back from a copy, and the values of keys it changes are set back from a copy.
class PutBack {
public:
    PutBack(platform::RegistryApi& api, platform::Key root) : api_(api), root_(root) {}

    // The key `path` (and any missing key above it) is going to be made.
    platform::Status WillCreate(const std::vector<std::string>& path);

    // A value of the key `path` is going to be set (or deleted); the key is made first where it
    // is missing. A value that a put-back would have to delete again by a name this registry
    // cannot handle (a new one in a key that is there) is refused: kNoUnicodeTranslation.
    platform::Status WillChangeValue(const std::vector<std::string>& path, const std::string& name,
                                     bool deleting);

    // Any value of the key `path`, which is there, may change.
    platform::Status WillChangeValues(const std::vector<std::string>& path);

    // The key `path` is going to be deleted with everything below it. A key below it whose name
    // this registry cannot handle is refused, named in *unstorable: kNoUnicodeTranslation.
    platform::Status WillDelete(const std::vector<std::string>& path, std::string* unstorable);

    // Puts back everything that was announced: the registry as it was read. On a failure, the
    // first one, with the key it concerns in *where; what can still be put back is put back.
    platform::Status Restore(std::string* where);

private:
    struct Values {
        std::vector<std::string> path;
        std::vector<platform::RegValue> values;  // as the registry keeps them (EnumValueBytes)
    };
    struct Deleted {
        std::vector<std::string> path;
        platform::KeyTree tree;
    };

    static std::string Folded(const std::vector<std::string>& path);

    // Whether the key of folded path `folded` is below one of `copies` (or one of them itself).
    template <class Map>
    static bool Inside(const std::string& folded, const Map& copies, bool itself) {
        for (const auto& [other, copy] : copies) {
            if ((itself && other == folded) || folded.starts_with(other + "\\")) return true;
        }
        return false;
    }

    // How many keys of `path`, from the top, were there before the command.
    platform::Status ExistingLevels(const std::vector<std::string>& path, std::size_t* existing);
    platform::Status ValuesBefore(const std::vector<std::string>& path,
                                  const std::vector<platform::RegValue>** values);
    platform::Status RestoreTree(const Deleted& copy);
    // The key's values as they were, in their order: values the command added are deleted, and
    // from the first value that changed or moved on, each is set again in turn.
    platform::Status RestoreValues(const Values& copy);

    platform::RegistryApi& api_;
    platform::Key root_;
    std::map<std::string, bool> exists_;                       // by folded path: there before
    std::map<std::string, std::vector<std::string>> created_;  // the topmost keys made
    std::map<std::string, Values> values_;
    std::map<std::string, Deleted> deleted_;
};

// One command's changes, whole or not at all. They are made inside a transaction on the hive;
// where the registry cannot undo them (AbortTransaction returns false, as advapi32's does),
// the PutBack puts back what was written.
class Change {
public:
    explicit Change(Session& session);
    // A failure thrown before the change ended: undone, without a word (a message is on its way).
    ~Change() {
        if (open_) Undo();
    }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

    PutBack& Guard() { return putBack_; }
    // The first write comes next: from now on a failure may need putting back.
    void Writing() { writing_ = true; }

    // Ends the change after a failure: what the message says happened to the changes made,
    // `nothing` when they are all undone.
    std::string Undo(const std::string& nothing = "nothing was changed");

    // Makes the changes permanent, or undoes them and says why it could not.
    void Commit(const std::string& nothing = "nothing was changed");

private:
    platform::RegistryApi& api_;
    platform::Key root_;
    PutBack putBack_;
    bool open_ = false;
    bool writing_ = false;
};

}  // namespace kelvaston::tools::detail
