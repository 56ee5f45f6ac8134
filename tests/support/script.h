// Test scripts kept in text files: each case a list of lines, each line a verb and what it is
// given, read strictly (a line the reader does not know fails its case) and run by a test of
// their own that knows the verbs, not the cases.
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kelvaston::test {

struct ScriptStep {
    std::string where;  // "FILE:LINE: text", for failure messages
    std::string verb, rest;
};
struct ScriptCase {
    std::string name, problem;  // problem: where the first line not understood stands
    std::vector<ScriptStep> steps;
};
inline void PrintTo(const ScriptCase& script, std::ostream* out) {
    *out << script.name;
}
// The texts of "let" and "config" lines, by name.
using ScriptNames = std::map<std::string, std::string>;

// Reads `path`: blank lines and '#' comments; "let NAME = TEXT"; "config NAME", its lines, "end";
// "case NAME" and the lines of that case, each starting with one of `verbs`. In each line
// ${NAME} stands for the named text (a configuration without its last line break), {N*TEXT} for
// N times TEXT, and a line with {FIRST..LAST} in it for a copy of it for each number from FIRST
// to LAST in its place (in every range of the line), a line of its own, with \n in it a line
// break. A file that is missing or holds no case, an unknown name or verb make a case that fails.
std::vector<ScriptCase> ReadScript(const std::string& path, const std::vector<std::string>& verbs,
                                   ScriptNames& names);

// "TEXT" with \n, \t, \0, \\ and \" in it as in C; nothing when `quoted` is not in quotes.
std::optional<std::string> Unquote(const std::string& quoted);

std::vector<std::string> Split(const std::string& text, char at);

// A case's name as a test's name: letters and digits, the rest '_'.
std::string TestName(const ScriptCase& script);

}  // namespace kelvaston::test
