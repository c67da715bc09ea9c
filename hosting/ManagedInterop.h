// The table of operations the helper assembly hands over, and the records
// that cross with them. Layouts match hosting/managed/QueltoBridgeHost.cs.
#pragma once

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
using FailureSinkFn = void (*)(const char16_t* text, int32_t length);
}

struct HelperTable {
    // Given to the helper.
    TextSinkFn textSink;
    EventSinkFn eventSink;
    FailureSinkFn failureSink;
    // Filled by the helper; each returns 0, or 1 with the failure kept.
    int32_t (*SetBridgeFolder)(const char16_t* folder);
    int32_t (*Create)(const char16_t* assembly, const char16_t* className, intptr_t* handle);
    int32_t (*Release)(intptr_t handle);
    int32_t (*Call)(intptr_t handle, const char16_t* iface, const char16_t* method, int32_t shape, intptr_t objArg,
                    int32_t intArg, const char16_t* textArg, intptr_t* result);
    int32_t (*GetMember)(intptr_t handle, const char16_t* iface, const char16_t* name, Value* value);
    int32_t (*SetMember)(intptr_t handle, const char16_t* iface, const char16_t* name, int64_t i, double d,
                         intptr_t obj);
    int32_t (*Pin)(intptr_t array, PinnedArray* pinned);
    int32_t (*TakeFailure)(intptr_t unused, void* context);
    int32_t (*Subscribe)(intptr_t device, intptr_t subscription);
    int32_t (*ReadEvent)(intptr_t eventArgs, int64_t* scalars, PinnedArray* arrays);
    int32_t (*ReleasePins)(PinnedArray* arrays, int32_t count);
    int32_t (*Collect)();
    int32_t (*GetElement)(intptr_t array, int32_t index, Value* value);
    int32_t (*SetElement)(intptr_t array, int32_t index, int64_t i, double d, intptr_t obj);
    int32_t (*GetStringElement)(intptr_t array, int32_t index, void* context);
    int32_t (*SetStringElement)(intptr_t array, int32_t index, const char16_t* text, int32_t isNull);
    int32_t (*Nothing)();
    int32_t (*HeapBytes)(int64_t* bytes);
};

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
// True once such a failure was reported.
bool UnhandledFailureSeen();

}  // namespace Hosting::Managed
