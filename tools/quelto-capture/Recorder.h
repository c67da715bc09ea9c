// Turns blocks into a file: 100 ms data records, one channel per row and
// component of each non-empty buffer (Quelto_DataLayout.h), written to
// EDF+/BDF+ through EDFlib and/or to CSV. Triggers and remote-control
// markers become annotations.
#pragma once

#include "Options.h"
#include "Quelto_DataAvailableEventArgs.h"
#include "Quelto_DataLayout.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Capture {

// Every block period (100, 50, 25, 10 ms) divides it, and every device
// rate is a multiple of 10 Hz, so each record holds whole samples.
inline constexpr int RecordDuration_ms = 100;

struct Channel {
    Quelto_Buffer buffer;
    int row;
    int component;
    std::string label;
    int perRecord = 0;  // samples in one record
    int RateHz() const { return perRecord * 1000 / RecordDuration_ms; }
};

struct Annotation {
    double onset_s;
    std::string text;
};

class Recorder {
public:
    Recorder(const Options& options);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Takes the next block. Files are opened when the first record is
    // complete (its buffer sizes give the channels and rates). Throws
    // std::runtime_error on a write failure or when the layout changes.
    void Add(Quelto_DataAvailableEventArgs block);
    // Wall-clock time of the first sample (ns since the Unix epoch), written
    // as the file's start with 100 us precision. Call before the first
    // record is complete; otherwise the start is the time the file opens.
    void SetStart(int64_t unixNs) { startUnixNs_ = unixNs; }
    int64_t StartUnixNs() const { return startUnixNs_; }
    // Writes what remains (a partial record is dropped) and closes the files.
    void Close();

    int64_t Records() const { return records_; }
    double Duration_s() const { return records_ * RecordDuration_ms / 1000.0; }
    const std::vector<Channel>& Channels() const { return channels_; }
    const std::vector<Annotation>& Annotations() const { return annotations_; }
    int BlocksPerRecord() const { return blocksPerRecord_; }

private:
    void Open();
    bool SetEdfStart();
    void WriteRecord();
    void NoteEvents(const Quelto_DataAvailableEventArgs& block);

    const Options& options_;
    int blocksPerRecord_;
    std::vector<Quelto_DataAvailableEventArgs> pending_;
    std::vector<Channel> channels_;
    std::vector<Annotation> annotations_;
    int scanRateHz_ = 2000;
    int64_t records_ = 0;
    int64_t startUnixNs_ = 0;
    int edf_ = -1;
    std::FILE* csv_ = nullptr;
    bool closed_ = false;
    std::vector<double> buffer_;
};

// The buffer of `block` that holds `buffer`'s samples.
const std::vector<float>& BufferOf(const Quelto_DataAvailableEventArgs& block, Quelto_Buffer buffer);

}  // namespace Capture
