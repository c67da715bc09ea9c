// The managed backend: the SDK as .NET assemblies, hosted by the platform's
// managed runtime (Mono here, the .NET Framework CLR on Windows) and reached
// through the bridge's helper assembly. Its objects implement the SDK
// contract (SdkContract.h), so the rest of the bridge does not see which
// backend serves it.
//
// The runtime starts once per process, when an SDK class is first made from
// a managed assembly, and is never stopped.
#pragma once

#include "SdkContract.h"

#include <cstdint>
#include <string>

namespace Hosting::Managed {

// Name of the bridge's helper assembly, installed beside the bridge library.
inline constexpr const char* HelperAssemblyFile = "QueltoBridgeHost.dll";

// True when `path` is a CLI image (a managed assembly): a PE file whose
// header has a runtime (CLR) directory.
bool IsCliAssembly(const std::string& path);

// A failure raised by managed code, with the managed type name, message and
// the full text of its ToString().
class ManagedException : public Runtime::Exception {
public:
    ManagedException(std::string typeName, std::string message, std::string text);
    const char* TypeName() const noexcept override { return typeName_.c_str(); }
    std::string ToString() const override { return text_; }

private:
    std::string typeName_;
    std::string text_;
};

// Makes an object of `className` from the assembly `assemblyFullName`,
// starting the runtime when needed. The assembly is found by the runtime's
// own rules and the bridge's resolve handler. Throws ManagedException, or
// Runtime::Exception when no runtime can be started.
Runtime::Ref<Runtime::Object> CreateInstance(const std::string& assemblyFullName, const std::string& className);

// Hands the bridge folder to the managed resolve handler (subscribing it
// once) when the runtime runs; a later start hands it over itself.
void BridgeFolderChanged();

// True once the runtime has been started (or joined) by this library.
bool Running();

// The collection step of the worker: GC.Collect and
// GC.WaitForPendingFinalizers after every block, when enabled (environment
// QUELTO_COLLECT_PER_BLOCK=1; off by default) and the runtime runs.
void CollectAfterBlock();
bool CollectPerBlock();
void SetCollectPerBlock(bool enabled);

// The last step of destroying a device while the runtime runs: a full
// collection and the finalizers it makes due. Destroyed devices are small
// managed objects that the collector would otherwise leave for a long time,
// with whatever an SDK frees only in finalizers. Failures are ignored.
void CollectAfterDestroy() noexcept;

// Measuring and tests: one empty native-to-managed call, a full collection,
// and the managed heap's size in bytes. The runtime must be running.
void CallNothing();
void Collect();
int64_t ManagedHeapBytes();

}  // namespace Hosting::Managed
