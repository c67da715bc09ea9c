// quelto_config_bench: the cost of loading hostile configuration files
// through the simulated reader, as a table of time and peak memory.
// Each file is loaded in a child process of its own, so that its peak
// resident size is its own (wait4's ru_maxrss); the baseline is a child that
// loads a file of two bytes. Also reports how the time grows when a file
// grows four times (1.0 is linear, 4.0 quadratic).
//   quelto_config_bench [--limit SECONDS] [--runs N]
// A load that takes longer than the limit (default 300 s) is shown as such.
#include "AppDomain.h"
#include "ConfigFile.h"
#include "SdkContract.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace D = Quelto::Common::Definitions;
namespace fs = std::filesystem;

constexpr std::size_t Limit = QueltoSim::MaxConfigFileBytes;

// "{"<key>": [<item>, <item>, ...]}" with `count` items, or as many as fit
// below the size limit when `count` is 0.
std::string ListOf(const std::string& key, const std::string& item, std::size_t count) {
    std::string text = "{\"" + key + "\": [";
    const std::size_t room = Limit - text.size() - 2;
    if (count == 0) count = (room + 1) / (item.size() + 1);
    text.reserve(text.size() + count * (item.size() + 1) + 2);
    for (std::size_t i = 0; i < count; ++i) {
        if (i) text += ',';
        text += item;
    }
    return text + "]}";
}

// An object of `count` distinct keys "k<n>": 0, or as many as fit.
std::string KeysOf(std::size_t count) {
    std::string text = "{";
    for (std::size_t i = 0; count == 0 || i < count; ++i) {
        std::string entry = (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
        if (count == 0 && text.size() + entry.size() + 1 > Limit) break;
        text += entry;
    }
    return text + "}";
}

// Lists nested 32 deep with the object around them (the most the reader
// takes), repeated to fill the file.
std::string DeepLists() {
    const std::string one = std::string(30, '[') + std::string(30, ']');
    std::string text = "{\"AnalogOutputs\": [";
    while (text.size() + one.size() + 3 < Limit) {
        if (text.back() != '[') text += ',';
        text += one;
    }
    return text + "]}";
}

struct Case {
    std::string name;
    std::function<std::string()> make;
};

struct Result {
    double seconds = 0;
    double peakMiB = 0;
    bool timedOut = false;
    std::string outcome;
};

// Loads `path` in a child; its time (best of `runs`) and peak resident size.
Result Measure(const std::string& path, int runs, int limitSeconds) {
    Result best;
    best.seconds = 1e300;
    for (int run = 0; run < runs; ++run) {
        int report[2];
        if (pipe(report) != 0) std::exit(2);
        const pid_t child = fork();
        if (child == 0) {
            close(report[0]);
            alarm(static_cast<unsigned>(limitSeconds));
            auto reader =
                Runtime::AppDomain::CurrentDomain().CreateInstance<D::ICfgReader>(D::CfgReaderAssemblyName, D::CfgReaderClass);
            char outcome[160] = "loaded";
            const auto start = std::chrono::steady_clock::now();
            try {
                reader->ReadCfgFile(Runtime::Text::FromUtf8(path));
            } catch (const Runtime::Exception& e) {
                const std::string& m = e.Message();
                const std::size_t cut = m.find("': ");
                std::snprintf(outcome, sizeof outcome, "%s", cut == std::string::npos ? m.c_str() : m.c_str() + cut + 3);
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            char line[256];
            const int n = std::snprintf(line, sizeof line, "%.6f %s", seconds, outcome);
            if (write(report[1], line, static_cast<std::size_t>(n)) < 0) _exit(3);
            _exit(0);
        }
        close(report[1]);
        std::string text;
        char buffer[256];
        for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
        close(report[0]);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        Result r;
        r.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
            r.timedOut = true;
            r.seconds = limitSeconds;
            r.outcome = "stopped at the time limit";
            return r;
        }
        const std::size_t space = text.find(' ');
        r.seconds = std::atof(text.c_str());
        r.outcome = space == std::string::npos ? "no report" : text.substr(space + 1);
        if (r.seconds < best.seconds) best = r;
    }
    return best;
}

std::string WriteCase(const fs::path& dir, const std::string& name, const std::string& text) {
    const fs::path path = dir / (name + ".json");
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    return path.string();
}

}  // namespace

int main(int argc, char** argv) {
    int limitSeconds = 300, runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--limit") == 0) limitSeconds = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    }
    Runtime::AppDomain::CurrentDomain().AddAssemblyResolve([](const std::string& fullName) -> Runtime::AssemblyRef {
        const std::string path = Runtime::Path::Combine(QUELTO_LIB_DIR, Runtime::SimpleNameOf(fullName) + ".dll");
        return Runtime::File::Exists(path) ? Runtime::AppDomain::CurrentDomain().LoadFrom(path) : nullptr;
    });
    // Load the reader library before the children are forked.
    Runtime::AppDomain::CurrentDomain().CreateInstance<D::ICfgReader>(D::CfgReaderAssemblyName, D::CfgReaderClass);

    const fs::path dir = fs::temp_directory_path() / ("quelto_config_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::vector<Case> cases = {
        {"baseline: {}", [] { return std::string("{}"); }},
        {"20,000 empty objects in one list", [] { return ListOf("EfaChannels", "{}", 20000); }},
        {"80,000 empty objects in one list", [] { return ListOf("EfaChannels", "{}", 80000); }},
        {"20,000 distinct unknown keys", [] { return KeysOf(20000); }},
        {"80,000 distinct unknown keys", [] { return KeysOf(80000); }},
        {"1,000,000 empty objects in one list", [] { return ListOf("EfaChannels", "{}", 1000000); }},
        {"100,000 distinct unknown keys", [] { return KeysOf(100000); }},
        {"16 MiB list of numbers", [] { return ListOf("EfaChannels", "0", 0); }},
        {"16 MiB list of empty objects", [] { return ListOf("EfaChannels", "{}", 0); }},
        {"16 MiB list of empty lists", [] { return ListOf("EfaChannels", "[]", 0); }},
        {"16 MiB of distinct unknown keys", [] { return KeysOf(0); }},
        {"16 MiB of lists 32 deep", [] { return DeepLists(); }},
    };
    std::printf("| file | bytes | seconds | peak RSS (MiB) | outcome |\n|---|--:|--:|--:|---|\n");
    std::vector<Result> results;
    for (const Case& c : cases) {
        std::string path;
        std::size_t bytes = 0;
        {
            const std::string text = c.make();
            bytes = text.size();
            path = WriteCase(dir, std::to_string(results.size()), text);
        }
        const Result r = Measure(path, runs, limitSeconds);
        results.push_back(r);
        std::printf("| %s | %zu | %s%.3f | %.1f | %s |\n", c.name.c_str(), bytes, r.timedOut ? "> " : "", r.seconds,
                    r.peakMiB, r.outcome.c_str());
        std::fflush(stdout);
        fs::remove(path);
    }
    const auto growth = [&](std::size_t small, std::size_t large) {
        if (results[small].timedOut || results[large].timedOut || results[small].seconds <= 0) return std::string("-");
        char text[32];
        // time(4n) / time(n) / 4: 1 when linear, 4 when quadratic.
        std::snprintf(text, sizeof text, "%.2f", results[large].seconds / results[small].seconds / 4.0);
        return std::string(text);
    };
    std::printf("\ngrowth of time per entry, 4x the entries (1 linear, 4 quadratic): empty objects %s, unknown keys %s\n",
                growth(1, 2).c_str(), growth(3, 4).c_str());
    std::printf("peak RSS above the baseline, 16 MiB list of numbers: %.1f MiB\n", results[7].peakMiB - results[0].peakMiB);
    fs::remove_all(dir);
    return 0;
}
