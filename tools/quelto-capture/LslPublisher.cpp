#include "LslPublisher.h"

#include "QueltoBridge.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <stdexcept>

namespace Capture {

void SharedClock::Observe(double deviceEnd_s, double arrivalMonotonic_s) {
    std::lock_guard lock(mutex_);
    clock_.Observe(deviceEnd_s, arrivalMonotonic_s);
}

SampleClock SharedClock::Snapshot() const {
    std::lock_guard lock(mutex_);
    return clock_;
}

double SharedClock::DeviceTime(double monotonic_s) const {
    std::lock_guard lock(mutex_);
    return clock_.Ready() ? std::max(0.0, clock_.DeviceTime(monotonic_s)) : 0.0;
}

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string DefaultSourceId(const std::string& deviceSoftware) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::snprintf(host, sizeof host, "localhost");
    return std::string("quelto/") + host + "/" + deviceSoftware;
}

LslPublisher::LslPublisher(const Lsl::Library& lsl, std::vector<StreamGroup> groups, int scanRateHz,
                           const SharedClock& clock, LslSettings settings)
    : api_(lsl.api), groups_(std::move(groups)), scanRateHz_(scanRateHz), clock_(clock),
      settings_(std::move(settings)) {
    if (scanRateHz_ <= 0) throw std::invalid_argument("the scan rate must be positive");
    capacity_ = settings_.queueBlocks ? settings_.queueBlocks
                                      : std::max<size_t>(8, static_cast<size_t>(2000 / std::max(1, settings_.period_ms)));
    // LSL's clock against CLOCK_MONOTONIC (the same clock on Linux): the
    // reading with the narrowest bracket.
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double before = MonotonicSeconds();
        const double lsl = api_.local_clock();
        const double after = MonotonicSeconds();
        if (after - before < best) {
            best = after - before;
            lslMinusMonotonic_ = lsl - (before + after) / 2;
        }
    }
    try {
        for (const StreamGroup& g : groups_) outlets_.push_back(MakeOutlet(g));
        markers_ = MakeMarkerOutlet();
    } catch (...) {
        for (Lsl::Outlet o : outlets_) api_.destroy_outlet(o);
        throw;
    }
    thread_ = std::thread([this] { Run(); });
}

LslPublisher::~LslPublisher() {
    Finish();
    // liblsl sends on threads of its own and has no flush: an outlet that
    // goes at once can take the last chunks with it. Give connected inlets
    // a moment to take them.
    if (settings_.linger_s > 0 && (sawConsumers_ || Consumers() > 0)) {
        std::this_thread::sleep_for(std::chrono::duration<double>(settings_.linger_s));
    }
    for (Lsl::Outlet o : outlets_) api_.destroy_outlet(o);
    if (markers_) api_.destroy_outlet(markers_);
}

void LslPublisher::Describe(Lsl::StreamInfo info, const char* group) {
    Lsl::Xml desc = api_.get_desc(info);
    Lsl::Xml acquisition = api_.append_child(desc, "acquisition");
    api_.append_child_value(acquisition, "software", "quelto-capture");
    api_.append_child_value(acquisition, "bridge_version", Quelto_Bridge_GetVersion());
    api_.append_child_value(acquisition, "device_software_version", settings_.deviceSoftware.c_str());
    api_.append_child_value(acquisition, "block_period_ms", std::to_string(settings_.period_ms).c_str());
    api_.append_child_value(acquisition, "group", group);
    api_.append_child_value(acquisition, "time_stamps",
                            "per sample: the sample's index on the device's sample counter, mapped onto the LSL "
                            "clock by a line through the earliest block arrivals (offset and drift)");
}

Lsl::Outlet LslPublisher::MakeOutlet(const StreamGroup& g) {
    const std::string name = settings_.name + " " + g.name;
    const std::string source = settings_.sourceId + "/" + g.key;
    Lsl::StreamInfo info = api_.create_streaminfo(name.c_str(), g.type.c_str(), static_cast<int32_t>(g.channels.size()),
                                                  g.rateHz, Lsl::FormatFloat32, source.c_str());
    if (!info) throw std::runtime_error("LSL could not describe the stream " + name);
    Lsl::Xml channels = api_.append_child(api_.get_desc(info), "channels");
    for (const Channel& ch : g.channels) {
        char label[32];
        Quelto_DataLayout_Label(ch.buffer, ch.row, ch.component, label, sizeof label);
        Lsl::Xml c = api_.append_child(channels, "channel");
        api_.append_child_value(c, "label", label);
        api_.append_child_value(c, "unit", StreamUnit(ch.buffer).c_str());
        api_.append_child_value(c, "type", ChannelType(ch.buffer));
        if (ch.buffer == QUELTO_BUFFER_EMG) {
            // The amplifier's band, as in the file's prefilter field.
            Lsl::Xml filtering = api_.append_child(c, "filtering");
            api_.append_child_value(filtering, "highpass", "20");
            api_.append_child_value(filtering, "lowpass", "450");
            api_.append_child_value(filtering, "unit", "Hz");
        }
    }
    Describe(info, g.key.c_str());
    const int32_t buffered = static_cast<int32_t>(std::max(1.0, settings_.bufferSeconds));
    Lsl::Outlet outlet = api_.create_outlet(info, 0, buffered);
    api_.destroy_streaminfo(info);
    if (!outlet) throw std::runtime_error("LSL could not open the outlet " + name);
    return outlet;
}

Lsl::Outlet LslPublisher::MakeMarkerOutlet() {
    const std::string name = settings_.name + " Markers";
    const std::string source = settings_.sourceId + "/markers";
    Lsl::StreamInfo info =
        api_.create_streaminfo(name.c_str(), "Markers", 1, Lsl::IrregularRate, Lsl::FormatString, source.c_str());
    if (!info) throw std::runtime_error("LSL could not describe the stream " + name);
    Lsl::Xml channel = api_.append_child(api_.append_child(api_.get_desc(info), "channels"), "channel");
    api_.append_child_value(channel, "label", "Marker");
    api_.append_child_value(channel, "type", "Marker");
    Describe(info, "markers");
    // For a stream without a rate LSL counts the buffer in hundreds of samples.
    Lsl::Outlet outlet = api_.create_outlet(info, 0, 360);
    api_.destroy_streaminfo(info);
    if (!outlet) throw std::runtime_error("LSL could not open the outlet " + name);
    return outlet;
}

void QUELTO_CALL LslPublisher::Listener(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo& info,
                                        void* self) {
    static_cast<LslPublisher*>(self)->Offer(std::move(block), info.arrivalMonotonicNs);
}

void LslPublisher::Offer(Quelto_DataAvailableEventArgs block, int64_t arrivalMonotonicNs) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || offered_ >= limit_.load()) return;
        ++offered_;
        if (queue_.size() >= capacity_) {
            dropped_.fetch_add(1);
            return;
        }
        queue_.push_back(Item{false, std::move(block), {}, static_cast<double>(arrivalMonotonicNs) * 1e-9});
    }
    wake_.notify_one();
}

void LslPublisher::HostMarker(std::string text, double monotonic_s) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(Item{true, {}, std::move(text), monotonic_s});
    }
    wake_.notify_one();
}

void LslPublisher::Finish() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

int LslPublisher::Consumers() const {
    int n = 0;
    for (Lsl::Outlet o : outlets_) n += api_.have_consumers(o) ? 1 : 0;
    return n;
}

bool LslPublisher::WaitForConsumers(double seconds) const {
    const double until = MonotonicSeconds() + seconds;
    std::vector<Lsl::Outlet> all = outlets_;
    all.push_back(markers_);
    for (Lsl::Outlet o : all) {
        const double left = until - MonotonicSeconds();
        if (left <= 0 ? !api_.have_consumers(o) : !api_.wait_for_consumers(o, left)) return false;
    }
    return true;
}

void LslPublisher::Run() {
    std::deque<Item> held;  // until the clock has settled
    bool settled = false;
    for (;;) {
        Item item;
        bool last = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return !queue_.empty() || stopping_; });
            if (queue_.empty()) {
                last = true;
            } else {
                item = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        const SampleClock clock = clock_.Snapshot();
        if (settled && !last) {
            Send(item, clock);
            continue;
        }
        if (!last) held.push_back(std::move(item));
        settled = last || clock.Span() >= WarmUpSeconds || clock.FreeRunning();
        if (!settled) continue;
        for (const Item& h : held) Send(h, clock);
        held.clear();
        if (last) break;
    }
}

void LslPublisher::SendMarker(const std::string& text, double lslTime) {
    const char* data[1] = {text.c_str()};
    api_.push_sample_strtp(markers_, data, lslTime, 1);
}

LslPublisher::Segment LslPublisher::Lean(double start, double end, const SampleClock& clock) {
    Segment s;
    s.start = start;
    s.end = end;
    s.host = started_ ? last_.At(start) : clock.HostTime(start);
    started_ = true;
    const double span = end - start;
    if (span > 0) {
        const double natural = s.host + span * (1 + clock.Drift());
        const double lean = std::clamp(clock.HostTime(end) - natural, -MaxSlew * span, MaxSlew * span);
        s.slope = (natural + lean - s.host) / span;
    } else {
        s.slope = 1 + clock.Drift();
    }
    last_ = s;
    return s;
}

void LslPublisher::Send(const Item& item, const SampleClock& clock) {
    if (item.isMarker) {
        SendMarker(item.text, item.monotonic_s + lslMinusMonotonic_);
        return;
    }
    const Quelto_DataAvailableEventArgs& b = item.block;
    long scans = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_EMG, b.EmgSamples.size());
    if (scans <= 0) scans = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_SYNC, b.SyncSamples.size());
    if (scans <= 0) scans = static_cast<long>(static_cast<int64_t>(scanRateHz_) * settings_.period_ms / 1000);
    const double start = static_cast<double>(b.ScanNumber) / scanRateHz_;
    const double end = start + static_cast<double>(scans) / scanRateHz_;
    const Segment line = Lean(start, end, clock);
    if (item.monotonic_s > 0) arrivalAfterStamp_.Add((item.monotonic_s - line.At(end - 1.0 / scanRateHz_)) * 1e3);
    const auto at = [&](double device_s) { return line.At(device_s) + lslMinusMonotonic_; };
    for (size_t gi = 0; gi < groups_.size(); ++gi) {
        const StreamGroup& g = groups_[gi];
        const Channel& first = g.channels.front();
        const long n = Quelto_DataLayout_SamplesPerBlock(first.buffer, BufferOf(b, first.buffer).size());
        if (n <= 0) continue;
        // Sample k of a stream at rate r was taken k / r seconds into the
        // capture; the block's first one follows from its scan number.
        const int64_t firstIndex = b.ScanNumber * g.rateHz / scanRateHz_;
        const size_t width = g.channels.size();
        stamps_.resize(static_cast<size_t>(n));
        for (long i = 0; i < n; ++i) {
            stamps_[static_cast<size_t>(i)] = at(static_cast<double>(firstIndex + i) / g.rateHz);
        }
        data_.assign(static_cast<size_t>(n) * width, 0.0f);
        for (size_t c = 0; c < width; ++c) {
            const Channel& ch = g.channels[c];
            const std::vector<float>& buffer = BufferOf(b, ch.buffer);
            if (Quelto_DataLayout_SamplesPerBlock(ch.buffer, buffer.size()) != n) continue;  // layout changed
            const double scale = Quelto_DataLayout_Buffer(ch.buffer).scale;
            for (long i = 0; i < n; ++i) {
                data_[static_cast<size_t>(i) * width + c] =
                    static_cast<float>(buffer[Quelto_DataLayout_Index(ch.buffer, ch.row, i, ch.component, n)] * scale);
            }
        }
        api_.push_chunk_ftnp(outlets_[gi], data_.data(), static_cast<unsigned long>(data_.size()), stamps_.data(), 1);
    }
    // The block's events, at their samples' times (as in the file).
    const double scan = scanRateHz_;
    if (b.StartTriggerDetected) SendMarker("StartTrigger", at(b.StartTriggerScan / scan));
    if (b.StopTriggerDetected) SendMarker("StopTrigger", at(b.StopTriggerScan / scan));
    for (uint16_t code : b.RemoteControlEvents) {
        SendMarker(code == QUELTO_REMOTE_MARKER ? "Marker" : "Remote " + std::to_string(code), at(b.ScanNumber / scan));
    }
    pushed_.fetch_add(1);
    if (!sawConsumers_.load(std::memory_order_relaxed) && Consumers() > 0) sawConsumers_ = true;
}

}  // namespace Capture
