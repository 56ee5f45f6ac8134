// The file store's first promise as a property: whatever sequence of registry calls succeeds,
// the file it then writes reads back as exactly the tree it holds, and a call it refuses
// changes nothing. Shared by the fuzzer that drives it (store_calls_fuzzer.cpp) and the test
// that runs it on seeded random sequences in every build (regressions_test.cpp).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvaston::fuzz {

// Runs the calls that `choices` picks (creating keys and setting, deleting and flushing values
// and keys, with names and data that a .reg file can and cannot hold: line breaks, NULs, text
// that is not UTF-8, odd byte counts, names at and past the length limits, paths at and past
// the depth limit) against a store in `folder` (emptied first). Checks after every call: a call
// whose names and data fit succeeds, one whose do not fails with the registry's error and
// leaves the tree as it was, a value set reads back byte for byte; after every flush, a second
// store reading the file sees the same tree. Empty when all hold, else what did not.
std::string CheckStoreCalls(std::string_view choices, const std::filesystem::path& folder);

}  // namespace kelvaston::fuzz
