// quelto_bench: every measurement of the pipeline against the polling
// design, in one run, printed as one table. --quick for a short run,
// --micro-only for the micro benchmarks alone, --latency-only for the
// latency cases alone; --pin-apart / --pin-together put the raising thread
// and the worker on CPUs 0 and 1 / both on CPU 0. QUELTO_BENCH_TIDS set in
// the environment prints each raising thread's id (for per-thread counts by
// strace -ff or valgrind). --raise-cost runs only the raises of each design
// at the real rate, at 100x and at 100x with a worker kept busy (1
// callback), each dumped apart when run under callgrind, then a bare
// wake-up at both paces. Other arguments go to Google Benchmark.
#include "AllocationCounter.h"
#include "Blocks.h"
#include "Harness.h"
#include "Micro.h"

#include <sys/utsname.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(what) (void)(what)
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace Bench;

namespace {

struct Row {
    std::string figure, project, reference, ratio, target, met;
};

std::string Fmt(const char* format, double v) {
    char b[64];
    std::snprintf(b, sizeof b, format, v);
    return b;
}
std::string Us(double v) { return Fmt(v < 10 ? "%.1f" : "%.0f", v); }
std::string Ratio(double a, double b) { return b > 0 ? Fmt("%.3f", a / b) : "-"; }
std::string YesNo(bool ok) { return ok ? "yes" : "NO"; }

void Print(const std::vector<Row>& rows) {
    std::size_t w[6] = {6, 7, 9, 5, 6, 3};
    auto widen = [&](const Row& r) {
        const std::string* c[6] = {&r.figure, &r.project, &r.reference, &r.ratio, &r.target, &r.met};
        for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], c[i]->size());
    };
    const Row head{"figure", "project", "reference", "ratio", "target", "met"};
    widen(head);
    for (const Row& r : rows) widen(r);
    auto line = [&](const Row& r) {
        if (r.project.empty() && r.reference.empty()) {
            std::printf("| **%s** |%*s|%*s|%*s|%*s|%*s|\n", r.figure.c_str(), 1, "", 1, "", 1, "", 1, "", 1, "");
            return;
        }
        std::printf("| %-*s | %*s | %*s | %*s | %-*s | %-*s |\n", static_cast<int>(w[0]), r.figure.c_str(),
                    static_cast<int>(w[1]), r.project.c_str(), static_cast<int>(w[2]), r.reference.c_str(),
                    static_cast<int>(w[3]), r.ratio.c_str(), static_cast<int>(w[4]), r.target.c_str(),
                    static_cast<int>(w[5]), r.met.c_str());
    };
    line(head);
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(w[0] + 2, '-').c_str(), (std::string(w[1] + 1, '-') + ":").c_str(),
                (std::string(w[2] + 1, '-') + ":").c_str(), (std::string(w[3] + 1, '-') + ":").c_str(),
                std::string(w[4] + 2, '-').c_str(), std::string(w[5] + 2, '-').c_str());
    for (const Row& r : rows) line(r);
}

void Note(const char* what) {
    std::fprintf(stderr, "quelto_bench: %s\n", what);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false, microOnly = false, latencyOnly = false, throughputOnly = false, raiseCost = false;
    std::vector<std::string> passThrough;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--micro-only") == 0) {
            microOnly = true;
        } else if (std::strcmp(argv[i], "--latency-only") == 0) {
            latencyOnly = true;
        } else if (std::strcmp(argv[i], "--throughput-only") == 0) {
            throughputOnly = true;
        } else if (std::strcmp(argv[i], "--raise-cost") == 0) {
            raiseCost = true;
        } else if (std::strcmp(argv[i], "--pin-apart") == 0) {
            g_pinning = Pinning{0, 1};  // raiser on CPU 0, worker on CPU 1
        } else if (std::strcmp(argv[i], "--pin-together") == 0) {
            g_pinning = Pinning{0, 0};  // both on CPU 0
        } else {
            passThrough.emplace_back(argv[i]);
        }
    }
    const std::size_t realBlocks = quick ? 200 : 800;
    const std::size_t fastBlocks = quick ? 2000 : 10000;
    const double idleSeconds = quick ? 2.0 : 10.0;
    const double throughputSeconds = quick ? 0.2 : 0.5;
    const double headroomStep = quick ? 0.2 : 0.5;

    const BlockShape realistic = RealisticShape(), fullRate = FullRateShape(), large = LargeShape();
    const auto realisticPool = MakePool(realistic, 64);
    const auto fullRatePool = MakePool(fullRate, 64);
    const auto largePool = MakePool(large, 16);
    const int buffers = NonEmptyArrays(*realisticPool.front());
    const double deviceRate = 1e6 / realistic.period_us;  // blocks per second

    std::vector<Row> rows;

    if (raiseCost) {
        // One run: each case raised by both designs in turn, then the price
        // of a bare wake-up at the same two paces.
        struct Case {
            const char* name;
            int period_us;
            std::size_t blocks;
            int64_t busyNs;  // each callback's time: longer than the period keeps the worker busy
        };
        const int fast = realistic.period_us / 100;
        const Case cases[] = {
            {"real rate", realistic.period_us, realBlocks, 0},
            {"100x", fast, fastBlocks, 0},
            {"100x, worker busy", fast, fastBlocks / 2, int64_t{3} * fast * 1000},
        };
        std::printf("| case | project raise (us) | wake-ups per raise | reference raise (us) | project/reference |\n");
        std::printf("|---|--:|--:|--:|--:|\n");
        for (const Case& c : cases) {
            g_callbackBusyNs = c.busyNs;
            LatencyResult r[2];
            for (const Design d : {Design::Project, Design::Reference}) {
                const std::string name = std::string(DesignName(d)) + " " + c.name;
                CALLGRIND_ZERO_STATS;
                r[d == Design::Project ? 0 : 1] = MeasureLatency(d, 1, realisticPool, c.period_us, c.blocks);
                CALLGRIND_DUMP_STATS_AT(name.c_str());
            }
            g_callbackBusyNs = 0;
            std::printf("| %s (%d us) | %.2f | %.2f | %.2f | %.2f |\n", c.name, c.period_us, r[0].HandlerUs(),
                        r[0].WakeUpsPerRaise(), r[1].HandlerUs(), r[0].HandlerUs() / r[1].HandlerUs());
        }
        for (const int period : {realistic.period_us, fast}) {
            std::printf("bare wake-up of a sleeping thread every %d us: %.2f us\n", period,
                        MeasureBareWakeUp(period, period == fast ? fastBlocks : realBlocks));
        }
        return 0;
    }

    Note("micro benchmarks");
    const auto micro =
        latencyOnly || throughputOnly ? std::map<std::string, double>{} : RunMicro(passThrough, quick);
    auto m = [&](const std::string& name) {
        auto it = micro.find(name);
        return it == micro.end() ? 0.0 : it->second;
    };

    if (microOnly) {
        for (const auto& [name, ns] : micro) std::printf("%-24s %10.1f ns\n", name.c_str(), ns);
        return 0;
    }

    Note("latency");
    struct LatencyCase {
        const char* rate;
        int period_us;
        std::size_t blocks;
        int callbacks;
    };
    const LatencyCase cases[] = {{"real rate", realistic.period_us, realBlocks, 1},
                                 {"real rate", realistic.period_us, realBlocks, 4},
                                 {"100x", realistic.period_us / 100, fastBlocks, 1},
                                 {"100x", realistic.period_us / 100, fastBlocks, 4}};
    LatencyResult alloc[2][2];  // [design][1 or 4 callbacks], real rate
    std::vector<Row> latencyRows;
    const int chunks = quick ? 2 : 8;
    for (const LatencyCase& c : cases) {
        if (throughputOnly) break;
        LatencyResult p, r;
        for (int k = 0; k < chunks; ++k) {
            p.Add(MeasureLatency(Design::Project, c.callbacks, realisticPool, c.period_us, c.blocks / chunks));
            r.Add(MeasureLatency(Design::Reference, c.callbacks, realisticPool, c.period_us, c.blocks / chunks));
        }
        if (c.period_us == realistic.period_us) {
            alloc[0][c.callbacks == 4] = p;
            alloc[1][c.callbacks == 4] = r;
        }
        const std::string name = std::string(c.rate) + ", " + std::to_string(c.callbacks) + " cb, " +
                                 std::to_string(p.lastUs.size()) + " blocks";
        latencyRows.push_back({"latency " + name + (p.complete && r.complete ? "" : " (blocks missing)"), "", "", "", "", ""});
        const Percentiles pl = p.Last(), rl = r.Last();
        const double pv[] = {pl.p50, pl.p90, pl.p99, pl.p999, pl.max};
        const double rv[] = {rl.p50, rl.p90, rl.p99, rl.p999, rl.max};
        const char* label[] = {"p50", "p90", "p99", "p99.9", "max"};
        for (int i = 0; i < 5; ++i) {
            Row row{std::string("  ") + label[i] + " (us)", Us(pv[i]), Us(rv[i]), Ratio(pv[i], rv[i]), "", ""};
            if (i == 0) {
                row.target = "<= 0.05";
                row.met = YesNo(pv[i] <= 0.05 * rv[i]);
            } else if (i == 2) {
                row.target = "<= 0.1";
                row.met = YesNo(pv[i] <= 0.1 * rv[i]);
            }
            latencyRows.push_back(row);
        }
        latencyRows.push_back({"  time in the SDK thread's raise (us)", Fmt("%.2f", p.HandlerUs()),
                               Fmt("%.2f", r.HandlerUs()), Ratio(p.HandlerUs(), r.HandlerUs()), "<= 2",
                               YesNo(p.HandlerUs() <= 2 * r.HandlerUs())});
    }

    if (latencyOnly) {
        Print(latencyRows);
        return 0;
    }

    Note("throughput");
    std::vector<Row> throughputRows;
    for (const auto* pool : {&realisticPool, &largePool}) {
        const std::string n = pool == &realisticPool ? "realistic" : "large";
        // Slices of the two designs alternate; the median slice of each.
        std::vector<ThroughputResult> ps, rs;
        for (int k = 0; k < 3; ++k) {
            ps.push_back(MeasureThroughput(Design::Project, 1, *pool, throughputSeconds));
            rs.push_back(MeasureThroughput(Design::Reference, 1, *pool, throughputSeconds));
        }
        auto median = [](std::vector<ThroughputResult> v) {
            std::sort(v.begin(), v.end(),
                      [](const ThroughputResult& a, const ThroughputResult& b) { return a.blocksPerSecond < b.blocksPerSecond; });
            return v[v.size() / 2];
        };
        const ThroughputResult p = median(ps), r = median(rs);
        throughputRows.push_back({"throughput, " + n + " block (" + Fmt("%.0f", PayloadBytes(*pool->front()) / 1024.0) +
                                      " KiB), 1 cb (blocks/s)",
                                  Fmt("%.0f", p.blocksPerSecond), Fmt("%.0f", r.blocksPerSecond),
                                  Ratio(p.blocksPerSecond, r.blocksPerSecond), "", ""});
        throughputRows.push_back({"  (MB/s)", Fmt("%.0f", p.megabytesPerSecond), Fmt("%.0f", r.megabytesPerSecond),
                                  Ratio(p.megabytesPerSecond, r.megabytesPerSecond), "", ""});
    }
    if (throughputOnly) {
        Print(throughputRows);
        return 0;
    }

    Note("headroom");
    const HeadroomResult hp = MeasureHeadroom(Design::Project, 4, fullRatePool, headroomStep);
    const HeadroomResult hr = MeasureHeadroom(Design::Reference, 4, fullRatePool, headroomStep);

    Note("idle");
    const IdleResult ip = MeasureIdle(Design::Project, idleSeconds);
    const IdleResult ir = MeasureIdle(Design::Reference, idleSeconds);

    const uint64_t thunkAllocs = ThunkAllocations(realisticPool.front());

    // The table.
    rows.push_back({"micro benchmarks (ns per block; reference column: memcpy of the same bytes)", "", "", "", "", ""});
    for (const char* n : {"realistic", "large"}) {
        const double f = m(std::string("flatten/") + n), c = m(std::string("memcpy/") + n);
        const bool isRealistic = std::strcmp(n, "realistic") == 0;
        rows.push_back({std::string("  flatten vs memcpy, ") + n + " block", Fmt("%.0f", f), Fmt("%.0f", c),
                        Ratio(c, f) + " speed", isRealistic ? ">= 0.5 speed" : "", isRealistic ? YesNo(c >= 0.5 * f) : ""});
        const double a = m(std::string("allocate/") + n);
        rows.push_back({std::string("  allocate+release the buffers alone, ") + n, Fmt("%.0f", a), "", "", "", ""});
        rows.push_back({std::string("  memcpy + allocate+release (floor), ") + n, Fmt("%.0f", c + a), Fmt("%.0f", c),
                        Ratio(c, c + a) + " speed", "", ""});
        const double rc = m(std::string("record copy/") + n);
        rows.push_back({std::string("  record copy vs memcpy, ") + n + " block", Fmt("%.0f", rc), Fmt("%.0f", c),
                        Ratio(c, rc) + " speed", "", ""});
    }
    rows.push_back({"  C thunk: views + call", Fmt("%.1f", m("thunk views/realistic")), "", "", "", ""});
    rows.insert(rows.end(), latencyRows.begin(), latencyRows.end());
    rows.insert(rows.end(), throughputRows.begin(), throughputRows.end());

    rows.push_back({"allocations (realistic block, " + std::to_string(buffers) + " non-empty buffers)", "", "", "", "", ""});
    for (int k = 0; k < 2; ++k) {
        const int cbs = k ? 4 : 1;
        const double pw = alloc[0][k].WorkerAllocsPerBlock(), rw = alloc[1][k].WorkerAllocsPerBlock();
        rows.push_back({"  worker, per block, " + std::to_string(cbs) + " cb", Fmt("%.2f", pw), Fmt("%.2f", rw),
                        Ratio(pw, rw), "= " + std::to_string(buffers * cbs),
                        YesNo(pw > buffers * cbs - 0.005 && pw < buffers * cbs + 0.005)});
        rows.push_back({"  records built per block, " + std::to_string(cbs) + " cb", Fmt("%.2f", pw / buffers),
                        Fmt("%.2f", rw / buffers), Ratio(pw, rw), "", ""});
        rows.push_back({"  SDK-thread handler, per raise, " + std::to_string(cbs) + " cb",
                        Fmt("%.3f", alloc[0][k].HandlerAllocsPerRaise()), Fmt("%.3f", alloc[1][k].HandlerAllocsPerRaise()),
                        "", "queue's own", YesNo(alloc[0][k].HandlerAllocsPerRaise() <= 1.0 / 16)});
    }
    rows.push_back({"  C thunk, per call", std::to_string(thunkAllocs), std::to_string(thunkAllocs), "", "0",
                    YesNo(thunkAllocs == 0)});

    rows.push_back({"idle, created facade, whole process", "", "", "", "", ""});
    rows.push_back({"  wake-ups/s (voluntary switches, other threads)", Fmt("%.1f", ip.wakeupsPerSecond),
                    Fmt("%.1f", ir.wakeupsPerSecond), Ratio(ip.wakeupsPerSecond, ir.wakeupsPerSecond), "a few",
                    YesNo(ip.wakeupsPerSecond <= 5)});
    rows.push_back({"  involuntary switches/s", Fmt("%.1f", ip.involuntaryPerSecond), Fmt("%.1f", ir.involuntaryPerSecond),
                    "", "", ""});
    rows.push_back({"  CPU time over " + Fmt("%.0f", ip.seconds) + " s (ms)", Fmt("%.2f", ip.cpuMs), Fmt("%.2f", ir.cpuMs),
                    Ratio(ip.cpuMs, ir.cpuMs), "", ""});
    rows.push_back({"  threads in the process", std::to_string(ip.threads), std::to_string(ir.threads), "", "", ""});

    rows.push_back({"headroom, full-rate 10 ms block (" + Fmt("%.0f", PayloadBytes(*fullRatePool.front()) / 1024.0) +
                        " KiB), 4 cb",
                    "", "", "", "", ""});
    rows.push_back({"  highest rate with a flat queue (blocks/s)",
                    Fmt("%.0f", hp.highestFlat) + (hp.raiseLimited ? "+" : ""),
                    Fmt("%.0f", hr.highestFlat) + (hr.raiseLimited ? "+" : ""), Ratio(hp.highestFlat, hr.highestFlat),
                    ">= " + Fmt("%.0f", 100 * deviceRate), YesNo(hp.highestFlat >= 100 * deviceRate)});
    rows.push_back({"  as a multiple of the device's rate", Fmt("%.0fx", hp.highestFlat / deviceRate),
                    Fmt("%.0fx", hr.highestFlat / deviceRate), "", ">= 100x", ""});

    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    utsname u{};
    uname(&u);
    std::printf("Quelto.bridge bench, %s, %s %s, %u cores%s\n\n", date, u.sysname, u.machine,
                std::thread::hardware_concurrency(), quick ? ", quick run" : "");
    Print(rows);
    std::printf("\nLatency: SDK raise -> entry of the last host C callback. '+': the raising thread's limit.\n");
    return 0;
}
