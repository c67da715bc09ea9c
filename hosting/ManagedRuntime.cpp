#include "ManagedRuntime.h"

#include "BridgeFolder.h"
#include "ManagedCallThread.h"
#include "ManagedInterop.h"
#include "ManagedObjects.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace Hosting::Managed {

namespace {

HelperTable g_table{};
std::atomic<bool> g_running{false};
std::mutex g_startMutex;
std::string g_startError;  // set once a start failed: later calls fail alike
int g_collectPerBlock = -1;  // -1: not read from the environment yet
std::mutex g_collectMutex;
// Mono wakes one thread waiting for pending finalizers: two of the bridge's
// collections waiting at once could leave one waiting for ever (a host's
// Collect beside a Destroy's). Threads the runtime does not know take their
// turn here; a thread already in the runtime must not block, and goes on.
std::mutex g_collectionTurn;
int32_t OneCollection() {
    if (CallsDirectly()) return g_table.Collect();
    std::lock_guard turn(g_collectionTurn);
    return g_table.Collect();
}
// Set in a child made by fork() after the runtime started: the child has
// the runtime's memory but none of its threads, and Mono cannot run there.
std::atomic<bool> g_forkedChild{false};

extern "C" void TextSink(void* context, int32_t tag, const char16_t* text, int32_t length) noexcept {
    try {
        auto* out = static_cast<TextParts*>(context);
        if (tag >= 0 && tag < 3 && length >= 0) {
            out->part[tag] = Runtime::Text::ToUtf8(std::u16string_view(text, static_cast<std::size_t>(length)));
            out->seen[tag] = true;
        }
    } catch (...) {
    }
}

extern "C" void EventSink(intptr_t subscription, BlockCrossing* block, int32_t status) noexcept {
    if (block) DeliverEvent(subscription, *block, status);
}

extern "C" void* StorageSink(BlockCrossing* crossing, int64_t bytes) noexcept {
    return crossing ? ReplaceBlockStorage(*crossing, bytes) : nullptr;
}

// A failure on a thread of its own (the SDK's, the runtime's), or one that
// escaped the helper's catch while this thread was inside it.
extern "C" void FailureSink(const char16_t* text, int32_t length, int32_t kind) noexcept {
    try {
        const std::u16string what(text, static_cast<std::size_t>(length < 0 ? 0 : length));
        if (kind != CaughtOnSdkThread && t_helperCalls > 0) EndProcessForUncontainedFailure(what);
        if (kind == UnhandledOnRuntimeThread && KeepFailedThreadsRunning()) {
            ReportRuntimeThreadFailure(what);
        } else {
            ReportUnhandled(what);
        }
    } catch (...) {
    }
}

std::u16string Wide(const std::string& s) { return Runtime::Text::FromUtf8(s); }

}  // namespace

ManagedException::ManagedException(std::string typeName, std::string message, std::string text)
    : Runtime::Exception(std::move(message)), typeName_(std::move(typeName)), text_(std::move(text)) {}

bool IsCliAssembly(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    auto read = [&](std::streamoff at, void* out, std::size_t n) {
        in.seekg(at);
        in.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
        return static_cast<std::size_t>(in.gcount()) == n;
    };
    char mz[2];
    uint32_t peOffset = 0;
    if (!read(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z' || !read(0x3C, &peOffset, 4)) return false;
    char signature[4];
    uint16_t optionalSize = 0, magic = 0;
    if (!read(peOffset, signature, 4) || std::memcmp(signature, "PE\0\0", 4) != 0) return false;
    if (!read(peOffset + 20, &optionalSize, 2)) return false;
    const std::streamoff optional = peOffset + 24;
    if (!read(optional, &magic, 2)) return false;
    // Data directory 14 (the runtime header): after 96 (PE32) or 112 (PE32+)
    // bytes of the optional header, 8 bytes per directory.
    const std::streamoff directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : -1);
    if (directories < optional) return false;
    uint32_t count = 0;
    if (!read(directories - 4, &count, 4) || count <= 14) return false;
    if (directories + 15 * 8 > optional + optionalSize) return false;
    uint32_t cli[2] = {0, 0};
    return read(directories + 14 * 8, cli, 8) && cli[0] != 0 && cli[1] != 0;
}

const HelperTable& Api() {
    if (g_running.load(std::memory_order_acquire)) return g_table;
    std::lock_guard lock(g_startMutex);
    if (g_running.load(std::memory_order_relaxed)) return g_table;
    if (!g_startError.empty()) throw Runtime::InvalidOperationException(g_startError);
    const std::u16string module = BridgeModulePath();
    const std::string helper =
        Runtime::Path::Combine(Runtime::Text::ToUtf8(FolderOfModulePath(module)), HelperAssemblyFile);
    HelperTable table{};
    DescribeTable(table);
    table.textSink = &TextSink;
    table.eventSink = &EventSink;
    table.failureSink = &FailureSink;
    table.storageSink = &StorageSink;
    std::string error;
    // Started on a call thread: the thread that starts Mono stays its own.
    bool started = false;
    int32_t entryResult = -1;
    const auto start = [&] { started = StartPlatformRuntime(helper, &table, entryResult, error); };
    if (CallsDirectly() || !OnCallThread(start)) start();
    // Every operation is checked before the first device is made.
    if (!started || !CheckHelperTable(table, helper, entryResult, error)) {
        g_startError = "The managed runtime could not be started: " + error;
        throw Runtime::InvalidOperationException(g_startError);
    }
    g_table = table;
#ifndef _WIN32
    pthread_atfork(nullptr, nullptr, [] { g_forkedChild.store(true, std::memory_order_relaxed); });
#endif
    g_running.store(true, std::memory_order_release);
    BridgeFolderChanged();
    return g_table;
}

void Check(int32_t status) {
    if (status == 0) return;
    TextParts failure;
    g_table.TakeFailure(0, &failure);
    if (!failure.seen[0]) throw Runtime::Exception("A managed call failed without an exception.");
    throw ManagedException(failure.part[0], failure.part[1], failure.part[2]);
}

Runtime::Ref<Runtime::Object> CreateInstance(const std::string& assemblyFullName, const std::string& className) {
    if (g_forkedChild.load(std::memory_order_relaxed)) {
        throw Runtime::InvalidOperationException(
            "The managed runtime was started before this process was made by fork(), and Mono cannot run in such a "
            "child: create devices in the parent, or start a new program in the child (exec)");
    }
    const HelperTable& api = Api();
    intptr_t handle = 0;
    Check(api.Create(Wide(assemblyFullName).c_str(), Wide(className).c_str(), &handle));
    return Wrap(className, handle);
}

void BridgeFolderChanged() {
    if (!g_running.load(std::memory_order_acquire) || g_forkedChild.load(std::memory_order_relaxed)) return;
    const std::string folder = BridgeFolder();
    if (folder.empty()) return;
    Check(g_table.SetBridgeFolder(Wide(folder).c_str()));
}

bool Running() { return g_running.load(std::memory_order_acquire); }

bool CollectPerBlock() {
    std::lock_guard lock(g_collectMutex);
    if (g_collectPerBlock < 0) {
        const char* value = std::getenv("QUELTO_COLLECT_PER_BLOCK");
        g_collectPerBlock = value && value[0] == '1' ? 1 : 0;
    }
    return g_collectPerBlock == 1;
}

void SetCollectPerBlock(bool enabled) {
    std::lock_guard lock(g_collectMutex);
    g_collectPerBlock = enabled ? 1 : 0;
}

void CollectAfterBlock() {
    if (Running() && CollectPerBlock()) Check(OneCollection());
}

void CollectAfterDestroy() noexcept {
    if (!Running() || g_forkedChild.load(std::memory_order_relaxed)) return;
    try {
        Check(OneCollection());
    } catch (...) {
    }
}

void CallNothing() { Check(Api().Nothing()); }
void Collect() {
    Api();
    Check(OneCollection());
}
int64_t ManagedHeapBytes() {
    int64_t bytes = 0;
    Check(Api().HeapBytes(&bytes));
    return bytes;
}

}  // namespace Hosting::Managed
