// Command line of quelto-capture.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace Capture {

enum class Format { Bdf, Edf, Csv };

struct Options {
    double duration_s = 10.0;
    bool durationGiven = false;  // a replay otherwise takes the recording's length
    int period_ms = 100;
    std::array<bool, 36> sensors{};      // element s: sensor s + 1 is written
    std::array<bool, 32> analog{};       // analog channels
    std::array<bool, 2> insoles{};       // insoles 1 (left) and 2 (right)
    std::array<bool, 2> footSwitches{};  // foot switches A and B
    bool keepAll = false;  // also write channels the device has switched off
    std::string config;              // configuration file to load and apply
    std::string output = "capture.bdf";
    Format format = Format::Bdf;
    std::string csv;      // extra CSV files next to an EDF/BDF file
    std::string summary;  // JSON summary
    bool overwrite = false;  // replace output files that exist
    std::optional<unsigned long long> seed;
    std::string replay;  // simulated SDK: recording to replay
    bool fast = false;   // simulated SDK: blocks as fast as they are taken
    bool startTrigger = false;
    bool quiet = false;
    // Lab Streaming Layer: publish while capturing. Without --output then,
    // no file is written (writeFile false).
    bool lsl = false;
    bool writeFile = true;
    std::string lslConfig;    // an lsl_api.cfg for liblsl
    std::string lslName = "Quelto";
    std::string lslSourceId;  // empty: DefaultSourceId()
    double lslWait_s = 0;     // wait this long for an inlet on every stream before starting
    double lslLinger_s = 1;   // keep the streams this long after the capture for inlets to take the last data
    bool stdinMarkers = false;  // each line on standard input is a marker
    // Signal quality: --check runs the device this many seconds and
    // reports (0: no check); --json gives the report as JSON.
    double check_s = 0;
    bool json = false;
    // Live view: the address and port to serve the page on (empty: none);
    // addresses other than loopback only with viewAnyAddress.
    std::string view;
};

// Parses argv. Returns the exit code to leave with when the program should
// not run (help, version, or an error already printed).
std::optional<int> Parse(int argc, char** argv, Options& options);

// "1-4,7,10-12", "all" or "none" over 1..N; throws std::invalid_argument
// naming the fault.
template <size_t N>
std::array<bool, N> ParseList(const std::string& text);
inline std::array<bool, 36> ParseSensors(const std::string& text) { return ParseList<36>(text); }

// Format of an output file from its extension (.bdf, .edf, .csv in any
// case); none for any other name.
std::optional<Format> FormatOf(const std::string& path);

// DataAvailableEventPeriod number of a block period in ms (100, 50, 25, 10).
int PeriodNumber(int period_ms);

}  // namespace Capture
