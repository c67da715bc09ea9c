#include "ConfigurationClasses.h"

namespace QueltoSim {

CaptureConfiguration::CaptureConfiguration(int insoles, int analogChannels)
    : enabledInsole_(Runtime::NewArray<bool>(insoles)),
      enabledAnalogChannel_(Runtime::NewArray<bool>(analogChannels)) {
    FootSwATransducerEnabled_ = std::make_shared<FootSwTransducerEnabled>();
    FootSwBTransducerEnabled_ = std::make_shared<FootSwTransducerEnabled>();
    FootSwATransducerThreshold_ = std::make_shared<FootSwTransducerThreshold>();
    FootSwBTransducerThreshold_ = std::make_shared<FootSwTransducerThreshold>();
}

}  // namespace QueltoSim
