// libFuzzer targets on the file store. store_file_fuzzer: arbitrary bytes as a store file,
// loaded, enumerated, changed, flushed and read again; the store must never crash and never
// write over a file it could not load. store_calls_fuzzer (built from this file with
// KELVASTON_FUZZ_CALLS): the bytes choose a sequence of registry calls, and whatever succeeds
// must read back from the file the store writes. Each process works in a folder of its own, on
// tmpfs when there is one (every flush fsyncs), removed at exit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "reg_file_checks.h"
#include "store_call_checks.h"

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
#ifdef KELVASTON_FUZZ_CALLS
    const std::string failed = kelvaston::fuzz::CheckStoreCalls(bytes, Folder() / "store");
#else
    const std::string failed = kelvaston::fuzz::CheckStoreFile(bytes, Folder() / "store");
#endif
    if (!failed.empty()) {
        std::fprintf(stderr, "store fuzzer: %s\n", failed.c_str());
        std::abort();
    }
    return 0;
}
