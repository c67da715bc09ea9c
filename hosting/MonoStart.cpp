// Starting the managed runtime on Linux: Mono, embedded. libmonosgen is
// opened at run time, so the bridge loads and its native backend works on a
// machine without Mono. A process that already runs Mono is joined.
#include "ManagedInterop.h"

#include "AppDomain.h"
#include "BridgeFolder.h"
#include "ManagedCallThread.h"
#include "ManagedRuntime.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <vector>

namespace Hosting::Managed {
namespace {

// The few entry points used, declared from Mono's embedding interface.
struct Mono {
    using Ptr = void*;
    void (*set_signal_chaining)(int);
    void (*config_parse)(const char*);
    Ptr (*jit_init_version)(const char*, const char*);
    Ptr (*get_root_domain)();
    Ptr (*domain_get)();
    void (*domain_set_config)(Ptr, const char*, const char*);
    Ptr (*domain_assembly_open)(Ptr, const char*);
    Ptr (*assembly_get_image)(Ptr);
    Ptr (*class_from_name)(Ptr, const char*, const char*);
    Ptr (*class_get_method_from_name)(Ptr, const char*, int);
    Ptr (*string_new)(Ptr, const char*);
    Ptr (*runtime_invoke)(Ptr, Ptr, Ptr*, Ptr*);
    Ptr (*object_unbox)(Ptr);
    Ptr (*object_get_class)(Ptr);
    const char* (*class_get_name)(Ptr);
    Ptr (*thread_attach)(Ptr);
    void (*thread_detach)(Ptr);
    void (*thread_exit)();
    void (*environment_exitcode_set)(int);
    void (*install_unhandled_exception_hook)(void (*)(Ptr, Ptr), Ptr);
    void (*set_dirs)(const char*, const char*);
    void (*set_rootdir)();
    const char* (*assembly_getrootdir)();
    void (*config_parse_memory)(const char*);
    // Mono's own parser of one MONO_DEBUG option (not part of the embedding
    // interface; may be missing, then MONO_DEBUG is not checked).
    int (*parse_debug_option)(const char*);
};

template <class F>
bool Bind(void* library, const char* name, F& out, std::string& error) {
    out = reinterpret_cast<F>(dlsym(library, name));
    if (!out) error = std::string("libmonosgen-2.0 has no ") + name;
    return out != nullptr;
}

bool BindAll(void* lib, Mono& m, std::string& e) {
    return Bind(lib, "mono_set_signal_chaining", m.set_signal_chaining, e) &&
           Bind(lib, "mono_config_parse", m.config_parse, e) &&
           Bind(lib, "mono_jit_init_version", m.jit_init_version, e) &&
           Bind(lib, "mono_get_root_domain", m.get_root_domain, e) && Bind(lib, "mono_domain_get", m.domain_get, e) &&
           Bind(lib, "mono_domain_set_config", m.domain_set_config, e) &&
           Bind(lib, "mono_domain_assembly_open", m.domain_assembly_open, e) &&
           Bind(lib, "mono_assembly_get_image", m.assembly_get_image, e) &&
           Bind(lib, "mono_class_from_name", m.class_from_name, e) &&
           Bind(lib, "mono_class_get_method_from_name", m.class_get_method_from_name, e) &&
           Bind(lib, "mono_string_new", m.string_new, e) && Bind(lib, "mono_runtime_invoke", m.runtime_invoke, e) &&
           Bind(lib, "mono_object_unbox", m.object_unbox, e) &&
           Bind(lib, "mono_object_get_class", m.object_get_class, e) &&
           Bind(lib, "mono_class_get_name", m.class_get_name, e) && Bind(lib, "mono_thread_attach", m.thread_attach, e) &&
           Bind(lib, "mono_thread_detach", m.thread_detach, e) &&
           Bind(lib, "mono_thread_exit", m.thread_exit, e) &&
           Bind(lib, "mono_environment_exitcode_set", m.environment_exitcode_set, e) &&
           Bind(lib, "mono_install_unhandled_exception_hook", m.install_unhandled_exception_hook, e) &&
           Bind(lib, "mono_set_dirs", m.set_dirs, e) && Bind(lib, "mono_set_rootdir", m.set_rootdir, e) &&
           Bind(lib, "mono_assembly_getrootdir", m.assembly_getrootdir, e) &&
           Bind(lib, "mono_config_parse_memory", m.config_parse_memory, e);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// Mono ends the process (exit or abort) instead of failing when its class
// library is missing or one of these variables has a value it does not take,
// so they are checked before it starts.
bool MonoCanStart(const Mono& m, std::string& error) {
    if (const char* mode = std::getenv("MONO_THREADS_SUSPEND")) {
        const std::string value = mode;
        if (value != "preemptive" && value != "hybrid" && value != "coop") {
            error = "MONO_THREADS_SUSPEND is '" + value + "', and Mono takes only preemptive, hybrid or coop";
            return false;
        }
    }
    const char* debug = std::getenv("MONO_DEBUG");
    if (debug && m.parse_debug_option) {
        for (const std::string& option : Split(debug, ',')) {
            if (!m.parse_debug_option(option.c_str())) {
                error = "MONO_DEBUG has an option Mono does not know: '" + option + "'";
                return false;
            }
        }
    }
    // mscorlib.dll of the 4.5 profile (the v4.0.30319 runtime): Mono looks in
    // each MONO_PATH folder and its mono/4.5, then in <lib>/mono/4.5, where
    // <lib> is QUELTO_MONO_LIB_DIR when set (handed to Mono), else the folder
    // Mono works out for itself.
    std::vector<std::string> candidates;
    const char* monoPath = std::getenv("MONO_PATH");
    if (monoPath) {
        for (const std::string& folder : Split(monoPath, ':')) {
            if (folder.empty()) continue;
            candidates.push_back(folder + "/mscorlib.dll");
            candidates.push_back(folder + "/mono/4.5/mscorlib.dll");
        }
    }
    const char* configured = std::getenv("QUELTO_MONO_LIB_DIR");
    std::string lib;
    if (configured && *configured) {
        m.set_dirs(configured, nullptr);
        lib = configured;
    } else {
        m.set_rootdir();
        const char* root = m.assembly_getrootdir();
        lib = root ? root : "";
    }
    candidates.push_back(lib + "/mono/4.5/mscorlib.dll");
    for (const std::string& file : candidates) {
        if (IsCliAssembly(file)) return true;
    }
    error = "Mono's class library is missing: no mscorlib.dll in " + lib + "/mono/4.5" +
            (monoPath ? " nor in MONO_PATH" : "") +
            " (Debian: apt-get install libmono-corlib4.5-dll; QUELTO_MONO_LIB_DIR names the lib folder of another "
            "Mono)";
    return false;
}

void (*g_exitThread)() = nullptr;
void (*g_setExitCode)(int) = nullptr;
void (*g_parseConfig)(const char*) = nullptr;  // set once this library started Mono
std::atomic<bool> g_keepingFailedThreads{false};

// Mono's hook must not return, and is reached once the helper has reported
// the exception. A thread of the SDK ends here, as a thread whose code
// returned would: the runtime marks it stopped (joins of it return) and the
// process exit code set for the failure is taken back. A thread inside the
// helper (the host's, a worker) is never ended: the process ends instead.
extern "C" void EndFailedThread(void*, void*) {
    if (t_helperCalls > 0) EndProcessForUncontainedFailure(u"an exception escaped the bridge's helper");
    g_setExitCode(0);
    g_exitThread();
}

// Once the runtime holds pointers into this library (the helper's sinks, the
// unhandled-exception hook), unloading it would leave Mono calling unmapped
// code: the library pins itself for the life of the process.
void KeepThisLibraryLoaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&KeepThisLibraryLoaded), &info) && info.dli_fname) {
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);  // never closed
    }
}

// Signals Mono needs for itself: the faults it turns into managed exceptions
// or reports (chained to the host's handlers), SIGQUIT for its thread dump,
// the real-time signals it suspends and interrupts threads with, SIGPROF for
// its sampling profiler. Any other disposition it changes as it starts
// (SIGPIPE, which it ignores) is given back to the host.
bool MonoNeeds(int signal) {
    switch (signal) {
    case SIGQUIT: case SIGILL: case SIGABRT: case SIGBUS: case SIGFPE: case SIGSEGV: case SIGPROF:
        return true;
    default:
        return signal >= SIGRTMIN;
    }
}

struct HostSignals {
    struct sigaction action[NSIG];
    bool saved[NSIG] = {};
    HostSignals() {
        for (int s = 1; s < NSIG; ++s) saved[s] = !MonoNeeds(s) && sigaction(s, nullptr, &action[s]) == 0;
    }
    void Restore() const {
        for (int s = 1; s < NSIG; ++s) {
            struct sigaction now {};
            if (!saved[s] || sigaction(s, nullptr, &now) != 0) continue;
            const bool same = now.sa_handler == action[s].sa_handler && now.sa_flags == action[s].sa_flags;
            if (!same) sigaction(s, &action[s], nullptr);
        }
    }
};

}  // namespace

// Mono's legacy unhandled-exception policy leaves a thread whose exception
// nothing caught running (the finalizer goes on to the next object, a pool
// thread to its next item). Mono offers it only as a configuration element,
// and only one way: once set it stays.
bool KeepFailedThreadsRunning() noexcept {
    if (!g_parseConfig) return false;  // a host's Mono: its policy is the host's
    if (!g_keepingFailedThreads.exchange(true)) {
        g_parseConfig("<configuration><legacyUnhandledExceptionPolicy enabled=\"1\"/></configuration>");
        const char* note =
            "Quelto.bridge: from now on Mono lets a thread whose exception nothing caught run on; an exception "
            "escaping an SDK thread may then end that thread without a report\n";
        std::fputs(note, stderr);
        Runtime::Debug::Write(note);
    }
    return true;
}

bool StartPlatformRuntime(const std::string& helperPath, HelperTable* table, int32_t& entryResult,
                          std::string& error) {
    if (!Runtime::File::Exists(helperPath)) {
        error = "the bridge's helper assembly '" + helperPath + "' is missing";
        return false;
    }
    // Mono already in the process (a host that runs it): use that copy.
    void* lib = dlopen("libmonosgen-2.0.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (!lib) lib = dlopen("libmonosgen-2.0.so.1", RTLD_NOW | RTLD_GLOBAL);
    if (!lib) {
        const char* why = dlerror();
        error = std::string("Mono is not installed (") + (why ? why : "libmonosgen-2.0.so.1 not found") + ")";
        return false;
    }
    Mono m{};
    if (!BindAll(lib, m, error)) return false;
    m.parse_debug_option = reinterpret_cast<int (*)(const char*)>(dlsym(lib, "mini_parse_debug_option"));

    SetRuntimeThreadQuery(m.domain_get);
    void* domain = m.get_root_domain();
    const bool joined = domain != nullptr;
    void* attachedThread = nullptr;
    if (!joined) {
        if (!MonoCanStart(m, error)) return false;
        KeepThisLibraryLoaded();
        // Mono keeps the host's crash handlers and passes on what it does
        // not handle itself.
        m.set_signal_chaining(1);
        m.config_parse(nullptr);
        const HostSignals host;
        domain = m.jit_init_version("Quelto.bridge", "v4.0.30319");
        host.Restore();
        if (!domain) {
            error = "Mono did not start";
            return false;
        }
        // The runtime's own probing looks where the native lookup does
        // first: the host's folder.
        const std::string base = Runtime::AppDomain::ApplicationBase();
        m.domain_set_config(domain, base.c_str(), "");
        // An exception escaping an SDK thread is reported by the helper;
        // then that thread ends, not the process.
        g_exitThread = m.thread_exit;
        g_setExitCode = m.environment_exitcode_set;
        g_parseConfig = m.config_parse_memory;
        m.install_unhandled_exception_hook(&EndFailedThread, nullptr);
    } else {
        KeepThisLibraryLoaded();
        // A thread new to the runtime (the bridge's call thread) joins it
        // for good, left in the GC-safe state as Mono's embedders' attach
        // leaves it: mono_thread_attach would leave it GC-unsafe, and a
        // thread detached again cannot come back through the wrappers.
        if (!m.domain_get()) {
            auto jitAttach = reinterpret_cast<void* (*)(void*)>(dlsym(lib, "mono_jit_thread_attach"));
            if (jitAttach) {
                jitAttach(domain);
            } else {
                attachedThread = m.thread_attach(domain);
            }
        }
    }

    bool ok = false;
    void* assembly = m.domain_assembly_open(domain, helperPath.c_str());
    void* image = assembly ? m.assembly_get_image(assembly) : nullptr;
    void* klass = image ? m.class_from_name(image, "QueltoBridgeHost", "Entry") : nullptr;
    void* method = klass ? m.class_get_method_from_name(klass, "Start", 1) : nullptr;
    if (!method) {
        error = HelperNotLoaded(helperPath);
    } else {
        const std::string argument = HelperEntryArgument(*table);
        void* args[1] = {m.string_new(domain, argument.c_str())};
        void* exception = nullptr;
        void* result = m.runtime_invoke(method, nullptr, args, &exception);
        if (exception) {
            error = std::string("the helper's entry threw ") + m.class_get_name(m.object_get_class(exception));
        } else if (!result) {
            error = "the helper's entry returned nothing";
        } else {
            entryResult = *static_cast<int32_t*>(m.object_unbox(result));
            ok = true;
        }
    }

    // The embedding calls leave this thread in the GC-safe ("blocking")
    // state, so it may block in native code without holding up a
    // collection; later calls into managed code go through the helper's
    // function pointers, whose wrappers switch state on their own.
    if (attachedThread) m.thread_detach(attachedThread);
    return ok;
}

}  // namespace Hosting::Managed
