// The caller's call stack as text, for exceptions and failure reports.
#include "Runtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#endif

namespace Runtime {

std::string CaptureStackTrace(int skipFrames) {
#ifdef _WIN32
    void* frames[64];
    const USHORT n = CaptureStackBackTrace(static_cast<DWORD>(skipFrames + 1), 64, frames, nullptr);
    std::string out;
    for (USHORT i = 0; i < n; ++i) {
        HMODULE module = nullptr;
        char path[MAX_PATH] = "?";
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCSTR>(frames[i]), &module)) {
            GetModuleFileNameA(module, path, MAX_PATH);
        }
        const char* slash = std::strrchr(path, '\\');
        char line[MAX_PATH + 64];
        std::snprintf(line, sizeof line, "   at %s+%p\n", slash ? slash + 1 : path,
                      reinterpret_cast<void*>(reinterpret_cast<char*>(frames[i]) - reinterpret_cast<char*>(module)));
        out += line;
    }
    if (!out.empty()) out.pop_back();
    return out;
#else
    void* frames[64];
    const int n = backtrace(frames, 64);
    std::string out;
    for (int i = skipFrames + 1; i < n; ++i) {
        Dl_info info{};
        std::string where;
        if (dladdr(frames[i], &info) && info.dli_sname) {
            int status = 0;
            char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
            where = status == 0 && demangled ? demangled : info.dli_sname;
            std::free(demangled);
        } else {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%p", frames[i]);
            where = buf;
        }
        out += "   at ";
        out += where;
        if (info.dli_fname) {
            out += " in ";
            const char* slash = std::strrchr(info.dli_fname, '/');
            out += slash ? slash + 1 : info.dli_fname;
        }
        out += '\n';
    }
    if (!out.empty()) out.pop_back();
    return out;
#endif
}

}  // namespace Runtime
