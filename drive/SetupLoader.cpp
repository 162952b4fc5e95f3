#include "drive/SetupLoader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "host/kernel/ErrorReport.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Parameter.h"
#include "host/kernel/Setup.h"

namespace drive {

namespace {

// DBT holds the rising- and falling-edge dead times in DSP clocks, one per low byte.
constexpr std::int64_t kByteMask = 0xFF;
constexpr int kByteBits = 8;
// Without DBTPC, half the dead time is lost to the output voltage.
constexpr double kDefaultDeadTimeShare = 0.5;
constexpr double kPercent = 100.0;
// An analogue input range of 20 V is the +-10 V input; any other range starts at 0 V.
constexpr double kBipolarInputRange_V = 20.0;

// Clears the kernel's error display while it lives: the caller lists what is absent itself.
class QuietReads {
  public:
    QuietReads() : saved_(g_bShowErrors) { g_bShowErrors = 0; }
    ~QuietReads() { g_bShowErrors = saved_; }
    QuietReads(const QuietReads&) = delete;
    QuietReads& operator=(const QuietReads&) = delete;

  private:
    int saved_;
};

std::optional<double> Read(const CQel_Setup& setup, const std::string& name) {
    const CQel_Parameter* parameter = setup.FindParameter(name);
    if (parameter == nullptr) {
        return std::nullopt;
    }
    return parameter->GetValueInBaseUnit();
}

}  // namespace

DriveFromSetup ReadDriveFromSetup(const CQel_Setup& setup) {
    const QuietReads quiet;
    DriveFromSetup result;
    for (const RegisterInfo& info : RegisterTable()) {
        const std::optional<double> value = Read(setup, info.name);
        if (value) {
            SetRegister(result.registers, info.name, *value);
        } else if (!info.optional) {
            result.missing.push_back(info.name);
        }
    }

    DriveHardware& hardware = result.hardware;
    const auto physical = [&](const char* name, double& target) {
        if (const std::optional<double> value = Read(setup, name)) {
            target = *value;
        } else {
            result.missing.emplace_back(name);
        }
    };
    physical("DSP_freq", hardware.dspClock_Hz);
    physical("VdcMaxMeasurable", hardware.maxMeasurableBus_V);
    physical("ImaxPS", hardware.peakCurrent_A);
    double interpolationBits = hardware.interpolationBits;
    physical("SINCOS_fract", interpolationBits);
    hardware.interpolationBits = static_cast<int>(std::lround(interpolationBits));
    hardware.adcFullScale = Compute_ADCMaxValue(setup);
    const qel::AdcFormat& adc = setup.GetAdcFormat();
    hardware.adcStep = std::int64_t{1} << (adc.adcWordBits - adc.adcBits);

    // The analogue reference input and the temperature sensor belong to optional features.
    if (const std::optional<double> range = Read(setup, "AnalogueInputsRange")) {
        hardware.analogueInputSpan_V = *range;
        hardware.analogueInputLowest_V =
            std::trunc(*range) == kBipolarInputRange_V ? -*range / 2 : 0.0;
    }
    hardware.adcReference_V = Read(setup, "ADCrange").value_or(hardware.adcReference_V);
    hardware.driveSensorAtZero_V =
        Read(setup, "DriveTempOutputAt0oC").value_or(hardware.driveSensorAtZero_V);
    hardware.driveSensorGain_V_C =
        Read(setup, "DriveTempSensorGain").value_or(hardware.driveSensorGain_V_C);

    if (const std::optional<double> deadTime = Read(setup, "DBT")) {
        const auto clocks = static_cast<std::int64_t>(*deadTime);
        const std::int64_t longest =
            std::max(clocks & kByteMask, (clocks >> kByteBits) & kByteMask);
        const double share =
            Read(setup, "DBTPC").value_or(kDefaultDeadTimeShare * kPercent) / kPercent;
        hardware.deadTime_s = static_cast<double>(longest) * share / hardware.dspClock_Hz;
    }
    return result;
}

}  // namespace drive
