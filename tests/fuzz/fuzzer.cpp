// libFuzzer targets, one check each (checks.h): reg_file_fuzzer (KELVASTON_FUZZ_TARGET 1, the .reg
// reader and writer), store_file_fuzzer (2, the bytes as a store file) and store_calls_fuzzer (3,
// the bytes pick registry calls). A failed check aborts with its reason, so libFuzzer keeps the
// input. Each process works in a folder of its own, on tmpfs when there is one (every flush
// fsyncs), removed at exit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "checks.h"

static std::filesystem::path folder;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    const std::filesystem::path base =
        ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path();
    folder = base / ("kelvaston-fuzz-" + std::to_string(::getpid()));
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string failed = KELVASTON_FUZZ_TARGET == 1 ? kelvaston::fuzz::CheckRoundTrip(bytes)
                               : KELVASTON_FUZZ_TARGET == 2
                                   ? kelvaston::fuzz::CheckStoreFile(bytes, folder / "store")
                                   : kelvaston::fuzz::CheckStoreCalls(bytes, folder / "store");
    if (!failed.empty()) {
        std::fprintf(stderr, "fuzzer: %s\n", failed.c_str());
        std::abort();
    }
    return 0;
}
