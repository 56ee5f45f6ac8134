#include "support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kelvaston::test {

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path()) {}

std::filesystem::path TempDir::FastBase() {
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    const auto status = std::filesystem::status(shm, ec);
    const auto writable = std::filesystem::perms::others_write | std::filesystem::perms::owner_write;
    if (!ec && std::filesystem::is_directory(status) && (status.permissions() & writable) == writable) return shm;
    return std::filesystem::temp_directory_path();
}

TempDir::TempDir(const std::filesystem::path& base) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("kelvaston-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            // A store folder must be its owner's alone, whatever the umask.
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all);
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    // As the store's own files: readable and writable by their owner only.
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace kelvaston::test
