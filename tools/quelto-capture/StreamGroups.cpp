#include "StreamGroups.h"

#include <algorithm>
#include <cstring>

namespace Capture {

namespace {

struct GroupText {
    const char* key;
    const char* name;
    const char* type;
};

GroupText TextOf(Quelto_Buffer buffer) {
    switch (buffer) {
        case QUELTO_BUFFER_EMG: return {"emg", "EMG", "EMG"};
        case QUELTO_BUFFER_SYNC: return {"sync", "Sync", "Sync"};
        case QUELTO_BUFFER_ORIENTATION:
        case QUELTO_BUFFER_ACCELEROMETER:
        case QUELTO_BUFFER_GYROSCOPE:
        case QUELTO_BUFFER_MAGNETOMETER: return {"imu", "Inertial", "IMU"};
        case QUELTO_BUFFER_FOOTSW:
        case QUELTO_BUFFER_FOOTSW_RAW: return {"footswitch", "FootSwitches", "FootSwitch"};
        case QUELTO_BUFFER_INSOLE: return {"insole", "Insoles", "Pressure"};
        case QUELTO_BUFFER_INSOLE_ORIENTATION:
        case QUELTO_BUFFER_INSOLE_ACCELEROMETER:
        case QUELTO_BUFFER_INSOLE_GYROSCOPE: return {"insole-imu", "InsoleInertial", "IMU"};
        case QUELTO_BUFFER_ANALOG: return {"analog", "Analog", "Analog"};
        case QUELTO_BUFFER_COUNT: break;
    }
    return {"other", "Other", "Misc"};
}

}  // namespace

const char* GroupKey(Quelto_Buffer buffer) { return TextOf(buffer).key; }

std::vector<StreamGroup> GroupChannels(const std::vector<Channel>& channels) {
    std::vector<StreamGroup> groups;
    for (const Channel& ch : channels) {
        const GroupText text = TextOf(ch.buffer);
        auto it = std::find_if(groups.begin(), groups.end(), [&](const StreamGroup& g) {
            return g.key == text.key && g.rateHz == ch.RateHz();
        });
        if (it == groups.end()) {
            groups.push_back({text.key, text.name, text.type, ch.RateHz(), {}});
            it = groups.end() - 1;
        }
        it->channels.push_back(ch);
    }
    // A group that came in more than one rate is named by its rates.
    std::vector<std::string> keys;
    for (const StreamGroup& g : groups) keys.push_back(g.key);
    for (StreamGroup& g : groups) {
        if (std::count(keys.begin(), keys.end(), g.key) > 1) {
            g.name += " " + std::to_string(g.rateHz) + " Hz";
            g.key += "-" + std::to_string(g.rateHz) + "hz";
        }
    }
    return groups;
}

const char* ChannelType(Quelto_Buffer buffer) {
    switch (buffer) {
        case QUELTO_BUFFER_EMG: return "EMG";
        case QUELTO_BUFFER_ORIENTATION:
        case QUELTO_BUFFER_INSOLE_ORIENTATION: return "Orientation";
        case QUELTO_BUFFER_ACCELEROMETER:
        case QUELTO_BUFFER_INSOLE_ACCELEROMETER: return "Acceleration";
        case QUELTO_BUFFER_GYROSCOPE:
        case QUELTO_BUFFER_INSOLE_GYROSCOPE: return "AngularVelocity";
        case QUELTO_BUFFER_MAGNETOMETER: return "MagneticField";
        case QUELTO_BUFFER_SYNC: return "Sync";
        case QUELTO_BUFFER_FOOTSW: return "Contacts";
        case QUELTO_BUFFER_FOOTSW_RAW: return "Force";
        case QUELTO_BUFFER_INSOLE: return "Pressure";
        case QUELTO_BUFFER_ANALOG: return "Analog";
        case QUELTO_BUFFER_COUNT: break;
    }
    return "Misc";
}

std::string StreamUnit(Quelto_Buffer buffer) {
    const char* unit = Quelto_DataLayout_Buffer(buffer).unit;
    if (std::strcmp(unit, "uV") == 0) return "microvolts";
    if (std::strcmp(unit, "-") == 0) return "";
    return unit;
}

}  // namespace Capture
