#include "BridgeFolder.h"

#include <climits>
#include <cstdlib>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

std::mutex g_folderMutex;
// The bridge library's folder, without a trailing separator.
std::u16string g_bridgeFolder;
// The same folder as the runtime's string, read by ResolveAssembly.
Runtime::String g_bridgeFolderClr;
std::once_flag g_subscribed;

}  // namespace

namespace Hosting {

std::u16string FolderOfModulePath(std::u16string_view path) {
    const std::size_t nul = path.find(u'\0');
    if (nul != std::u16string_view::npos) path = path.substr(0, nul);
    const std::size_t pos = path.find_last_of(u"\\/");
    return std::u16string(pos == std::u16string_view::npos ? path : path.substr(0, pos));
}

std::string LibraryPathFor(const std::string& requestedFullName, const std::string& folder) {
    return Runtime::Path::Combine(folder, Runtime::SimpleNameOf(requestedFullName) + ".dll");
}

std::string BridgeFolder() {
    std::lock_guard lock(g_folderMutex);
    return g_bridgeFolderClr ? Runtime::Text::ToUtf8(*g_bridgeFolderClr) : std::string();
}

namespace {

// Asks the platform for the path of the module that holds this code.
std::u16string QueryModulePath() {
    const void* self = reinterpret_cast<const void*>(&SetupBridgeAssemblyResolve);
#ifdef _WIN32
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(self), &module)) {
        return {};
    }
    // No fixed limit: grow the buffer until the whole path fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::u16string(buffer.begin(), buffer.end());
#else
    // The loader keeps the name the library was opened by, which may be
    // relative to the folder current at that moment: resolve it now.
    Dl_info info{};
    if (!dladdr(self, &info) || !info.dli_fname || !*info.dli_fname) return {};
    std::string path = info.dli_fname;
    if (char* absolute = realpath(info.dli_fname, nullptr)) {
        path = absolute;
        std::free(absolute);
    } else if (path.front() != '/') {
        return {};  // never a folder that depends on the current directory
    }
    return Runtime::Text::FromUtf8(path);
#endif
}

// Taken while the library is loaded, before the host can change directory.
const std::u16string g_modulePathAtLoad = QueryModulePath();

}  // namespace

std::u16string BridgeModulePath() { return g_modulePathAtLoad; }

}  // namespace Hosting

void SetupBridgeAssemblyResolve() {
    const std::u16string modulePath = Hosting::BridgeModulePath();
    if (modulePath.empty()) return;  // nothing installed; Create reports what fails later
    {
        std::lock_guard lock(g_folderMutex);
        g_bridgeFolder = Hosting::FolderOfModulePath(modulePath);
        g_bridgeFolderClr = g_bridgeFolder;
    }
    std::call_once(g_subscribed, [] { Runtime::AppDomain::CurrentDomain().AddAssemblyResolve(&ResolveAssembly); });
}

Runtime::AssemblyRef ResolveAssembly(const std::string& requestedFullName) {
    const std::string folder = Hosting::BridgeFolder();
    if (folder.empty()) return nullptr;
    const std::string path = Hosting::LibraryPathFor(requestedFullName, folder);
    if (!Runtime::File::Exists(path)) return nullptr;
    return Runtime::AppDomain::CurrentDomain().LoadFrom(path);
}
