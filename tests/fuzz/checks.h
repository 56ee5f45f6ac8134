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
// takes a few of the calls CheckStoreCalls makes, picked by its own bytes, below a key of their
// own, under the same checks; the keys and values the file held beside it must read back as
// they were.
std::string CheckStoreFile(std::string_view bytes, const std::filesystem::path& folder);

// The file store's first promise as a property. The bytes pick a sequence of calls (creating
// keys, setting values as text and as bytes, deleting keys and values, flushing) with names and
// data a .reg file can and cannot hold: line breaks, NULs, text that is not UTF-8, odd byte
// counts, names at and past the length limits, paths at and past the depth limit, names equal
// but for case. A model of the registry kept here, with the case classes of the names written
// out by hand, says what each call owes: its status, and the whole tree afterwards as the
// registry's own enumeration calls list it (names as first given, subkeys in the registry's
// order, values in the order set). After every flush a second store reading the file must list
// the model's tree. The store lives in `folder` (emptied first).
std::string CheckStoreCalls(std::string_view choices, const std::filesystem::path& folder);

}  // namespace kelvaston::fuzz
