// Starting the managed runtime on Windows: the .NET Framework 4 CLR through
// mscoree.dll (CLRCreateInstance, ICLRMetaHost::GetRuntime,
// ICLRRuntimeInfo::GetInterface, ICLRRuntimeHost::Start and
// ExecuteInDefaultAppDomain). MinGW ships no metahost.h: the interfaces
// used are declared here from their documented layout. A process where the
// CLR already runs gets the same runtime back, and Start succeeds again.
#include "ManagedInterop.h"

#include "Runtime.h"

#include <cstdio>
#include <windows.h>

namespace Hosting::Managed {
namespace {

constexpr GUID CLSID_MetaHost = {0x9280188d, 0x0e8e, 0x4867, {0xb3, 0x0c, 0x7f, 0xa8, 0x38, 0x84, 0xe8, 0xde}};
constexpr GUID IID_MetaHost = {0xd332db9e, 0xb9b3, 0x4125, {0x82, 0x07, 0xa1, 0x48, 0x84, 0xf5, 0x32, 0x16}};
constexpr GUID IID_RuntimeInfo = {0xbd39d1d2, 0xba2f, 0x486a, {0x89, 0xb0, 0xb4, 0xb0, 0xcb, 0x46, 0x68, 0x91}};
constexpr GUID CLSID_RuntimeHost = {0x90f1a06e, 0x7712, 0x4762, {0x86, 0xb5, 0x7a, 0x5e, 0xba, 0x6b, 0xdb, 0x02}};
constexpr GUID IID_RuntimeHost = {0x90f1a06c, 0x7712, 0x4762, {0x86, 0xb5, 0x7a, 0x5e, 0xba, 0x6b, 0xdb, 0x02}};

struct IMetaHost : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetRuntime(LPCWSTR version, REFIID riid, void** runtime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVersionFromFile(LPCWSTR, LPWSTR, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumerateInstalledRuntimes(void**) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumerateLoadedRuntimes(HANDLE, void**) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestRuntimeLoadedNotification(void*) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryLegacyV2RuntimeBinding(REFIID, void**) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExitProcess(INT32) = 0;
};

struct IRuntimeInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersionString(LPWSTR, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRuntimeDirectory(LPWSTR, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsLoaded(HANDLE, BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadErrorString(UINT, LPWSTR, DWORD*, LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadLibrary(LPCWSTR, HMODULE*) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProcAddress(LPCSTR, void**) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFCLSID clsid, REFIID riid, void** out) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsLoadable(BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultStartupFlags(DWORD, LPCWSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultStartupFlags(DWORD*, LPWSTR, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE BindAsLegacyV2Runtime() = 0;
    virtual HRESULT STDMETHODCALLTYPE IsStarted(BOOL*, DWORD*) = 0;
};

struct IRuntimeHost : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHostControl(void*) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCLRControl(void**) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnloadAppDomain(DWORD, BOOL) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExecuteInAppDomain(DWORD, void*, void*) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentAppDomainId(DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExecuteApplication(LPCWSTR, DWORD, LPCWSTR*, DWORD, LPCWSTR*, int*) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExecuteInDefaultAppDomain(LPCWSTR assembly, LPCWSTR type, LPCWSTR method,
                                                                LPCWSTR argument, DWORD* result) = 0;
};

using CreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

std::string Failed(const char* step, HRESULT hr) {
    char text[160];
    std::snprintf(text, sizeof text, "no CLR could be started: %s failed with HRESULT 0x%08lX", step,
                  static_cast<unsigned long>(hr));
    return text;
}

template <class T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

}  // namespace

bool StartPlatformRuntime(const std::string& helperPath, HelperTable* table, int32_t& entryResult,
                          std::string& error) {
    if (!Runtime::File::Exists(helperPath)) {
        error = "the bridge's helper assembly '" + helperPath + "' is missing";
        return false;
    }
    HMODULE mscoree = LoadLibraryW(L"mscoree.dll");
    if (!mscoree) {
        error = Failed("LoadLibrary(mscoree.dll)", HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    auto create = reinterpret_cast<CreateInstanceFn>(
        reinterpret_cast<void*>(GetProcAddress(mscoree, "CLRCreateInstance")));
    if (!create) {
        error = Failed("GetProcAddress(CLRCreateInstance)", HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    Released<IMetaHost> meta;
    Released<IRuntimeInfo> info;
    Released<IRuntimeHost> host;
    HRESULT hr = create(CLSID_MetaHost, IID_MetaHost, reinterpret_cast<void**>(&meta.p));
    if (FAILED(hr)) return error = Failed("CLRCreateInstance", hr), false;
    hr = meta.p->GetRuntime(L"v4.0.30319", IID_RuntimeInfo, reinterpret_cast<void**>(&info.p));
    if (FAILED(hr)) return error = Failed("ICLRMetaHost::GetRuntime(v4.0.30319)", hr), false;
    hr = info.p->GetInterface(CLSID_RuntimeHost, IID_RuntimeHost, reinterpret_cast<void**>(&host.p));
    if (FAILED(hr)) return error = Failed("ICLRRuntimeInfo::GetInterface(CLSID_CLRRuntimeHost)", hr), false;
    hr = host.p->Start();
    if (FAILED(hr)) return error = Failed("ICLRRuntimeHost::Start", hr), false;

    const std::u16string argument = Runtime::Text::FromUtf8(HelperEntryArgument(*table));
    const std::u16string path = Runtime::Text::FromUtf8(helperPath);
    DWORD result = 1;
    hr = host.p->ExecuteInDefaultAppDomain(reinterpret_cast<LPCWSTR>(path.c_str()), L"QueltoBridgeHost.Entry",
                                           L"Start", reinterpret_cast<LPCWSTR>(argument.c_str()), &result);
    if (FAILED(hr)) {
        error = HelperNotLoaded(helperPath) + " (" + Failed("ICLRRuntimeHost::ExecuteInDefaultAppDomain", hr) + ")";
        return false;
    }
    entryResult = static_cast<int32_t>(result);
    // The runtime stays started for the life of the process.
    host.p->AddRef();
    return true;
}

// The CLR's unhandled-exception policy is the host's own (its configuration
// file); the bridge cannot change it.
bool KeepFailedThreadsRunning() noexcept { return false; }

}  // namespace Hosting::Managed
