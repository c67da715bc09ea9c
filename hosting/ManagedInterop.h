// The table of operations the helper assembly hands over, and the records
// that cross with them. Layouts match hosting/managed/QueltoBridgeHost.cs and
// BlockReader.cs; any change to them, or to what an operation means, is a
// new table version.
#pragma once

#include "ManagedCallThread.h"
#include "SdkBlockFields.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

namespace Hosting::Managed {

struct Value {
    int64_t I;
    double D;
    intptr_t Obj;  // a new handle owned by the caller, or 0
};

struct PinnedArray {
    intptr_t Pin;  // pinning handle, 0 when nothing is pinned
    void* Data;    // first element, or null
    int32_t Rank;
    int32_t ElementSize;  // 0: not a primitive element type (extents only)
    int32_t Length[3];
    int32_t ElementType;  // the element's System.TypeCode (of an enumeration: its underlying type's), else 0
};
static_assert(sizeof(PinnedArray) == 40, "the helper's layout");

// ------------------------------------------------------------ one block

// A block's fields as the helper reads them: the list of SdkBlockFields.h,
// in its order, handed to the helper when it starts.
enum BlockFieldKind : int64_t { ArrayField = 1, NumberField = 2, FlagField = 3 };
struct BlockFieldDescription {
    const char16_t* Name;
    int64_t Kind;  // BlockFieldKind
};

#define QUELTO_COUNT_ONE(...) +1
inline constexpr int BlockNumberCount =
    0 QUELTO_BLOCK_FIELDS(QUELTO_BLOCK_SKIP, QUELTO_COUNT_ONE, QUELTO_COUNT_ONE, QUELTO_BLOCK_SKIP);
inline constexpr int BlockArrayCount =
    0 QUELTO_BLOCK_FIELDS(QUELTO_COUNT_ONE, QUELTO_BLOCK_SKIP, QUELTO_BLOCK_SKIP, QUELTO_BLOCK_SKIP);
#undef QUELTO_COUNT_ONE

// One block as it crosses in one call, the event sink's: the numbers and
// flags (each as 64 bits), then the arrays, each in the order of the list.
// The helper reads the event into a crossing of its own and copies every
// array into Storage, StorageBytes long: the storage the event sink gave
// back with the subscription's last block (a piece an earlier block left,
// or a new one of the last block's size), or a larger one it gets through
// the storage sink. An
// array's Data points into it, its Pin stays 0. The crossing owns its
// storage; the bridge takes it over in the event sink.
struct BlockCrossing {
    void* Storage = nullptr;
    int64_t StorageBytes = 0;
    int64_t Numbers[BlockNumberCount] = {};
    PinnedArray Arrays[BlockArrayCount] = {};
};
static_assert(sizeof(BlockCrossing) == 16 + 8 * BlockNumberCount + 40 * BlockArrayCount, "the helper's layout");

inline void* AllocateBlockStorage(int64_t bytes) noexcept {
    return ::operator new(static_cast<std::size_t>(bytes), std::align_val_t{16}, std::nothrow);
}
inline void FreeBlockStorage(void* storage) noexcept { ::operator delete(storage, std::align_val_t{16}); }
// Frees the crossing's storage and gives it `bytes` of new storage (none for
// 0, or when there is no memory); returns the new storage.
inline void* ReplaceBlockStorage(BlockCrossing& crossing, int64_t bytes) noexcept {
    FreeBlockStorage(crossing.Storage);
    crossing.Storage = bytes > 0 ? AllocateBlockStorage(bytes) : nullptr;
    crossing.StorageBytes = crossing.Storage ? bytes : 0;
    return crossing.Storage;
}

extern "C" {
using TextSinkFn = void (*)(void* context, int32_t tag, const char16_t* text, int32_t length);
// One block of the subscription: the crossing's storage is the bridge's
// from then on, and the sink gives back in the crossing the storage for the
// subscription's next block (or none); `status` 1: the reading failed, and
// the failure is kept for the calling thread.
using EventSinkFn = void (*)(intptr_t subscription, BlockCrossing* block, int32_t status);
// `kind`: a FailureKind.
using FailureSinkFn = void (*)(const char16_t* text, int32_t length, int32_t kind);
// Native memory of `bytes` (16-byte aligned) in place of the crossing's
// storage, which is freed; null when there is none, or `bytes` is 0.
using StorageSinkFn = void* (*)(BlockCrossing* crossing, int64_t bytes);
}

// What the helper reports through the failure sink.
enum FailureKind : int32_t {
    CaughtOnSdkThread = 0,      // the event forwarding failed; the thread goes on
    UnhandledOnThread = 1,      // nothing caught it: an SDK thread, or a thread in the helper
    UnhandledOnRuntimeThread = 2,  // nothing caught it, on the finalizer or a pool thread
};

// Number of the helper's operations running on this thread: above 0 while
// the bridge (a host thread or a worker) is inside a call into managed code.
inline thread_local int t_helperCalls = 0;

// One operation of the helper, a function pointer it fills in; calling it
// marks the thread as inside the helper for that long. A thread that is not
// the runtime's has the call made on its call thread (ManagedCallThread.h).
template <class F>
struct HelperOp;
template <class R, class... A>
struct HelperOp<R (*)(A...)> {
    R (*fn)(A...);
    R operator()(A... a) const {
        if (!CallsDirectly()) {
            R result{};
            if (OnCallThread([&] { result = (*this)(a...); })) return result;
        }
        struct Inside {
            Inside() { ++t_helperCalls; }
            ~Inside() { --t_helperCalls; }
            Inside(const Inside&) = delete;
            Inside& operator=(const Inside&) = delete;
        } inside;
        return fn(a...);
    }
};

// The helper's operations, in the order of their slots. Each returns 0, or 1
// with the failure kept for the calling thread (TakeFailure gives it).
using SetBridgeFolderFn = int32_t (*)(const char16_t* folder);
using CreateFn = int32_t (*)(const char16_t* assembly, const char16_t* className, intptr_t* handle);
using ReleaseFn = int32_t (*)(intptr_t handle);
// `shape`: 0 no argument, 1 number, 2 object, 3 object and number, 4 text.
using CallFn = int32_t (*)(intptr_t handle, const char16_t* iface, const char16_t* method, int32_t shape,
                           intptr_t objArg, int32_t intArg, const char16_t* textArg, intptr_t* result);
using GetMemberFn = int32_t (*)(intptr_t handle, const char16_t* iface, const char16_t* name, Value* value);
using SetMemberFn = int32_t (*)(intptr_t handle, const char16_t* iface, const char16_t* name, int64_t i, double d,
                                intptr_t obj);
using PinFn = int32_t (*)(intptr_t array, PinnedArray* pinned);
using TakeFailureFn = int32_t (*)(intptr_t unused, void* context);
using SubscribeFn = int32_t (*)(intptr_t device, intptr_t subscription);
using CollectFn = int32_t (*)();
using GetElementFn = int32_t (*)(intptr_t array, int32_t index, Value* value);
using SetElementFn = int32_t (*)(intptr_t array, int32_t index, int64_t i, double d, intptr_t obj);
using GetStringElementFn = int32_t (*)(intptr_t array, int32_t index, void* context);
using SetStringElementFn = int32_t (*)(intptr_t array, int32_t index, const char16_t* text, int32_t isNull);
using NothingFn = int32_t (*)();
using HeapBytesFn = int32_t (*)(int64_t* bytes);

#define QUELTO_HELPER_OPERATIONS(OP)                                                                             \
    OP(SetBridgeFolder) OP(Create) OP(Release) OP(Call) OP(GetMember) OP(SetMember) OP(Pin) OP(TakeFailure)      \
    OP(Subscribe) OP(Collect) OP(GetElement) OP(SetElement) OP(GetStringElement)                                 \
    OP(SetStringElement) OP(Nothing) OP(HeapBytes)

// The layout and meaning of the table; both sides refuse any other.
inline constexpr uint32_t HelperTableVersion = 4;

#define QUELTO_OPERATION_NAME(Name) #Name,
inline constexpr const char* HelperOperationNames[] = {QUELTO_HELPER_OPERATIONS(QUELTO_OPERATION_NAME)};
#undef QUELTO_OPERATION_NAME
inline constexpr uint32_t HelperOperationCount = sizeof HelperOperationNames / sizeof HelperOperationNames[0];

struct HelperTable {
    // The table's description, first in every version: the bridge's, and
    // what the helper says of its own before it fills anything.
    uint32_t Size = 0;
    uint32_t Version = 0;
    uint32_t OperationCount = 0;
    uint32_t HelperSize = 0;
    uint32_t HelperVersion = 0;
    uint32_t HelperOperationCount = 0;
    // Given to the helper.
    TextSinkFn textSink = nullptr;
    EventSinkFn eventSink = nullptr;
    FailureSinkFn failureSink = nullptr;
    StorageSinkFn storageSink = nullptr;
    const BlockFieldDescription* blockFields = nullptr;
    intptr_t blockFieldCount = 0;
    // Filled by the helper, one pointer-sized slot each.
#define QUELTO_OPERATION_SLOT(Name) HelperOp<Name##Fn> Name{};
    QUELTO_HELPER_OPERATIONS(QUELTO_OPERATION_SLOT)
#undef QUELTO_OPERATION_SLOT
};
inline constexpr std::size_t HelperTableHeaderBytes = 6 * sizeof(uint32_t) + 6 * sizeof(void*);
static_assert(offsetof(HelperTable, SetBridgeFolder) == HelperTableHeaderBytes, "the operations follow the header");
static_assert(sizeof(HelperTable) == HelperTableHeaderBytes + HelperOperationCount * sizeof(void*),
              "one pointer per operation");

// Fills the bridge's description of `table` and the block field list.
void DescribeTable(HelperTable& table);
// The helper entry's argument: the table's address and its description.
std::string HelperEntryArgument(const HelperTable& table);
// Why the helper at `helperPath` could not be entered, for a file that the
// runtime cannot load as the helper (missing entry, damaged).
std::string HelperNotLoaded(const std::string& helperPath);
// After the helper's entry returned `entryResult`: true when the helper took
// this table and filled every operation; else false, with `error` naming the
// helper, its path, its table and this bridge's.
bool CheckHelperTable(const HelperTable& table, const std::string& helperPath, int32_t entryResult,
                      std::string& error);

// Text handed back by the helper: part[tag] for each tag it sent.
struct TextParts {
    std::string part[3];
    bool seen[3] = {false, false, false};
};

// The table of the running helper; starts the runtime on first use.
// Throws Runtime::Exception when it cannot be started.
const HelperTable& Api();

// Throws the calling thread's kept managed failure when `status` is not 0.
void Check(int32_t status);

// Starts the platform's runtime, loads the helper at `helperPath` and calls
// its entry with HelperEntryArgument(*table). True when the entry returned,
// with its result in `entryResult`; false with `error` set when it could not
// be called.
bool StartPlatformRuntime(const std::string& helperPath, HelperTable* table, int32_t& entryResult,
                          std::string& error);

// Dispatches one DataAvailable event to the subscription `id`.
void DeliverEvent(intptr_t id, BlockCrossing& block, int32_t status) noexcept;
// An unhandled managed exception on some thread: reported, and every live
// managed device reads Error from then on.
void ReportUnhandled(const std::u16string& text) noexcept;
// An unhandled managed exception on one of the runtime's own threads
// (finalizer, pool): reported; that thread goes on.
void ReportRuntimeThreadFailure(const std::u16string& text) noexcept;
// An exception that escaped the helper's own catch on a thread inside one of
// its operations: it cannot be returned to the caller and the thread cannot
// be given up. Reported, then the process ends (abort).
[[noreturn]] void EndProcessForUncontainedFailure(const std::u16string& text) noexcept;
// Makes the runtime let a thread whose exception went unhandled go on rather
// than end it or the process (Mono: its legacy unhandled-exception policy,
// from then on). False when the runtime has no such setting.
bool KeepFailedThreadsRunning() noexcept;

}  // namespace Hosting::Managed
