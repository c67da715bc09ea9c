#include "Faults.h"

#include "Runtime.h"

#include <charconv>

namespace QueltoSim {

namespace {

constexpr const char* Names[] = {"hum50", "hum60", "motion", "loose", "off", "clip", "battery", "offset"};
static_assert(std::size(Names) == static_cast<size_t>(Fault::Count));

const std::string Grammar =
    " (QUELTO_SIM_FAULTS is a list such as 3:hum50,7:loose,4-6:off,9:hum60+motion; faults: hum50, hum60, motion, "
    "loose, off, clip, battery, offset)";

[[noreturn]] void Refuse(const std::string& what) {
    throw Runtime::FormatException("QUELTO_SIM_FAULTS: " + what + Grammar);
}

int SensorNumber(std::string_view text, std::string_view part) {
    int n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        Refuse("'" + std::string(part) + "': '" + std::string(text) + "' is not a sensor number");
    }
    if (n < 1 || n > Sensors) {
        Refuse("'" + std::string(part) + "': sensors run from 1 to " + std::to_string(Sensors));
    }
    return n;
}

}  // namespace

const char* FaultName(Fault fault) { return Names[static_cast<int>(fault)]; }

bool FaultSet::Empty() const {
    for (uint16_t b : bits_) {
        if (b) return false;
    }
    return true;
}

std::string FaultSet::Text() const {
    std::string text;
    for (int s = 0; s < Sensors; ++s) {
        if (!bits_[s]) continue;
        if (!text.empty()) text += ',';
        text += std::to_string(s + 1) + ':';
        bool first = true;
        for (int f = 0; f < static_cast<int>(Fault::Count); ++f) {
            if (!Has(s, static_cast<Fault>(f))) continue;
            if (!first) text += '+';
            text += Names[f];
            first = false;
        }
    }
    return text;
}

FaultSet ParseFaults(const std::string& text) {
    FaultSet set;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string_view part = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        if (comma != std::string_view::npos && rest.empty()) Refuse("a comma ends the list");
        const size_t colon = part.find(':');
        if (colon == std::string_view::npos) Refuse("'" + std::string(part) + "' has no ':' between sensor and fault");
        const std::string_view sensors = part.substr(0, colon);
        const size_t dash = sensors.find('-');
        const int first = SensorNumber(sensors.substr(0, dash), part);
        const int last = dash == std::string_view::npos ? first : SensorNumber(sensors.substr(dash + 1), part);
        if (last < first) Refuse("'" + std::string(part) + "': the range runs backwards");
        std::string_view faults = part.substr(colon + 1);
        if (faults.empty()) Refuse("'" + std::string(part) + "' names no fault");
        while (true) {
            const size_t plus = faults.find('+');
            const std::string_view name = faults.substr(0, plus);
            int found = -1;
            for (int f = 0; f < static_cast<int>(Fault::Count); ++f) {
                if (name == Names[f]) found = f;
            }
            if (found < 0) Refuse("'" + std::string(part) + "': no fault '" + std::string(name) + "'");
            for (int s = first; s <= last; ++s) set.Add(s - 1, static_cast<Fault>(found));
            if (plus == std::string_view::npos) break;
            faults = faults.substr(plus + 1);
        }
    }
    return set;
}

}  // namespace QueltoSim
