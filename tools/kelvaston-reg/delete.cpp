// delete: deletes a key with everything below it, one value of a key, or all its values.
#include <string>
#include <utility>
#include <vector>

#include "change.h"
#include "messages.h"
#include "session.h"
#include "verbs.h"

namespace kelvaston::tools::detail {

using namespace platform;

int Delete(const Command& command, RegistryApi& api, std::ostream& out) {
    const KeySpec spec = ParseKey(command.operands[0]);
    const bool wholeKey = !command.valueName && !command.allValues;
    if (wholeKey && spec.path.empty()) throw Failure("HKEY_LOCAL_MACHINE itself cannot be deleted");

    CheckNames(api, spec, "nothing was deleted");

    Session session(api, spec.computer);
    Change change(session);
    KeyHandle key(api);
    session.Open(spec, kKeyRead | kKeySetValue, key);
    std::string what;
    if (wholeKey) {
        what = "the key " + spec.Display() + " with everything below it";
    } else if (command.allValues) {
        what = "all values of " + spec.Display();
    } else {
        if (api.QueryValueEx(key.Get(), *command.valueName, nullptr, nullptr, nullptr) ==
            error::kFileNotFound) {
            throw Failure(ValueLabel(*command.valueName) + " does not exist in " + spec.Display());
        }
        what = ValueLabel(*command.valueName) + " of " + spec.Display();
    }
    if (!command.force) {
        throw Failure("nothing was deleted: kelvaston-reg never prompts, so add /f to delete " +
                      what);
    }

    // What is deleted is read first, so that a deletion that fails half-way can be put back.
    std::string unstorable;
    const Status read = wholeKey ? change.Guard().WillDelete(spec.path, &unstorable)
                        : command.allValues
                            ? change.Guard().WillChangeValues(spec.path)
                            : change.Guard().WillChangeValue(spec.path, *command.valueName, true);
    if (read == error::kNoUnicodeTranslation) {
        throw Failure("cannot delete " + what + ": " +
                      (unstorable.empty() ? std::string("the value name")
                                          : "the key " + FullPath({unstorable})) +
                      " holds a character this computer's registry cannot handle by name; nothing "
                      "was deleted");
    }
    if (read != error::kSuccess) {
        throw Failure("cannot read " + spec.Display() +
                      " before deleting it: " + Reason(api, read) + "; nothing was deleted");
    }
    std::vector<std::string> names;
    if (command.allValues) {
        for (auto& value : ReadValues(api, key.Get(), spec.Display()))
            names.push_back(std::move(value.name));
    }
    change.Writing();
    Status status = error::kSuccess;
    if (wholeKey) {
        key.Reset();
        status = DeleteTree(api, session.Root(), Join(spec.path));
    } else if (command.allValues) {
        // The last first: a value taken from the end of a key's list moves none of the others.
        for (auto name = names.rbegin(); status == error::kSuccess && name != names.rend(); ++name)
            status = api.DeleteValue(key.Get(), *name);
    } else {
        status = api.DeleteValue(key.Get(), *command.valueName);
    }
    key.Reset();
    if (status != error::kSuccess) {
        const std::string reason = Reason(api, status);
        throw Failure("cannot delete " + what + ": " + reason + change.Undo("nothing was deleted"));
    }
    change.Commit("nothing was deleted");
    out << kDone << "\n";
    return 0;
}

std::string_view DeleteUsage() {
    return R"(  kelvaston-reg delete KEY [/v NAME | /ve | /va] /f
      Deletes KEY with everything below it, or the value NAME (/v), the default value
      (/ve) or all values of KEY (/va).

)";
}

}  // namespace kelvaston::tools::detail
