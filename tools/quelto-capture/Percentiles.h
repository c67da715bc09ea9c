// Percentiles of a long series in bounded memory: up to `capacity` values
// kept by reservoir sampling (each value of the series equally likely to be
// kept), so that hours of blocks cost the same as minutes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Capture {

class Percentiles {
public:
    explicit Percentiles(size_t capacity = 100000) : capacity_(capacity) {}

    void Add(double value) {
        ++seen_;
        if (kept_.size() < capacity_) {
            kept_.push_back(value);
            return;
        }
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        const uint64_t slot = (state_ >> 11) % seen_;
        if (slot < capacity_) kept_[slot] = value;
    }
    // The value below which a fraction `q` of the series lies; 0 when empty.
    double At(double q) const {
        if (kept_.empty()) return 0;
        std::vector<double> sorted = kept_;
        const auto k = static_cast<size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
        return sorted[k];
    }
    uint64_t Count() const { return seen_; }

private:
    size_t capacity_;
    uint64_t seen_ = 0;
    uint64_t state_ = 88172645463325252ULL;
    std::vector<double> kept_;
};

}  // namespace Capture
