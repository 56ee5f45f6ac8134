// Replays the inputs the fuzzers found faults with (tests/fuzz/regressions) and their seed corpus
// through the fuzzers' own checks, so a fault once fixed stays fixed without clang or libFuzzer;
// and runs the store's calls on seeded random sequences.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "checks.h"
#include "support/temp_dir.h"

namespace kelvaston::fuzz {
namespace {

TEST(FuzzRegressions, EveryKeptInputAndSeedPassesTheFuzzersChecks) {
    kelvaston::test::TempDir dir;
    for (const std::filesystem::path folder : {KELVASTON_FUZZ_REGRESSIONS, KELVASTON_FUZZ_CORPUS}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == ".md") continue;
            SCOPED_TRACE(entry.path().filename().string());
            const std::string bytes = kelvaston::test::ReadFile(entry.path());
            EXPECT_EQ(CheckRoundTrip(bytes) + CheckStoreFile(bytes, dir / "store"), "");
        }
    }
}

// A fixed seed and a few hundred sequences here; KELVASTON_PROPERTY_CASES runs more.
TEST(StoreCalls, WhatSucceedsReadsBackFromTheFileAndWhatIsRefusedChangesNothing) {
    kelvaston::test::TempDir dir(kelvaston::test::TempDir::FastBase());
    std::mt19937 random(2026);
    const char* cases = std::getenv("KELVASTON_PROPERTY_CASES");
    for (int n = 1, count = cases != nullptr ? std::atoi(cases) : 200; n <= count; ++n) {
        std::string choices(300, '\0');
        for (char& c : choices) c = static_cast<char>(random());
        ASSERT_EQ(CheckStoreCalls(choices, dir / "store"), "") << "sequence " << n;
    }
}

}  // namespace
}  // namespace kelvaston::fuzz
