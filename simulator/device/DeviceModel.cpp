#include "DeviceModel.h"

#include <algorithm>

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

Family FamilyOf(int32_t sensorModel) {
    switch (sensorModel) {
        case 1: return Family::X;
        case 2: return Family::B;
        default: return Family::P;
    }
}

ModeReading ReadSensorMode(int32_t sensorMode) {
    switch (sensorMode) {
        case 1: return {true, false, true};
        case 2: return {false, true, true};
        case 3: return {false, false, false};
        default: return {true, true, true};
    }
}

int EmgRateOf(int32_t n) {
    switch (n) {
        case 1: return 1000;
        case 2: return 0;
        default: return 2000;
    }
}

int InertialRateOf(int32_t n) {
    switch (n) {
        case 1: return 200;
        case 2: return 300;
        case 3: return 0;
        default: return 100;
    }
}

double AccelerometerFullScaleOf(int32_t n) {
    switch (n) {
        case 0: return 2.0;
        case 1: return 4.0;
        case 2: return 8.0;
        default: return 16.0;
    }
}

double GyroscopeFullScaleOf(int32_t n) {
    switch (n) {
        case 0: return 250.0;
        case 1: return 500.0;
        case 2: return 1000.0;
        default: return 2000.0;
    }
}

int FootSwRateOf(int32_t n) {
    switch (n) {
        case 1: return 1000;
        case 2: return 2000;
        default: return 500;
    }
}

int AnalogRateOf(int32_t n) {
    switch (n) {
        case 1: return 1000;
        case 2: return 500;
        default: return 2000;
    }
}

double AnalogFullScaleOf(int32_t n) {
    switch (n) {
        case 1: return 5.0;
        case 2: return 2.5;
        case 3: return 1.0;
        default: return 10.0;
    }
}

int InsoleImuRateOf(int32_t n) { return n == 1 ? 0 : InsoleRateHz; }

CaptureNumbers CaptureNumbers::Defaults() {
    CaptureNumbers c;
    c.insoleEnabled.fill(true);
    c.analogEnabled.fill(true);
    for (auto& sw : c.transducerEnabled) sw.fill(true);
    return c;
}

CaptureNumbers CaptureNumbers::From(const D::ICaptureConfiguration& c) {
    CaptureNumbers n;
    n.externalTriggerEnabled = c.get_ExternalTriggerEnabled();
    n.imuP = static_cast<int32_t>(c.get_IMU_AcqPType());
    n.emgP = static_cast<int32_t>(c.get_EMG_AcqPType());
    n.imuX = static_cast<int32_t>(c.get_IMU_AcqXType());
    n.emgX = static_cast<int32_t>(c.get_EMG_AcqXType());
    n.emgImuX = static_cast<int32_t>(c.get_EMG_IMU_AcqXType());
    n.imuB = static_cast<int32_t>(c.get_IMU_AcqBType());
    n.emgB = static_cast<int32_t>(c.get_EMG_AcqBType());
    n.insoleBt = static_cast<int32_t>(c.get_Insole_BtAcqType());
    n.insoleRf = static_cast<int32_t>(c.get_Insole_RfAcqType());
    n.analog = static_cast<int32_t>(c.get_Analog_AcqType());
    n.insoleRfProtocol = static_cast<int32_t>(c.get_Insole_RfProtocol());
    n.insoleAccFullScale = static_cast<int32_t>(c.get_Insole_AccelerometerFullScale());
    n.insoleGyroFullScale = static_cast<int32_t>(c.get_Insole_GyroscopeFullScale());
    if (auto a = c.get_EnabledInsole()) {
        for (int i = 0; i < Insoles && i < static_cast<int>(a->Length()); ++i) n.insoleEnabled[i] = (*a)[i];
    }
    if (auto a = c.get_EnabledAnalogChannel()) {
        for (int i = 0; i < AnalogChannels && i < static_cast<int>(a->Length()); ++i) n.analogEnabled[i] = (*a)[i];
    }
    const Runtime::Ref<D::IFootSwTransducerEnabled> enabled[] = {c.get_FootSwATransducerEnabled(),
                                                                 c.get_FootSwBTransducerEnabled()};
    const Runtime::Ref<D::IFootSwTransducerThreshold> thresholds[] = {c.get_FootSwATransducerThreshold(),
                                                                      c.get_FootSwBTransducerThreshold()};
    for (int s = 0; s < FootSwitches; ++s) {
        if (const auto& e = enabled[s]) {
            n.transducerEnabled[s] = {e->get_T_A(), e->get_T_1(), e->get_T_5(), e->get_T_T()};
        }
        if (const auto& t = thresholds[s]) {
            n.threshold[s] = {t->get_T_A(), t->get_T_1(), t->get_T_5(), t->get_T_T()};
        }
    }
    n.footSwProtocol = static_cast<int32_t>(c.get_FootSwProtocol());
    n.analogTriggerMode = static_cast<int32_t>(c.get_Analog_TriggerMode());
    n.analogFullScale = static_cast<int32_t>(c.get_Analog_VoltageFullScale());
    n.analogDelay_ms = c.get_Analog_ChannelDelay_ms();
    return n;
}

SensorNumbers SensorNumbers::From(const D::ISensorConfiguration& c) {
    return SensorNumbers{static_cast<int32_t>(c.get_SensorModel()), static_cast<int32_t>(c.get_SensorMode()),
                         static_cast<int32_t>(c.get_AccelerometerFullScale()),
                         static_cast<int32_t>(c.get_GyroscopeFullScale())};
}

DevicePlan DevicePlan::Resolve(const CaptureNumbers& capture, const std::array<SensorNumbers, Sensors>& sensors) {
    DevicePlan plan;
    for (int s = 0; s < Sensors; ++s) {
        const SensorNumbers& n = sensors[s];
        const ModeReading mode = ReadSensorMode(n.mode);
        int emgType = capture.emgP, imuType = capture.imuP;
        switch (FamilyOf(n.model)) {
            case Family::X:
                emgType = capture.emgX;
                imuType = capture.imuX;
                break;
            case Family::B:
                emgType = capture.emgB;
                imuType = capture.imuB;
                break;
            case Family::P:
                break;
        }
        SensorPlan& p = plan.sensors[s];
        p.connected = mode.connected;
        p.emgRateHz = mode.emg ? EmgRateOf(emgType) : 0;
        p.inertialRateHz = mode.inertial ? InertialRateOf(imuType) : 0;
        // The combined X type, when set, gives X sensors 2000 Hz EMG and
        // inertial data at 100 times its number.
        if (FamilyOf(n.model) == Family::X && capture.emgImuX >= 1 && capture.emgImuX <= 3) {
            p.emgRateHz = mode.emg ? 2000 : 0;
            p.inertialRateHz = mode.inertial ? 100 * capture.emgImuX : 0;
        }
        p.accFullScale_g = AccelerometerFullScaleOf(n.accFullScale);
        p.gyroFullScale_dps = GyroscopeFullScaleOf(n.gyroFullScale);
        plan.inertialRateHz = std::max(plan.inertialRateHz, p.inertialRateHz);
    }
    plan.footSwRateHz = FootSwRateOf(capture.footSwProtocol);
    for (int sw = 0; sw < FootSwitches; ++sw) {
        for (int t = 0; t < Transducers; ++t) {
            plan.transducerOn[sw][t] = capture.transducerEnabled[sw][t];
            const double th = capture.threshold[sw][t];
            plan.threshold[sw][t] = th > 0.0 && th < 1.0 ? th : DefaultTransducerThreshold;
            plan.footSwOn[sw] = plan.footSwOn[sw] || plan.transducerOn[sw][t];
        }
    }
    plan.insoleOn = capture.insoleEnabled;
    plan.insoleImuRateHz = InsoleImuRateOf(capture.insoleRf);
    plan.insoleAccFullScale_g = AccelerometerFullScaleOf(capture.insoleAccFullScale);
    plan.insoleGyroFullScale_dps = GyroscopeFullScaleOf(capture.insoleGyroFullScale);
    plan.analogOn = capture.analogEnabled;
    plan.analogRateHz = AnalogRateOf(capture.analog);
    plan.analogFullScale_V = AnalogFullScaleOf(capture.analogFullScale);
    plan.analogDelay_s = capture.analogDelay_ms / 1000.0;
    return plan;
}

int64_t SamplesBefore(int64_t block, int64_t period_us, int rateHz) {
    return block * period_us * rateHz / 1000000;
}

}  // namespace QueltoSim
