// Turns blocks into a file: 100 ms data records, one channel per row and
// component of each non-empty buffer (Quelto_DataLayout.h) that is selected
// and that the device sends (the set is fixed by the first block), written
// to EDF+/BDF+ through EDFlib and/or to CSV. Labels are the signal type, a
// space and the layout's label ("EMG EMG07", "MISC ACC07X"). Triggers and
// remote-control presses become annotations, presses with how long the
// button was held.
#pragma once

#include "Options.h"
#include "Quelto_CaptureConfiguration.h"
#include "Quelto_DataAvailableEventArgs.h"
#include "Quelto_DataLayout.h"

#include <array>
#include <cstdint>
#include <memory>
#include <set>
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
    std::string label;  // as in the file
    int perRecord = 0;  // samples in one record
    int RateHz() const { return perRecord * 1000 / RecordDuration_ms; }
};

struct Annotation {
    double onset_s;
    std::string text;
    double duration_s = -1;  // -1: not known (a trigger, or still held at the end)
    uint16_t code = 0;       // remote-control code of a press
    int64_t scan = 0;        // onset of a press in scans
};

// The file label of a layout channel: "EMG " or "MISC " and its layout label.
std::string FileLabel(Quelto_Buffer buffer, int row, int component);
// Sensor type and filter band of a buffer's channels for the EDF header.
const char* Transducer(Quelto_Buffer buffer);
const char* Prefilter(Quelto_Buffer buffer);
// Which transducers of foot switches A and B are on (heel, 1st and 5th
// metatarsal, toe).
using Transducers = std::array<std::array<bool, 4>, 2>;
// Those a configuration file switches on.
Transducers TransducersOf(const Quelto_CaptureConfiguration& configuration);

// The channels of a capture: every selected row and component of each
// non-empty buffer that the device sends, as the blocks of its first record
// show (their states, their sample counts for the rates); with a recording's
// layout labels, only those. The file and the streams both use this set.
struct ChannelSet {
    std::vector<Channel> channels;
    int scanRateHz = 2000;  // of ScanNumber: the EMG (or sync) rate
};
ChannelSet SelectChannels(const Options& options, const std::vector<Quelto_DataAvailableEventArgs>& firstRecord,
                          const Transducers& transducers, const std::set<std::string>& recorded);

// Digital value of a physical one for a channel of [pmin, pmax] on
// [dmin, dmax], rounded to the nearest step, as readers invert it.
int Quantise(double value, double pmin, double pmax, int dmin, int dmax);

class CsvWriter;

class Recorder {
public:
    Recorder(const Options& options);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Takes the next block. Files are opened when the first record is
    // complete (its buffer sizes give the channels and rates). Throws
    // std::runtime_error on a write failure or when the layout changes;
    // Close then keeps what is complete.
    void Add(Quelto_DataAvailableEventArgs block);
    // Wall-clock time of the first sample (ns since the Unix epoch), written
    // as the file's start with 100 us precision. Call before the first
    // record is complete; otherwise the start is the time the file opens.
    void SetStart(int64_t unixNs) { startUnixNs_ = unixNs; }
    int64_t StartUnixNs() const { return startUnixNs_; }
    // A marker of the host (a line typed during the capture) at a time of
    // the recording.
    void AddMarker(double onset_s, std::string text) { annotations_.push_back({onset_s, std::move(text)}); }
    // Writes what remains (a partial record is dropped) and closes the files.
    // After a write failure (here or in Add) each file is cut to the records
    // complete in all of them, or removed when there are none, and this
    // throws std::runtime_error saying so.
    void Close();
    // The CSV files written, in group order.
    std::vector<std::string> CsvFiles() const;

    int64_t Records() const { return records_; }
    double Duration_s() const { return records_ * RecordDuration_ms / 1000.0; }
    const std::vector<Channel>& Channels() const { return channels_; }
    const std::vector<Annotation>& Annotations() const { return annotations_; }
    int BlocksPerRecord() const { return blocksPerRecord_; }
    // Which foot-switch transducers the device was told to use (all unless
    // a configuration says otherwise).
    void SetTransducers(const Transducers& on) { transducers_ = on; }
    // Replay: only the channels of the recording carry data (layout labels).
    void SetRecorded(std::set<std::string> labels) { recorded_ = std::move(labels); }
    // The channels to write, chosen before the capture (otherwise from the
    // first record).
    void SetChannels(ChannelSet set) {
        channels_ = std::move(set.channels);
        scanRateHz_ = set.scanRateHz;
    }

private:
    void Open();
    bool SetEdfStart();
    void WriteRecord();
    void WriteAnnotations(int64_t records);  // those within the first `records` records
    void Salvage();
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
    bool edfCreated_ = false;
    std::unique_ptr<CsvWriter> csv_;
    bool opened_ = false;
    bool closed_ = false;
    std::string failure_;  // the first write failure
    std::vector<std::vector<double>> values_;  // [channel][sample] of the record being written
    std::vector<int> digital_;
    Transducers transducers_{{{true, true, true, true}, {true, true, true, true}}};
    std::set<std::string> recorded_;
    std::vector<size_t> held_;  // annotations of presses whose button is still held
};

// The buffer of `block` that holds `buffer`'s samples.
const std::vector<float>& BufferOf(const Quelto_DataAvailableEventArgs& block, Quelto_Buffer buffer);

}  // namespace Capture
