// Load and save of a full configuration (51 connections, 251 accounts) through the file store:
// time of each and the registry calls they make, beside a bare read and write of the same file.
// Then large stores: loads of many keys and values, and the parse and import of a large file
// with each kind of line end, whose times must grow with the size, not with its square.
// Prints figures; it passes or fails nothing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/layout.h"
#include "config/store.h"
#include "full_configuration.h"
#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_decorators.h"
#include "platform/registry_tree.h"

namespace {

using namespace kelvaston;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 15;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The physical floor: read the file, write it to a temporary file, fsync, rename.
void BareReadWrite(const std::filesystem::path& file) {
    const std::string bytes = ReadAll(file);
    const auto temp = file.parent_path() / ".bare.tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::fsync(fd) != 0) {
        std::perror("bare write");
    }
    ::close(fd);
    std::filesystem::rename(temp, file);
}

// One full load into a fresh model, as the window's connection makes it.
void Load(config::ConfigStore& store) {
    config::InitSettings(store.Model());
    store.Connect("");
    store.Load();
}

std::string Breakdown(const platform::CountingRegistry& counter) {
    std::string text;
    for (std::size_t i = 0; i < static_cast<std::size_t>(platform::Call::kCount); ++i) {
        const auto call = static_cast<platform::Call>(i);
        if (counter.Count(call) == 0) continue;
        text += (text.empty() ? "" : ", ") + std::string(platform::CallName(call)) + " " +
                std::to_string(counter.Count(call));
    }
    return text;
}

// Large stores ----------------------------------------------------------------------------

constexpr std::size_t kSiblings = 200'000;
constexpr std::size_t kManyValues = 100'000;

// A time taken: on the clock, and the processor time of the process meanwhile (the same but for
// waiting: on a machine that others share as well, the steadier of the two).
struct Took {
    double ms = 0;
    double cpuMs = 0;
};

double ProcessCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The quickest of up to three runs of `body`, fewer once the runs took 5 s: the store took
// minutes for some of these before its time grew linearly. `body` may time a part of itself
// through its argument; else the whole run is timed.
Took BestOfRuns(const std::function<void(Took*)>& body) {
    std::vector<Took> runs;
    double spent = 0;
    while (runs.size() < 3 && spent < 5000) {
        Took took{-1, -1};
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuMs();
        body(&took);
        if (took.ms < 0) took = {Milliseconds(Clock::now() - start), ProcessCpuMs() - cpuStart};
        runs.push_back(took);
        spent += Milliseconds(Clock::now() - start);
    }
    return *std::min_element(runs.begin(), runs.end(),
                             [](const Took& a, const Took& b) { return a.ms < b.ms; });
}

// Writes `file` as a store file (private, as the store requires) with what `fill` adds.
void WriteStoreFile(const std::filesystem::path& file,
                    const std::function<void(platform::regfile::Writer&)>& fill) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    platform::regfile::Writer writer(
        platform::regfile::Encoding::Utf8Lf, [fd](std::string_view piece) {
            return ::write(fd, piece.data(), piece.size()) == static_cast<ssize_t>(piece.size());
        });
    fill(writer);
    writer.Finish();
    if (fd < 0 || writer.Failed()) std::perror("writing a store file");
    ::close(fd);
}

std::string Numbered(const char* prefix, std::size_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%06zu", prefix, n);
    return name;
}

// Connects to the store in `folder` (its file read and the tree built), timed, and checks that
// the key `path` holds `subkeys` subkeys, in order, and `values` values.
Took LoadFigure(const std::filesystem::path& folder, const std::string& path, std::size_t subkeys,
                std::size_t values) {
    return BestOfRuns([&](Took* took) {
        platform::FileStoreRegistry registry({folder, "LARGE"});
        platform::Key root = platform::kNullKey;
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuMs();
        const bool loaded = registry.ConnectRegistry("", platform::kHKeyLocalMachine, &root) ==
                            platform::error::kSuccess;
        *took = {Milliseconds(Clock::now() - start), ProcessCpuMs() - cpuStart};
        platform::KeyContents contents;
        if (!loaded ||
            registry.QueryKeyContents(root, path, &contents) != platform::error::kSuccess ||
            contents.subkeys.size() != subkeys || contents.values.size() != values ||
            !std::is_sorted(contents.subkeys.begin(), contents.subkeys.end())) {
            std::fprintf(stderr, "the large store %s did not load as written\n", folder.c_str());
            std::exit(1);
        }
        registry.CloseKey(root);
    });
}

// A file of about 6 MB as regedit exports one: 13,600 keys in 68 groups, each with a default
// text, a text, a dword and 64 bytes of binary data over three lines; with LF line ends.
constexpr std::size_t kImportKeys = 13'600;

std::string ImportFile() {
    platform::regfile::Writer writer(platform::regfile::Encoding::Utf8Lf);
    std::string blob;
    for (int b = 0; b < 64; ++b) blob += static_cast<char>(b * 37);
    for (std::size_t k = 0; k < kImportKeys; ++k) {
        const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Import\\" +
                                Numbered("Group", k / 200) + "\\" + Numbered("Key", k);
        const std::vector<platform::regfile::Value> values = {
            {"", platform::kRegSz, "default text of " + key},
            {"Description", platform::kRegSz,
             "A longer text that says what the key " + std::to_string(k) + " is for"},
            {"Count", platform::kRegDword, std::string("\x07\0\0\0", 4)},
            {"Blob", platform::kRegBinary, blob}};
        writer.AddKey(key, values);
    }
    return writer.Finish();
}

std::string WithLineEnds(const std::string& lf, std::string_view end) {
    std::string text;
    text.reserve(lf.size() * 2);
    for (const char c : lf) {
        if (c == '\n') {
            text += end;
        } else {
            text += c;
        }
    }
    return text;
}

// `only`, when not empty, picks the figures whose names hold it.
// Ends a bulk change, as a program making many changes at once makes them: in one transaction,
// whose commit writes the file once.
void Committed(platform::RegistryApi& registry) {
    if (registry.CommitTransaction(platform::kHKeyLocalMachine) != platform::error::kSuccess) {
        std::fprintf(stderr, "writing the changes failed\n");
        std::exit(1);
    }
}

void LargeStores(const std::filesystem::path& base, std::string_view only) {
    const auto wanted = [only](std::string_view figure) {
        return figure.find(only) != std::string_view::npos;
    };
    std::printf("\nLarge stores (best of up to 3 runs)\n");
    std::vector<std::string> figures;
    const auto report = [&](const std::string& what, const std::string& figure, Took took) {
        std::printf("  %-50s %9.1f ms  (processor %9.1f ms)\n", what.c_str(), took.ms, took.cpuMs);
        char line[160];
        std::snprintf(line, sizeof line, "figures: %s ms=%.1f cpu-ms=%.1f", figure.c_str(), took.ms,
                      took.cpuMs);
        figures.emplace_back(line);
    };

    // 200,000 sibling keys, in the order the store writes them and shuffled.
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kSiblings; ++i) names.push_back(Numbered("Key", i));
    for (const bool shuffled : {false, true}) {
        if (!wanted(shuffled ? "load-200k-sibling-keys-shuffled" : "load-200k-sibling-keys"))
            continue;
        const auto folder = base / (shuffled ? "siblings-shuffled" : "siblings");
        std::filesystem::create_directories(folder);
        std::vector<std::string> order = names;
        if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(7));
        WriteStoreFile(folder / "LARGE.reg", [&](platform::regfile::Writer& writer) {
            writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE", {});
            for (const auto& name : order)
                writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\" + name, {});
        });
        report(shuffled ? "load 200,000 sibling keys, file shuffled" : "load 200,000 sibling keys",
               shuffled ? "load-200k-sibling-keys-shuffled" : "load-200k-sibling-keys",
               LoadFigure(folder, "SOFTWARE", kSiblings, 0));
    }

    // About 200,000 keys in chains down to the registry's depth limit: SOFTWARE, a chain's own
    // key, then 510 keys one below the other.
    if (wanted("load-200k-nested-keys")) {
        const auto folder = base / "nested";
        std::filesystem::create_directories(folder);
        constexpr std::size_t kChainLength = platform::kMaxKeyDepth - 1;
        constexpr std::size_t kChains = (kSiblings + kChainLength - 1) / kChainLength;
        WriteStoreFile(folder / "LARGE.reg", [&](platform::regfile::Writer& writer) {
            writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE", {});
            for (std::size_t c = 0; c < kChains; ++c) {
                std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + Numbered("Chain", c);
                writer.AddKey(path, {});
                for (std::size_t d = 2; d < platform::kMaxKeyDepth; ++d)
                    writer.AddKey(path += "\\k", {});
            }
        });
        char what[80];
        std::snprintf(what, sizeof what, "load %zu nested keys, %zu chains %zu deep",
                      kChains * kChainLength, kChains, platform::kMaxKeyDepth);
        report(what, "load-200k-nested-keys", LoadFigure(folder, "SOFTWARE", kChains, 0));
    }

    // 100,000 values in one key: loaded from a file, set through the registry interface and
    // deleted again (the file written at the end included).
    if (wanted("100k-values-one-key")) {
        const auto folder = base / "values";
        std::filesystem::create_directories(folder);
        std::vector<platform::regfile::Value> values;
        for (std::size_t i = 0; i < kManyValues; ++i) {
            values.push_back(
                {Numbered("Value", i), platform::kRegDword, std::string("\1\0\0\0", 4)});
        }
        WriteStoreFile(folder / "LARGE.reg", [&](platform::regfile::Writer& writer) {
            writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Many", values);
        });
        report("load 100,000 values in one key", "load-100k-values-one-key",
               LoadFigure(folder, "SOFTWARE\\Many", 0, kManyValues));
        const auto empty = base / "values-set";
        report("set 100,000 values in one key (interface, one transaction)",
               "set-100k-values-one-key", BestOfRuns([&](Took*) {
                   std::filesystem::remove_all(empty);
                   std::filesystem::create_directories(empty);
                   platform::FileStoreRegistry registry({empty, "LARGE"});
                   platform::Key key = platform::kNullKey;
                   registry.BeginTransaction(platform::kHKeyLocalMachine);
                   registry.CreateKey(platform::kHKeyLocalMachine, "SOFTWARE\\Many", &key);
                   for (const auto& value : values)
                       registry.SetValueBytes(key, value.name, value.type, value.data);
                   registry.CloseKey(key);
                   Committed(registry);
               }));
        // Every value deleted again, the last first, as kelvaston-reg delete /va does.
        const auto full = base / "values-deleted";
        std::filesystem::create_directories(full);
        report("delete 100,000 values of one key (interface, one transaction)",
               "delete-100k-values-one-key", BestOfRuns([&](Took* took) {
                   WriteStoreFile(full / "LARGE.reg", [&](platform::regfile::Writer& writer) {
                       writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Many", values);
                   });
                   platform::FileStoreRegistry registry({full, "LARGE"});
                   platform::Key key = platform::kNullKey;
                   registry.OpenKeyEx(platform::kHKeyLocalMachine, "SOFTWARE\\Many", 0,
                                      platform::kKeyAllAccess, &key);
                   const auto start = Clock::now();
                   const double cpuStart = ProcessCpuMs();
                   registry.BeginTransaction(platform::kHKeyLocalMachine);
                   for (auto value = values.rbegin(); value != values.rend(); ++value) {
                       if (registry.DeleteValue(key, value->name) != platform::error::kSuccess) {
                           std::fprintf(stderr, "deleting the values failed\n");
                           std::exit(1);
                       }
                   }
                   Committed(registry);
                   *took = {Milliseconds(Clock::now() - start), ProcessCpuMs() - cpuStart};
                   registry.CloseKey(key);
               }));
    }

    // 100,000 sibling keys made through the registry interface, in their order and shuffled
    // (the file written at the end included); and deleted again with their parent, as
    // kelvaston-reg delete does (the file written at the end included).
    const std::vector<std::string> half(names.begin(), names.begin() + kSiblings / 2);
    for (const bool shuffled : {false, true}) {
        const std::string figure =
            shuffled ? "create-100k-sibling-keys-shuffled" : "create-100k-sibling-keys";
        if (!wanted(figure)) continue;
        const auto folder = base / "created";
        std::vector<std::string> order = half;
        if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(11));
        report(shuffled ? "create 100,000 sibling keys, shuffled (one transaction)"
                        : "create 100,000 sibling keys (interface, one transaction)",
               figure, BestOfRuns([&](Took*) {
                   std::filesystem::remove_all(folder);
                   std::filesystem::create_directories(folder);
                   platform::FileStoreRegistry registry({folder, "LARGE"});
                   registry.BeginTransaction(platform::kHKeyLocalMachine);
                   for (const auto& name : order) {
                       platform::Key key = platform::kNullKey;
                       registry.CreateKey(platform::kHKeyLocalMachine, "SOFTWARE\\" + name, &key);
                       registry.CloseKey(key);
                   }
                   Committed(registry);
               }));
    }
    if (wanted("delete-100k-sibling-keys")) {
        const auto folder = base / "deleted";
        std::filesystem::create_directories(folder);
        report(
            "delete 100,000 sibling keys (interface, one transaction)", "delete-100k-sibling-keys",
            BestOfRuns([&](Took* took) {
                WriteStoreFile(folder / "LARGE.reg", [&](platform::regfile::Writer& writer) {
                    writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE", {});
                    for (const auto& name : half)
                        writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\" + name, {});
                });
                platform::FileStoreRegistry registry({folder, "LARGE"});
                platform::Key root = platform::kNullKey;
                registry.ConnectRegistry("", platform::kHKeyLocalMachine, &root);
                const auto start = Clock::now();
                const double cpuStart = ProcessCpuMs();
                if (registry.BeginTransaction(root) != platform::error::kSuccess ||
                    platform::DeleteTree(registry, root, "SOFTWARE") != platform::error::kSuccess ||
                    registry.CommitTransaction(root) != platform::error::kSuccess) {
                    std::fprintf(stderr, "deleting the keys failed\n");
                    std::exit(1);
                }
                *took = {Milliseconds(Clock::now() - start), ProcessCpuMs() - cpuStart};
                registry.CloseKey(root);
            }));
    }

    // The parse and the import (parse, apply to an empty store, write the file) of a 6 MB file
    // with each kind of line end.
    bool anyImport = false;
    for (const char* figure : {"parse-6mb-lf", "parse-6mb-cr", "parse-6mb-crlf", "import-6mb-lf",
                               "import-6mb-cr", "import-6mb-crlf"}) {
        anyImport = anyImport || wanted(figure);
    }
    const std::string lf = anyImport ? ImportFile() : std::string();
    if (!lf.empty()) std::printf("  (import file: %zu bytes with LF line ends)\n", lf.size());
    const struct {
        const char* name;
        std::string_view end;
    } ends[] = {{"lf", "\n"}, {"cr", "\r"}, {"crlf", "\r\n"}};
    for (const auto& end : ends) {
        if (!wanted("parse-6mb-" + std::string(end.name)) &&
            !wanted("import-6mb-" + std::string(end.name)))
            continue;
        const std::string file = WithLineEnds(lf, end.end);
        std::size_t entries = 0;
        const Took parse = BestOfRuns([&](Took*) {
            const platform::regfile::ParseResult parsed = platform::regfile::Parse(file);
            entries = parsed.document ? parsed.document->entries.size() : 0;
        });
        if (entries != 5 * kImportKeys) {
            std::fprintf(stderr, "the import file with %s line ends parsed to %zu entries\n",
                         end.name, entries);
            std::exit(1);
        }
        const auto folder = base / ("import-" + std::string(end.name));
        const Took import = BestOfRuns([&](Took*) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder);
            platform::FileStoreRegistry registry({folder, "LARGE"});
            const platform::regfile::ParseResult parsed = platform::regfile::Parse(file);
            platform::Key root = platform::kNullKey;
            registry.ConnectRegistry("", platform::kHKeyLocalMachine, &root);
            const platform::regfile::Entry* failed = nullptr;
            if (!parsed.document || registry.BeginTransaction(root) != platform::error::kSuccess ||
                platform::ApplyEntries(registry, root, parsed.document->entries, &failed) !=
                    platform::error::kSuccess ||
                registry.CommitTransaction(root) != platform::error::kSuccess) {
                std::fprintf(stderr, "the import with %s line ends failed\n", end.name);
                std::exit(1);
            }
            registry.CloseKey(root);
        });
        report("parse 6 MB file, " + std::string(end.name) + " line ends",
               "parse-6mb-" + std::string(end.name), parse);
        report("import 6 MB file, " + std::string(end.name) + " line ends",
               "import-6mb-" + std::string(end.name), import);
    }
    std::printf("\n");
    for (const auto& line : figures) std::printf("%s\n", line.c_str());
}

}  // namespace

// With an argument, only the large stores' figures whose names hold it.
int main(int argc, char** argv) {
    const std::string_view only = argc > 1 ? argv[1] : "";
    const auto large = std::filesystem::temp_directory_path() /
                       ("kelvaston-bench-large-" + std::to_string(::getpid()));
    if (!only.empty()) {
        LargeStores(large, only);
        std::filesystem::remove_all(large);
        return 0;
    }
    const auto folder =
        std::filesystem::temp_directory_path() / ("kelvaston-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "BENCH.reg";
    config::Settings full;
    {
        // The service's key, then a first save of the full configuration.
        platform::FileStoreRegistry registry({folder, "BENCH"});
        platform::Key service = platform::kNullKey;
        registry.CreateKey(platform::kHKeyLocalMachine, config::layout::kServiceKey, &service);
        registry.CloseKey(service);
        config::ConfigStore store(registry, full);
        store.Connect("");
        bench::FillFullConfiguration(full);
        if (store.SaveSettings().result != config::SaveResult::Saved) {
            std::fprintf(stderr, "seeding the store failed\n");
            return 1;
        }
    }

    std::vector<double> load, save, edit, bare;
    std::size_t loadCalls = 0, saveCalls = 0, editCalls = 0, accounts = 0;
    std::string loadKinds, saveKinds, editKinds;
    for (int run = 0; run < kRuns; ++run) {
        platform::FileStoreRegistry registry({folder, "BENCH"});
        platform::CountingRegistry counter(registry);
        config::Settings settings;
        config::ConfigStore store(counter, settings);

        auto start = Clock::now();
        Load(store);
        load.push_back(Milliseconds(Clock::now() - start));
        loadCalls = counter.Total();
        loadKinds = Breakdown(counter);
        accounts = config::AccountCount(settings.Accounts);

        counter.Reset();
        start = Clock::now();
        const auto outcome = store.SaveSettings();
        save.push_back(Milliseconds(Clock::now() - start));
        saveCalls = counter.Total();
        saveKinds = Breakdown(counter);
        if (outcome.result != config::SaveResult::Saved) {
            std::fprintf(stderr, "save failed: %s\n", config::Describe(outcome).c_str());
            return 1;
        }

        // The same after one account value changed.
        settings.Accounts[100].POPHost = "pop-" + std::to_string(run) + ".example.net";
        counter.Reset();
        start = Clock::now();
        if (store.SaveSettings().result != config::SaveResult::Saved) {
            std::fprintf(stderr, "the save of one change failed\n");
            return 1;
        }
        edit.push_back(Milliseconds(Clock::now() - start));
        editCalls = counter.Total();
        editKinds = Breakdown(counter);

        start = Clock::now();
        BareReadWrite(file);
        bare.push_back(Milliseconds(Clock::now() - start));
    }

    // A load and a save of the unchanged configuration through a registry that takes 1 ms and
    // 30 ms a call, as a remote one on a LAN and over a VPN would; calls made at the same time
    // wait at the same time.
    double remoteLoadMs[2] = {}, remoteSaveMs[2] = {};
    for (const int i : {0, 1}) {
        platform::FileStoreRegistry registry({folder, "BENCH"});
        platform::LatencyRegistry remote(registry, std::chrono::milliseconds(i == 0 ? 1 : 30));
        config::Settings settings;
        config::ConfigStore store(remote, settings);
        auto start = Clock::now();
        Load(store);
        remoteLoadMs[i] = Milliseconds(Clock::now() - start);
        start = Clock::now();
        store.SaveSettings();
        remoteSaveMs[i] = Milliseconds(Clock::now() - start);
    }
    // What keeping reads current costs a call: before each, the store takes the lock file's shared
    // lock, reads the change count and looks at the file. Measured on a read the store answers
    // from its tree, the cheapest call there is.
    double checkedCallUs = 0;
    {
        platform::FileStoreRegistry registry({folder, "BENCH"});
        platform::Key parameters = platform::kNullKey;
        registry.OpenKeyEx(platform::kHKeyLocalMachine, config::layout::kParametersKey, 0,
                           platform::kKeyRead, &parameters);
        constexpr int kCalls = 20000;
        std::uint32_t type = 0;
        const auto start = Clock::now();
        for (int i = 0; i < kCalls; ++i)
            registry.QueryValueEx(parameters, "DebugLevel", &type, nullptr, nullptr);
        checkedCallUs = Milliseconds(Clock::now() - start) * 1000.0 / kCalls;
        registry.CloseKey(parameters);
    }
    const double loadMs = Median(load), saveMs = Median(save), editMs = Median(edit),
                 bareMs = Median(bare);
    // Reading every value on its own, by opening its key, reading it and closing the key again.
    const std::size_t values =
        7 + 2 * config::kConnectionSlots + config::layout::kAccountValues.size() * accounts;
    const std::size_t keys = 1 + config::kConnectionSlots + accounts;
    const std::size_t naiveLoad = 3 * values + (loadCalls - keys);

    std::printf(
        "Full configuration: %zu connections, %zu accounts, store file %ju bytes (median of %d "
        "runs)\n",
        config::kConnectionSlots, accounts,
        static_cast<std::uintmax_t>(std::filesystem::file_size(file)), kRuns);
    std::printf("\nRegistry calls\n");
    std::printf("  load              %6zu   (%s)\n", loadCalls, loadKinds.c_str());
    std::printf(
        "                    %6zu   when every value is read on its own: open, read, close "
        "(computed)\n",
        naiveLoad);
    std::printf("  save, unchanged   %6zu   (%s)\n", saveCalls, saveKinds.c_str());
    std::printf("  save, one change  %6zu   (%s)\n", editCalls, editKinds.c_str());
    std::printf("\nTime through the file store\n");
    std::printf("  load                               %8.2f ms\n", loadMs);
    std::printf("  save, unchanged (nothing written)  %8.2f ms\n", saveMs);
    std::printf("  save, one change (file written)    %8.2f ms\n", editMs);
    std::printf("  bare read + write of the same file %8.2f ms\n", bareMs);
    std::printf("  (load + save of a change) / bare   %8.1f\n", (loadMs + editMs) / bareMs);
    std::printf("  a read, its currency checked       %8.2f us\n", checkedCallUs);
    std::printf("\nRemote registry, every call a round trip (measured)\n");
    std::printf("  load at  1 ms a call               %8.0f ms\n", remoteLoadMs[0]);
    std::printf("  load at 30 ms a call               %8.0f ms\n", remoteLoadMs[1]);
    std::printf("  unchanged save at  1 ms a call     %8.0f ms\n", remoteSaveMs[0]);
    std::printf("  unchanged save at 30 ms a call     %8.0f ms\n", remoteSaveMs[1]);
    std::printf("\nfigures: load calls=%zu\n", loadCalls);
    std::printf("figures: save-unchanged calls=%zu\n", saveCalls);
    std::printf("figures: save-one-edit calls=%zu\n", editCalls);
    std::printf("figures: load-30ms ms=%.0f\n", remoteLoadMs[1]);
    std::printf("figures: save-unchanged-30ms ms=%.0f\n", remoteSaveMs[1]);
    std::printf(
        "figures: file-store load ms=%.2f save-unchanged ms=%.2f save-one-edit ms=%.2f bare "
        "ms=%.2f\n",
        loadMs, saveMs, editMs, bareMs);
    std::printf("figures: file-store checked-read us=%.2f\n", checkedCallUs);
    std::filesystem::remove_all(folder);

    LargeStores(large, only);
    std::filesystem::remove_all(large);
    return 0;
}
