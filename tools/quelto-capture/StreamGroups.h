// The channels of a capture by rate group: EMG, sync, the sensors' inertial
// data, foot switches, insoles, the insoles' inertial data, analog inputs.
// Each group has one rate; a stream (LSL outlet, CSV file) carries one group.
#pragma once

#include "Recorder.h"

#include <string>
#include <vector>

namespace Capture {

struct StreamGroup {
    std::string key;   // "emg", "sync", "imu", "footswitch", "insole", "insole-imu", "analog"
    std::string name;  // for people: "EMG", "Inertial", ...
    std::string type;  // LSL content type: "EMG", "IMU", ...
    int rateHz = 0;
    std::vector<Channel> channels;
};

// Groups `channels` (in their order) by the buffer's group; a group whose
// buffers differ in rate is split by rate (key and name get the rate).
std::vector<StreamGroup> GroupChannels(const std::vector<Channel>& channels);

// The group key of a buffer.
const char* GroupKey(Quelto_Buffer buffer);

// What a channel measures, for stream metadata: "EMG", "Acceleration", ...
const char* ChannelType(Quelto_Buffer buffer);

// Unit names as LSL consumers read them: "microvolts" for EMG, the file's
// unit otherwise ("" for dimensionless values).
std::string StreamUnit(Quelto_Buffer buffer);

}  // namespace Capture
