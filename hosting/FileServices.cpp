// Files, paths, standard error and the debug trace: the error log's append
// and the writes that must never end the host (no SIGPIPE, no SIGXFSZ).
#include "QuietSignals.h"
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
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Runtime {

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
