// Replacing a file as a whole. The new content goes to a temporary file beside the old one,
// reaches the disk, and only then takes the old file's place by a rename: a reader sees the old
// file or the new one, never a part of either, and a failure at any step (a full disk, a
// read-only folder) leaves the old file as it was. The new file is its owner's only (0600 on
// POSIX) whatever the old file's mode, a link's target's mode or the umask: Kelvaston's files
// hold passwords.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kelvaston::platform {

class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path file);
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

    // The start of the names of the temporary files made for `file`: whoever holds the lock
    // that writers of `file` take may remove those that a killed writer left behind.
    static std::string TemporaryPrefix(const std::filesystem::path& file);

private:
    bool Fail(std::error_code error);

    std::filesystem::path file_;
    std::filesystem::path temporary_;
    std::error_code error_;
    std::intptr_t handle_ = -1;  // a file descriptor, or a Windows HANDLE
    bool open_ = false;
    bool committed_ = false;
};

}  // namespace kelvaston::platform
