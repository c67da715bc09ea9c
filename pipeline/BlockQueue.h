// The event bridge's queue: first in, first out, over one ring of slots
// (a power of two of them) that is kept between blocks, so that an append
// allocates only when the queue is longer than it has ever been (the ring
// doubles then). A ring that a backlog made large is given back once it
// drains.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace Pipeline {

template <class T>
class BlockQueue {
public:
    // Slots kept when the queue drains; a larger ring is given back then.
    static constexpr std::size_t kKeptSlots = 64;

    BlockQueue() = default;
    // A queue moved from is empty and can be used again.
    BlockQueue(BlockQueue&& other) noexcept
        : slots_(std::exchange(other.slots_, {})), head_(std::exchange(other.head_, 0)),
          count_(std::exchange(other.count_, 0)) {}
    BlockQueue& operator=(BlockQueue&& other) noexcept {
        slots_ = std::exchange(other.slots_, {});
        head_ = std::exchange(other.head_, 0);
        count_ = std::exchange(other.count_, 0);
        return *this;
    }

    bool empty() const noexcept { return count_ == 0; }
    std::size_t size() const noexcept { return count_; }
    std::size_t capacity() const noexcept { return slots_.size(); }

    void push_back(T value) {
        if (count_ == slots_.size()) Grow();
        slots_[(head_ + count_) & (slots_.size() - 1)] = std::move(value);
        ++count_;
    }
    T& front() noexcept { return slots_[head_]; }
    const T& front() const noexcept { return slots_[head_]; }
    // Empties the front slot (its value is released here, not when the
    // slot is reused).
    void pop_front() {
        slots_[head_] = T{};
        head_ = (head_ + 1) & (slots_.size() - 1);
        if (--count_ == 0) {
            head_ = 0;
            if (slots_.size() > kKeptSlots) std::vector<T>(kKeptSlots).swap(slots_);
        }
    }

private:
    void Grow() {
        std::vector<T> bigger(slots_.empty() ? 16 : slots_.size() * 2);
        for (std::size_t i = 0; i < count_; ++i) bigger[i] = std::move(slots_[(head_ + i) & (slots_.size() - 1)]);
        slots_.swap(bigger);
        head_ = 0;
    }

    std::vector<T> slots_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace Pipeline
