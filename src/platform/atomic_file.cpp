#include "platform/atomic_file.h"

#ifdef _WIN32
#include "platform/windows_headers.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kelvaston::platform {
namespace {

std::error_code LastError() {
#ifdef _WIN32
    return {static_cast<int>(GetLastError()), std::system_category()};
#else
    return {errno, std::generic_category()};
#endif
}

class AtomicFileCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "kelvaston.atomic_file"; }
    std::string message(int /*condition*/) const override {
        return "it is not a regular file, and only a regular file is replaced";
    }
};

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path file, Links links)
    : file_(std::move(file)), links_(links) {}

std::error_code AtomicFile::NotARegularFile() {
    static const AtomicFileCategory category;
    return {1, category};
}

std::filesystem::path AtomicFile::FollowLinks(const std::filesystem::path& file,
                                              std::error_code* error) {
    error->clear();
    std::filesystem::path at = file;
    for (int links = 0; links <= 40; ++links) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(at, ec))) return at;
        const std::filesystem::path next = std::filesystem::read_symlink(at, ec);
        if (ec) {
            *error = ec;
            return at;
        }
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    *error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return at;
}

bool AtomicFile::ChooseTarget() {
    target_ = file_;
    if (links_ == Links::WriteThrough) {
        std::error_code ec;
        target_ = FollowLinks(file_, &ec);
        if (ec) return Fail(ec);
    }
    return PlaceIsReplaceable();
}

bool AtomicFile::PlaceIsReplaceable() {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(target_, ec);
    if (ec && status.type() != std::filesystem::file_type::not_found) return Fail(ec);
    switch (status.type()) {
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::regular: return true;
        case std::filesystem::file_type::symlink:
            if (links_ == Links::Replace) return true;
            break;
        default: break;
    }
    return Fail(NotARegularFile());
}

std::string AtomicFile::TemporaryPrefix(const std::filesystem::path& file) {
    return "." + file.filename().string() + ".tmp-";
}

bool AtomicFile::Fail(std::error_code error) {
    if (!error_) error_ = error;
    return false;
}

#ifdef _WIN32

AtomicFile::~AtomicFile() {
    if (open_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    if (!temporary_.empty() && !committed_) DeleteFileW(temporary_.c_str());
}

bool AtomicFile::Open() {
    if (!ChooseTarget()) return false;
    temporary_ =
        target_.parent_path() / (TemporaryPrefix(target_) + std::to_string(GetCurrentProcessId()));
    HANDLE handle = CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        temporary_.clear();
        return Fail(LastError());
    }
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    open_ = true;
    return true;
}

bool AtomicFile::Write(std::string_view bytes) {
    if (!open_ || error_) return false;
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle_), bytes.data(), chunk, &written, nullptr)) {
            return Fail(LastError());
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool AtomicFile::Commit() {
    if (!open_ || error_) return false;
    const bool flushed = FlushFileBuffers(reinterpret_cast<HANDLE>(handle_)) != 0;
    if (!flushed) Fail(LastError());
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    open_ = false;
    if (!flushed || !PlaceIsReplaceable()) return false;
    if (!MoveFileExW(temporary_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Fail(LastError());
    }
    committed_ = true;
    return true;
}

#else

AtomicFile::~AtomicFile() {
    if (open_) ::close(static_cast<int>(handle_));
    if (!temporary_.empty() && !committed_) ::unlink(temporary_.c_str());
}

bool AtomicFile::Open() {
    if (!ChooseTarget()) return false;
    temporary_ = target_.parent_path() / (TemporaryPrefix(target_) + std::to_string(::getpid()));
    // A file of that name is a leftover of a writer with the same process id: never followed
    // if it is a link, never reused with its mode.
    ::unlink(temporary_.c_str());
    const int fd =
        ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        temporary_.clear();
        return Fail(LastError());
    }
    handle_ = fd;
    open_ = true;
    // The umask may have taken the owner's rights away; nobody else gets any.
    if (::fchmod(fd, 0600) != 0) return Fail(LastError());
    return true;
}

bool AtomicFile::Write(std::string_view bytes) {
    if (!open_ || error_) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(LastError());
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool AtomicFile::Commit() {
    if (!open_ || error_) return false;
    const int fd = static_cast<int>(handle_);
    if (::fsync(fd) != 0) Fail(LastError());
    if (::close(fd) != 0) Fail(LastError());
    open_ = false;
    if (error_) return false;
    // Looked at again right before the rename: what is there now is what would be replaced.
    if (!PlaceIsReplaceable()) return false;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail(LastError());
    committed_ = true;
    // The rename is durable once the folder itself is synced.
    const auto folder =
        target_.parent_path().empty() ? std::filesystem::path(".") : target_.parent_path();
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

#endif

}  // namespace kelvaston::platform
