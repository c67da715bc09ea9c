#include "AppDomain.h"

#include "ManagedRuntime.h"

#include <climits>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace Runtime {

std::string SimpleNameOf(const std::string& fullName) { return fullName.substr(0, fullName.find(',')); }

std::string Assembly::SimpleName() const { return SimpleNameOf(fullName_); }

Ref<Object> Assembly::CreateInstance(const std::string& className) const {
    auto it = classes_.find(className);
    if (it == classes_.end()) {
        throw TypeLoadException("Could not load type '" + className + "' from assembly '" + fullName_ + "'.");
    }
    return it->second();
}

void* Assembly::GetExport(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

namespace {

class Builder final : public IAssemblyBuilder {
public:
    Builder(Assembly& assembly, std::string& fullName, std::map<std::string, ClassFactory>& classes,
            IActivator& activator)
        : fullName_(fullName), classes_(classes), activator_(activator) {
        (void)assembly;
    }
    void SetFullName(const std::string& fullName) override { fullName_ = fullName; }
    void AddClass(const std::string& className, ClassFactory factory) override {
        if (factory) classes_[className] = factory;
    }
    IActivator& Activator() override { return activator_; }

private:
    std::string& fullName_;
    std::map<std::string, ClassFactory>& classes_;
    IActivator& activator_;
};

std::string LastLoadError() {
#ifdef _WIN32
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = text ? text : ("error " + std::to_string(code));
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
#else
    const char* error = dlerror();
    return error ? error : "unknown error";
#endif
}

}  // namespace

AppDomain& AppDomain::CurrentDomain() {
    // Never destroyed: libraries stay loaded and their objects may outlive
    // static destruction.
    static AppDomain* domain = new AppDomain();
    return *domain;
}

int AppDomain::AddAssemblyResolve(ResolveHandler handler, ResolveFolder folder) {
    std::lock_guard lock(mutex_);
    const int token = nextToken_++;
    resolveHandlers_.push_back(Subscription{token, std::move(handler), std::move(folder)});
    return token;
}

void AppDomain::RemoveAssemblyResolve(int token) {
    std::lock_guard lock(mutex_);
    std::erase_if(resolveHandlers_, [&](const auto& entry) { return entry.token == token; });
}

std::size_t AppDomain::AssemblyResolveCount() const {
    std::lock_guard lock(mutex_);
    return resolveHandlers_.size();
}

AssemblyRef AppDomain::FindLoaded(const std::string& simpleName) const {
    for (const auto& a : assemblies_) {
        if (a->SimpleName() == simpleName) return a;
    }
    return nullptr;
}

AssemblyRef AppDomain::LoadFrom(const std::string& path) {
    std::lock_guard lock(mutex_);
    for (const auto& a : assemblies_) {
        if (a->location_ == path) return a;
    }
    if (!File::Exists(path)) {
        throw FileNotFoundException("Could not load file or assembly '" + path +
                                    "'. The system cannot find the file specified.");
    }
    if (Hosting::Managed::IsCliAssembly(path)) {
        auto assembly = std::make_shared<Assembly>();
        assembly->location_ = path;
        assembly->managed_ = true;
        const std::string file = Path::FolderOf(path) == path ? path : path.substr(Path::FolderOf(path).size() + 1);
        assembly->fullName_ = file.size() > 4 ? file.substr(0, file.size() - 4) : file;
        assemblies_.push_back(assembly);
        return assembly;
    }
#ifdef _WIN32
    const std::u16string wide = Text::FromUtf8(path);
    HMODULE handle = LoadLibraryExW(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!handle) {
        throw BadImageFormatException("Could not load file or assembly '" + path + "': " + LastLoadError());
    }
    auto entry = reinterpret_cast<QueltoSdkRegisterAssemblyFn>(
        reinterpret_cast<void*>(GetProcAddress(handle, QUELTO_SDK_ENTRY_POINT)));
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        throw BadImageFormatException("Could not load file or assembly '" + path + "': " + LastLoadError());
    }
    auto entry = reinterpret_cast<QueltoSdkRegisterAssemblyFn>(dlsym(handle, QUELTO_SDK_ENTRY_POINT));
#endif
    if (!entry) {
#ifdef _WIN32
        FreeLibrary(handle);
#else
        dlclose(handle);
#endif
        throw EntryPointNotFoundException("Could not load file or assembly '" + path +
                                          "': it is not an SDK library (no entry point '" QUELTO_SDK_ENTRY_POINT
                                          "').");
    }
    auto assembly = std::make_shared<Assembly>();
    assembly->location_ = path;
    assembly->handle_ = reinterpret_cast<void*>(handle);
    Builder builder(*assembly, assembly->fullName_, assembly->classes_, *this);
    entry(builder);
    if (assembly->fullName_.empty()) {
        assembly->fullName_ = Path::FolderOf(path) == path ? path : path.substr(Path::FolderOf(path).size() + 1);
    }
    // A library with the same simple name loaded earlier keeps serving
    // requests by name; this one is still usable through its reference.
    assemblies_.push_back(assembly);
    return assembly;
}

std::string AppDomain::ApplicationBase() {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    return Path::FolderOf(Text::ToUtf8(std::u16string(buffer.begin(), buffer.end())));
#else
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return {};
    buffer.resize(static_cast<std::size_t>(n));
    return Path::FolderOf(buffer);
#endif
}

AssemblyRef AppDomain::Load(const std::string& fullName) {
    const std::string simple = SimpleNameOf(fullName);
    std::vector<Subscription> handlers;
    const std::string base = ApplicationBase();
    {
        std::lock_guard lock(mutex_);
        if (AssemblyRef loaded = FindLoaded(simple)) return loaded;
        const std::string probe = Path::Combine(base, simple + ".dll");
        if (File::Exists(probe)) return LoadFrom(probe);
        handlers = resolveHandlers_;
    }
    std::string searched = "'" + base + "' (the program's folder)";
    for (const auto& subscription : handlers) {
        if (AssemblyRef found = subscription.handler(fullName)) return found;
        const std::string where = subscription.folder ? subscription.folder() : std::string();
        if (!where.empty()) searched += ", " + where;
    }
    throw FileNotFoundException("Could not load file or assembly '" + fullName +
                                "' or one of its dependencies. The system cannot find the file specified. "
                                "Looked for " + simple + ".dll in " + searched +
                                ". Copy the SDK libraries beside the program, or, in a CMake project built against "
                                "the installed package, call quelto_bridge_deploy_sdk(<target>) to copy them there "
                                "after each build.");
}

Ref<Object> AppDomain::CreateInstance(const std::string& assemblyFullName, const std::string& className) {
    AssemblyRef assembly = Load(assemblyFullName);
    if (assembly->IsManaged()) return Hosting::Managed::CreateInstance(assemblyFullName, className);
    return assembly->CreateInstance(className);
}

}  // namespace Runtime
