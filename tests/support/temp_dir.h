// A fresh folder, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <string>

namespace kelvaston::test {

class TempDir {
public:
    // Below FastBase(): the stores write their file whole, with an fsync, at every change, and
    // on a tmpfs that costs nothing; no test can see what an fsync did anyway.
    TempDir();
    explicit TempDir(const std::filesystem::path& base);
    // /dev/shm where it can be written, else the system's temporary folder.
    static std::filesystem::path FastBase();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace kelvaston::test
