// Blocks of the managed backend. A block crosses into native memory in one
// call of the helper (ReadBlock) as it arrives, on the SDK's thread, which
// the runtime knows and where the block's memory is still warm; the worker,
// which runs the host's code and never enters the runtime, then only takes
// the native copy.
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
    // Takes over the event's handle, which ReadBlock frees.
    explicit ManagedEventArgs(intptr_t handle) noexcept {
        try {
            // Storage of the size this thread's last block needed, so that
            // the helper seldom has to ask for more.
            static thread_local int64_t t_storageBytes = 0;
            if (t_storageBytes > 0) {
                block_.Storage = AllocateBlockStorage(t_storageBytes);
                block_.StorageBytes = block_.Storage ? t_storageBytes : 0;
            }
            const int32_t status = Api().ReadBlock(handle, &block_);
            storage_ = std::shared_ptr<void>(std::exchange(block_.Storage, nullptr), &FreeBlockStorage);
            t_storageBytes = block_.StorageBytes;
            Check(status);
        } catch (...) {
            failure_ = std::current_exception();
        }
    }
    ManagedEventArgs(const ManagedEventArgs&) = delete;
    ManagedEventArgs& operator=(const ManagedEventArgs&) = delete;
    ~ManagedEventArgs() override { FreeBlockStorage(block_.Storage); }

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

Runtime::Ref<D::DataAvailableEventArgs> ArrivingBlock(intptr_t eventArgs) {
    return std::make_shared<ManagedEventArgs>(eventArgs);
}

}  // namespace Hosting::Managed
