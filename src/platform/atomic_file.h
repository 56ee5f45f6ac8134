// Replacing a file as a whole. The new content goes to a temporary file beside the old one,
// reaches the disk, and only then takes the old file's place by a rename: a reader sees the old
// file or the new one, never a part of either, and a failure at any step (a full disk, a
// read-only folder) leaves the old file as it was. The new file is its owner's only (0600 on
// POSIX) whatever the old file's mode, a link's target's mode or the umask: Kelvaston's files
// hold passwords.
//
// Only a regular file is ever replaced. A folder, a device, a fifo or a socket at the file's
// place makes Open() and Commit() fail with NotARegularFile(), and nothing is written. A
// symbolic link there is replaced itself (Links::Replace, the store's own files, which it reads
// as they are) or written through (Links::WriteThrough, a file the user names): then the link's
// final target is replaced as above, and the link stays as it was.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kelvaston::platform {

class AtomicFile {
public:
    // What a symbolic link at the file's place stands for.
    enum class Links {
        Replace,       // the link is replaced by the new file
        WriteThrough,  // the file the link leads to (through any further links) is replaced
    };

    explicit AtomicFile(std::filesystem::path file, Links links = Links::Replace);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file. Each step returns false once anything failed; Error() then
    // says why.
    bool Open();
    bool Write(std::string_view bytes);
    // Makes the content durable and puts it in the old file's place.
    bool Commit();

    const std::error_code& Error() const { return error_; }
    const std::filesystem::path& File() const { return file_; }
    // The file that is replaced: File(), or with Links::WriteThrough the end of its links. Set
    // by Open().
    const std::filesystem::path& Target() const { return target_; }

    // The error for a place that holds something other than a regular file (or link).
    static std::error_code NotARegularFile();
    // Where the symbolic links starting at `file` lead: `file` itself when it is no link. A
    // chain of more than 40 links fails (too_many_symbolic_link_levels), as the system's does.
    static std::filesystem::path FollowLinks(const std::filesystem::path& file,
                                             std::error_code* error);

    // The start of the names of the temporary files made for `file`: whoever holds the lock
    // that writers of `file` take may remove those that a killed writer left behind.
    static std::string TemporaryPrefix(const std::filesystem::path& file);

private:
    bool Fail(std::error_code error);

    // Sets the file to replace, File() or the end of its links, and checks that it may be.
    bool ChooseTarget();
    // Whether the place may be replaced: nothing there, a regular file, or a link to replace.
    bool PlaceIsReplaceable();

    std::filesystem::path file_;
    Links links_;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::error_code error_;
    std::intptr_t handle_ = -1;  // a file descriptor, or a Windows HANDLE
    bool open_ = false;
    bool committed_ = false;
};

}  // namespace kelvaston::platform
