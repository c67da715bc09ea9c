#include "Recorder.h"

#include "CsvWriter.h"
#include "Files.h"

#include <edflib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace Capture {

namespace {

bool IsSensorBuffer(Quelto_Buffer b) {
    return b == QUELTO_BUFFER_EMG || b == QUELTO_BUFFER_ORIENTATION || b == QUELTO_BUFFER_ACCELEROMETER ||
           b == QUELTO_BUFFER_GYROSCOPE || b == QUELTO_BUFFER_MAGNETOMETER;
}

bool IsInsoleBuffer(Quelto_Buffer b) {
    return b == QUELTO_BUFFER_INSOLE || b == QUELTO_BUFFER_INSOLE_ORIENTATION ||
           b == QUELTO_BUFFER_INSOLE_ACCELEROMETER || b == QUELTO_BUFFER_INSOLE_GYROSCOPE;
}

// A state array of the block (states as floats); true when it is absent.
bool StateHas(const std::vector<float>& states, int row, int bits) {
    if (states.empty()) return true;
    if (row >= static_cast<int>(states.size())) return false;
    return (static_cast<int>(states[static_cast<size_t>(row)]) & bits) == bits;
}

bool Selected(const Options& options, Quelto_Buffer buffer, int row) {
    if (IsSensorBuffer(buffer)) return options.sensors[static_cast<size_t>(row)];
    if (IsInsoleBuffer(buffer)) return options.insoles[static_cast<size_t>(row)];
    if (buffer == QUELTO_BUFFER_FOOTSW || buffer == QUELTO_BUFFER_FOOTSW_RAW) {
        return options.footSwitches[static_cast<size_t>(row)];
    }
    if (buffer == QUELTO_BUFFER_ANALOG) return options.analog[static_cast<size_t>(row)];
    return true;
}

bool Sent(const Quelto_DataAvailableEventArgs& b, Quelto_Buffer buffer, int row, int component,
          const Transducers& transducers) {
    switch (buffer) {
        case QUELTO_BUFFER_EMG: return StateHas(b.SensorStates, row, QUELTO_STATE_CONNECTED | QUELTO_STATE_EMG);
        case QUELTO_BUFFER_ORIENTATION:
        case QUELTO_BUFFER_ACCELEROMETER:
        case QUELTO_BUFFER_GYROSCOPE:
        case QUELTO_BUFFER_MAGNETOMETER:
            return StateHas(b.SensorStates, row, QUELTO_STATE_CONNECTED | QUELTO_STATE_INERTIAL);
        case QUELTO_BUFFER_FOOTSW: return StateHas(b.FootSwSensorStates, row, QUELTO_STATE_CONNECTED);
        case QUELTO_BUFFER_FOOTSW_RAW:
            return StateHas(b.FootSwSensorStates, row, QUELTO_STATE_CONNECTED) &&
                   transducers[static_cast<size_t>(row)][static_cast<size_t>(component)];
        case QUELTO_BUFFER_INSOLE: return StateHas(b.InsoleStates, row, QUELTO_STATE_CONNECTED);
        case QUELTO_BUFFER_INSOLE_ORIENTATION:
        case QUELTO_BUFFER_INSOLE_ACCELEROMETER:
        case QUELTO_BUFFER_INSOLE_GYROSCOPE:
            return StateHas(b.InsoleStates, row, QUELTO_STATE_CONNECTED | QUELTO_STATE_INERTIAL);
        case QUELTO_BUFFER_ANALOG:
            return b.AnalogStates.empty() || (row < static_cast<int>(b.AnalogStates.size()) &&
                                              b.AnalogStates[static_cast<size_t>(row)] != QUELTO_ANALOG_STATE_OFF);
        case QUELTO_BUFFER_SYNC:
        case QUELTO_BUFFER_COUNT: break;
    }
    return true;
}

}  // namespace

std::string FileLabel(Quelto_Buffer buffer, int row, int component) {
    char label[32];
    Quelto_DataLayout_Label(buffer, row, component, label, sizeof label);
    return std::string(buffer == QUELTO_BUFFER_EMG ? "EMG " : "MISC ") + label;
}

const char* Transducer(Quelto_Buffer buffer) {
    switch (buffer) {
        case QUELTO_BUFFER_EMG: return "surface EMG sensor, bipolar electrodes";
        case QUELTO_BUFFER_ORIENTATION: return "orientation of the sensor's inertial unit";
        case QUELTO_BUFFER_ACCELEROMETER: return "3-axis accelerometer of the EMG sensor";
        case QUELTO_BUFFER_GYROSCOPE: return "3-axis gyroscope of the EMG sensor";
        case QUELTO_BUFFER_MAGNETOMETER: return "3-axis magnetometer of the EMG sensor";
        case QUELTO_BUFFER_SYNC: return "sync signal of the receiver";
        case QUELTO_BUFFER_FOOTSW: return "foot switch, contacts";
        case QUELTO_BUFFER_FOOTSW_RAW: return "foot switch force transducer";
        case QUELTO_BUFFER_INSOLE: return "pressure insole cell";
        case QUELTO_BUFFER_INSOLE_ORIENTATION: return "orientation of the insole's inertial unit";
        case QUELTO_BUFFER_INSOLE_ACCELEROMETER: return "3-axis accelerometer of the insole";
        case QUELTO_BUFFER_INSOLE_GYROSCOPE: return "3-axis gyroscope of the insole";
        case QUELTO_BUFFER_ANALOG: return "analog input";
        case QUELTO_BUFFER_COUNT: break;
    }
    return "";
}

const char* Prefilter(Quelto_Buffer buffer) {
    // The EMG amplifier's band; nothing is known of the other streams.
    return buffer == QUELTO_BUFFER_EMG ? "HP:20Hz LP:450Hz" : "";
}

int Quantise(double value, double pmin, double pmax, int dmin, int dmax) {
    // Readers take value = pmin + (digital - dmin) * step.
    const double step = (pmax - pmin) / (static_cast<double>(dmax) - dmin);
    const double digital = std::round((value - pmin) / step) + dmin;
    return static_cast<int>(std::clamp(digital, static_cast<double>(dmin), static_cast<double>(dmax)));
}

const std::vector<float>& BufferOf(const Quelto_DataAvailableEventArgs& e, Quelto_Buffer buffer) {
    switch (buffer) {
        case QUELTO_BUFFER_EMG: return e.EmgSamples;
        case QUELTO_BUFFER_ORIENTATION: return e.ImuSamples;
        case QUELTO_BUFFER_ACCELEROMETER: return e.AccelerometerSamples;
        case QUELTO_BUFFER_GYROSCOPE: return e.GyroscopeSamples;
        case QUELTO_BUFFER_MAGNETOMETER: return e.MagnetometerSamples;
        case QUELTO_BUFFER_SYNC: return e.SyncSamples;
        case QUELTO_BUFFER_FOOTSW: return e.FootSwSamples;
        case QUELTO_BUFFER_FOOTSW_RAW: return e.FootSwRawSamples;
        case QUELTO_BUFFER_INSOLE: return e.InsoleSamples;
        case QUELTO_BUFFER_INSOLE_ORIENTATION: return e.InsoleImuSamples;
        case QUELTO_BUFFER_INSOLE_ACCELEROMETER: return e.InsoleAccelerometerSamples;
        case QUELTO_BUFFER_INSOLE_GYROSCOPE: return e.InsoleGyroscopeSamples;
        case QUELTO_BUFFER_ANALOG: return e.AnalogSamples;
        case QUELTO_BUFFER_COUNT: break;
    }
    throw std::logic_error("no such buffer");
}

Transducers TransducersOf(const Quelto_CaptureConfiguration& c) {
    const Quelto_FootSwTransducerEnabled switches[2] = {c.FootSwATransducerEnabled, c.FootSwBTransducerEnabled};
    Transducers on{};
    for (int sw = 0; sw < 2; ++sw) {
        on[static_cast<size_t>(sw)] = {switches[sw].T_A, switches[sw].T_1, switches[sw].T_5, switches[sw].T_T};
    }
    return on;
}

ChannelSet SelectChannels(const Options& options, const std::vector<Quelto_DataAvailableEventArgs>& firstRecord,
                          const Transducers& transducers, const std::set<std::string>& recorded) {
    if (firstRecord.empty()) throw std::logic_error("no blocks to select channels from");
    ChannelSet set;
    for (int b = 0; b < QUELTO_BUFFER_COUNT; ++b) {
        const auto buffer = static_cast<Quelto_Buffer>(b);
        const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(buffer);
        long perRecord = 0;
        for (const auto& block : firstRecord) {
            const long n = Quelto_DataLayout_SamplesPerBlock(buffer, BufferOf(block, buffer).size());
            if (n < 0) throw std::runtime_error(std::string(layout.field) + " does not fit the documented layout");
            perRecord += n;
        }
        if (perRecord == 0) continue;
        if (buffer == QUELTO_BUFFER_EMG || (buffer == QUELTO_BUFFER_SYNC && set.channels.empty())) {
            set.scanRateHz = static_cast<int>(perRecord * 1000 / RecordDuration_ms);
        }
        for (int r = 0; r < layout.rows; ++r) {
            if (!Selected(options, buffer, r)) continue;
            for (int c = 0; c < layout.components; ++c) {
                if (!options.keepAll && !Sent(firstRecord.front(), buffer, r, c, transducers)) continue;
                char label[32];
                Quelto_DataLayout_Label(buffer, r, c, label, sizeof label);
                if (!options.keepAll && !recorded.empty() && !recorded.count(label)) continue;
                set.channels.push_back(Channel{buffer, r, c, FileLabel(buffer, r, c), static_cast<int>(perRecord)});
            }
        }
    }
    return set;
}

Recorder::Recorder(const Options& options)
    : options_(options), blocksPerRecord_(RecordDuration_ms / options.period_ms) {}

Recorder::~Recorder() {
    try {
        Close();
    } catch (...) {
    }
}

void Recorder::Add(Quelto_DataAvailableEventArgs block) {
    if (closed_ || !failure_.empty()) return;
    pending_.push_back(std::move(block));
    if (static_cast<int>(pending_.size()) < blocksPerRecord_) return;
    try {
        if (!opened_) Open();
        for (const auto& b : pending_) NoteEvents(b);
        WriteRecord();
    } catch (const std::exception& e) {
        failure_ = e.what();
        throw;
    }
    pending_.clear();
}

void Recorder::Open() {
    opened_ = true;
    if (channels_.empty()) {
        ChannelSet set = SelectChannels(options_, pending_, transducers_, recorded_);
        channels_ = std::move(set.channels);
        scanRateHz_ = set.scanRateHz;
    }
    if (channels_.empty()) throw std::runtime_error("the device sends no data for the selected sensors");
    if (channels_.size() >= EDFLIB_MAXSIGNALS) throw std::runtime_error("too many channels for one EDF file");
    size_t widest = 0;
    values_.clear();
    for (const auto& ch : channels_) {
        widest = std::max(widest, static_cast<size_t>(ch.perRecord));
        values_.emplace_back(static_cast<size_t>(ch.perRecord));
    }
    digital_.resize(widest);

    if (!options_.writeFile) return;  // streaming only
    const bool edf = options_.format != Format::Csv;
    if (edf) {
        const bool bdf = options_.format == Format::Bdf;
        // Made here (never over a file that appeared since the check), then
        // opened again by EDFlib.
        ::close(CreateOutput(options_.output, options_.overwrite));
        edfCreated_ = true;
        errno = 0;
        edf_ = edfopen_file_writeonly(options_.output.c_str(), bdf ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS,
                                      static_cast<int>(channels_.size()));
        if (edf_ < 0) {
            throw std::runtime_error("cannot create " + options_.output + ": " +
                                     (errno ? Reason(errno) : "EDFlib error " + std::to_string(edf_)));
        }
        const int digitalMax = bdf ? 8388607 : 32767, digitalMin = bdf ? -8388608 : -32768;
        bool ok = edf_set_datarecord_duration(edf_, RecordDuration_ms * 100) == 0;  // units of 10 us
        for (size_t i = 0; i < channels_.size() && ok; ++i) {
            const Channel& ch = channels_[i];
            const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(ch.buffer);
            const int s = static_cast<int>(i);
            ok = edf_set_samplefrequency(edf_, s, ch.perRecord) == 0 && edf_set_label(edf_, s, ch.label.c_str()) == 0 &&
                 edf_set_physical_dimension(edf_, s, layout.unit) == 0 &&
                 edf_set_physical_maximum(edf_, s, layout.maximum) == 0 &&
                 edf_set_physical_minimum(edf_, s, layout.minimum) == 0 &&
                 edf_set_digital_maximum(edf_, s, digitalMax) == 0 && edf_set_digital_minimum(edf_, s, digitalMin) == 0 &&
                 edf_set_transducer(edf_, s, Transducer(ch.buffer)) == 0 &&
                 edf_set_prefilter(edf_, s, Prefilter(ch.buffer)) == 0;
        }
        ok = ok && edf_set_equipment(edf_, "Quelto acquisition system") == 0 &&
             edf_set_recording_additional(
                 edf_, ("quelto-capture, " + std::to_string(options_.period_ms) + " ms blocks").c_str()) == 0;
        ok = ok && SetEdfStart();
        if (!ok) throw std::runtime_error("cannot set up the header of " + options_.output);
    }
    const std::string csvPath = options_.format == Format::Csv ? options_.output : options_.csv;
    if (!csvPath.empty()) {
        csv_ = std::make_unique<CsvWriter>(csvPath, options_.overwrite);
        csv_->Open(channels_);
    }
}

bool Recorder::SetEdfStart() {
    if (startUnixNs_ <= 0) return true;  // EDFlib's default: the time of opening
    // EDF+ keeps local date and time to the second in the header and the
    // fraction in the first record's time stamp.
    const int64_t seconds = startUnixNs_ / 1000000000;
    const int64_t fraction_100ns = startUnixNs_ % 1000000000 / 100;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return false;
    return edf_set_startdatetime(edf_, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                 local.tm_min, local.tm_sec) == 0 &&
           edf_set_subsecond_starttime(edf_, static_cast<int>(fraction_100ns / 1000 * 1000)) == 0;
}

void Recorder::NoteEvents(const Quelto_DataAvailableEventArgs& b) {
    const double at = static_cast<double>(b.ScanNumber) / scanRateHz_;
    // A press still held at the end of the previous block ends in this one
    // when this block ends with its button up: its length is known to the
    // block (the state is sampled once per block).
    for (size_t i = 0; i < held_.size();) {
        Annotation& a = annotations_[held_[i]];
        if (!(b.RemoteControlState & (1u << (a.code - 1)))) {
            a.duration_s = static_cast<double>(std::max<int64_t>(0, b.ScanNumber - a.scan)) / scanRateHz_;
            held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (b.StartTriggerDetected) annotations_.push_back({static_cast<double>(b.StartTriggerScan) / scanRateHz_, "StartTrigger"});
    if (b.StopTriggerDetected) annotations_.push_back({static_cast<double>(b.StopTriggerScan) / scanRateHz_, "StopTrigger"});
    for (uint16_t code : b.RemoteControlEvents) {
        Annotation a{at, code == QUELTO_REMOTE_MARKER ? "Marker" : "Remote " + std::to_string(code)};
        a.code = code;
        a.scan = b.ScanNumber;
        const bool known = code >= 1 && code <= 16;
        if (known && (b.RemoteControlState & (1u << (code - 1)))) {
            held_.push_back(annotations_.size());
        } else if (known) {
            // Up again before the block ended.
            const long samples = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_SYNC, b.SyncSamples.size());
            a.duration_s = samples > 0 ? static_cast<double>(samples) / scanRateHz_ : -1;
        }
        annotations_.push_back(std::move(a));
    }
}

void Recorder::WriteRecord() {
    for (size_t i = 0; i < channels_.size(); ++i) {
        const Channel& ch = channels_[i];
        const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(ch.buffer);
        std::vector<double>& values = values_[i];
        int n = 0;
        for (const auto& block : pending_) {
            const auto& data = BufferOf(block, ch.buffer);
            const long samples = Quelto_DataLayout_SamplesPerBlock(ch.buffer, data.size());
            if (samples < 0 || n + samples > ch.perRecord) break;
            for (long s = 0; s < samples; ++s) {
                values[n++] = data[Quelto_DataLayout_Index(ch.buffer, ch.row, s, ch.component, samples)] * layout.scale;
            }
        }
        if (n != ch.perRecord) {
            throw std::runtime_error("the rate of " + ch.label + " changed during the capture");
        }
    }
    if (edf_ >= 0) {
        // Rounded here: EDFlib's own conversion truncates.
        const bool bdf = options_.format == Format::Bdf;
        const int dmax = bdf ? 8388607 : 32767, dmin = bdf ? -8388608 : -32768;
        for (size_t i = 0; i < channels_.size(); ++i) {
            const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(channels_[i].buffer);
            for (int s = 0; s < channels_[i].perRecord; ++s) {
                digital_[s] = Quantise(values_[i][s], layout.minimum, layout.maximum, dmin, dmax);
            }
            // EDFlib does not report a failed write of its buffered stream;
            // errno does.
            errno = 0;
            const int status = edfwrite_digital_samples(edf_, digital_.data());
            const int error = errno;
            if (status != 0 || error == ENOSPC || error == EFBIG || error == EDQUOT || error == EIO) {
                throw std::runtime_error("cannot write " + options_.output + ": " +
                                         (error ? Reason(error) : std::string("EDFlib error")));
            }
        }
    }
    if (csv_) csv_->Write(values_, records_);
    ++records_;
}

void Recorder::WriteAnnotations(int64_t records) {
    const double end_s = records * RecordDuration_ms / 1000.0;
    for (const Annotation& a : annotations_) {
        if (a.onset_s < end_s) {
            const long long duration = a.duration_s < 0 ? -1 : std::llround(a.duration_s * 10000.0);
            edfwrite_annotation_utf8(edf_, std::llround(a.onset_s * 10000.0), duration, a.text.c_str());
        }
    }
}

void Recorder::Close() {
    if (closed_) return;
    closed_ = true;
    pending_.clear();
    if (failure_.empty()) {
        try {
            if (edf_ >= 0) {
                WriteAnnotations(records_);
                const int handle = edf_;
                edf_ = -1;
                errno = 0;
                const int status = edfclose_file(handle);
                const int error = errno;
                // The size on disk tells whether every byte got there.
                const EdfRecords written = EdfRecordsOf(options_.output);
                if (status != 0 || !written.exact || written.declared != records_) {
                    throw std::runtime_error("cannot write " + options_.output + ": " +
                                             (error ? Reason(error) : std::string("the file is incomplete")));
                }
            }
            if (csv_) csv_->Close();
            return;
        } catch (const std::exception& e) {
            failure_ = e.what();
        }
    }
    Salvage();
    char kept[96] = "; no file kept";
    if (records_ > 0) {
        std::snprintf(kept, sizeof kept, "; kept the first %.1f s (%lld complete record%s)", Duration_s(),
                      static_cast<long long>(records_), records_ == 1 ? "" : "s");
    }
    throw std::runtime_error(failure_ + kept);
}

void Recorder::Salvage() {
    // What reached the disk: EDFlib's stream flushed, then each file's
    // complete records; all files keep the records they all have.
    std::fflush(nullptr);
    int64_t kept = records_;
    if (edfCreated_) kept = std::min(kept, EdfRecordsOf(options_.output).complete);
    if (csv_) kept = std::min(kept, csv_->CompleteRecords());
    kept = std::max<int64_t>(0, kept);
    if (edf_ >= 0) {
        WriteAnnotations(kept);
        edfclose_file(edf_);
        edf_ = -1;
    }
    records_ = kept;
    if (csv_) csv_->Trim(kept);
    if (edfCreated_) TrimEdf(options_.output, kept);
}

std::vector<std::string> Recorder::CsvFiles() const { return csv_ ? csv_->Paths() : std::vector<std::string>{}; }

}  // namespace Capture
