#include "CsvWriter.h"

#include "Files.h"
#include "StreamGroups.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <map>
#include <stdexcept>
#include <tuple>

namespace Capture {

namespace {

std::string PathOf(const std::string& base, const std::string& group) { return base + "." + group + ".csv"; }

// The files of every group that has a single rate.
std::vector<std::string> PathsOf(const std::string& base) {
    std::vector<std::string> paths;
    for (int b = 0; b < QUELTO_BUFFER_COUNT; ++b) {
        const std::string path = PathOf(base, GroupKey(static_cast<Quelto_Buffer>(b)));
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
    return paths;
}

// Bytes of the first `lines` lines of a file; -1 when it has fewer.
int64_t LinesEnd(const std::string& path, int64_t lines) {
    std::ifstream in(path, std::ios::binary);
    if (lines == 0) return 0;
    char chunk[1 << 16];
    int64_t offset = 0, seen = 0;
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::streamsize n = in.gcount();
        for (std::streamsize i = 0; i < n; ++i) {
            if (chunk[i] == '\n' && ++seen == lines) return offset + i + 1;
        }
        offset += n;
    }
    return -1;
}

int64_t LineCount(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char chunk[1 << 16];
    int64_t lines = 0;
    while (in) {
        in.read(chunk, sizeof chunk);
        lines += std::count(chunk, chunk + in.gcount(), '\n');
    }
    return lines;
}

}  // namespace

std::string CsvBase(const std::string& name) {
    if (name.size() > 4) {
        std::string ext = name.substr(name.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".csv") return name.substr(0, name.size() - 4);
    }
    return name;
}

std::vector<std::string> CsvPaths(const std::string& name) { return PathsOf(CsvBase(name)); }

CsvWriter::CsvWriter(const std::string& name, bool overwrite) : base_(CsvBase(name)), overwrite_(overwrite) {}

CsvWriter::~CsvWriter() { CloseAll(); }

void CsvWriter::Open(const std::vector<Channel>& channels) {
    std::map<std::tuple<int, int, int>, size_t> column;  // buffer, row, component -> channel index
    for (size_t i = 0; i < channels.size(); ++i) column[{channels[i].buffer, channels[i].row, channels[i].component}] = i;
    for (const StreamGroup& group : GroupChannels(channels)) {
        File f;
        f.path = PathOf(base_, group.key);
        f.rateHz = group.rateHz;
        f.perRecord = group.channels.front().perRecord;
        for (const Channel& ch : group.channels) f.columns.push_back(column.at({ch.buffer, ch.row, ch.component}));
        files_.push_back(std::move(f));
    }
    if (overwrite_) {
        // The files of another capture of this name would mix with these.
        for (const std::string& stale : PathsOf(base_)) {
            const bool ours = std::any_of(files_.begin(), files_.end(), [&](const File& f) { return f.path == stale; });
            if (!ours) ::unlink(stale.c_str());
        }
    }
    for (File& f : files_) {
        const int fd = CreateOutput(f.path, overwrite_);
        f.created = true;
        f.stream = ::fdopen(fd, "w");
        if (!f.stream) {
            ::close(fd);
            throw std::runtime_error("cannot write " + f.path + ": " + Reason(errno));
        }
        std::setvbuf(f.stream, nullptr, _IOFBF, 1 << 16);
        std::string header = "time [s]";
        for (size_t i : f.columns) {
            const Channel& ch = channels[i];
            char label[32];
            Quelto_DataLayout_Label(ch.buffer, ch.row, ch.component, label, sizeof label);
            header += std::string(",") + label + " [" + Quelto_DataLayout_Buffer(ch.buffer).unit + "]";
        }
        header += '\n';
        if (std::fwrite(header.data(), 1, header.size(), f.stream) != header.size()) {
            throw std::runtime_error("cannot write " + f.path + ": " + Reason(errno));
        }
    }
}

void CsvWriter::Write(const std::vector<std::vector<double>>& values, int64_t record) {
    char number[32];
    for (File& f : files_) {
        line_.clear();
        const int64_t first = record * f.perRecord;
        for (int s = 0; s < f.perRecord; ++s) {
            std::snprintf(number, sizeof number, "%.6f", static_cast<double>(first + s) / f.rateHz);
            line_ += number;
            for (size_t i : f.columns) {
                std::snprintf(number, sizeof number, ",%.9g", values[i][static_cast<size_t>(s)]);
                line_ += number;
            }
            line_ += '\n';
        }
        if (std::fwrite(line_.data(), 1, line_.size(), f.stream) != line_.size()) {
            throw std::runtime_error("cannot write " + f.path + ": " + Reason(errno));
        }
    }
}

void CsvWriter::Close() {
    for (File& f : files_) {
        std::FILE* stream = f.stream;
        f.stream = nullptr;
        if (stream && std::fclose(stream) != 0) throw std::runtime_error("cannot write " + f.path + ": " + Reason(errno));
    }
}

void CsvWriter::CloseAll() {
    for (File& f : files_) {
        if (f.stream) std::fclose(f.stream);
        f.stream = nullptr;
    }
}

int64_t CsvWriter::CompleteRecords() {
    CloseAll();
    int64_t records = INT64_MAX;
    for (const File& f : files_) {
        const int64_t lines = f.created ? LineCount(f.path) : 0;
        records = std::min(records, std::max<int64_t>(0, lines - 1) / f.perRecord);
    }
    return files_.empty() ? 0 : records;
}

void CsvWriter::Trim(int64_t records) {
    CloseAll();
    for (const File& f : files_) {
        if (!f.created) continue;
        const int64_t end = records > 0 ? LinesEnd(f.path, 1 + records * f.perRecord) : -1;
        if (end < 0 || ::truncate(f.path.c_str(), end) != 0) ::unlink(f.path.c_str());
    }
}

std::vector<std::string> CsvWriter::Paths() const {
    std::vector<std::string> paths;
    for (const File& f : files_) paths.push_back(f.path);
    return paths;
}

}  // namespace Capture
