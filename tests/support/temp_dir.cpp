#include "support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kelvaston::test {

namespace fs = std::filesystem;

TempDir::TempDir() : TempDir(FastBase()) {}

fs::path TempDir::FastBase() {
    std::error_code ec;
    const auto status = fs::status("/dev/shm", ec);
    const auto writable = fs::perms::others_write | fs::perms::owner_write;
    const bool usable =
        !ec && fs::is_directory(status) && (status.permissions() & writable) == writable;
    return usable ? fs::path("/dev/shm") : fs::temp_directory_path();
}

TempDir::TempDir(const fs::path& base) {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto candidate = base / ("kelvaston-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
    fs::permissions(
        path_, fs::perms::owner_all);  // a store folder is its owner's alone, whatever the umask
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, ec);
    fs::remove_all(path_, ec);
}

std::string ReadFile(const fs::path& file) {
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    // As the store's own files: readable and writable by their owner only.
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace kelvaston::test
