// quelto-capture --check: the device for a few seconds, then the signal
// quality of every enabled sensor as a table (or JSON), and an exit code
// that says whether a sensor is bad.
#pragma once

#include "Options.h"
#include "Quality.h"

#include "Quelto_DaqSystem.h"

#include <array>
#include <functional>

namespace Capture {

// Exit code of a check that found a bad sensor.
inline constexpr int CheckFoundBad = 3;

// The sensors a capture expects: those selected (--sensors) that the
// configuration file, when there is one, does not switch off (the file is
// read, not sent).
std::array<bool, QUELTO_LAYOUT_SENSORS> ExpectedSensors(const Options& options, Quelto_DaqSystem& device);

// Runs the check; `stop` says when to end early (Ctrl-C). Returns the exit
// code: 0 when no sensor is bad, CheckFoundBad otherwise.
int RunCheck(const Options& options, const std::function<bool()>& stop);

}  // namespace Capture
