#include "Micro.h"

#include "Blocks.h"
#include "DataThunk.h"
#include "EventFlattening.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace Bench {

namespace {

const std::vector<EventRef>& Pool(const BlockShape& shape) {
    static std::map<std::string, std::vector<EventRef>> pools;
    auto& p = pools[shape.name];
    if (p.empty()) p = MakePool(shape, 16);
    return p;
}

void Flatten(benchmark::State& state, BlockShape shape) {
    const auto& pool = Pool(shape);
    std::size_t i = 0;
    for (auto _ : state) {
        Quelto_DataAvailableEventArgs r = ::Pipeline::CopyEventArgs(*pool[i++ % pool.size()]);
        benchmark::DoNotOptimize(r.EmgSamples.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * PayloadBytes(*pool[0])));
}

// The same bytes, array by array, into storage made once.
void Memcpy(benchmark::State& state, BlockShape shape) {
    const auto& pool = Pool(shape);
    std::vector<char> out(PayloadBytes(*pool[0]));
    std::size_t i = 0;
    for (auto _ : state) {
        char* to = out.data();
        ForEachArray(*pool[i++ % pool.size()], [&](const void* data, std::size_t bytes) {
            std::memcpy(to, data, bytes);
            to += bytes;
        });
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

// The allocations alone: one buffer per non-empty array, made and
// released, nothing copied. What flattening cannot go below, with memcpy.
void Allocate(benchmark::State& state, BlockShape shape) {
    const auto& pool = Pool(shape);
    std::vector<std::size_t> sizes;
    ForEachArray(*pool[0], [&](const void*, std::size_t bytes) { sizes.push_back(bytes); });
    std::vector<void*> held(sizes.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < sizes.size(); ++i) held[i] = ::operator new(sizes[i]);
        benchmark::DoNotOptimize(held.data());
        for (std::size_t i = sizes.size(); i-- > 0;) ::operator delete(held[i], sizes[i]);
    }
}

void RecordCopy(benchmark::State& state, BlockShape shape) {
    const auto& pool = Pool(shape);
    std::vector<Quelto_DataAvailableEventArgs> records;
    for (const auto& e : pool) records.push_back(::Pipeline::CopyEventArgs(*e));
    std::size_t i = 0;
    for (auto _ : state) {
        Quelto_DataAvailableEventArgs copy(records[i++ % records.size()]);
        benchmark::DoNotOptimize(copy.EmgSamples.data());
    }
}

extern "C" void NoOpCallback(const Quelto_DataAvailableEventArgs_C* args, void*) { benchmark::DoNotOptimize(args); }

// What the thunk does per block besides releasing its copy: the C record
// of views and the call.
void ThunkViews(benchmark::State& state, BlockShape shape) {
    const Quelto_DataAvailableEventArgs record = ::Pipeline::CopyEventArgs(*Pool(shape)[0]);
    Quelto_DataCallback cb = &NoOpCallback;
    benchmark::DoNotOptimize(cb);
    for (auto _ : state) {
        Quelto_DataAvailableEventArgs_C c;
        FillCView(record, c);
        cb(&c, nullptr);
    }
}

class Collector : public benchmark::BenchmarkReporter {
public:
    std::map<std::string, double> results;
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const std::string name = r.run_name.function_name;
            if (r.run_type == Run::RT_Aggregate) {
                if (r.aggregate_name == "median") results[name] = r.GetAdjustedRealTime();
            } else if (!results.count(name)) {
                results[name] = r.GetAdjustedRealTime();  // no repetitions: the one run
            }
        }
    }
};

}  // namespace

std::map<std::string, double> RunMicro(std::vector<std::string> args, bool quick) {
    for (const BlockShape& s : {RealisticShape(), LargeShape()}) {
        const std::string n = s.name;
        benchmark::RegisterBenchmark(("flatten/" + n).c_str(), Flatten, s)->Unit(benchmark::kNanosecond);
        benchmark::RegisterBenchmark(("memcpy/" + n).c_str(), Memcpy, s)->Unit(benchmark::kNanosecond);
        benchmark::RegisterBenchmark(("record copy/" + n).c_str(), RecordCopy, s)->Unit(benchmark::kNanosecond);
        benchmark::RegisterBenchmark(("allocate/" + n).c_str(), Allocate, s)->Unit(benchmark::kNanosecond);
    }
    benchmark::RegisterBenchmark("thunk views/realistic", ThunkViews, RealisticShape())->Unit(benchmark::kNanosecond);

    std::vector<std::string> argvStrings{"quelto_bench", quick ? "--benchmark_min_time=0.05" : "--benchmark_min_time=0.2",
                                         quick ? "--benchmark_repetitions=1" : "--benchmark_repetitions=5"};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings) argv.push_back(s.data());
    int argc = static_cast<int>(argv.size());
    benchmark::Initialize(&argc, argv.data());
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    return collector.results;
}

}  // namespace Bench
