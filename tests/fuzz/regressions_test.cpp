// Replays the inputs the fuzzers found faults with (tests/fuzz/regressions) and their seed corpus
// through the fuzzers' own checks, so a fault once fixed stays fixed without clang or libFuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "reg_file_checks.h"
#include "store_call_checks.h"
#include "support/temp_dir.h"

namespace kelvaston::fuzz {
namespace {

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void ReplayAll(const std::filesystem::path& folder) {
    kelvaston::test::TempDir dir;
    for (const auto& file : Inputs(folder)) {
        SCOPED_TRACE(file.filename().string());
        const std::string bytes = kelvaston::test::ReadFile(file);
        EXPECT_EQ(CheckRoundTrip(bytes), "");
        EXPECT_EQ(CheckTextHelpers(bytes), "");
        EXPECT_EQ(CheckStoreFile(bytes, dir / "store"), "");
    }
}

TEST(FuzzRegressions, EveryKeptInputPassesTheFuzzersChecks) { ReplayAll(KELVASTON_FUZZ_REGRESSIONS); }

TEST(FuzzRegressions, EverySeedPassesTheFuzzersChecks) {
    ASSERT_GE(Inputs(KELVASTON_FUZZ_CORPUS).size(), 5u);
    ReplayAll(KELVASTON_FUZZ_CORPUS);
}

// The store's round trip on seeded random call sequences; KELVASTON_PROPERTY_CASES runs more.
TEST(StoreCalls, WhatSucceedsReadsBackFromTheFileAndWhatIsRefusedChangesNothing) {
    const char* cases = std::getenv("KELVASTON_PROPERTY_CASES");
    const int count = cases != nullptr ? std::atoi(cases) : 100;
    kelvaston::test::TempDir dir(kelvaston::test::TempDir::FastBase());
    for (int seed = 1; seed <= count; ++seed) {
        std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
        std::string choices(300, '\0');
        for (char& c : choices) c = static_cast<char>(random());
        ASSERT_EQ(CheckStoreCalls(choices, dir / "store"), "") << "seed " << seed;
    }
}

// The checks themselves must notice what they are there for.
TEST(FuzzRegressions, TheStoreCheckNoticesAFileThatParsesButDoesNotLoad) {
    // Parses, but a store file holds HKEY_LOCAL_MACHINE only: the store must refuse it untouched.
    const std::string other = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"a\"=\"b\"\n";
    kelvaston::test::TempDir dir;
    EXPECT_EQ(CheckStoreFile(other, dir / "store"), "");
    EXPECT_EQ(kelvaston::test::ReadFile(dir / "store" / "FUZZ.reg"), other);
}

}  // namespace
}  // namespace kelvaston::fuzz
