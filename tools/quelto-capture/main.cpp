// quelto-capture: records the device's blocks into an EDF+/BDF+ or CSV file.
//
// Built on the C++ facade, which starts capture with any block period (the
// C API always uses 100 ms). Blocks arrive on the facade's worker thread;
// the listener only queues them, and this thread writes the files.
#include "Check.h"
#include "Files.h"
#include "HostMarkers.h"
#include "LiveView.h"
#include "Options.h"
#include "Percentiles.h"
#include "Recorder.h"
#include "Streaming.h"

#include "QueltoBridge.h"
#include "Quelto_DaqSystem.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

// What the listener hands to the writing thread, and its measurements.
struct Inbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Quelto_DataAvailableEventArgs> blocks;
    Clock::time_point start;
    std::chrono::microseconds period{100000};
    int64_t wanted = 0;  // blocks past these are not taken (nor counted)
    int64_t received = 0;
    int64_t samples = 0;
    double worstDelay_ms = 0;
    int64_t lost = 0;  // device's lost packets plus gaps in the scan numbers
    int64_t nextScan = -1;
    // Arrival times of the blocks (Quelto_BlockInfo).
    int64_t firstArrivalRealtimeNs = 0;
    int64_t previousArrivalNs = 0;
    double worstArrivalDeviation_ms = 0;  // |interval between arrivals - period|
    // The device's clock against the host's, and markers typed meanwhile
    // (recording second, text).
    Capture::SharedClock clock;
    int scanRateHz = 0;  // 0: from the first block's EMG count and the period
    std::vector<std::pair<double, std::string>> hostMarkers;
    // The worker's time: from a block's arrival to this listener, and in
    // the tool's listeners (this one to the last one), microseconds.
    int64_t listenersStartNs = 0;  // worker thread only
    int64_t done = 0;              // blocks through the last listener
    Capture::Percentiles arrivalToListener_us, listeners_us;
};

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// The last of the tool's listeners: the time the block spent in them.
void QUELTO_CALL OnBlockDone(Quelto_DataAvailableEventArgs, const Quelto_BlockInfo&, void* context) {
    auto& in = *static_cast<Inbox*>(context);
    const int64_t now = MonotonicNs();
    std::lock_guard lock(in.mutex);
    in.listeners_us.Add(static_cast<double>(now - in.listenersStartNs) / 1e3);
    ++in.done;
    in.arrived.notify_one();
}

int64_t Samples(const Quelto_DataAvailableEventArgs& e) {
    int64_t n = 0;
    for (int b = 0; b < QUELTO_BUFFER_COUNT; ++b) n += Capture::BufferOf(e, static_cast<Quelto_Buffer>(b)).size();
    return n;
}

void QUELTO_CALL OnBlock(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo& info, void* context) {
    auto& in = *static_cast<Inbox*>(context);
    const auto now = Clock::now();
    in.listenersStartNs = MonotonicNs();
    const int64_t emg = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_EMG, block.EmgSamples.size());
    const int64_t scanStep = emg > 0 ? emg : static_cast<int64_t>(block.SyncSamples.size());
    const int64_t scanRate = in.scanRateHz > 0 ? in.scanRateHz : scanStep * 1000000 / in.period.count();
    if (scanRate > 0) {
        in.clock.Observe(static_cast<double>(block.ScanNumber + scanStep) / static_cast<double>(scanRate),
                         static_cast<double>(info.arrivalMonotonicNs) * 1e-9);
    }
    std::lock_guard lock(in.mutex);
    in.arrivalToListener_us.Add(static_cast<double>(in.listenersStartNs - info.arrivalMonotonicNs) / 1e3);
    if (in.received >= in.wanted) return;
    // How late the block is against the device's real-time schedule.
    const auto due = in.start + in.period * (in.received + 1);
    in.worstDelay_ms = std::max(in.worstDelay_ms, std::chrono::duration<double, std::milli>(now - due).count());
    if (in.nextScan >= 0 && block.ScanNumber != in.nextScan) ++in.lost;
    in.nextScan = block.ScanNumber + scanStep;
    in.lost = std::max<int64_t>(in.lost, block.UsbLostPackets);
    if (in.received == 0) {
        in.firstArrivalRealtimeNs = info.arrivalRealtimeNs;
    } else {
        const double interval_ms = (info.arrivalMonotonicNs - in.previousArrivalNs) / 1e6;
        const double period_ms = std::chrono::duration<double, std::milli>(in.period).count();
        in.worstArrivalDeviation_ms = std::max(in.worstArrivalDeviation_ms, std::abs(interval_ms - period_ms));
    }
    in.previousArrivalNs = info.arrivalMonotonicNs;
    ++in.received;
    in.samples += Samples(block);
    in.blocks.push_back(std::move(block));
    in.arrived.notify_one();
}

struct Progress {
    double elapsed_s, data_s;
    int64_t blocks, samples, lost;
    double worstDelay_ms;
    int64_t firstArrivalRealtimeNs;
    double worstArrivalDeviation_ms;
    int64_t lslDropped = -1;  // blocks the streams lost; -1: not streaming
};

// "2026-12-09T03:40:36.123456789Z"
std::string UtcText(int64_t unixNs) {
    const int64_t seconds = unixNs >= 0 ? unixNs / 1000000000 : (unixNs - 999999999) / 1000000000;
    const auto ns = static_cast<long>(unixNs - seconds * 1000000000);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ns);
    return text;
}

std::string Line(const Progress& p, double target_s) {
    char text[200];
    std::snprintf(text, sizeof text, "%6.1f s / %.1f s | %lld blocks | %.2f M samples/s | lost %lld | worst delay %.1f ms",
                  p.data_s, target_s, static_cast<long long>(p.blocks),
                  p.elapsed_s > 0 ? p.samples / p.elapsed_s / 1e6 : 0.0, static_cast<long long>(p.lost), p.worstDelay_ms);
    if (p.lslDropped < 0) return text;
    return std::string(text) + " | LSL dropped " + std::to_string(p.lslDropped);
}

nlohmann::json StreamsSummary(const Capture::LslPublisher& publisher, const Capture::Options& o) {
    nlohmann::json streams = nlohmann::json::array();
    for (const auto& g : publisher.Groups()) {
        streams.push_back({{"name", o.lslName + " " + g.name}, {"type", g.type}, {"group", g.key},
                           {"rate_hz", g.rateHz}, {"channels", g.channels.size()},
                           {"source_id", publisher.SourceId() + "/" + g.key}});
    }
    streams.push_back({{"name", o.lslName + " Markers"}, {"type", "Markers"}, {"group", "markers"}, {"rate_hz", 0},
                       {"channels", 1}, {"source_id", publisher.SourceId() + "/markers"}});
    const Capture::Percentiles& late = publisher.ArrivalAfterStamp();
    return {{"streams", streams},
            {"blocks_pushed", publisher.Pushed()},
            {"blocks_dropped", publisher.Dropped()},
            {"arrival_after_last_stamp_ms", {{"min", late.At(0)}, {"p50", late.At(0.5)}, {"p99", late.At(0.99)}}}};
}

void WriteSummary(const Capture::Options& o, const Capture::Recorder& r, const Progress& p, bool interrupted,
                  const Capture::LslPublisher* publisher, const nlohmann::json& worker, const nlohmann::json& view) {
    nlohmann::json channels = nlohmann::json::array();
    for (const auto& ch : r.Channels()) {
        const Quelto_BufferLayout layout = Quelto_DataLayout_Buffer(ch.buffer);
        channels.push_back({{"label", ch.label}, {"unit", layout.unit}, {"rate_hz", ch.RateHz()},
                            {"samples", r.Records() * ch.perRecord}, {"physical_min", layout.minimum},
                            {"physical_max", layout.maximum}, {"buffer", layout.field}, {"row", ch.row},
                            {"component", ch.component}});
    }
    nlohmann::json annotations = nlohmann::json::array();
    for (const auto& a : r.Annotations()) {
        if (a.onset_s >= r.Duration_s()) continue;
        nlohmann::json entry = {{"onset_s", a.onset_s}, {"text", a.text}};
        if (a.duration_s >= 0) entry["duration_s"] = a.duration_s;
        annotations.push_back(entry);
    }
    const char* format = o.format == Capture::Format::Bdf ? "bdf" : o.format == Capture::Format::Edf ? "edf" : "csv";
    nlohmann::json summary = {{"output", o.output}, {"format", format}, {"period_ms", o.period_ms},
                                    {"record_duration_s", Capture::RecordDuration_ms / 1000.0},
                                    {"records", r.Records()}, {"duration_s", r.Duration_s()},
                                    {"blocks_received", p.blocks}, {"capture_elapsed_s", p.elapsed_s}, {"lost_packets", p.lost},
                                    {"worst_delay_ms", p.worstDelay_ms},
                                    {"first_block_arrival_unix_ns", p.firstArrivalRealtimeNs},
                                    {"first_block_arrival_utc", UtcText(p.firstArrivalRealtimeNs)},
                                    {"recording_start_unix_ns", r.StartUnixNs()},
                                    {"max_arrival_deviation_ms", p.worstArrivalDeviation_ms},
                                    {"interrupted", interrupted},
                                    {"channels", channels}, {"annotations", annotations}};
    if (!r.CsvFiles().empty()) summary["csv_files"] = r.CsvFiles();
    if (publisher) summary["lsl"] = StreamsSummary(*publisher, o);
    summary["worker"] = worker;
    if (!view.is_null()) summary["view"] = view;
    Capture::WriteAtomically(o.summary, summary.dump(2) + '\n', o.overwrite);
}

int Run(const Capture::Options& o) {
    // Files are checked before the device starts.
    Capture::CheckOutputs(o);
    Capture::Recording recording;
    if (!o.replay.empty()) recording = Capture::ReadRecording(o.replay);
    // Settings of the simulated SDK, read when the device is made.
    if (o.seed) setenv("QUELTO_SIM_SEED", std::to_string(*o.seed).c_str(), 1);
    if (o.fast) setenv("QUELTO_SIM_MODE", "fast", 1);
    if (!o.replay.empty()) setenv("QUELTO_SIM_PLAYBACK", o.replay.c_str(), 1);

    // Quelto_Bridge_Create sets up, for the whole process, the lookup of the
    // SDK beside the bridge library; the facade below then finds it too.
    void* probe = Quelto_Bridge_Create();
    if (!probe) {
        const char* error = Quelto_Bridge_GetLastError();
        std::fprintf(stderr, "quelto-capture: no device: %s\n", error ? error : "see LOG/ErrorLog.txt beside the bridge");
        return 1;
    }
    Quelto_Bridge_Destroy(probe);
    if (o.check_s > 0) return Capture::RunCheck(o, [] { return g_interrupted != 0; });
    // Streaming: liblsl before anything is captured.
    const Capture::Lsl::Library* lsl = o.lsl ? &Capture::Lsl::Load(o.lslConfig) : nullptr;
    // The live view listens before anything is captured: a port in use stops here.
    std::unique_ptr<Capture::LiveView> view = o.view.empty() ? nullptr : Capture::OpenView(o);

    Inbox inbox;
    inbox.period = std::chrono::milliseconds(o.period_ms);
    Capture::Recorder recorder(o);
    if (!o.replay.empty()) recorder.SetRecorded(recording.labels);
    // The outlets exist before the capture starts, with the channels and
    // rates of the device's first record; the file takes the same channels.
    std::unique_ptr<Capture::LslPublisher> publisher;
    if (lsl) {
        const Capture::FirstRecord first = Capture::ProbeDevice(o, recording.labels);
        recorder.SetChannels(first.channels);
        inbox.scanRateHz = first.channels.scanRateHz;
        publisher = Capture::Publish(o, *lsl, first, inbox.clock);
        if (!o.quiet) {
            std::fprintf(stderr, "quelto-capture: LSL %s (%s), source_id %s/...:\n", lsl->path.c_str(),
                         std::to_string(lsl->version).c_str(), publisher->SourceId().c_str());
            for (const auto& g : publisher->Groups()) {
                std::fprintf(stderr, "  %s %s: %zu channels at %d Hz (type %s)\n", o.lslName.c_str(), g.name.c_str(),
                             g.channels.size(), g.rateHz, g.type.c_str());
            }
            std::fprintf(stderr, "  %s Markers (type Markers)\n", o.lslName.c_str());
        }
        if (o.lslWait_s > 0 && !publisher->WaitForConsumers(o.lslWait_s) && !o.quiet) {
            std::fprintf(stderr, "quelto-capture: not every stream has an inlet after %.1f s; capturing anyway\n",
                         o.lslWait_s);
        }
    }
    // Lines typed during the capture: markers in the streams and the file.
    std::unique_ptr<Capture::HostMarkers> typed;
    if (o.stdinMarkers) {
        typed = std::make_unique<Capture::HostMarkers>(STDIN_FILENO, [&](std::string text, double at) {
            if (publisher) publisher->HostMarker(text, at);
            const double onset = inbox.clock.DeviceTime(at);
            std::lock_guard lock(inbox.mutex);
            inbox.hostMarkers.emplace_back(onset, std::move(text));
        });
    }
    const bool tty = isatty(STDERR_FILENO) != 0;
    Progress progress{};
    bool interrupted = false, stalled = false;
    {
        Quelto_DaqSystem device;
        if (!o.config.empty()) {
            // The recorder labels only the transducers the file switches on;
            // the library sends the file's configuration to the device.
            recorder.SetTransducers(
                Capture::TransducersOf(device.LoadConfiguration(o.config.c_str()).CaptureConfiguration));
            device.ApplyConfigurationFile(o.config.c_str());
        }
        const Quelto_SoftwareVersion v = device.SoftwareVersion();
        if (!o.quiet) {
            std::fprintf(stderr, "quelto-capture: device software %d.%d.%d.%d, %d ms blocks, %s\n", v.Major,
                         v.Minor, v.Build, v.Revision, o.period_ms,
                         o.writeFile ? ("writing " + o.output).c_str() : o.lsl ? "streaming only" : "viewing only");
        }
        int64_t records = static_cast<int64_t>(std::ceil(o.duration_s * 1000.0 / Capture::RecordDuration_ms - 1e-9));
        if (!o.replay.empty() && (!o.durationGiven || records > recording.records)) {
            // A replay takes the recording once.
            if (o.durationGiven && !o.quiet) {
                std::fprintf(stderr, "quelto-capture: %s holds %.1f s; replaying that\n", o.replay.c_str(),
                             recording.duration_s);
            }
            records = recording.records;
        }
        const int64_t wanted = records * recorder.BlocksPerRecord();
        inbox.wanted = wanted;
        device.AddBlockListener(&OnBlock, &inbox);
        if (publisher) {
            publisher->SetLimit(wanted);
            device.AddBlockListener(&Capture::LslPublisher::Listener, publisher.get());
        }
        if (view) {
            Capture::ViewSetup setup;
            setup.sensors = Capture::ExpectedSensors(o, device);
            setup.period_ms = o.period_ms;
            setup.recording = o.writeFile ? o.output : "";
            setup.lsl = o.lsl;
            setup.device = Capture::VersionText(v);
            view->Begin(setup);
            view->SetLimit(wanted);
            device.AddBlockListener(&Capture::LiveView::Listener, view.get());
        }
        device.AddBlockListener(&OnBlockDone, &inbox);
        inbox.start = Clock::now();
        device.StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(Capture::PeriodNumber(o.period_ms)));
        if (o.startTrigger) device.GenerateInternalStartTrigger();

        int64_t taken = 0;
        bool writeFailed = false;
        auto lastShown = Clock::now(), lastBlock = Clock::now();
        while (taken < wanted) {
            std::deque<Quelto_DataAvailableEventArgs> batch;
            std::vector<std::pair<double, std::string>> marks;
            {
                std::unique_lock lock(inbox.mutex);
                inbox.arrived.wait_for(lock, std::chrono::milliseconds(100), [&] { return !inbox.blocks.empty(); });
                batch.swap(inbox.blocks);
                marks.swap(inbox.hostMarkers);
                progress.blocks = inbox.received;
                progress.samples = inbox.samples;
                progress.lost = inbox.lost;
                progress.worstDelay_ms = std::max(0.0, inbox.worstDelay_ms);
                progress.firstArrivalRealtimeNs = inbox.firstArrivalRealtimeNs;
                progress.worstArrivalDeviation_ms = inbox.worstArrivalDeviation_ms;
            }
            const auto now = Clock::now();
            if (!batch.empty()) lastBlock = now;
            for (auto& [onset, text] : marks) recorder.AddMarker(onset, std::move(text));
            if (publisher) progress.lslDropped = publisher->Dropped();
            // The first sample of the first block was taken one block period
            // before that block arrived.
            if (taken == 0 && !batch.empty()) {
                recorder.SetStart(progress.firstArrivalRealtimeNs - int64_t{o.period_ms} * 1000000);
            }
            for (auto& block : batch) {
                if (taken == wanted || writeFailed) break;
                try {
                    recorder.Add(std::move(block));
                } catch (const std::exception&) {
                    writeFailed = true;  // Close says what and what is kept
                }
                ++taken;
            }
            if (writeFailed) break;
            progress.elapsed_s = std::chrono::duration<double>(now - inbox.start).count();
            progress.data_s = static_cast<double>(taken) * o.period_ms / 1000.0;
            if (g_interrupted) {
                interrupted = true;
                break;
            }
            if (now - lastBlock > std::chrono::seconds(5)) {
                stalled = true;
                break;
            }
            if (view) view->SetDeviceState(device.GetdeviceState());
            const bool showNow = now - lastShown >= (tty ? std::chrono::milliseconds(200) : std::chrono::seconds(1));
            if (!o.quiet && showNow) {
                lastShown = now;
                if (tty) {
                    std::fprintf(stderr, "\r%s ", Line(progress, records / 10.0).c_str());
                } else {
                    std::fprintf(stderr, "%s\n", Line(progress, records / 10.0).c_str());
                }
                std::fflush(stderr);
            }
        }
        device.StopCapturing();
        {
            // The last block taken has reached every listener (the streams
            // too) before they go.
            std::unique_lock lock(inbox.mutex);
            inbox.arrived.wait_for(lock, std::chrono::seconds(5), [&] { return inbox.done >= inbox.received; });
        }
        device.RemoveBlockListener(&OnBlockDone, &inbox);
        device.RemoveBlockListener(&OnBlock, &inbox);
        if (publisher) device.RemoveBlockListener(&Capture::LslPublisher::Listener, publisher.get());
        if (view) device.RemoveBlockListener(&Capture::LiveView::Listener, view.get());
    }
    typed.reset();
    nlohmann::json viewSummary;
    if (view) {
        view->Finish();
        viewSummary = {{"url", view->Server().Url()}, {"frames", view->Frames()},
                       {"blocks_dropped", view->Dropped()}, {"frames_sent", view->Server().Sent()},
                       {"frames_dropped", view->Server().Dropped()}};
    }
    for (auto& [onset, text] : inbox.hostMarkers) recorder.AddMarker(onset, std::move(text));
    if (publisher) {
        publisher->Finish();
        progress.lslDropped = publisher->Dropped();
    }
    recorder.Close();
    if (!o.quiet && tty) std::fprintf(stderr, "\n");
    if (recorder.Records() == 0) {
        std::fprintf(stderr, "quelto-capture: %s before the first %d ms record was complete; no file written\n",
                     stalled ? "the device sent no block for 5 s" : "stopped", Capture::RecordDuration_ms);
        return 1;
    }
    if (!o.summary.empty()) {
        std::lock_guard lock(inbox.mutex);
        const nlohmann::json worker = {
            {"arrival_to_listener_us_p50", inbox.arrivalToListener_us.At(0.5)},
            {"arrival_to_listener_us_p99", inbox.arrivalToListener_us.At(0.99)},
            {"listeners_us_p50", inbox.listeners_us.At(0.5)},
            {"listeners_us_p99", inbox.listeners_us.At(0.99)}};
        WriteSummary(o, recorder, progress, interrupted, publisher.get(), worker, viewSummary);
    }
    if (!o.quiet) {
        std::printf("%s: %.1f s, %zu channels, %lld blocks, %.2f M samples/s, %lld lost packets, worst callback delay %.1f ms%s\n",
                    o.writeFile ? o.output.c_str() : o.lsl ? "LSL" : "view", recorder.Duration_s(), recorder.Channels().size(),
                    static_cast<long long>(progress.blocks),
                    progress.elapsed_s > 0 ? progress.samples / progress.elapsed_s / 1e6 : 0.0,
                    static_cast<long long>(progress.lost), progress.worstDelay_ms,
                    interrupted ? " (stopped by Ctrl-C)" : "");
    }
    if (stalled) {
        std::fprintf(stderr, "quelto-capture: the device sent no block for 5 s; stopped\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Capture::Options options;
    if (auto exit = Capture::Parse(argc, argv, options)) return *exit;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    try {
        return Run(options);
    } catch (const Capture::Refused& e) {
        std::fprintf(stderr, "quelto-capture: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quelto-capture: %s\n", e.what());
        return 1;
    }
}
