#include "LiveView.h"

#include "Files.h"
#include "Recorder.h"

#include <nlohmann/json.hpp>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>

namespace Capture {

namespace {

constexpr int EmgPointsPerSecond = 250;  // minimum and maximum of every 4 ms
constexpr int EnvelopePerSecond = 40;    // RMS of every 25 ms
constexpr int SlowPerSecond = 50;        // inertial, foot switches, insoles
constexpr double EnvelopeCorner_Hz = 10;

const char* StateName(int state) {
    static const char* const names[] = {"not initialised", "idle", "configured", "capturing",
                                        "calibrating", "error", "disposed"};
    return state >= 0 && state <= 6 ? names[state] : "unknown";
}

int64_t MonotonicNowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// Rounded for the page: a tenth of a microvolt is more than a screen shows.
double Round(double v, double step) { return std::round(v / step) * step; }

long Samples(const Quelto_DataAvailableEventArgs& b, Quelto_Buffer buffer) {
    return Quelto_DataLayout_SamplesPerBlock(buffer, static_cast<long>(BufferOf(b, buffer).size()));
}

bool Connected(const std::vector<float>& states, size_t i) {
    return i < states.size() && (static_cast<int>(states[i]) & QUELTO_STATE_CONNECTED);
}

}  // namespace

std::string ViewFolder() {
    if (const char* dir = std::getenv("QUELTO_VIEW_DIR"); dir && *dir) return dir;
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "share/quelto-bridge/view";
    return (exe.parent_path().parent_path() / "share" / "quelto-bridge" / "view").string();
}

LiveView::LiveView(const Endpoint& at, const std::string& folder)
    : server_(std::make_unique<ViewServer>(at, ReadServedFiles(folder))) {
    server_->SetGreeting(nlohmann::json{{"type", "hello"}, {"ready", false}}.dump());
}

LiveView::~LiveView() { Finish(); }

void LiveView::Begin(const ViewSetup& setup) {
    setup_ = setup;
    for (int s = 0; s < QUELTO_LAYOUT_SENSORS; ++s) {
        if (setup_.sensors[s]) rows_.push_back(s);
    }
    quality_ = std::make_unique<QualityEstimator>(setup_.sensors, setup_.period_ms);
    thread_ = std::thread([this] { Run(); });
}

void QUELTO_CALL LiveView::Listener(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo& info, void* self) {
    static_cast<LiveView*>(self)->Offer(std::move(block), info.arrivalMonotonicNs);
}

void LiveView::Offer(Quelto_DataAvailableEventArgs block, int64_t arrivalNs) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || offered_ >= limit_.load()) return;
        ++offered_;
        if (queue_.size() >= QueueBlocks) {
            dropped_.fetch_add(1);
            return;
        }
        queue_.push_back({std::move(block), arrivalNs});
    }
    wake_.notify_one();
}

void LiveView::Finish() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !thread_.joinable()) return;
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    server_->Stop();
}

void LiveView::Run() {
    using Clock = std::chrono::steady_clock;
    const auto every = std::chrono::microseconds(1000000 / FrameHz);
    auto next = Clock::now() + every;
    bool stop = false;
    while (!stop) {
        std::deque<Item> batch;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, next, [&] { return stopping_ || !queue_.empty(); });
            batch.swap(queue_);
            stop = stopping_;
        }
        for (Item& item : batch) {
            if (started_) {
                Process(item);
                continue;
            }
            // The first 100 ms give the rates.
            firstRecord_.push_back(std::move(item));
            if (static_cast<int>(firstRecord_.size()) * setup_.period_ms >= RecordDuration_ms) {
                Start(firstRecord_);
                for (const Item& first : firstRecord_) Process(first);
                firstRecord_.clear();
            }
        }
        const auto now = Clock::now();
        if (now >= next && !stop) {
            if (started_) Frame(false);
            next += every;
            if (next < now) next = now + every;
        }
    }
    if (started_) Frame(true);
}

void LiveView::Start(const std::vector<Item>& first) {
    started_ = true;
    long emg = 0, imu = 0, fsw = 0, ins = 0;
    for (const Item& i : first) {
        emg += Samples(i.block, QUELTO_BUFFER_EMG);
        imu += Samples(i.block, QUELTO_BUFFER_ACCELEROMETER);
        fsw += Samples(i.block, QUELTO_BUFFER_FOOTSW);
        ins += Samples(i.block, QUELTO_BUFFER_INSOLE);
    }
    const int perSecond = 1000 / RecordDuration_ms;
    emgRate_ = static_cast<int>(emg) * perSecond;
    imuRate_ = static_cast<int>(imu) * perSecond;
    fswRate_ = static_cast<int>(fsw) * perSecond;
    insRate_ = static_cast<int>(ins) * perSecond;
    const Quelto_DataAvailableEventArgs& b = first.front().block;
    for (size_t i = 0; i < QUELTO_LAYOUT_FOOTSWITCHES; ++i) fswOn_.push_back(fswRate_ > 0 && Connected(b.FootSwSensorStates, i));
    for (size_t i = 0; i < QUELTO_LAYOUT_INSOLES; ++i) insOn_.push_back(insRate_ > 0 && Connected(b.InsoleStates, i));
    emgStep_ = std::max(1, emgRate_ / EmgPointsPerSecond);
    envStep_ = std::max(1, emgRate_ / EnvelopePerSecond);
    imuStep_ = std::max(1, imuRate_ / SlowPerSecond);
    fswStep_ = std::max(1, fswRate_ / SlowPerSecond);
    insStep_ = std::max(1, insRate_ / SlowPerSecond);
    const size_t rows = rows_.size();
    auto make = [](Series& s, double dt, size_t n, bool extra = false) {
        s.dt = dt;
        s.rows.assign(n, {});
        if (extra) s.extra.assign(n, {});
    };
    if (emgRate_ > 0) {
        make(emg_, static_cast<double>(emgStep_) / emgRate_, rows, true);
        make(env_, static_cast<double>(envStep_) / emgRate_, rows);
        emgBucket_.assign(rows, {});
        envBucket_.assign(rows, {});
    }
    if (imuRate_ > 0) {
        for (Series& axis : acc_) make(axis, static_cast<double>(imuStep_) / imuRate_, rows);
        accBucket_.assign(rows * 3, {});
    }
    if (fswRate_ > 0) {
        make(fsw_, static_cast<double>(fswStep_) / fswRate_, QUELTO_LAYOUT_FOOTSWITCHES);
        fswBucket_.assign(QUELTO_LAYOUT_FOOTSWITCHES, {});
    }
    if (insRate_ > 0) {
        make(ins_, static_cast<double>(insStep_) / insRate_, QUELTO_LAYOUT_INSOLES);
        insBucket_.assign(QUELTO_LAYOUT_INSOLES, {});
    }
    const std::string greeting = Greeting();
    server_->SetGreeting(greeting);
    server_->Broadcast(greeting);
}

std::string LiveView::Greeting() const {
    nlohmann::json sensors = nlohmann::json::array();
    for (int s : rows_) {
        char label[16];
        Quelto_DataLayout_Label(QUELTO_BUFFER_EMG, s, 0, label, sizeof label);
        sensors.push_back({{"sensor", s + 1}, {"label", label}});
    }
    auto stream = [](const Series& s, bool on) { return on ? nlohmann::json{{"dt", s.dt}} : nlohmann::json(); };
    const Thresholds& t = quality_->Limits();
    nlohmann::json hello = {
        {"type", "hello"}, {"ready", true}, {"sensors", sensors}, {"period_ms", setup_.period_ms},
        {"window_s", setup_.window_s}, {"frame_hz", FrameHz},
        {"recording", setup_.recording.empty() ? nlohmann::json() : nlohmann::json(setup_.recording)},
        {"lsl", setup_.lsl}, {"device", setup_.device},
        {"emg", stream(emg_, emgRate_ > 0)}, {"envelope", stream(env_, emgRate_ > 0)},
        {"acc", stream(acc_[0], imuRate_ > 0)}, {"footswitch", stream(fsw_, fswRate_ > 0)},
        {"insole", stream(ins_, insRate_ > 0)}, {"footswitch_on", fswOn_}, {"insole_on", insOn_},
        {"thresholds",
         {{"noise_floor_uV", {t.floorCheck_uV, t.floorBad_uV}}, {"mains_uV", {t.mainsCheck_uV, t.mainsBad_uV}},
          {"baseline_uV", {t.baselineCheck_uV, t.baselineBad_uV}}, {"offset_uV", {t.offsetCheck_uV, t.offsetBad_uV}},
          {"clipped_fraction", {t.clippedCheck, t.clippedBad}}, {"battery_percent", {t.batteryCheck, t.batteryBad}}}},
    };
    return hello.dump();
}

void LiveView::Process(const Item& item) {
    const Quelto_DataAvailableEventArgs& b = item.block;
    quality_->Add(b);
    ++blocks_;
    if (nextScan_ >= 0 && b.ScanNumber != nextScan_) ++lost_;
    lost_ = std::max<int64_t>(lost_, b.UsbLostPackets);
    const long ne = Samples(b, QUELTO_BUFFER_EMG);
    nextScan_ = b.ScanNumber + ne;
    auto keep = [&](Series& s) {
        const size_t cap = static_cast<size_t>((setup_.window_s + 2) / s.dt);
        while (!s.rows.empty() && s.rows[0].size() > cap) {
            for (auto& r : s.rows) r.pop_front();
            for (auto& r : s.extra) r.pop_front();
            ++s.first;
        }
    };
    if (emgRate_ > 0 && ne > 0) {
        const double alpha = 1.0 / (1.0 + 2 * std::numbers::pi * EnvelopeCorner_Hz / emgRate_);
        for (size_t r = 0; r < rows_.size(); ++r) {
            const float* x = b.EmgSamples.data() + static_cast<size_t>(rows_[r]) * static_cast<size_t>(ne);
            Bucket& m = emgBucket_[r];
            Bucket& e = envBucket_[r];
            for (long n = 0; n < ne; ++n) {
                const double uV = x[n] * 1e6;
                if (m.count == 0) m.a = m.b = uV;
                m.a = std::min(m.a, uV);
                m.b = std::max(m.b, uV);
                if (++m.count == emgStep_) {
                    emg_.rows[r].push_back(static_cast<float>(Round(m.a, 0.1)));
                    emg_.extra[r].push_back(static_cast<float>(Round(m.b, 0.1)));
                    m.count = 0;
                }
                // First-order high-pass: the envelope leaves the offset out.
                e.high = alpha * (e.high + uV - e.last);
                e.last = uV;
                e.a += e.high * e.high;
                if (++e.count == envStep_) {
                    env_.rows[r].push_back(static_cast<float>(Round(std::sqrt(e.a / e.count), 0.1)));
                    e.a = 0;
                    e.count = 0;
                }
            }
        }
        emgCount_ += ne;
        keep(emg_);
        keep(env_);
        lastEnd_s_ = static_cast<double>(emgCount_) / emgRate_;
    }
    const long ni = Samples(b, QUELTO_BUFFER_ACCELEROMETER);
    if (imuRate_ > 0 && ni > 0) {
        for (size_t r = 0; r < rows_.size(); ++r) {
            for (int a = 0; a < 3; ++a) {
                Bucket& k = accBucket_[r * 3 + a];
                for (long n = 0; n < ni; ++n) {
                    k.a += b.AccelerometerSamples[Quelto_DataLayout_Index(QUELTO_BUFFER_ACCELEROMETER, rows_[r], n, a, ni)];
                    if (++k.count == imuStep_) {
                        acc_[a].rows[r].push_back(static_cast<float>(Round(k.a / k.count, 0.001)));
                        k = {};
                    }
                }
            }
        }
        imuCount_ += ni;
        for (Series& axis : acc_) keep(axis);
    }
    const long nf = Samples(b, QUELTO_BUFFER_FOOTSW);
    if (fswRate_ > 0 && nf > 0) {
        for (int sw = 0; sw < QUELTO_LAYOUT_FOOTSWITCHES; ++sw) {
            Bucket& k = fswBucket_[sw];
            for (long n = 0; n < nf; ++n) {
                const int bits = static_cast<int>(b.FootSwSamples[Quelto_DataLayout_Index(QUELTO_BUFFER_FOOTSW, sw, n, 0, nf)]);
                k.a = static_cast<double>(static_cast<int>(k.a) | bits);
                if (++k.count == fswStep_) {
                    fsw_.rows[sw].push_back(static_cast<float>(k.a));
                    k = {};
                }
            }
        }
        fswCount_ += nf;
        keep(fsw_);
    }
    const long nn = Samples(b, QUELTO_BUFFER_INSOLE);
    if (insRate_ > 0 && nn > 0) {
        for (int i = 0; i < QUELTO_LAYOUT_INSOLES; ++i) {
            Bucket& k = insBucket_[i];
            for (long n = 0; n < nn; ++n) {
                double sum = 0;
                for (int c = 0; c < QUELTO_LAYOUT_INSOLE_CELLS; ++c) {
                    sum += b.InsoleSamples[Quelto_DataLayout_Index(QUELTO_BUFFER_INSOLE, i, n, c, nn)];
                }
                k.a += sum / QUELTO_LAYOUT_INSOLE_CELLS;
                if (++k.count == insStep_) {
                    ins_.rows[i].push_back(static_cast<float>(Round(k.a / k.count, 0.1)));
                    k = {};
                }
            }
        }
        insCount_ += nn;
        keep(ins_);
    }
    lastArrivalNs_ = item.arrivalNs;
}

void LiveView::Frame(bool last) {
    // Shown up to one block behind the device, moving on with the clock in
    // between, so that a viewer's traces scroll evenly.
    const double period_s = setup_.period_ms / 1000.0;
    double until = lastEnd_s_;
    if (!last) {
        const double since = std::clamp((MonotonicNowNs() - lastArrivalNs_) / 1e9, 0.0, period_s);
        until = lastEnd_s_ - period_s + since;
    }
    until = std::max(until, shown_s_);
    shown_s_ = until;
    nlohmann::json frame = {{"type", "frame"}, {"seq", seq_++}, {"t", until}};
    // Each series sends the values that end by `until` and were not sent.
    auto emit = [&](Series& s, int64_t& sentTo, std::initializer_list<std::pair<const char*, std::vector<std::deque<float>>*>> parts,
                    nlohmann::json& into) {
        if (s.rows.empty()) return;
        const int64_t end = std::min<int64_t>(s.first + static_cast<int64_t>(s.rows[0].size()),
                                              static_cast<int64_t>(std::floor(until / s.dt + 1e-6)));
        const int64_t from = std::max(sentTo, s.first);
        if (end <= from) return;
        into["t0"] = static_cast<double>(from) * s.dt;
        into["dt"] = s.dt;
        for (const auto& [key, rows] : parts) {
            nlohmann::json values = nlohmann::json::array();
            for (const auto& row : *rows) {
                values.push_back(std::vector<float>(row.begin() + (from - s.first), row.begin() + (end - s.first)));
            }
            into[key] = std::move(values);
        }
        sentTo = end;
    };
    nlohmann::json part;
    emit(emg_, sent_[0], {{"min", &emg_.rows}, {"max", &emg_.extra}}, part);
    if (!part.empty()) frame["emg"] = std::move(part);
    part = nlohmann::json();
    emit(env_, sent_[1], {{"v", &env_.rows}}, part);
    if (!part.empty()) frame["envelope"] = std::move(part);
    part = nlohmann::json();
    {
        // The three axes share their indices.
        int64_t sentAxes = sent_[2];
        emit(acc_[0], sentAxes, {{"x", &acc_[0].rows}, {"y", &acc_[1].rows}, {"z", &acc_[2].rows}}, part);
        sent_[2] = sentAxes;
    }
    if (!part.empty()) frame["acc"] = std::move(part);
    part = nlohmann::json();
    emit(fsw_, sent_[3], {{"v", &fsw_.rows}}, part);
    if (!part.empty()) frame["footswitch"] = std::move(part);
    part = nlohmann::json();
    emit(ins_, sent_[4], {{"v", &ins_.rows}}, part);
    if (!part.empty()) frame["insole"] = std::move(part);

    const int state = deviceState_.load();
    frame["status"] = {
        {"state", last ? "ended" : StateName(state)}, {"state_code", state},
        {"time_s", static_cast<double>(blocks_) * period_s}, {"blocks", blocks_}, {"lost_packets", lost_},
        {"recording", setup_.recording.empty() ? nlohmann::json() : nlohmann::json(setup_.recording)},
        {"lsl", setup_.lsl}, {"view_dropped_blocks", dropped_.load()}, {"viewers", server_->Viewers()},
        {"ended", last},
    };
    const double now_s = static_cast<double>(MonotonicNowNs()) / 1e9;
    if (last || now_s >= nextQuality_s_) {
        nextQuality_s_ = now_s + QualityEvery_s;
        frame["quality"] = QualityJson(quality_->Report());
    }
    server_->Broadcast(frame.dump());
    frames_.fetch_add(1);
}

std::unique_ptr<LiveView> OpenView(const Options& o) {
    Endpoint at;
    try {
        at = ParseEndpoint(o.view);
    } catch (const std::invalid_argument& e) {
        throw Refused(std::string("--view: ") + e.what());
    }
    std::unique_ptr<LiveView> view;
    try {
        view = std::make_unique<LiveView>(at, ViewFolder());
    } catch (const std::runtime_error& e) {
        throw Refused(e.what());
    }
    if (!o.quiet) {
        std::fprintf(stderr, "quelto-capture: live view at %s\n", view->Server().Url().c_str());
    }
    if (!IsLoopback(at.host)) {
        std::fprintf(stderr,
                     "quelto-capture: warning: the live view listens on %s, which other machines may reach; "
                     "whoever reaches it sees the signals (read-only, no password)\n",
                     at.host.c_str());
    }
    return view;
}

}  // namespace Capture
