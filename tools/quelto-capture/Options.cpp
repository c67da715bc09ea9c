#include "Options.h"

#include <CLI/CLI.hpp>

#include <stdexcept>

namespace Capture {

std::array<bool, 36> ParseSensors(const std::string& text) {
    std::array<bool, 36> on{};
    if (text == "all") {
        on.fill(true);
        return on;
    }
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
            throw std::invalid_argument("'" + part + "' is not a sensor number or range");
        }
        if (first < 1 || last > 36 || first > last) {
            throw std::invalid_argument("'" + part + "': sensors are numbered 1 to 36");
        }
        for (int s = first; s <= last; ++s) on[s - 1] = true;
        pos = comma + 1;
    }
    return on;
}

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
    std::string sensors = "all", format;
    unsigned long long seed = 0;
    app.add_option("-d,--duration", o.duration_s, "Seconds of data to record (rounded up to 0.1 s)")
        ->check(CLI::Range(0.1, 86400.0))
        ->capture_default_str();
    app.add_option("-p,--period", o.period_ms, "Block period in ms")
        ->check(CLI::IsMember({100, 50, 25, 10}))
        ->capture_default_str();
    app.add_option("-s,--sensors", sensors, "Sensors to write, e.g. 1-4,7 (EMG and inertial channels)")
        ->capture_default_str();
    app.add_option("-c,--config", o.config, "Configuration file to load and send to the device")->check(CLI::ExistingFile);
    app.add_option("-o,--output", o.output, "Output file")->capture_default_str();
    app.add_option("-f,--format", format, "bdf (24-bit), edf (16-bit) or csv; default: from the output's extension")
        ->check(CLI::IsMember({"bdf", "edf", "csv"}));
    app.add_option("--csv", o.csv, "Also write every sample to this CSV file");
    app.add_option("--summary", o.summary, "Write a JSON summary (channels, rates, counts) to this file");
    app.add_flag("--start-trigger", o.startTrigger, "Send an internal start trigger when capture starts");
    app.add_flag("-q,--quiet", o.quiet, "Print nothing but errors");
    auto* sim = app.add_option_group("Simulated device", "Settings of the simulated SDK (environment QUELTO_SIM_*)");
    sim->add_option("--seed", seed, "Seed of the synthetic signals");
    sim->add_option("--replay", o.replay, "Replay this EDF+/BDF+ recording as the device's data")->check(CLI::ExistingFile);
    sim->add_flag("--fast", o.fast, "Blocks as fast as they are taken instead of in real time");
    try {
        app.parse(argc, argv);
        o.sensors = ParseSensors(sensors);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::invalid_argument& e) {
        return app.exit(CLI::ValidationError("--sensors", e.what()));
    }
    if (app.count("--seed")) o.seed = seed;
    if (format.empty()) {
        const auto dot = o.output.rfind('.');
        const std::string ext = dot == std::string::npos ? "" : o.output.substr(dot + 1);
        format = ext == "edf" || ext == "EDF" ? "edf" : ext == "csv" || ext == "CSV" ? "csv" : "bdf";
    }
    o.format = format == "edf" ? Format::Edf : format == "csv" ? Format::Csv : Format::Bdf;
    return std::nullopt;
}

}  // namespace Capture
