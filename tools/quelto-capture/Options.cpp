#include "Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <charconv>
#include <stdexcept>

namespace Capture {

template <size_t N>
std::array<bool, N> ParseList(const std::string& text) {
    std::array<bool, N> on{};
    if (text == "all") {
        on.fill(true);
        return on;
    }
    if (text == "none") return on;
    const int count = static_cast<int>(N);
    size_t pos = 0;
    while (pos <= text.size()) {
        const size_t comma = std::min(text.find(',', pos), text.size());
        const std::string part = text.substr(pos, comma - pos);
        const size_t dash = part.find('-');
        int first = 0, last = 0;
        try {
            size_t used = 0;
            first = std::stoi(part.substr(0, dash), &used);
            if (used != (dash == std::string::npos ? part.size() : dash)) throw std::invalid_argument(part);
            last = first;
            if (dash != std::string::npos) {
                last = std::stoi(part.substr(dash + 1), &used);
                if (used != part.size() - dash - 1) throw std::invalid_argument(part);
            }
        } catch (const std::logic_error&) {
            throw std::invalid_argument("'" + part + "' is not a number or range");
        }
        if (first < 1 || last > count || first > last) {
            throw std::invalid_argument("'" + part + "': numbers run from 1 to " + std::to_string(count));
        }
        for (int s = first; s <= last; ++s) on[s - 1] = true;
        pos = comma + 1;
    }
    return on;
}

template std::array<bool, 36> ParseList<36>(const std::string&);
template std::array<bool, 32> ParseList<32>(const std::string&);
template std::array<bool, 2> ParseList<2>(const std::string&);

std::optional<Format> FormatOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "bdf") return Format::Bdf;
    if (ext == "edf") return Format::Edf;
    if (ext == "csv") return Format::Csv;
    return std::nullopt;
}

namespace {

// A seed is a plain decimal number of 64 bits: CLI11 would take "-1" as
// 2^64 - 1, another seed than the one written.
std::string CheckSeed(const std::string& text) {
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return "seed must be a whole number from 0 to 18446744073709551615: " + text;
    }
    return {};
}

}  // namespace

int PeriodNumber(int period_ms) {
    switch (period_ms) {
        case 50: return 1;
        case 25: return 2;
        case 10: return 3;
        default: return 0;
    }
}

std::optional<int> Parse(int argc, char** argv, Options& o) {
    CLI::App app{"Captures data from the acquisition device into an EDF+/BDF+ or CSV file.\n"
                 "Ctrl-C stops early and still leaves a valid file of the complete 100 ms records."};
    app.set_version_flag("--version", "quelto-capture 1.0");
    std::string sensors = "all", analog = "all", insoles = "all", footSwitches = "all", format, seed;
    auto* duration = app.add_option("-d,--duration", o.duration_s,
                                    "Seconds of data to record (rounded up to 0.1 s; a replay: the recording's length)")
        ->check(CLI::Range(0.1, 86400.0))
        ->capture_default_str();
    app.add_option("-p,--period", o.period_ms, "Block period in ms")
        ->check(CLI::IsMember({100, 50, 25, 10}))
        ->capture_default_str();
    app.add_option("-s,--sensors", sensors, "Sensors to write, e.g. 1-4,7 (EMG and inertial channels), or none")
        ->capture_default_str();
    app.add_option("--analog", analog, "Analog channels to write, e.g. 1-4, or none")->capture_default_str();
    app.add_option("--insoles", insoles, "Insoles to write: 1, 2, 1-2 (all) or none")->capture_default_str();
    app.add_option("--footswitches", footSwitches, "Foot switches to write: 1 (A), 2 (B), all or none")
        ->capture_default_str();
    app.add_flag("--keep-all", o.keepAll,
                 "Also write the selected channels that the device has switched off (flat zeros)");
    app.add_option("-c,--config", o.config, "Configuration file to load and send to the device")->check(CLI::ExistingFile);
    app.add_option("-o,--output", o.output, "Output file; NAME.csv writes NAME.emg.csv, NAME.imu.csv, ... (one per rate)")
        ->capture_default_str();
    app.add_option("-f,--format", format, "bdf (24-bit), edf (16-bit) or csv; default: from the output's extension")
        ->check(CLI::IsMember({"bdf", "edf", "csv"}));
    app.add_option("--csv", o.csv, "Also write every sample to CSV files: NAME.csv gives NAME.emg.csv, NAME.imu.csv, ...");
    app.add_flag("--overwrite", o.overwrite, "Replace output files that exist (otherwise they are refused)");
    app.add_option("--summary", o.summary, "Write a JSON summary (channels, rates, counts) to this file");
    app.add_flag("--start-trigger", o.startTrigger, "Send an internal start trigger when capture starts");
    app.add_flag("-q,--quiet", o.quiet, "Print nothing but errors");
    auto* lsl = app.add_option_group("Streaming", "Lab Streaming Layer: other programs and machines in real time");
    lsl->add_flag("--lsl", o.lsl,
                  "Publish every rate group and a Markers stream on LSL while capturing (--output becomes optional; "
                  "lines typed on standard input become markers)");
    lsl->add_option("--lsl-config", o.lslConfig, "An lsl_api.cfg for liblsl (e.g. KnownPeers for one machine)")
        ->check(CLI::ExistingFile);
    lsl->add_option("--lsl-name", o.lslName, "First word of the stream names")->capture_default_str();
    lsl->add_option("--lsl-source-id", o.lslSourceId,
                    "Start of the streams' source_id (default: quelto/<host name>/<device software version>)");
    lsl->add_option("--lsl-wait", o.lslWait_s,
                    "Before capturing, wait up to this many seconds until every stream has an inlet "
                    "(LabRecorder, a viewer), so that they receive the first sample")
        ->check(CLI::Range(0.0, 3600.0));
    lsl->add_option("--lsl-linger", o.lslLinger_s,
                    "Seconds the streams stay after the capture while inlets are connected, so that they "
                    "take the last data (liblsl has no flush)")
        ->check(CLI::Range(0.0, 600.0))
        ->capture_default_str();
    lsl->add_flag("--markers,!--no-markers", o.stdinMarkers,
                  "Read markers from standard input, one per line (default: on with --lsl)");
    auto* look = app.add_option_group("Signal quality", "The sensors' signals before and while recording");
    auto* check = look->add_option("--check", o.check_s,
                                   "Run the device for SECONDS (default 5), print the signal quality of every enabled "
                                   "sensor and exit with 3 when one is bad; records nothing")
                      ->expected(0, 1)
                      ->default_str("5")
                      ->type_name("[SECONDS]")
                      ->check(CLI::Range(1.0, 600.0));
    look->add_flag("--json", o.json, "With --check: the report as JSON on standard output");
    look->add_option("--view", o.view,
                     "Serve a live view of the capture in the browser at ADDRESS:PORT (default 127.0.0.1:8080)")
        ->expected(0, 1)
        ->default_str("127.0.0.1:8080")
        ->type_name("[ADDRESS:PORT]");
    auto* sim = app.add_option_group("Simulated device", "Settings of the simulated SDK (environment QUELTO_SIM_*)");
    sim->add_option("--seed", seed, "Seed of the synthetic signals (0 to 2^64 - 1)")->check(CheckSeed, "SEED");
    sim->add_option("--replay", o.replay, "Replay this EDF+/BDF+ recording made by quelto-capture as the device's data")
        ->check(CLI::ExistingFile);
    sim->add_flag("--fast", o.fast, "Blocks as fast as they are taken instead of in real time");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    const char* list = "--sensors";
    try {
        o.sensors = ParseList<36>(sensors);
        list = "--analog";
        o.analog = ParseList<32>(analog);
        list = "--insoles";
        o.insoles = ParseList<2>(insoles);
        list = "--footswitches";
        o.footSwitches = ParseList<2>(footSwitches);
    } catch (const std::invalid_argument& e) {
        return app.exit(CLI::ValidationError(list, e.what()));
    }
    if (!seed.empty()) o.seed = std::stoull(seed);
    // NaN passes the range check.
    if (!std::isfinite(o.duration_s)) {
        return app.exit(CLI::ValidationError("--duration", "must be a number of seconds from 0.1 to 86400"));
    }
    o.durationGiven = duration->count() > 0;
    if (check->count() > 0) {
        for (const char* other : {"--output", "--csv", "--summary", "--lsl", "--view"}) {
            if (app.count(other) > 0) return app.exit(CLI::ValidationError("--check", std::string("records nothing: drop ") + other));
        }
        o.writeFile = false;
        o.output.clear();
    } else if (o.json) {
        return app.exit(CLI::ValidationError("--json", "goes with --check"));
    }
    if (!o.view.empty() && !o.lsl) {
        // Viewing only: no file unless --output names one.
        o.writeFile = app.count("--output") > 0;
        if (!o.writeFile && !o.csv.empty()) {
            return app.exit(CLI::ValidationError("--csv", "goes with --output; to view and write CSV, give -o NAME.csv"));
        }
        if (!o.writeFile) o.output.clear();
        // Viewing only runs until Ctrl-C unless a duration is given.
        if (!o.writeFile && !o.durationGiven) o.duration_s = 86400;
    }
    if (o.lsl) {
        o.writeFile = app.count("--output") > 0;
        if (!o.writeFile && !o.csv.empty()) {
            return app.exit(CLI::ValidationError("--csv", "goes with --output; to stream and write CSV, give -o NAME.csv"));
        }
        if (app.count("--markers") + app.count("--no-markers") == 0) o.stdinMarkers = true;
        if (!o.writeFile) o.output.clear();
    } else if (!o.lslConfig.empty()) {
        return app.exit(CLI::ValidationError("--lsl-config", "needs --lsl"));
    }
    if (!o.writeFile) {
        o.format = Format::Csv;
    } else if (format.empty()) {
        const auto known = FormatOf(o.output);
        if (!known) {
            return app.exit(CLI::ValidationError(
                "--output", "'" + o.output + "' has no .bdf, .edf or .csv extension; give --format"));
        }
        o.format = *known;
    } else {
        o.format = format == "edf" ? Format::Edf : format == "csv" ? Format::Csv : Format::Bdf;
    }
    return std::nullopt;
}

}  // namespace Capture
