#include "ErrorReport.h"

#include "BridgeFolder.h"
#include "Runtime.h"

#include <cstdlib>
#include <exception>
#include <filesystem>

namespace Entry {

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

bool AppendToErrorLog(const std::string& text) {
    try {
        const std::string path = ErrorLogPath();
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::u8path(Runtime::Path::FolderOf(path)), ec);
        Runtime::File::AppendAllText(path, text + "\n\n");
        return true;
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

}  // namespace Entry
