#include "Runtime.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace Runtime {

#ifndef _WIN32
namespace {
// Holds back, on the calling thread, the signals a write can raise (a closed
// pipe, a file-size limit) and discards those that this write raised, so the
// caller sees only the failed write. The process's handlers are left alone.
class QuietSignals {
public:
    QuietSignals() {
        sigemptyset(&quiet_);
        sigaddset(&quiet_, SIGPIPE);
        sigaddset(&quiet_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &quiet_, &previous_);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        for (int s : {SIGPIPE, SIGXFSZ}) {
            if (sigismember(&pending, s)) sigdelset(&quiet_, s);  // not ours: left for the host
        }
    }
    ~QuietSignals() {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        for (int s : {SIGPIPE, SIGXFSZ}) {
            if (!sigismember(&quiet_, s) || !sigismember(&pending, s)) continue;
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, s);
            const timespec zero{};
            while (sigtimedwait(&one, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    QuietSignals(const QuietSignals&) = delete;
    QuietSignals& operator=(const QuietSignals&) = delete;

private:
    sigset_t quiet_;
    sigset_t previous_;
};
}  // namespace
#endif

Exception::Exception(std::string message) : message_(std::move(message)), stack_(CaptureStackTrace(2)) {}

std::string Exception::ToString() const {
    std::string text = TypeName();
    if (!message_.empty()) {
        text += ": ";
        text += message_;
    }
    if (!stack_.empty()) {
        text += '\n';
        text += stack_;
    }
    return text;
}

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

// ------------------------------------------------------------------- text

namespace Text {
namespace {
// Decodes UTF-16 into code points, replacing lone surrogates with U+FFFD.
template <class F>
void ForEachCodePoint(std::u16string_view s, F&& f) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        f(c);
    }
}
void AppendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}
}  // namespace

std::u16string FromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const unsigned char cont = static_cast<unsigned char>(s[i + k]);
            ok = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (c < minimum[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += static_cast<std::size_t>(len);
    }
    return out;
}

std::string ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    ForEachCodePoint(s, [&](char32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    });
    return out;
}

std::string ToAnsi(std::u16string_view s) {
    const std::size_t nul = s.find(u'\0');
    if (nul != std::u16string_view::npos) s = s.substr(0, nul);
    if (s.empty()) return {};
#ifdef _WIN32
    const int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(s.data()), static_cast<int>(s.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(s.data()), static_cast<int>(s.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
#else
    return ToUtf8(s);
#endif
}

std::u16string FromAnsi(const char* text) {
    if (!text || !*text) return {};
#ifdef _WIN32
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), u'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<LPWSTR>(out.data()), n);
    return out;
#else
    return FromUtf8(std::string_view(text));
#endif
}
}  // namespace Text

// ------------------------------------------------------------ file, path

namespace File {
bool Exists(const std::string& path) {
    if (path.empty()) return false;
#ifdef _WIN32
    const std::u16string wide = Text::FromUtf8(path);
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(wide.c_str()));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

void AppendAllText(const std::string& path, std::string_view text) {
    const auto fail = [&path](const char* what, int error) {
        throw IOException("Could not append to file '" + path + "': " + what +
                          (error ? std::string(": ") + std::strerror(error) : std::string()));
    };
#ifdef _WIN32
    const std::u16string wide = Text::FromUtf8(path);
    // Writes at offset 0xFFFFFFFF'FFFFFFFF go to the end of the file, as with
    // append-only access; write access is kept to take a failed part back.
    HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) fail("cannot open it", 0);
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER before{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !GetFileSizeEx(file, &before)) {
        CloseHandle(file);
        fail("not a regular file", 0);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        OVERLAPPED at{};
        at.Offset = at.OffsetHigh = 0xFFFFFFFF;
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 0x40000000));
        if (!WriteFile(file, text.data() + done, chunk, &written, &at) || written == 0) break;
        done += written;
    }
    if (done < text.size()) {
        LARGE_INTEGER now{};
        if (done > 0 && GetFileSizeEx(file, &now) && now.QuadPart == before.QuadPart + static_cast<LONGLONG>(done)) {
            FILE_END_OF_FILE_INFO end{};
            end.EndOfFile = before;
            SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
        }
        CloseHandle(file);
        fail("the text could not be written", 0);
    }
    CloseHandle(file);
#else
    const QuietSignals quiet;  // a file-size limit must not end the process
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                          0666);
    if (fd < 0) fail("cannot open it", errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail("not a regular file", 0);
    }
    // One write; only a short one (full disk, size limit) is continued.
    std::size_t done = 0;
    off_t start = -1;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        if (done == 0) start = ::lseek(fd, 0, SEEK_CUR) - n;
        done += static_cast<std::size_t>(n);
    }
    if (done < text.size()) {
        // Take the part back, unless someone appended after it meanwhile, so
        // the next report does not continue a cut one.
        if (done > 0 && start >= 0 && ::fstat(fd, &st) == 0 && st.st_size == start + static_cast<off_t>(done)) {
            while (::ftruncate(fd, start) != 0 && errno == EINTR) {
            }
        }
        ::close(fd);
        fail("the text could not be written", error);
    }
    if (::close(fd) != 0 && errno != EINTR) fail("the text could not be written", errno);
#endif
}
}  // namespace File

namespace Path {
static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string Combine(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    if (IsSeparator(b.front()) || (b.size() > 1 && b[1] == ':')) return b;
    if (IsSeparator(a.back())) return a + b;
#ifdef _WIN32
    return a + '\\' + b;
#else
    return a + '/' + b;
#endif
}

std::string FolderOf(const std::string& path) {
    const std::size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(0, pos);
}
}  // namespace Path

namespace Console {
void WriteError(std::string_view text) {
#ifdef _WIN32
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
#else
    std::fflush(stderr);  // what the host's stdio still holds goes first
    const QuietSignals quiet;
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // closed or full: the text is lost, never the host
        text.remove_prefix(static_cast<std::size_t>(n));
    }
#endif
}
}  // namespace Console

namespace Debug {
void Write(std::string_view text) {
#ifdef _WIN32
    const std::string copy(text);
    OutputDebugStringA(copy.c_str());
#else
    if (std::getenv("QUELTO_DEBUG_TRACE")) Console::WriteError(text);
#endif
}
}  // namespace Debug

}  // namespace Runtime
