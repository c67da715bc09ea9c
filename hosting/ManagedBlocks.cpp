// Blocks of the managed backend. A block crosses into native memory in one
// call, the helper's event sink, as it arrives: the helper reads it on the
// SDK's thread, where its memory is still warm, and the bridge takes over
// the native copy. The worker, which runs the host's code, never enters the
// runtime for a block.
#include "ManagedObjects.h"

#include <exception>
#include <string>
#include <utility>

namespace Hosting::Managed {

namespace D = Quelto::Common::Definitions;

namespace {

// One block: its numbers, flags and arrays, the arrays as views into the one
// piece of native memory the helper copied them into, freed with the last
// view. A failure to read it is kept for Acquire, where the worker reports
// the block as one it could not deliver.
class ManagedEventArgs final : public D::DataAvailableEventArgs {
public:
    // Takes over the crossing's storage; `status` as the event sink gives
    // it (a failed reading's failure is taken on this thread).
    ManagedEventArgs(BlockCrossing& block, int32_t status, std::shared_ptr<StorageShelf> shelf) noexcept
        : block_(block) {
        void* const storage = std::exchange(block.Storage, nullptr);
        const int64_t bytes = std::exchange(block.StorageBytes, 0);
        block_.Storage = nullptr;  // held by storage_ alone
        try {
            // Let go by the deleter even when the control block cannot be made.
            storage_ = std::shared_ptr<void>(storage, [shelf = std::move(shelf), bytes](void* s) noexcept {
                if (shelf) {
                    shelf->Put(s, bytes);
                } else {
                    FreeBlockStorage(s);
                }
            });
            Check(status);
        } catch (...) {
            failure_ = std::current_exception();
        }
    }
    ManagedEventArgs(const ManagedEventArgs&) = delete;
    ManagedEventArgs& operator=(const ManagedEventArgs&) = delete;

    void Acquire() override {
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
        int number = 0, array = 0;
#define QUELTO_TAKE_ARRAY(name, element, rank, view) Take(name, block_.Arrays[array++], #name);
#define QUELTO_TAKE_NUMBER(name, type) name = Fitting<type>(block_.Numbers[number++], #name);
#define QUELTO_TAKE_FLAG(name) name = block_.Numbers[number++] != 0;
        QUELTO_BLOCK_FIELDS(QUELTO_TAKE_ARRAY, QUELTO_TAKE_NUMBER, QUELTO_TAKE_FLAG, QUELTO_BLOCK_SKIP)
#undef QUELTO_TAKE_ARRAY
#undef QUELTO_TAKE_NUMBER
#undef QUELTO_TAKE_FLAG
    }

private:
    // A number of the SDK's field (of whatever integer type it declares) that
    // must fit the block's: one that does not is refused, not cut.
    template <class T>
    static T Fitting(int64_t value, const char* name) {
        if (!std::in_range<T>(value)) {
            throw Runtime::InvalidCastException("A DataAvailableEventArgs number does not fit its field: " +
                                                std::string(name) + " is " + std::to_string(value) + ".");
        }
        return static_cast<T>(value);
    }

    template <class T, int Rank>
    void Take(Runtime::ArrayRef<T, Rank>& field, const PinnedArray& p, const char* name) {
        if (p.Rank == 0) return;  // null
        const auto extents = ExtentsOf<T, Rank>(
            p, [name] { return std::string("A DataAvailableEventArgs array has an unexpected type: ") + name + "."; });
        field = Runtime::Array<T, Rank>::View(static_cast<T*>(p.Data), extents, storage_);
    }

    BlockCrossing block_;
    std::shared_ptr<void> storage_;
    std::exception_ptr failure_;
};

}  // namespace

Runtime::Ref<D::DataAvailableEventArgs> ArrivingBlock(BlockCrossing& block, int32_t status,
                                                      std::shared_ptr<StorageShelf> shelf) {
    return std::make_shared<ManagedEventArgs>(block, status, std::move(shelf));
}

void StorageShelf::Put(void* storage, int64_t bytes) noexcept {
    if (!storage) return;
    {
        std::lock_guard lock(mutex_);
        if (!storage_) {
            storage_ = storage;
            bytes_ = bytes;
            return;
        }
    }
    FreeBlockStorage(storage);
}

bool StorageShelf::Take(BlockCrossing& crossing) noexcept {
    void* storage = nullptr;
    int64_t bytes = 0;
    {
        std::lock_guard lock(mutex_);
        storage = std::exchange(storage_, nullptr);
        bytes = std::exchange(bytes_, 0);
    }
    if (!storage) return false;
    FreeBlockStorage(crossing.Storage);
    crossing.Storage = storage;
    crossing.StorageBytes = bytes;
    return true;
}

}  // namespace Hosting::Managed
