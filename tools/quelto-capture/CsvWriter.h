// Wide CSV: one file per rate group (StreamGroups.h), "<base>.<key>.csv"
// where base is the name given without ".csv": cap.emg.csv, cap.imu.csv...
// A header line "time [s],EMG01 [uV],EMG02 [uV],..." then one line per
// sample time: seconds from the recording's start and one value per channel
// in its file unit.
#pragma once

#include "Recorder.h"

#include <cstdio>
#include <string>
#include <vector>

namespace Capture {

// The name without a ".csv" extension (any case).
std::string CsvBase(const std::string& name);
// The file of every group (one rate each) for a name.
std::vector<std::string> CsvPaths(const std::string& name);

class CsvWriter {
public:
    CsvWriter(const std::string& name, bool overwrite);
    ~CsvWriter();
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    // Creates the files of the groups that `channels` fill (with overwrite,
    // removes the other groups' files of this name). Throws
    // std::runtime_error naming the file and the reason.
    void Open(const std::vector<Channel>& channels);
    // Appends record `record`: values[i] holds channel i's samples.
    void Write(const std::vector<std::vector<double>>& values, int64_t record);
    // Flushes and closes; throws as Open.
    void Close();
    // After a failure: closes without checks, then the number of records
    // whose lines are complete in every file.
    int64_t CompleteRecords();
    // Cuts every file after its first `records` records; removes them for 0.
    void Trim(int64_t records);
    std::vector<std::string> Paths() const;

private:
    struct File {
        std::string path;
        std::FILE* stream = nullptr;
        bool created = false;
        int perRecord = 0;
        int rateHz = 0;
        std::vector<size_t> columns;  // channel indices
    };
    void CloseAll();

    std::string base_;
    bool overwrite_;
    std::vector<File> files_;
    std::string line_;
};

}  // namespace Capture
