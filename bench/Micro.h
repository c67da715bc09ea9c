// Micro benchmarks (Google Benchmark): flattening against memcpy of the
// same bytes, record copies, the C thunk's views.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace Bench {

// Nanoseconds per operation by benchmark name (median of repetitions).
// `args` are Google Benchmark flags, passed through.
std::map<std::string, double> RunMicro(std::vector<std::string> args, bool quick);

}  // namespace Bench
