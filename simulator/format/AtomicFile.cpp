#include "AtomicFile.h"

#include "Runtime.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace QueltoSim {

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

#ifdef _WIN32
int OpenNew(const fs::path& p) {
    return _wopen(p.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
int WriteSome(int fd, const char* data, std::size_t n) {
    return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
}
int CloseFile(int fd) { return _close(fd); }
long ProcessId() { return _getpid(); }
#else
int OpenNew(const fs::path& p) { return ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }
long WriteSome(int fd, const char* data, std::size_t n) { return static_cast<long>(::write(fd, data, n)); }
int CloseFile(int fd) { return ::close(fd); }
long ProcessId() { return static_cast<long>(::getpid()); }
#endif

// The file a write to `target` replaces: `target` itself, or the file a
// symbolic link there names. Empty with `why` set when it must be left alone.
fs::path Destination(const fs::path& target, std::string& why) {
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(target, ec);
    if (ec || !fs::exists(own)) return target;  // made anew (or the open says why not)
    if (fs::is_regular_file(own)) return target;
    if (!fs::is_symlink(own)) {
        why = "it exists and is not a regular file";
        return {};
    }
    const fs::file_status named = fs::status(target, ec);
    if (ec || !fs::is_regular_file(named)) {
        why = "it is a symbolic link that does not name a regular file";
        return {};
    }
    fs::path resolved = fs::canonical(target, ec);
    if (ec) {
        why = ec.message();
        return {};
    }
    return resolved;
}

// A name beside `destination` that no other writer of this process or of
// another one uses; creation with O_EXCL settles a clash with a leftover.
fs::path TemporaryBeside(const fs::path& destination) {
    static std::atomic<unsigned long> counter{0};
    fs::path p = destination;
    p += "." + std::to_string(ProcessId()) + "-" + std::to_string(++counter) + ".tmp";
    return p;
}

std::string Reason(int error) { return std::generic_category().message(error); }

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view text, const std::string& what) {
    const std::string prefix = "Could not write " + what + " '" + path + "'";
    std::string why;
    const fs::path destination = Destination(PathOf(path), why);
    if (destination.empty()) throw Runtime::IOException(prefix + ": " + why + ".");

    fs::path temporary;
    int fd = -1, openError = 0;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = TemporaryBeside(destination);
        fd = OpenNew(temporary);
        openError = fd < 0 ? errno : 0;
        if (fd < 0 && openError != EEXIST) break;
    }
    if (fd < 0) throw Runtime::IOException(prefix + ": " + Reason(openError) + ".");

    int error = 0;
    for (std::size_t done = 0; done < text.size() && error == 0;) {
        const long n = WriteSome(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error = n < 0 ? errno : EIO;
        }
    }
    if (CloseFile(fd) != 0 && error == 0) error = errno;
    std::error_code ec;
    if (error == 0) {
        // Checked again: the target may have changed since the first look.
        std::string late;
        if (Destination(destination, late).empty()) {
            fs::remove(temporary, ec);
            throw Runtime::IOException(prefix + ": " + late + ".");
        }
        fs::rename(temporary, destination, ec);
        if (!ec) return;
    }
    const std::string reason = error ? Reason(error) : ec.message();
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw Runtime::IOException(prefix + ": " + reason + ".");
}

}  // namespace QueltoSim
