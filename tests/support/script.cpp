#include "support/script.h"

#include <algorithm>
#include <fstream>
#include <regex>

namespace kelvaston::test {
namespace {

// One pass over `text`: what a name stands for is not read again.
std::string Expand(const std::string& text, const ScriptNames& names, bool* unknown) {
    static const std::regex name(R"(\$\{([^}]*)\}|\{(\d+)\*([^}]*)\})");
    std::string out;
    auto at = text.cbegin();
    for (std::sregex_iterator m(text.begin(), text.end(), name), end; m != end; ++m) {
        out.append(at, (*m)[0].first);
        at = (*m)[0].second;
        const auto found = names.find((*m)[1]);
        if ((*m)[1].matched && found == names.end()) *unknown = true;
        if ((*m)[1].matched && found != names.end())
            out += found->second.substr(0, found->second.find_last_not_of('\n') + 1);
        for (int i = (*m)[2].matched ? std::stoi((*m)[2]) : 0; i > 0; --i) out += (*m)[3];
    }
    out.append(at, text.cend());
    static const std::regex range(R"(\{(\d+)\.\.(\d+)\})");
    std::smatch m;
    if (!std::regex_search(out, m, range)) return out;
    std::string lines;
    for (int i = std::stoi(m[1]), last = std::stoi(m[2]); i <= last; ++i) {
        const std::string one = std::regex_replace(out, range, std::to_string(i));
        lines += std::regex_replace(one, std::regex(R"(\\n)"), "\n") + (i < last ? "\n" : "");
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
