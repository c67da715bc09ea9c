// Failure reports of the C API: the error log, the debug trace output and
// the calling thread's last error.
#pragma once

#include <string>

namespace Entry {

// <bridge folder or QUELTO_BRIDGE_LOG_DIR>/LOG/ErrorLog.txt
std::string ErrorLogPath();

// Appends `text` + "\n\n" to the error log (creating the LOG folder when
// missing). Never throws; false when the log could not be written.
bool AppendToErrorLog(const std::string& text);

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

}  // namespace Entry
