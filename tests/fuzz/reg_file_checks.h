// The checks the fuzzers run on every input, shared with the test that replays the inputs they
// found (regressions_test.cpp). Each returns an empty text when the input passes, else what went
// wrong; a crash inside is a failure of its own.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvaston::fuzz {

// Parses the bytes as a .reg file. When they parse, writes the document's keys and values with
// the Writer, in UTF-8 and in UTF-16LE, and parses each result: it must give the same keys and
// values in the same order (deletions have no written form and are left out), and writing it
// again must give the same bytes.
std::string CheckRoundTrip(std::string_view bytes);

// The text helpers on arbitrary bytes: SplitKeyPath, FoldCase, and the UTF-16, UTF-8 and
// Windows-1252 conversions.
std::string CheckTextHelpers(std::string_view bytes);

// The bytes as the store file of computer "FUZZ" in `folder` (emptied first). When the store
// cannot load the file, the file must stay byte for byte as it was, even after a change was
// attempted. When it loads, the whole tree is read through the registry interface, a key and a
// value are added and flushed, and a second store reading the file must see the same tree;
// removing the key again must give the first tree back.
std::string CheckStoreFile(std::string_view bytes, const std::filesystem::path& folder);

}  // namespace kelvaston::fuzz
