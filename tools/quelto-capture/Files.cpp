#include "Files.h"

#include "CsvWriter.h"
#include "Options.h"
#include "Quelto_DataLayout.h"

#include <edflib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

namespace Capture {

namespace fs = std::filesystem;

namespace {

struct Named {
    std::string path;
    const char* option;
    bool replaced = false;  // written beside and renamed (the folder must take a new file)
};

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a), ea), cb = fs::weakly_canonical(fs::absolute(b), eb);
    return !ea && !eb && ca == cb;
}

// Where a file beside `path` is written before it takes `path`'s name.
std::string TemporaryBeside(const std::string& path) {
    const fs::path p(path);
    return (p.parent_path() / ("." + p.filename().string() + "." + std::to_string(::getpid()) + ".tmp")).string();
}

// An output: refused when it exists (unless `overwrite`), is not a regular
// file, or cannot be made.
void CheckOutput(const Named& out, bool overwrite) {
    const std::string& path = out.path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            throw Refused(std::string(out.option) + ": " + path + " is not a regular file (" +
                          (S_ISDIR(st.st_mode) ? "a folder" : "a FIFO, socket or device") + ")");
        }
        if (!overwrite) {
            throw Refused(std::string(out.option) + ": " + path + " exists; give --overwrite to replace it");
        }
        if (!out.replaced) {
            // Opened, not emptied: the old file stays until the capture writes.
            const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) throw Refused(std::string(out.option) + ": cannot write " + path + ": " + Reason(errno));
            ::close(fd);
            return;
        }
    } else if (errno != ENOENT) {
        throw Refused(std::string(out.option) + ": cannot use " + path + ": " + Reason(errno));
    }
    // Make it (or the file renamed over it) and take it away again.
    const std::string probe = out.replaced ? TemporaryBeside(path) : path;
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) throw Refused(std::string(out.option) + ": cannot create " + path + ": " + Reason(errno));
    ::close(fd);
    ::unlink(probe.c_str());
}

const char* EdfReadError(int code) {
    switch (code) {
        case EDFLIB_FILE_CONTAINS_FORMAT_ERRORS: return "its header is not that of an EDF or BDF file";
        case EDFLIB_FILE_READ_ERROR: return "it cannot be read";
        case EDFLIB_FILE_IS_DISCONTINUOUS: return "it is a discontinuous EDF+D/BDF+D recording";
        case EDFLIB_FILETYPE_ERROR: return "it is not an EDF or BDF file";
        default: return nullptr;
    }
}

// Header fields of an EDF/BDF file (fixed-width ASCII at fixed offsets).
int64_t Field(const std::vector<char>& header, size_t offset, size_t width) {
    if (header.size() < offset + width) return -1;
    const std::string text(header.data() + offset, width);
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return end == text.c_str() ? -1 : value;
}

struct EdfShape {
    int64_t headerBytes = 0, recordBytes = 0, size = 0, declared = -1;
};

// Sizes from the header: its own length, and each signal's samples per
// record (2 bytes each in EDF, 3 in BDF). recordBytes is 0 when the header
// is incomplete.
EdfShape ShapeOf(const std::string& path) {
    EdfShape shape;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return shape;
    std::vector<char> header(256);
    header.resize(std::fread(header.data(), 1, header.size(), f));
    const int64_t headerBytes = Field(header, 184, 8), signals = Field(header, 252, 4);
    if (signals > 0 && headerBytes == 256 * (signals + 1)) {
        header.resize(static_cast<size_t>(headerBytes));
        header.resize(256 + std::fread(header.data() + 256, 1, header.size() - 256, f));
    }
    struct stat st {};
    const bool sized = ::fstat(::fileno(f), &st) == 0;
    std::fclose(f);
    if (!sized || signals <= 0 || headerBytes != static_cast<int64_t>(header.size())) return shape;
    const size_t counts = 256 + static_cast<size_t>(signals) * 216;
    int64_t samples = 0;
    for (int64_t s = 0; s < signals; ++s) {
        const int64_t n = Field(header, counts + static_cast<size_t>(s) * 8, 8);
        if (n < 0) return shape;
        samples += n;
    }
    shape.headerBytes = headerBytes;
    shape.recordBytes = samples * (static_cast<unsigned char>(header[0]) == 0xFF ? 3 : 2);
    shape.size = st.st_size;
    shape.declared = Field(header, 236, 8);
    return shape;
}

}  // namespace

std::string Reason(int error) { return std::strerror(error); }

void CheckOutputs(const Options& o) {
    std::vector<Named> outputs;
    if (o.output.empty()) {
        // Nothing written under --output (streaming only).
    } else if (o.format == Format::Csv) {
        for (const std::string& p : CsvPaths(o.output)) outputs.push_back({p, "--output"});
    } else {
        outputs.push_back({o.output, "--output"});
    }
    if (!o.csv.empty()) {
        for (const std::string& p : CsvPaths(o.csv)) outputs.push_back({p, "--csv"});
    }
    if (!o.summary.empty()) outputs.push_back({o.summary, "--summary", true});
    std::vector<Named> inputs;
    if (!o.replay.empty()) inputs.push_back({o.replay, "--replay"});
    if (!o.config.empty()) inputs.push_back({o.config, "--config"});

    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (SameFile(outputs[i].path, outputs[j].path)) {
                throw Refused(std::string(outputs[i].option) + " and " + outputs[j].option + " both name " +
                              outputs[j].path + "; give each output its own name");
            }
        }
        for (const Named& in : inputs) {
            if (SameFile(outputs[i].path, in.path)) {
                throw Refused(std::string(outputs[i].option) + " names " + in.path + ", the " + in.option + " file");
            }
        }
    }
    for (const Named& out : outputs) CheckOutput(out, o.overwrite);
}

int CreateOutput(const std::string& path, bool overwrite) {
    // Non-blocking: a FIFO put in place since the check fails at once.
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0 && errno == EEXIST) throw std::runtime_error(path + " appeared during the capture; give --overwrite to replace it");
    if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + Reason(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error("cannot create " + path + ": not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void WriteAtomically(const std::string& path, const std::string& text, bool overwrite) {
    const std::string temp = TemporaryBeside(path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error("cannot write " + path + ": " + Reason(errno));
    const auto fail = [&](int error) {
        ::unlink(temp.c_str());
        throw std::runtime_error("cannot write " + path + ": " + Reason(error));
    };
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            fail(error);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int error = errno;
        ::close(fd);
        fail(error);
    }
    if (::close(fd) != 0) fail(errno);
    int renamed = overwrite ? ::rename(temp.c_str(), path.c_str())
                            : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && !overwrite && errno == EINVAL) {
        // A file system without the no-replace rename.
        struct stat st {};
        renamed = ::stat(path.c_str(), &st) == 0 ? (errno = EEXIST, -1) : ::rename(temp.c_str(), path.c_str());
    }
    if (renamed != 0) {
        if (errno == EEXIST) {
            ::unlink(temp.c_str());
            throw std::runtime_error(path + " appeared during the capture; give --overwrite to replace it");
        }
        fail(errno);
    }
}

Recording ReadRecording(const std::string& path) {
    const std::string accepted = "; replay accepts EDF+ and BDF+ recordings made by quelto-capture";
    // A FIFO or device would block the reader.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw Refused("--replay: cannot open " + path + ": " + Reason(errno));
    if (!S_ISREG(st.st_mode)) throw Refused("--replay: " + path + " is not a regular file" + accepted);
    auto header = std::make_unique<edf_hdr_struct>();  // large
    errno = 0;
    if (edfopen_file_readonly(path.c_str(), header.get(), EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0) {
        const int error = errno;
        const char* why = EdfReadError(header->filetype);
        std::string text = "EDFlib error " + std::to_string(header->filetype);
        if (why) {
            text = why;
        } else if (header->filetype == EDFLIB_NO_SUCH_FILE_OR_DIRECTORY && error) {
            text = "cannot open it: " + Reason(error);
        }
        throw Refused("--replay: " + path + " is not an EDF+/BDF+ recording (" + text + ")" + accepted);
    }
    Recording r;
    const bool plus = header->filetype == EDFLIB_FILETYPE_EDFPLUS || header->filetype == EDFLIB_FILETYPE_BDFPLUS;
    std::set<std::string> layout;
    for (int b = 0; b < QUELTO_BUFFER_COUNT; ++b) {
        const auto buffer = static_cast<Quelto_Buffer>(b);
        const Quelto_BufferLayout l = Quelto_DataLayout_Buffer(buffer);
        for (int row = 0; row < l.rows; ++row) {
            for (int c = 0; c < l.components; ++c) {
                char label[32];
                Quelto_DataLayout_Label(buffer, row, c, label, sizeof label);
                layout.insert(label);
            }
        }
    }
    bool known = false;
    for (int s = 0; s < header->edfsignals; ++s) {
        std::string label = header->signalparam[s].label;
        while (!label.empty() && label.back() == ' ') label.pop_back();
        const size_t space = label.find(' ');
        const std::string bare = space == std::string::npos ? label : label.substr(space + 1);
        known = known || layout.count(bare) || layout.count(label);
        r.labels.insert(bare);
    }
    r.records = header->datarecords_in_file;
    r.duration_s = static_cast<double>(header->file_duration) / EDFLIB_TIME_DIMENSION;
    edfclose_file(header->handle);
    if (!plus) throw Refused("--replay: " + path + " is a plain EDF/BDF file, without annotations" + accepted);
    if (!known) throw Refused("--replay: " + path + " has no channel of the device's layout" + accepted);
    return r;
}

EdfRecords EdfRecordsOf(const std::string& path) {
    const EdfShape shape = ShapeOf(path);
    EdfRecords r;
    if (shape.recordBytes <= 0) return r;
    r.declared = shape.declared;
    r.complete = (shape.size - shape.headerBytes) / shape.recordBytes;
    r.exact = r.declared >= 0 && shape.size == shape.headerBytes + r.declared * shape.recordBytes;
    return r;
}

void TrimEdf(const std::string& path, int64_t records) {
    const EdfShape shape = ShapeOf(path);
    if (records <= 0 || shape.recordBytes <= 0 || shape.size < shape.headerBytes + records * shape.recordBytes) {
        ::unlink(path.c_str());
        return;
    }
    char count[9];
    std::snprintf(count, sizeof count, "%-8lld", static_cast<long long>(std::min<int64_t>(records, 99999999)));
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::ftruncate(fd, shape.headerBytes + records * shape.recordBytes) == 0 &&
                    ::pwrite(fd, count, 8, 236) == 8;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        throw std::runtime_error("cannot cut " + path + " to its complete records (" + Reason(error) + "); removed it");
    }
}

}  // namespace Capture
