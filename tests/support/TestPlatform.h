// Environment, process id and loaded libraries in tests, on POSIX and on
// Windows alike.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace TestPlatform {

// Built with AddressSanitizer or ThreadSanitizer: about ten times slower,
// and their allocators keep freed memory.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool Sanitized = true;
#else
inline constexpr bool Sanitized = false;
#endif

// Polls `done` every millisecond for up to `limit`; true when it held.
inline bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());  // an empty value removes the variable
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

inline long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

// The calling thread, as the simulated device reports its event thread:
// std::thread ids are numbered per module on Windows, so the system's id.
inline std::string ThreadTag() {
#ifdef _WIN32
    return std::to_string(GetCurrentThreadId());
#else
    std::ostringstream out;
    out << std::this_thread::get_id();
    return out.str();
#endif
}

// Loads the library at `path` apart from any other of that name; null on
// failure, with the reason in `error`.
inline void* LoadLibraryAt(const std::string& path, std::string& error) {
#ifdef _WIN32
    const std::wstring wide(path.begin(), path.end());  // test paths are ASCII
    HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) error = "LoadLibraryExW failed with error " + std::to_string(GetLastError()) + ": " + path;
    return reinterpret_cast<void*>(module);
#else
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) error = ::dlerror();
    return handle;
#endif
}

inline void* Symbol(void* library, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return ::dlsym(library, name);
#endif
}

// A symbol of the library at `path` when that library is already loaded;
// null otherwise.
inline void* SymbolOfLoaded(const std::string& path, const char* name) {
#ifdef _WIN32
    const std::wstring wide(path.begin(), path.end());
    HMODULE module = GetModuleHandleW(wide.c_str());
    if (!module) module = GetModuleHandleW(wide.substr(wide.find_last_of(L"/\\") + 1).c_str());
    return module ? Symbol(reinterpret_cast<void*>(module), name) : nullptr;
#else
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    void* symbol = ::dlsym(handle, name);
    ::dlclose(handle);
    return symbol;
#endif
}

}  // namespace TestPlatform
