// Failure reports of the C API: the error log, the debug trace output and
// the calling thread's last error.
#pragma once

#include <string>

namespace ErrorReport {

// <bridge folder or QUELTO_BRIDGE_LOG_DIR>/LOG/ErrorLog.txt
std::string ErrorLogPath();

// The user's own place, for when ErrorLogPath() cannot be written:
// <XDG_STATE_HOME or ~/.local/state>/quelto-bridge/LOG/ErrorLog.txt, on
// Windows %LOCALAPPDATA%\quelto-bridge\LOG\ErrorLog.txt; "" when unknown.
std::string UserErrorLogPath();

// Appends `text` + "\n\n" to the error log (creating the LOG folder when
// missing); when the log's folder or file cannot be written, to the user's
// log instead, and says so on standard error. Never throws; false when no
// log was written, else the path in `writtenTo`.
bool AppendToErrorLog(const std::string& text, std::string* writtenTo = nullptr);

// Reports the exception in flight (call from a catch block): full text to
// the trace output and the error log; sets the thread's last error.
void ReportCurrentException(const char* function);

void ClearLastError();
const char* LastError();

// Runs `body`, containing any failure. Returns `body`'s result, or
// `fallback` after a report.
template <class R, class F>
R Contain(const char* function, R fallback, F&& body) noexcept {
    ClearLastError();
    try {
        return body();
    } catch (...) {
        ReportCurrentException(function);
        return fallback;
    }
}

template <class F>
void Contain(const char* function, F&& body) noexcept {
    ClearLastError();
    try {
        body();
    } catch (...) {
        ReportCurrentException(function);
    }
}

}  // namespace ErrorReport
