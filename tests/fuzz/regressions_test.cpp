// Replays the inputs the fuzzers found faults with (tests/fuzz/regressions) and their seed corpus
// through the fuzzers' own checks, so a fault once fixed stays fixed without clang or libFuzzer;
// and runs the store's calls on seeded random sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>

#include "checks.h"
#include "support/temp_dir.h"

namespace kelvaston::fuzz {
namespace {

// A file ending in .calls picks registry calls (store_calls_fuzzer); any other is a .reg file or
// a store file (reg_file_fuzzer, store_file_fuzzer). An empty regressions folder fails: the loop
// would then check nothing.
TEST(FuzzRegressions, EveryKeptInputAndSeedPassesTheFuzzersChecks) {
    kelvaston::test::TempDir dir;
    for (const std::filesystem::path folder : {KELVASTON_FUZZ_REGRESSIONS, KELVASTON_FUZZ_CORPUS}) {
        int replayed = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == ".md") continue;
            SCOPED_TRACE(entry.path().filename().string());
            // In a buffer of exactly their size, as libFuzzer passes them: a read one byte past
            // the end then reaches no string's terminating NUL but memory the address sanitizer
            // (preset "sanitize") guards.
            const std::string file = kelvaston::test::ReadFile(entry.path());
            const auto buffer = std::make_unique<char[]>(file.size());
            std::copy(file.begin(), file.end(), buffer.get());
            const std::string_view bytes(buffer.get(), file.size());
            EXPECT_EQ(entry.path().extension() == ".calls"
                          ? CheckStoreCalls(bytes, dir / "store")
                          : CheckRoundTrip(bytes) + CheckStoreFile(bytes, dir / "store"),
                      "");
            ++replayed;
        }
        EXPECT_GT(replayed, 0) << "no inputs in " << folder;
    }
}

// A fixed seed and a few hundred sequences here; KELVASTON_PROPERTY_CASES runs more.
TEST(StoreCalls, WhatSucceedsReadsBackFromTheFileAndWhatIsRefusedChangesNothing) {
    kelvaston::test::TempDir dir;
    std::mt19937 random(2026);
    const char* cases = std::getenv("KELVASTON_PROPERTY_CASES");
    for (int n = 1, count = cases != nullptr ? std::atoi(cases) : 100; n <= count; ++n) {
        std::string choices(300, '\0');
        for (char& c : choices) c = static_cast<char>(random());
        ASSERT_EQ(CheckStoreCalls(choices, dir / "store"), "") << "sequence " << n;
    }
}

}  // namespace
}  // namespace kelvaston::fuzz
