// The files quelto-capture reads and writes: checks made before the device
// starts, creation, the summary's atomic write, the replayed recording, and
// an EDF/BDF file cut back to its complete records after a write failure.
#pragma once

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

namespace Capture {

struct Options;

// A file refused before the device starts; the tool exits with 2.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The operating system's text for an errno value.
std::string Reason(int error);

// Throws Refused, with the reason, when an output (the recording or its CSV
// files, the --csv files, the summary) exists and --overwrite is not given,
// is not a regular file, names the same file as another output or an input,
// or cannot be created or written.
void CheckOutputs(const Options& options);

// Opens `path` for writing: a new file, or with `overwrite` the existing
// regular file emptied. Returns the descriptor; throws std::runtime_error
// with the reason.
int CreateOutput(const std::string& path, bool overwrite);

// Writes `text` to a new file beside `path` and renames it to `path` once
// complete: a failure leaves nothing, never a part. Without `overwrite` an
// existing `path` is kept and the write fails. Throws std::runtime_error.
void WriteAtomically(const std::string& path, const std::string& text, bool overwrite);

// A recording to replay: its layout labels ("EMG07", "ACC07X"), its length.
struct Recording {
    std::set<std::string> labels;
    int64_t records = 0;
    double duration_s = 0;
};
// Throws Refused unless `path` is a regular file holding an EDF+/BDF+
// recording with channels of the device's layout.
Recording ReadRecording(const std::string& path);

// Data records of an EDF/BDF file as its header gives them, and as its
// size holds complete (-1 when even the header is incomplete).
struct EdfRecords {
    int64_t declared = -1;
    int64_t complete = -1;
    bool exact = false;  // the size is the header and `declared` whole records
};
EdfRecords EdfRecordsOf(const std::string& path);
// Cuts the file to its first `records` records and writes that count into
// the header; removes the file for 0. Throws std::runtime_error.
void TrimEdf(const std::string& path, int64_t records);

}  // namespace Capture
