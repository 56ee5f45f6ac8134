// libFuzzer target: the .reg reader on arbitrary bytes, the round trip of what it reads through
// the Writer in both encodings, and the text helpers. A failed check aborts with its reason, so
// libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "reg_file_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const std::string& failed : {kelvaston::fuzz::CheckRoundTrip(bytes), kelvaston::fuzz::CheckTextHelpers(bytes)}) {
        if (!failed.empty()) {
            std::fprintf(stderr, "reg_file_fuzzer: %s\n", failed.c_str());
            std::abort();
        }
    }
    return 0;
}
