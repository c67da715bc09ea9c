// The process-wide assembly loader of the runtime stand-in: loads SDK
// libraries, finds classes by name, and raises the assembly-resolve event
// when its own rules cannot find a library.
#pragma once

#include "SdkModule.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Runtime {

class Assembly;
using AssemblyRef = Ref<Assembly>;

// One loaded SDK library. Libraries stay loaded until the process ends, as
// assemblies do.
class Assembly {
public:
    const std::string& FullName() const { return fullName_; }
    const std::string& Location() const { return location_; }
    // Simple name: the full name up to its first comma.
    std::string SimpleName() const;
    Ref<Object> CreateInstance(const std::string& className) const;
    // Address of an exported symbol of the library, or null.
    void* GetExport(const char* name) const;
    // A .NET assembly, served by the managed backend (ManagedRuntime.h).
    bool IsManaged() const { return managed_; }

private:
    friend class AppDomain;
    std::string fullName_;
    std::string location_;
    void* handle_ = nullptr;
    bool managed_ = false;
    std::map<std::string, ClassFactory> classes_;
};

class AppDomain final : public IActivator {
public:
    // Handlers get the requested full name and return a loaded assembly or
    // null; the first non-null answer is used.
    using ResolveHandler = std::function<AssemblyRef(const std::string& fullName)>;

    static AppDomain& CurrentDomain();

    // Where a handler looks, in words, for the text of a failed lookup
    // (e.g. "'/opt/x/lib' (beside the bridge library)"; empty: not said).
    using ResolveFolder = std::function<std::string()>;

    // Subscribes a handler; the token removes it again.
    int AddAssemblyResolve(ResolveHandler handler, ResolveFolder folder = {});
    void RemoveAssemblyResolve(int token);
    std::size_t AssemblyResolveCount() const;

    // Loads the library at `path` (or returns it when already loaded from
    // there). Throws FileNotFoundException, BadImageFormatException or
    // EntryPointNotFoundException naming the file and the reason. A .NET
    // assembly is only recorded here: the managed runtime loads it, by its
    // own rules and the bridge's resolve handler, when a class of it is made.
    AssemblyRef LoadFrom(const std::string& path);

    // Finds an assembly by full name: one already loaded with that simple
    // name; else "<application base>/<simple name>.dll"; else the resolve
    // handlers. Throws FileNotFoundException naming the full name and the
    // folders searched, and how to put the SDK there.
    AssemblyRef Load(const std::string& fullName);

    Ref<Object> CreateInstance(const std::string& assemblyFullName, const std::string& className) override;

    template <class T>
    Ref<T> CreateInstance(const std::string& assemblyFullName, const std::string& className) {
        return Runtime::CreateInstance<T>(*this, assemblyFullName, className);
    }

    // Folder of the host executable, where the runtime probes first.
    static std::string ApplicationBase();

private:
    AppDomain() = default;
    AssemblyRef FindLoaded(const std::string& simpleName) const;

    mutable std::recursive_mutex mutex_;
    std::vector<AssemblyRef> assemblies_;
    struct Subscription {
        int token;
        ResolveHandler handler;
        ResolveFolder folder;
    };
    std::vector<Subscription> resolveHandlers_;
    int nextToken_ = 1;
};

// Simple name of a full display name: the text before the first comma,
// untrimmed.
std::string SimpleNameOf(const std::string& fullName);

}  // namespace Runtime
