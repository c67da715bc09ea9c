#include "Playback.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

namespace {

struct Place {
    Quelto_Buffer buffer;
    int row;
    int component;
};

// Every label of the layout, once.
const std::map<std::string, Place>& Places() {
    static const std::map<std::string, Place> places = [] {
        std::map<std::string, Place> m;
        for (int b = 0; b < QUELTO_BUFFER_COUNT; ++b) {
            const auto buffer = static_cast<Quelto_Buffer>(b);
            const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(buffer);
            for (int r = 0; r < layout.rows; ++r) {
                for (int c = 0; c < layout.components; ++c) {
                    char label[32];
                    Quelto_DataLayout_Label(buffer, r, c, label, sizeof label);
                    m.emplace(label, Place{buffer, r, c});
                }
            }
        }
        return m;
    }();
    return places;
}

std::string Trimmed(const char* text) {
    std::string s(text);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The place of a file label: the layout's label, after a signal type
// ("EMG EMG07", "MISC ACC07X") or bare, as older recordings have it.
const Place* PlaceOf(const std::string& label) {
    auto it = Places().find(label);
    const size_t space = label.find(' ');
    if (it == Places().end() && space != std::string::npos) it = Places().find(label.substr(space + 1));
    return it == Places().end() ? nullptr : &it->second;
}

// File value -> buffer value for a channel in `unit`; 0 for a unit the
// buffer does not have. Older recordings have angular rates in rpm and no
// unit for dimensionless channels.
double ScaleOf(const Quelto_BufferLayout& layout, const std::string& unit) {
    if (unit == layout.unit) return layout.scale;
    if (unit == "rpm" && std::string(layout.bufferUnit) == "deg/s") return 1.0 / 6.0;
    if (unit.empty() && std::string(layout.unit) == "-") return layout.scale;
    return 0.0;
}

}  // namespace

PlaybackSource::PlaybackSource(const std::string& path) {
    // A FIFO or device would block the reader (and the device's creation).
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        throw Runtime::FileNotFoundException("Playback file '" + path + "' is not a regular file.");
    }
    auto header = std::make_unique<edf_hdr_struct>();
    if (edfopen_file_readonly(path.c_str(), header.get(), EDFLIB_READ_ANNOTATIONS) != 0) {
        const int code = header->filetype;
        if (code == EDFLIB_NO_SUCH_FILE_OR_DIRECTORY) {
            throw Runtime::FileNotFoundException("Playback file '" + path + "' cannot be opened.");
        }
        throw Runtime::FormatException("Playback file '" + path + "' is not a readable EDF+/BDF+ file (EDFlib error " +
                                       std::to_string(code) + ").");
    }
    const int handle = header->handle;
    const double recordSeconds = static_cast<double>(header->datarecord_duration) / EDFLIB_TIME_DIMENSION;
    duration_us_ = header->file_duration / 10;
    std::vector<double> buf;
    for (int s = 0; s < header->edfsignals; ++s) {
        const edf_param_struct& p = header->signalparam[s];
        const std::string label = Trimmed(p.label);
        const Place* found = PlaceOf(label);
        if (!found) continue;
        const Place& place = *found;
        const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(place.buffer);
        const double scale = ScaleOf(layout, Trimmed(p.physdimension));
        if (scale == 0.0) continue;
        const int rate = static_cast<int>(std::lround(p.smp_in_datarecord / recordSeconds));
        Stream& stream = streams_[place.buffer];
        if (stream.rateHz == 0) {
            stream.rateHz = rate;
            stream.length = p.smp_in_file;
            stream.data.resize(static_cast<size_t>(layout.rows) * layout.components);
        } else if (stream.rateHz != rate || stream.length != p.smp_in_file) {
            continue;  // one rate per buffer, as the device sends it
        }
        buf.resize(static_cast<size_t>(p.smp_in_file));
        if (edfread_physical_samples(handle, s, static_cast<int>(p.smp_in_file), buf.data()) !=
            static_cast<int>(p.smp_in_file)) {
            edfclose_file(handle);
            throw Runtime::FormatException("Playback file '" + path + "': channel " + label + " cannot be read.");
        }
        auto& out = stream.data[static_cast<size_t>(place.row) * layout.components + place.component];
        out.resize(buf.size());
        for (size_t i = 0; i < buf.size(); ++i) out[i] = static_cast<float>(buf[i] / scale);
        ++channels_;
    }
    ReadEvents(handle, header->annotations_in_file);
    edfclose_file(handle);
    if (channels_ == 0) {
        throw Runtime::FormatException("Playback file '" + path + "' has no channel of the device's layout.");
    }
}

void PlaybackSource::ReadEvents(int handle, long long count) {
    for (long long n = 0; n < count; ++n) {
        edf_annotation_struct a{};
        if (edf_get_annotation(handle, static_cast<int>(n), &a) != 0 || a.onset < 0) continue;
        const int64_t onset_us = a.onset / (EDFLIB_TIME_DIMENSION / 1000000);
        // A press's duration is how long its button was held (EDFlib: text,
        // in seconds; empty when not known).
        const double held_s = a.duration[0] ? std::strtod(a.duration, nullptr) : 0.0;
        const int64_t held_us = held_s > 0 ? static_cast<int64_t>(std::llround(held_s * 1e6)) : 0;
        const std::string text = Trimmed(a.annotation);
        if (text == "StartTrigger") {
            events_.push_back({Event::Kind::StartTrigger, onset_us, 0});
        } else if (text == "StopTrigger") {
            events_.push_back({Event::Kind::StopTrigger, onset_us, 0});
        } else if (text == "Marker") {
            events_.push_back({Event::Kind::Remote, onset_us, QUELTO_REMOTE_MARKER, held_us});
        } else if (text.rfind("Remote ", 0) == 0) {
            char* end = nullptr;
            const long code = std::strtol(text.c_str() + 7, &end, 10);
            if (end != text.c_str() + 7 && *end == '\0' && code > 0 && code <= 0xFFFF) {
                events_.push_back({Event::Kind::Remote, onset_us, static_cast<uint16_t>(code), held_us});
            }
        }
    }
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.onset_us < b.onset_us; });
}

void PlaybackSource::FillEvents(D::DataAvailableEventArgs& e, int64_t block, int scanRate, int insoleRate,
                                int insoleImuRate) const {
    std::vector<uint16_t> remote;
    // The block covers [from, to) of replay time; the file repeats every
    // duration_us_.
    const int64_t from = block * period_us_, to = from + period_us_;
    const auto scanAt = [](int64_t t_us, int rate) { return static_cast<int32_t>(t_us * rate / 1000000); };
    const int analogRate = RateOf(QUELTO_BUFFER_ANALOG) ? RateOf(QUELTO_BUFFER_ANALOG) : scanRate;
    // The button state at the block's last scan.
    const int64_t last_us = (static_cast<int64_t>(scanAt(to, scanRate)) - 1) * 1000000 / scanRate;
    for (const Event& ev : events_) {
        if (duration_us_ <= 0 || ev.onset_us >= duration_us_) continue;
        if (ev.kind == Event::Kind::Remote && ev.code <= 16 && ev.held_us > 0) {
            const int64_t into = ((last_us - ev.onset_us) % duration_us_ + duration_us_) % duration_us_;
            if (into < ev.held_us && last_us >= ev.onset_us) e.RemoteControlState |= static_cast<uint16_t>(1u << (ev.code - 1));
        }
        const int64_t loops = from > ev.onset_us ? (from - ev.onset_us + duration_us_ - 1) / duration_us_ : 0;
        const int64_t at = ev.onset_us + loops * duration_us_;
        if (at >= to) continue;
        const TriggerScans scans{scanAt(at, scanRate), scanAt(at, insoleRate), scanAt(at, insoleImuRate),
                                 scanAt(at, analogRate)};
        switch (ev.kind) {
            case Event::Kind::StartTrigger:
                MarkStartTrigger(e, scans);
                break;
            case Event::Kind::StopTrigger:
                MarkStopTrigger(e, scans);
                break;
            case Event::Kind::Remote:
                remote.push_back(ev.code);
                break;
        }
    }
    e.RemoteControlEvents = RemoteEvents(remote);
}

bool PlaybackSource::RowPresent(Quelto_Buffer buffer, int row) const {
    const Stream& s = streams_[buffer];
    const int components = Quelto_DataLayout_Buffer(buffer).components;
    for (int c = 0; c < components; ++c) {
        if (!s.data.empty() && !s.data[static_cast<size_t>(row) * components + c].empty()) return true;
    }
    return false;
}

DevicePlan PlaybackSource::Start(const DevicePlan& configured, std::chrono::microseconds period) {
    period_us_ = period.count();
    block_ = 0;
    DevicePlan plan = configured;
    plan.inertialRateHz = 0;
    for (Quelto_Buffer b : {QUELTO_BUFFER_ORIENTATION, QUELTO_BUFFER_ACCELEROMETER, QUELTO_BUFFER_GYROSCOPE,
                            QUELTO_BUFFER_MAGNETOMETER}) {
        plan.inertialRateHz = std::max(plan.inertialRateHz, RateOf(b));
    }
    for (int s = 0; s < Sensors; ++s) {
        SensorPlan& p = plan.sensors[s];
        p.emgRateHz = RowPresent(QUELTO_BUFFER_EMG, s) ? RateOf(QUELTO_BUFFER_EMG) : 0;
        bool inertial = false;
        for (Quelto_Buffer b : {QUELTO_BUFFER_ORIENTATION, QUELTO_BUFFER_ACCELEROMETER, QUELTO_BUFFER_GYROSCOPE,
                                QUELTO_BUFFER_MAGNETOMETER}) {
            inertial = inertial || RowPresent(b, s);
        }
        p.inertialRateHz = inertial ? plan.inertialRateHz : 0;
        p.connected = p.emgRateHz > 0 || inertial;
    }
    for (int sw = 0; sw < FootSwitches; ++sw) {
        plan.footSwOn[sw] = RowPresent(QUELTO_BUFFER_FOOTSW, sw) || RowPresent(QUELTO_BUFFER_FOOTSW_RAW, sw);
    }
    if (RateOf(QUELTO_BUFFER_FOOTSW)) plan.footSwRateHz = RateOf(QUELTO_BUFFER_FOOTSW);
    for (int i = 0; i < Insoles; ++i) plan.insoleOn[i] = RowPresent(QUELTO_BUFFER_INSOLE, i);
    if (RateOf(QUELTO_BUFFER_INSOLE)) plan.insoleRateHz = RateOf(QUELTO_BUFFER_INSOLE);
    plan.insoleImuRateHz = std::max({RateOf(QUELTO_BUFFER_INSOLE_ORIENTATION), RateOf(QUELTO_BUFFER_INSOLE_ACCELEROMETER),
                                     RateOf(QUELTO_BUFFER_INSOLE_GYROSCOPE)});
    for (int c = 0; c < AnalogChannels; ++c) plan.analogOn[c] = RowPresent(QUELTO_BUFFER_ANALOG, c);
    if (RateOf(QUELTO_BUFFER_ANALOG)) plan.analogRateHz = RateOf(QUELTO_BUFFER_ANALOG);
    return plan;
}

template <int Rank>
Runtime::ArrayRef<float, Rank> PlaybackSource::Slice(Quelto_Buffer buffer, int64_t block) const {
    const Stream& s = streams_[buffer];
    if (s.rateHz == 0) return nullptr;
    const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(buffer);
    const int64_t first = SamplesBefore(block, period_us_, s.rateHz);
    const int n = SamplesInBlock(block, period_us_, s.rateHz);
    Runtime::ArrayRef<float, Rank> a;
    if constexpr (Rank == 1) {
        a = Runtime::NewArray<float>(n);
    } else if constexpr (Rank == 2) {
        a = Runtime::NewArray<float>(layout.rows, n);
    } else {
        a = Runtime::NewArray<float>(layout.rows, n, layout.components);
    }
    float* out = a->Data();
    for (int r = 0; r < layout.rows; ++r) {
        for (int c = 0; c < layout.components; ++c) {
            const auto& channel = s.data[static_cast<size_t>(r) * layout.components + c];
            for (int i = 0; i < n; ++i) {
                out[Quelto_DataLayout_Index(buffer, r, i, c, n)] =
                    channel.empty() ? 0.0f : channel[static_cast<size_t>((first + i) % s.length)];
            }
        }
    }
    return a;
}

Runtime::Ref<D::DataAvailableEventArgs> PlaybackSource::Next() {
    const int64_t k = block_++;
    auto e = std::make_shared<D::DataAvailableEventArgs>();
    const int scanRate = RateOf(QUELTO_BUFFER_EMG)    ? RateOf(QUELTO_BUFFER_EMG)
                         : RateOf(QUELTO_BUFFER_SYNC) ? RateOf(QUELTO_BUFFER_SYNC)
                                                      : EmgBlockRateHz;
    e->ScanNumber = static_cast<int32_t>(SamplesBefore(k, period_us_, scanRate));
    const int insoleRate = RateOf(QUELTO_BUFFER_INSOLE) ? RateOf(QUELTO_BUFFER_INSOLE) : InsoleRateHz;
    e->InsoleScanNumber = static_cast<int32_t>(SamplesBefore(k, period_us_, insoleRate));
    int insoleImuRate = std::max({RateOf(QUELTO_BUFFER_INSOLE_ORIENTATION), RateOf(QUELTO_BUFFER_INSOLE_ACCELEROMETER),
                                  RateOf(QUELTO_BUFFER_INSOLE_GYROSCOPE)});
    if (insoleImuRate == 0) insoleImuRate = InsoleRateHz;
    e->InsoleImuScanNumber = static_cast<int32_t>(SamplesBefore(k, period_us_, insoleImuRate));
    e->EmgSamples = Slice<2>(QUELTO_BUFFER_EMG, k);
    e->ImuSamples = Slice<3>(QUELTO_BUFFER_ORIENTATION, k);
    e->AccelerometerSamples = Slice<3>(QUELTO_BUFFER_ACCELEROMETER, k);
    e->GyroscopeSamples = Slice<3>(QUELTO_BUFFER_GYROSCOPE, k);
    e->MagnetometerSamples = Slice<3>(QUELTO_BUFFER_MAGNETOMETER, k);
    e->SyncSamples = Slice<1>(QUELTO_BUFFER_SYNC, k);
    e->FootSwSamples = Slice<2>(QUELTO_BUFFER_FOOTSW, k);
    e->FootSwRawSamples = Slice<3>(QUELTO_BUFFER_FOOTSW_RAW, k);
    e->InsoleSamples = Slice<3>(QUELTO_BUFFER_INSOLE, k);
    e->InsoleImuSamples = Slice<3>(QUELTO_BUFFER_INSOLE_ORIENTATION, k);
    e->InsoleAccelerometerSamples = Slice<3>(QUELTO_BUFFER_INSOLE_ACCELEROMETER, k);
    e->InsoleGyroscopeSamples = Slice<3>(QUELTO_BUFFER_INSOLE_GYROSCOPE, k);
    e->AnalogSamples = Slice<2>(QUELTO_BUFFER_ANALOG, k);
    if (e->AnalogSamples) {
        e->AnalogStates = Runtime::NewArray<int16_t>(AnalogChannels);
        for (int c = 0; c < AnalogChannels; ++c) {
            (*e->AnalogStates)[c] = RowPresent(QUELTO_BUFFER_ANALOG, c) ? QUELTO_ANALOG_STATE_ON : QUELTO_ANALOG_STATE_OFF;
        }
    }
    FillEvents(*e, k, scanRate, insoleRate, insoleImuRate);
    return e;
}

}  // namespace QueltoSim
