#include "support/script.h"

#include <algorithm>
#include <fstream>
#include <optional>

namespace kelvaston::test {
namespace {

// The digits of `text` at `at` as a number, `at` moved past them; none when there are none.
std::optional<int> Number(const std::string& text, std::size_t& at) {
    const std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == start || at - start > 6) return std::nullopt;
    return std::stoi(text.substr(start, at - start));
}

// One pass over `text`: ${NAME} becomes what the name stands for (which is not read again), and
// {N*TEXT} TEXT N times. Then a line with {FIRST..LAST} in it stands for a line for each
// number from FIRST to LAST in its place, with \n in it a line break.
std::string Expand(const std::string& text, const ScriptNames& names, bool* unknown) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t close = text.find('}', at);
        if (text.compare(at, 2, "${") == 0 && close != std::string::npos) {
            const auto found = names.find(text.substr(at + 2, close - at - 2));
            if (found == names.end()) {
                *unknown = true;
            } else {
                out += found->second.substr(0, found->second.find_last_not_of('\n') + 1);
            }
            at = close + 1;
            continue;
        }
        std::size_t digits = at + 1;
        const std::optional<int> times = text[at] == '{' ? Number(text, digits) : std::nullopt;
        if (times && digits < text.size() && text[digits] == '*' && close != std::string::npos) {
            for (int i = 0; i < *times; ++i) out += text.substr(digits + 1, close - digits - 1);
            at = close + 1;
            continue;
        }
        out += text[at++];
    }
    // Where a {FIRST..LAST} stands at `open`: its numbers and the place after it.
    struct Range {
        int first, last;
        std::size_t end;
    };
    const auto rangeAt = [&out](std::size_t open) -> std::optional<Range> {
        std::size_t at = open + 1;
        const std::optional<int> first = Number(out, at);
        if (!first || out.compare(at, 2, "..") != 0) return std::nullopt;
        at += 2;
        const std::optional<int> last = Number(out, at);
        if (!last || at >= out.size() || out[at] != '}') return std::nullopt;
        return Range{*first, *last, at + 1};
    };
    std::optional<Range> range;
    for (std::size_t open = out.find('{'); !range && open != std::string::npos;
         open = out.find('{', open + 1))
        range = rangeAt(open);
    if (!range) return out;
    std::string lines;
    for (int i = range->first; i <= range->last; ++i) {
        std::string one;
        for (std::size_t at = 0; at < out.size();) {
            const std::optional<Range> here = out[at] == '{' ? rangeAt(at) : std::nullopt;
            if (here) {
                one += std::to_string(i);
                at = here->end;
            } else if (out.compare(at, 2, "\\n") == 0) {
                one += '\n';
                at += 2;
            } else {
                one += out[at++];
            }
        }
        lines += one + (i < range->last ? "\n" : "");
    }
    return lines;
}

}  // namespace

std::vector<ScriptCase> ReadScript(const std::string& path, const std::vector<std::string>& verbs,
                                   ScriptNames& names) {
    std::ifstream file(path);
    std::vector<ScriptCase> cases;
    std::string config, line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string table = "table line " + std::to_string(number);
        if (config.empty() && (line.empty() || line.starts_with('#'))) continue;
        bool unknown = false;
        const std::string text = Expand(line, names, &unknown);
        const std::string word = line.substr(0, line.find(' '));
        const std::string rest = line.substr(std::min(line.size(), word.size() + 1));
        if (unknown) {
            cases.push_back({table, where + "unknown name in " + line, {}});
        } else if (!config.empty()) {
            names[config] += line == "end" ? "" : text + "\n";
            if (line == "end") config.clear();
        } else if (word == "let" && rest.find(" = ") != std::string::npos) {
            names[rest.substr(0, rest.find(" = "))] = text.substr(text.find(" = ") + 3);
        } else if (word == "config" && !rest.empty()) {
            config = rest;
            names[config].clear();
        } else if (word == "case") {
            cases.push_back({rest, "", {}});
        } else if (cases.empty() || std::ranges::find(verbs, word) == verbs.end()) {
            cases.push_back({table, where + line, {}});
        } else {
            for (const std::string& one : Split(text, '\n')) {
                const std::size_t space = std::min(one.find(' '), one.size());
                cases.back().steps.push_back({where + one.substr(0, 100), one.substr(0, space),
                                              one.substr(std::min(one.size(), space + 1))});
            }
        }
    }
    if (cases.empty()) cases.push_back({"table", path + " holds no case or cannot be read", {}});
    return cases;
}

std::optional<std::string> Unquote(const std::string& quoted) {
    if (quoted.size() < 2 || !quoted.starts_with('"') || !quoted.ends_with('"')) return {};
    std::string text;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            text += quoted[i];
            continue;
        }
        const char c = quoted[++i];
        text += c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
    }
    return text;
}

std::vector<std::string> Split(const std::string& text, char at) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == at)
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    return parts;
}

std::string TestName(const ScriptCase& script) {
    std::string name;
    for (const char c : script.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

}  // namespace kelvaston::test
