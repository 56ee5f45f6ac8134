// export: writes a key and everything below it to a .reg file, or into a device or fifo.
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "messages.h"
#include "platform/atomic_file.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "session.h"
#include "verbs.h"
#ifndef _WIN32
#include "platform/file_store.h"
#endif

namespace kelvaston::tools::detail {

using namespace platform;

namespace {

// Writes a key and everything below it, parents first.
void AddTree(regfile::Writer& writer, const std::string& path, const KeyTree& tree) {
    std::vector<std::pair<std::string, const KeyTree*>> pending{{path, &tree}};
    while (!pending.empty()) {
        auto [where, key] = std::move(pending.back());
        pending.pop_back();
        writer.AddKey(where, key->values);
        for (auto child = key->children.rbegin(); child != key->children.rend(); ++child) {
            pending.emplace_back(where + "\\" + child->name, &*child);
        }
    }
}

#ifndef _WIN32
// The folders whose files only the file store writes: the one of the store behind `api`, and
// the one the program uses by default.
std::vector<std::filesystem::path> StoreFolders(RegistryApi& api) {
    std::vector<std::filesystem::path> folders{FileStoreRegistry::DefaultFolder()};
    if (const auto* store = dynamic_cast<const FileStoreRegistry*>(&api))
        folders.push_back(store->Folder());
    return folders;
}

// Whether `file` is in `folder` or below it: as it is named, or where its links lead.
bool InFolder(const std::filesystem::path& file, const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return false;
    std::vector<fs::path> places{fs::absolute(file, ec).lexically_normal()};
    if (fs::path real = fs::weakly_canonical(file, ec); !ec) places.push_back(std::move(real));
    std::error_code linkError;
    places.push_back(
        fs::absolute(AtomicFile::FollowLinks(file, &linkError), ec).lexically_normal());
    for (const auto& place : places) {
        for (fs::path at = place.parent_path(); !at.empty(); at = at.parent_path()) {
            if (fs::equivalent(at, folder, ec)) return true;
            if (at == at.parent_path()) break;
        }
    }
    return false;
}
#endif

// Writes into a character device or a fifo as a shell's redirection does: there is no file to
// replace, so no temporary file and no rename, and nothing is truncated or created.
std::error_code WriteInto(const std::filesystem::path& device, std::string_view bytes) {
#ifdef _WIN32
    std::ofstream stream(device, std::ios::binary | std::ios::app);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    stream.flush();
    return stream ? std::error_code() : std::make_error_code(std::errc::io_error);
#else
    const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {errno, std::generic_category()};
    std::error_code result;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = {errno, std::generic_category()};
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0 && !result) result = {errno, std::generic_category()};
    return result;
#endif
}

}  // namespace

int Export(const Command& command, RegistryApi& api, std::ostream& out) {
    namespace fs = std::filesystem;
    const KeySpec spec = ParseKey(command.operands[0]);
    const std::string& file = command.operands[1];
    const fs::path path = PathFromUtf8(file);
#ifndef _WIN32
    // The store's own files (its .reg files, their temporary files and whatever else it keeps
    // in its folder) are written by the store alone: an export over one would replace a whole
    // registry with one key of it.
    for (const auto& folder : StoreFolders(api)) {
        if (InFolder(path, folder)) {
            throw Failure("refusing to write " + Shown(file) +
                          ": it is in the registry's store folder " + folder.string() +
                          ", whose files only the registry itself writes; nothing was written "
                          "(export to a file elsewhere)");
        }
    }
#endif
    // What FILE is, its links followed by the system (also those such as /dev/stdout that lead
    // to no path). A regular file is replaced as a whole, and only with /y. A character device
    // or a fifo is written into as a shell's redirection would, without /y: nothing is replaced
    // there, and a backup piped on (/dev/stdout) or thrown away (/dev/null) is of use; replacing
    // one with a regular file, as a rename would, is never done. Anything else is refused.
    std::error_code ec;
    const fs::file_type type = fs::status(path, ec).type();
    bool stream = false;
    switch (type) {
        case fs::file_type::regular:
            if (!command.overwriteFile) {
                throw Failure("the file " + file +
                              " already exists; nothing was written (add /y to overwrite it)");
            }
            break;
        case fs::file_type::character:
        case fs::file_type::fifo: stream = true; break;
        case fs::file_type::directory:
            throw Failure(Shown(file) +
                          " is a folder; nothing was written (name a file to export to)");
        case fs::file_type::not_found:
        case fs::file_type::none:  // cannot be looked at: writing it says why
            break;
        default:
            throw Failure(Shown(file) +
                          " is neither a regular file nor a character device or fifo; nothing was "
                          "written (name a file to export to)");
    }

    Session session(api, spec.computer);
    KeyHandle key(api);
    session.Open(spec, kKeyRead, key);
    const std::vector<std::string> names = session.StoredNames(spec.path);
    KeyTree tree;
    if (const Status status =
            ReadTree(api, key.Get(), names.empty() ? std::string(kRootName) : names.back(), &tree);
        status != error::kSuccess) {
        throw Failure("cannot read " + spec.Display() + ": " + Reason(api, status));
    }

    regfile::Writer writer(regfile::Encoding::Utf16LeBomCrlf);
    if (names.empty()) {
        // HKEY_LOCAL_MACHINE itself: its own line only when it holds values.
        if (!tree.values.empty()) writer.AddKey(kRootName, tree.values);
        for (const auto& child : tree.children) AddTree(writer, FullPath({child.name}), child);
    } else {
        AddTree(writer, FullPath(names), tree);
    }
    const std::string bytes = writer.Finish();

    if (stream) {
        if (const std::error_code failure = WriteInto(path, bytes)) {
            throw Failure("cannot write into " + Shown(file) + ": " + failure.message());
        }
        // No line of its own after it: the stream may be the tool's own output (/dev/stdout
        // into a pipe), where it would end up after the file's last line. The exit status says
        // that it worked.
        return 0;
    }
    // A backup holds passwords: it is written as the store writes its files, whole or not at
    // all, and readable by its owner only. A link is written through: the file it leads to is
    // replaced, and the link stays.
    AtomicFile backup(path, AtomicFile::Links::WriteThrough);
    if (!backup.Open() || !backup.Write(bytes) || !backup.Commit()) {
        throw Failure(
            "cannot write the file " + Shown(file) + ": " + backup.Error().message() +
            (fs::exists(path, ec) ? "; the file is left as it was" : "; nothing was written"));
    }
    out << kDone << "\n";
    return 0;
}

std::string_view ExportUsage() {
    return R"(  kelvaston-reg export KEY FILE [/y]
      Writes KEY and everything below it to FILE in the format regedit imports
      (version 5.00, UTF-16LE). A file is replaced whole, and a link is written through
      to its file; a character device or fifo (/dev/stdout) is written into. A folder,
      and the registry's own files, are never written.

)";
}

}  // namespace kelvaston::tools::detail
