// The checks the fuzzers run on every input (fuzzer.cpp), shared with the test that replays the
// inputs they found and runs the store's calls on seeded random sequences (regressions_test.cpp).
// Each returns an empty text when the input passes, else what went wrong; a crash inside is a
// failure of its own.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvaston::fuzz {

// Parses the bytes as a .reg file. When they parse, writes the document's keys and values with
// the Writer, in UTF-8 and in UTF-16LE, and parses each result: it must give the same keys and
// values in the same order (deletions have no written form), and writing it again the same bytes.
std::string CheckRoundTrip(std::string_view bytes);

// The bytes as the store file of computer "FUZZ" in `folder` (emptied first). A file the store
// cannot load stays byte for byte as it was, even after a change was attempted. A file it loads
// takes a few of the calls CheckStoreCalls makes, picked by its own bytes, under the same checks.
std::string CheckStoreFile(std::string_view bytes, const std::filesystem::path& folder);

// The file store's first promise as a property. The bytes pick a sequence of calls (creating
// keys, setting values as text and as bytes, deleting keys and values, flushing) with names and
// data a .reg file can and cannot hold: line breaks, NULs, text that is not UTF-8, odd byte
// counts, names at and past the length limits, paths at and past the depth limit. After every
// call: a call whose names and data fit succeeds, one whose do not fails with the registry's
// error and leaves the tree as it was, a value set reads back byte for byte; after every flush,
// a second store reading the file sees the same tree. The store lives in `folder` (emptied first).
std::string CheckStoreCalls(std::string_view choices, const std::filesystem::path& folder);

}  // namespace kelvaston::fuzz
