#include "ErrorReport.h"

#include "BridgeFolder.h"
#include "Runtime.h"

#include <cstdlib>
#include <cwchar>
#include <exception>
#include <filesystem>
#include <fstream>

namespace ErrorReport {

namespace fs = std::filesystem;

namespace {
thread_local std::string t_lastError;
thread_local bool t_failed = false;
}  // namespace

std::string ErrorLogPath() {
    std::string folder;
    if (const char* dir = std::getenv("QUELTO_BRIDGE_LOG_DIR"); dir && *dir) {
        folder = dir;
    } else {
        folder = Hosting::BridgeFolder();
        if (folder.empty()) {
            const std::u16string module = Hosting::BridgeModulePath();
            folder = module.empty() ? "." : Runtime::Text::ToUtf8(Hosting::FolderOfModulePath(module));
        }
    }
    return Runtime::Path::Combine(Runtime::Path::Combine(folder, "LOG"), "ErrorLog.txt");
}

std::string UserErrorLogPath() {
    std::string state;
#ifdef _WIN32
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local) {
        state = Runtime::Text::ToUtf8(std::u16string(local, local + std::wcslen(local)));
    }
#else
    // XDG: a relative XDG_STATE_HOME is ignored.
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/') {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        state = Runtime::Path::Combine(home, ".local/state");
    }
#endif
    if (state.empty()) return {};
    return Runtime::Path::Combine(Runtime::Path::Combine(Runtime::Path::Combine(state, "quelto-bridge"), "LOG"),
                                  "ErrorLog.txt");
}

namespace {

// Appends to the log at `path`, making its folder when missing.
bool AppendAt(const std::string& path, const std::string& text) {
    try {
        std::error_code ec;
        fs::create_directories(fs::u8path(Runtime::Path::FolderOf(path)), ec);
        Runtime::File::AppendAllText(path, text + "\n\n");
        return true;
    } catch (...) {
        return false;
    }
}

// After a failed append: whether the place itself cannot be written (its
// folder cannot be made, or the file cannot be made or opened for writing).
// Anything else at the path (FIFO, device, link) is refused on purpose, and
// a full disk is no reason to write elsewhere.
bool PlaceNotWritable(const std::string& path) {
    const fs::path file = fs::u8path(path);
    std::error_code ec;
    if (!fs::is_directory(file.parent_path(), ec)) return true;
    const fs::file_status status = fs::symlink_status(file, ec);
    if (ec || status.type() == fs::file_type::not_found) return true;
    if (status.type() != fs::file_type::regular) return false;
    std::ofstream probe(file, std::ios::app | std::ios::binary);  // it exists: nothing is made
    return !probe.is_open();
}

}  // namespace

bool AppendToErrorLog(const std::string& text, std::string* writtenTo) {
    try {
        const std::string path = ErrorLogPath();
        if (AppendAt(path, text)) {
            if (writtenTo) *writtenTo = path;
            return true;
        }
        if (!PlaceNotWritable(path)) return false;
        const std::string user = UserErrorLogPath();
        if (!user.empty() && user != path && AppendAt(user, text)) {
            Runtime::Console::WriteError("Quelto.bridge: cannot write the error log " + path +
                                         "; this failure is reported in " + user + "\n");
            if (writtenTo) *writtenTo = user;
            return true;
        }
        Runtime::Console::WriteError("Quelto.bridge: cannot write the error log " + path +
                                     (user.empty() || user == path ? std::string() : " nor " + user) +
                                     "; this failure is not kept in a file\n");
        return false;
    } catch (...) {
        return false;
    }
}

void ReportCurrentException(const char* function) {
    std::string text;
    bool described = true;
    try {
        throw;
    } catch (const Runtime::Exception& e) {
        text = e.ToString();
    } catch (const std::exception& e) {
        text = std::string("std::exception: ") + e.what();
    } catch (...) {
        described = false;
    }
    try {
        if (described) {
            Runtime::Debug::Write(text + "\n");
            AppendToErrorLog(text);
            t_lastError = std::string(function) + ": " + text;
        } else {
            AppendToErrorLog("Unknown unmanaged exception");
            t_lastError = std::string(function) + ": Unknown unmanaged exception";
        }
        t_failed = true;
    } catch (...) {
        t_failed = true;  // out of memory while reporting: the failure is still known
    }
}

void ClearLastError() { t_failed = false; }

const char* LastError() { return t_failed ? t_lastError.c_str() : nullptr; }

}  // namespace ErrorReport
