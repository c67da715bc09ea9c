// The table of operations the helper assembly hands over, and the records
// that cross with them. Layouts match hosting/managed/QueltoBridgeHost.cs.
#pragma once

#include "ManagedCallThread.h"

#include <cstdint>
#include <string>

namespace Hosting::Managed {

struct Value {
    int64_t I;
    double D;
    intptr_t Obj;  // a new handle owned by the caller, or 0
    int32_t IsNull;
};

struct PinnedArray {
    intptr_t Pin;  // pinning handle, 0 when nothing is pinned
    void* Data;    // first element, or null
    int32_t Rank;
    int32_t ElementSize;  // 0: not a primitive element type (extents only)
    int32_t Length[3];
};

// Read-only view of one block's fields, in the helper's order.
inline constexpr int EventScalarCount = 23;
inline constexpr int EventArrayCount = 18;

extern "C" {
using TextSinkFn = void (*)(void* context, int32_t tag, const char16_t* text, int32_t length);
using EventSinkFn = void (*)(intptr_t subscription, intptr_t eventArgs);
// `kind`: a FailureKind.
using FailureSinkFn = void (*)(const char16_t* text, int32_t length, int32_t kind);
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

struct HelperTable {
    // Given to the helper.
    TextSinkFn textSink;
    EventSinkFn eventSink;
    FailureSinkFn failureSink;
    // Filled by the helper; each returns 0, or 1 with the failure kept.
    HelperOp<int32_t (*)(const char16_t* folder)> SetBridgeFolder;
    HelperOp<int32_t (*)(const char16_t* assembly, const char16_t* className, intptr_t* handle)> Create;
    HelperOp<int32_t (*)(intptr_t handle)> Release;
    HelperOp<int32_t (*)(intptr_t handle, const char16_t* iface, const char16_t* method, int32_t shape,
                         intptr_t objArg, int32_t intArg, const char16_t* textArg, intptr_t* result)>
        Call;
    HelperOp<int32_t (*)(intptr_t handle, const char16_t* iface, const char16_t* name, Value* value)> GetMember;
    HelperOp<int32_t (*)(intptr_t handle, const char16_t* iface, const char16_t* name, int64_t i, double d,
                         intptr_t obj)>
        SetMember;
    HelperOp<int32_t (*)(intptr_t array, PinnedArray* pinned)> Pin;
    HelperOp<int32_t (*)(intptr_t unused, void* context)> TakeFailure;
    HelperOp<int32_t (*)(intptr_t device, intptr_t subscription)> Subscribe;
    HelperOp<int32_t (*)(intptr_t eventArgs, int64_t* scalars, PinnedArray* arrays)> ReadEvent;
    HelperOp<int32_t (*)(PinnedArray* arrays, int32_t count)> ReleasePins;
    HelperOp<int32_t (*)()> Collect;
    HelperOp<int32_t (*)(intptr_t array, int32_t index, Value* value)> GetElement;
    HelperOp<int32_t (*)(intptr_t array, int32_t index, int64_t i, double d, intptr_t obj)> SetElement;
    HelperOp<int32_t (*)(intptr_t array, int32_t index, void* context)> GetStringElement;
    HelperOp<int32_t (*)(intptr_t array, int32_t index, const char16_t* text, int32_t isNull)> SetStringElement;
    HelperOp<int32_t (*)()> Nothing;
    HelperOp<int32_t (*)(int64_t* bytes)> HeapBytes;
};
// The helper writes the table as pointer-sized slots.
static_assert(sizeof(HelperTable) == 21 * sizeof(void*), "one pointer per slot");

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
// its entry with the table's address. False with `error` set on failure.
bool StartPlatformRuntime(const std::string& helperPath, HelperTable* table, std::string& error);

// Dispatches one DataAvailable event to the subscription `id`.
void DeliverEvent(intptr_t id, intptr_t eventArgs) noexcept;
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
