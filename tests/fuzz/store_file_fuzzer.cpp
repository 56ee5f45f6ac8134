// libFuzzer target: arbitrary bytes as a store file, loaded, enumerated, changed, flushed and
// read again through the file store. The store must never crash and never write over a file it
// could not load. Each process works in a folder of its own, on tmpfs when there is one (every
// flush fsyncs), removed at exit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "reg_file_checks.h"

namespace {

std::filesystem::path& Folder() {
    static std::filesystem::path folder;
    return folder;
}

void RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0) {
        base = std::filesystem::temp_directory_path();
    }
    Folder() = base / ("kelvaston-store-fuzz-" + std::to_string(::getpid()));
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const std::string failed = kelvaston::fuzz::CheckStoreFile(bytes, Folder() / "store"); !failed.empty()) {
        std::fprintf(stderr, "store_file_fuzzer: %s\n", failed.c_str());
        std::abort();
    }
    return 0;
}
