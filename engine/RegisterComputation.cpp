#include "engine/RegisterComputation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "engine/BaseScales.h"
#include "engine/RegisterComputationSteps.h"
#include "engine/RegisterFormats.h"
#include "host/kernel/KernelFunctions.h"

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
// The input spans twice the gain times the converter's full scale.
constexpr double kHalfSpan = 0.5;

using Step = bool (*)(CQel_Setup&);

// The order matters where a step reads a register written before it: SATID and SATIQ copy SATPWM,
// the three acceleration feed-forward registers share one shift.
constexpr auto kSteps = std::to_array<Step>({
    compute::PWMPER,
    compute::T2MAXPROT,
    compute::UMAXPROT,
    compute::UMINPROT,
    compute::II2TPROT_D,
    compute::SFI2T_D,
    compute::I2TINTLIM_D,
    compute::II2TWARLIM_D,
    compute::SATPWM,
    compute::ENDAT_RES,
    compute::ENDAT_NO_REV,
    compute::ENDAT_BR,
    compute::ENDAT_SENSE,
    compute::MECRESL,
    compute::ENC2THL,
    compute::MTSTYPE,
    compute::AAR_table,
    compute::SCR,
    compute::OSR,
    compute::ASR,
    compute::PCR,
    compute::ACR,
    compute::SFTKPI,
    compute::KPI,
    compute::SFTKII,
    compute::KII,
    compute::SATID,
    compute::SATIQ,
    compute::FILTERQ,
    compute::FFL,
    compute::KFFL,
    compute::SFTKPS,
    compute::KPS,
    compute::SFTKIS,
    compute::KIS,
    compute::IMAXS,
    compute::SATS,
    compute::SFTKPP,
    compute::KPP,
    compute::SFTKIP,
    compute::KIP,
    compute::SFTKDP,
    compute::KDP,
    compute::KDFP,
    compute::SFTKPTHT,
    compute::KPTHT,
    compute::SFTKITHT,
    compute::KITHT,
    compute::IMAXP,
    compute::SATP,
    compute::SFTSFFW,
    compute::KFFS,
    compute::SFTAFFW,
    compute::SFTKFF,
    compute::KFFA,
    compute::IMAXPROT,
    compute::TIMAXPROT,
    compute::ERRMAX,
    compute::TERRMAX,
    compute::SERRMAX,
    compute::TSERRMAX,
    compute::T1MAXPROT,
    compute::II2TPROT_M,
    compute::SFI2T_M,
    compute::I2TINTLIM_M,
    compute::I2TWARLIM_M,
    compute::SWNEGLS,
    compute::SWPOSLS,
    compute::CACC,
    compute::CSPD,
    compute::CADIN,
    compute::SFTADIN,
    compute::AD5OFF,
    compute::FILTER1,
    compute::LEVEL_AD5,
    compute::E_LEVEL_AD5,
    compute::GEAR,
    compute::T1ONA,
    compute::T1ONB,
    compute::REFTST,
    compute::RINCTST,
    compute::ELRESL,
    compute::BRAKELIM,
    compute::DIGIN_ACTIVE_LEVEL,
    compute::UPGRADE,
    compute::LSS_Active,
    compute::BRAKECFG,
    compute::BRAKEAPPLYDELAY,
    compute::BRAKERELEASEDELAY,
    compute::ELRES_FRACT,
    compute::QUAL,
    compute::POSOKLIM_FC,
    compute::TONPOSOK_FC,
    compute::TRANSMISSION,
    compute::COUNTINGDIR,
    compute::ABSTART_MINMOVE,
    compute::BiquadSlots,
});

}  // namespace

Q15Gain SplitGain(double gain) {
    // A gain up to 1 keeps the shift 0 while its mantissa is fine enough; a smaller one is shifted
    // right so that the drive holds it rather than a coarse or zero mantissa (a slow position
    // loop's integral gain is some 1e-5, below the 1 / 32767 an unshifted mantissa can hold).
    const bool fineWithoutShift = gain * regfmt::kQ15 >= regfmt::kSmallestUnshiftedMantissa;
    if (gain <= 1.0 && (gain <= 0.0 || fineWithoutShift)) {
        return {gain * regfmt::kQ15, 0.0};
    }
    const double shift =
        std::max(compute::support::CeilLog2(gain), static_cast<double>(regfmt::kMinGainShift));
    return {gain * regfmt::kQ15 / std::exp2(shift), shift};
}

double ComputeAccelerationFeedForwardShift(CQel_Setup& setup) {
    const CQel_Parameter* gain = setup.FindParameter("KFFA_scl");
    return gain != nullptr ? SplitGain(gain->GetValueInBaseUnit()).shift : kNotANumber;
}

double ComputeAnalogueReferenceGain(CQel_Setup& setup) {
    const CQel_Parameter* mode = setup.FindParameter("ControlMode");
    if (mode == nullptr) {
        return kNotANumber;
    }
    using Span = std::array<std::string_view, 2>;
    const double controlMode = compute::support::WholePart(*mode);
    const Span spanNames = controlMode == regfmt::kControlModePosition ? Span{"POS_max", "POS_min"}
                           : controlMode == regfmt::kControlModeSpeed  ? Span{"SPD_max", "SPD_min"}
                                                                       : Span{"CRT_max", "CRT_min"};
    const auto span = engine::FindInOrder(setup, spanNames);
    if (!span) {
        return kNotANumber;
    }
    const double span_counts =
        (*span)[0]->GetValueInInternalUnit() - (*span)[1]->GetValueInInternalUnit();
    const double gain = span_counts * kHalfSpan * regfmt::kAnalogueGainUnit /
                        static_cast<double>(Compute_ADCMaxValue(setup));
    // The drive counts positions (and so speeds and currents) the other way round when the
    // transmission reverses the load.
    return ComputePositionScale(setup) > 0.0 ? gain : -gain;
}

void ComputeDriveRegisters(CQel_Setup& setup) {
    for (const Step step : kSteps) {
        step(setup);
    }
}
