// kelvaston-reg: see RegToolUsage() in reg_tool.cpp for what it does.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/default_registry.h"
#include "reg_tool.h"

#ifdef _WIN32
#include "platform/windows_headers.h"  // first: shellapi.h needs its types

#include <shellapi.h>
#endif

namespace {

// The arguments as program text (UTF-8). On Windows argv is in the ANSI code page, which
// cannot hold every name, so they are taken from the wide command line instead.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return args;
    for (int i = 1; i < count; ++i) {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), length, nullptr, nullptr);
        arg.resize(arg.size() - 1);  // the terminating NUL
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    try {
#ifdef _WIN32
        SetConsoleOutputCP(CP_UTF8);
#endif
        const std::vector<std::string> args = Arguments(argc, argv);
        auto& api = kelvaston::platform::DefaultRegistry();
        const int result = kelvaston::tools::RunRegTool(args, api, std::cout, std::cerr);
        std::cout.flush();
        return result;
    } catch (const std::exception& e) {
        std::cerr << "ERROR: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "ERROR: unexpected failure\n";
    }
    return 1;
}
