// Faults the simulated sensors can show, chosen per sensor by the
// environment variable QUELTO_SIM_FAULTS:
//
//   QUELTO_SIM_FAULTS=3:hum50,7:loose,12:off,20:clip,5:battery
//
// A comma-separated list of SENSORS:FAULTS, where SENSORS is a sensor
// number (1-36) or a range (4-6) and FAULTS one fault or several joined by
// '+' (3:hum50+motion). Faults:
//   hum50, hum60  mains interference at 50 or 60 Hz with its harmonics
//   motion        a motion artefact at every heel strike of the sensor's leg
//   loose         a loose electrode: a raised noise floor and baseline wander
//   off           not connected: state 0 and zero data
//   clip          bursts far beyond the input range, cut at its limits
//   battery       a battery nearly flat (under 10 % at the start)
//   offset        a DC offset of several millivolts
// The sizes of the faults follow the seed, like the rest of the signals.
#pragma once

#include "DeviceModel.h"

#include <array>
#include <cstdint>
#include <string>

namespace QueltoSim {

enum class Fault : uint8_t { Hum50, Hum60, Motion, Loose, Off, Clip, Battery, Offset, Count };

class FaultSet {
public:
    bool Has(int sensor, Fault fault) const { return (bits_[sensor] >> static_cast<int>(fault)) & 1u; }
    void Add(int sensor, Fault fault) { bits_[sensor] |= 1u << static_cast<int>(fault); }
    bool Any(int sensor) const { return bits_[sensor] != 0; }
    bool Empty() const;
    // "3:hum50,7:loose": the form the variable takes, sensors in order.
    std::string Text() const;

private:
    std::array<uint16_t, Sensors> bits_{};  // bit (int)Fault per sensor, 0-based sensors
};

// The name of a fault in the variable ("hum50").
const char* FaultName(Fault fault);

// Parses the variable's text (empty: no fault). Throws
// Runtime::FormatException naming the part that is wrong.
FaultSet ParseFaults(const std::string& text);

}  // namespace QueltoSim
