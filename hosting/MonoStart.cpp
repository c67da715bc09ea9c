// Starting the managed runtime on Linux: Mono, embedded. libmonosgen is
// opened at run time, so the bridge loads and its native backend works on a
// machine without Mono. A process that already runs Mono is joined.
#include "ManagedInterop.h"

#include "AppDomain.h"
#include "BridgeFolder.h"

#include <cstdio>
#include <dlfcn.h>

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
           Bind(lib, "mono_install_unhandled_exception_hook", m.install_unhandled_exception_hook, e);
}

void (*g_exitThread)() = nullptr;
void (*g_setExitCode)(int) = nullptr;

// Mono's hook must not return. The failed thread ends here, as a thread
// whose code returned would: the runtime marks it stopped (joins of it
// return) and the process exit code set for the failure is taken back.
extern "C" void EndFailedThread(void*, void*) {
    g_setExitCode(0);
    g_exitThread();
}

}  // namespace

bool StartPlatformRuntime(const std::string& helperPath, HelperTable* table, std::string& error) {
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

    void* domain = m.get_root_domain();
    const bool joined = domain != nullptr;
    void* attachedThread = nullptr;
    if (!joined) {
        // Mono keeps the host's crash handlers and passes on what it does
        // not handle itself.
        m.set_signal_chaining(1);
        m.config_parse(nullptr);
        domain = m.jit_init_version("Quelto.bridge", "v4.0.30319");
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
        m.install_unhandled_exception_hook(&EndFailedThread, nullptr);
    } else if (!m.domain_get()) {
        attachedThread = m.thread_attach(domain);
    }

    bool ok = false;
    void* assembly = m.domain_assembly_open(domain, helperPath.c_str());
    void* image = assembly ? m.assembly_get_image(assembly) : nullptr;
    void* klass = image ? m.class_from_name(image, "QueltoBridgeHost", "Entry") : nullptr;
    void* method = klass ? m.class_get_method_from_name(klass, "Start", 1) : nullptr;
    if (!method) {
        error = "the helper assembly '" + helperPath + "' could not be loaded or has no entry";
    } else {
        char address[32];
        std::snprintf(address, sizeof address, "%llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(table)));
        void* args[1] = {m.string_new(domain, address)};
        void* exception = nullptr;
        void* result = m.runtime_invoke(method, nullptr, args, &exception);
        if (exception) {
            error = std::string("the helper's entry threw ") + m.class_get_name(m.object_get_class(exception));
        } else if (!result || *static_cast<int32_t*>(m.object_unbox(result)) != 0) {
            error = "the helper's entry failed";
        } else {
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
