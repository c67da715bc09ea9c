// What --lsl adds to a capture: liblsl, a look at the device's first record
// (the channels and rates the streams announce), and the publisher.
#pragma once

#include "LslPublisher.h"
#include "Options.h"
#include "Recorder.h"

#include "Quelto_ValueTypes.h"

#include <memory>
#include <set>
#include <string>

namespace Capture {

// The first record of a short capture on a device object of its own (with
// the configuration file applied), and the device's software version.
struct FirstRecord {
    ChannelSet channels;
    Quelto_SoftwareVersion software{};
};
// Throws std::runtime_error when the device sends no complete record
// within five seconds.
FirstRecord ProbeDevice(const Options& options, const std::set<std::string>& recorded);

// "1.4.2.7"
std::string VersionText(const Quelto_SoftwareVersion& v);

// The outlets for `first`, announced before the capture starts.
std::unique_ptr<LslPublisher> Publish(const Options& options, const Lsl::Library& lsl, const FirstRecord& first,
                                      const SharedClock& clock);

}  // namespace Capture
