#pragma once

class CQel_Setup;

// User parameters to drive registers: the only place where physical values become the drive's
// fixed-point register values.

// A gain in the drive's Q15 format: G = mantissa x 2^shift / 32767, the mantissa at most 32767.
// The shift is a whole number, kept as a double like every register value.
struct Q15Gain {
    double mantissa = 0.0;
    double shift = 0.0;
};

// The smallest shift that brings the mantissa of the gain within 32767; gains up to 1 take no
// shift. The shift register is written before its mantissa.
Q15Gain SplitGain(double gain);

// Total shift of the acceleration feed-forward gain KFFA_scl: its SplitGain shift, shared between
// SFTAFFW (at most 11) and SFTKFF (the rest). NaN when KFFA_scl is absent (reported).
double ComputeAccelerationFeedForwardShift(CQel_Setup& setup);

// Gain of the analogue reference input before its split into CADIN and SFTADIN: half the span of
// the selected mode's reference (POS_, SPD_ or CRT_max minus _min, in internal units) times 2^16
// over the converter's full scale, negated when the position scale is not positive. NaN when a
// name is absent (reported).
double ComputeAnalogueReferenceGain(CQel_Setup& setup);

// Runs every register step below in order; a failed step does not stop the others.
void ComputeDriveRegisters(CQel_Setup& setup);

// One step per register, named after it, in the order ComputeDriveRegisters runs them. Each
// looks its names up in order (the kernel reports an absent one and the step changes nothing),
// writes its register and returns true, or true with nothing to do when an optional feature is
// absent; false when a name was missing or the value could not be stored.
namespace compute {

bool PWMPER(CQel_Setup& setup);
bool T2MAXPROT(CQel_Setup& setup);
bool UMAXPROT(CQel_Setup& setup);
bool UMINPROT(CQel_Setup& setup);
bool II2TPROT_D(CQel_Setup& setup);
bool SFI2T_D(CQel_Setup& setup);
bool I2TINTLIM_D(CQel_Setup& setup);
bool II2TWARLIM_D(CQel_Setup& setup);
bool SATPWM(CQel_Setup& setup);
bool ENDAT_RES(CQel_Setup& setup);
bool ENDAT_NO_REV(CQel_Setup& setup);
bool ENDAT_BR(CQel_Setup& setup);
bool ENDAT_SENSE(CQel_Setup& setup);
bool MECRESL(CQel_Setup& setup);
bool ENC2THL(CQel_Setup& setup);
bool MTSTYPE(CQel_Setup& setup);
bool AAR_table(CQel_Setup& setup);
bool SCR(CQel_Setup& setup);
bool OSR(CQel_Setup& setup);
bool ASR(CQel_Setup& setup);
bool PCR(CQel_Setup& setup);
bool ACR(CQel_Setup& setup);
bool SFTKPI(CQel_Setup& setup);
bool KPI(CQel_Setup& setup);
bool SFTKII(CQel_Setup& setup);
bool KII(CQel_Setup& setup);
bool SATID(CQel_Setup& setup);
bool SATIQ(CQel_Setup& setup);
bool FILTERQ(CQel_Setup& setup);
bool FFL(CQel_Setup& setup);
bool KFFL(CQel_Setup& setup);
bool SFTKPS(CQel_Setup& setup);
bool KPS(CQel_Setup& setup);
bool SFTKIS(CQel_Setup& setup);
bool KIS(CQel_Setup& setup);
bool IMAXS(CQel_Setup& setup);
bool SATS(CQel_Setup& setup);
bool SFTKPP(CQel_Setup& setup);
bool KPP(CQel_Setup& setup);
bool SFTKIP(CQel_Setup& setup);
bool KIP(CQel_Setup& setup);
bool SFTKDP(CQel_Setup& setup);
bool KDP(CQel_Setup& setup);
bool KDFP(CQel_Setup& setup);
bool SFTKPTHT(CQel_Setup& setup);
bool KPTHT(CQel_Setup& setup);
bool SFTKITHT(CQel_Setup& setup);
bool KITHT(CQel_Setup& setup);
bool IMAXP(CQel_Setup& setup);
bool SATP(CQel_Setup& setup);
bool SFTSFFW(CQel_Setup& setup);
bool KFFS(CQel_Setup& setup);
bool SFTAFFW(CQel_Setup& setup);
bool SFTKFF(CQel_Setup& setup);
bool KFFA(CQel_Setup& setup);
bool IMAXPROT(CQel_Setup& setup);
bool TIMAXPROT(CQel_Setup& setup);
bool ERRMAX(CQel_Setup& setup);
bool TERRMAX(CQel_Setup& setup);
bool SERRMAX(CQel_Setup& setup);
bool TSERRMAX(CQel_Setup& setup);
bool T1MAXPROT(CQel_Setup& setup);
bool II2TPROT_M(CQel_Setup& setup);
bool SFI2T_M(CQel_Setup& setup);
bool I2TINTLIM_M(CQel_Setup& setup);
bool I2TWARLIM_M(CQel_Setup& setup);
// The negative software limit goes to SWNEGLS, or to SWPOSLS when the transmission reverses the
// load's direction; the positive limit likewise to SWPOSLS or SWNEGLS.
bool SWNEGLS(CQel_Setup& setup);
bool SWPOSLS(CQel_Setup& setup);
bool CACC(CQel_Setup& setup);
bool CSPD(CQel_Setup& setup);
bool CADIN(CQel_Setup& setup);
bool SFTADIN(CQel_Setup& setup);
bool AD5OFF(CQel_Setup& setup);
bool FILTER1(CQel_Setup& setup);
bool LEVEL_AD5(CQel_Setup& setup);
bool E_LEVEL_AD5(CQel_Setup& setup);
bool GEAR(CQel_Setup& setup);
bool T1ONA(CQel_Setup& setup);
bool T1ONB(CQel_Setup& setup);
bool REFTST(CQel_Setup& setup);
bool RINCTST(CQel_Setup& setup);
bool ELRESL(CQel_Setup& setup);
bool BRAKELIM(CQel_Setup& setup);
bool DIGIN_ACTIVE_LEVEL(CQel_Setup& setup);
bool UPGRADE(CQel_Setup& setup);
bool LSS_Active(CQel_Setup& setup);
bool BRAKECFG(CQel_Setup& setup);
bool BRAKEAPPLYDELAY(CQel_Setup& setup);
bool BRAKERELEASEDELAY(CQel_Setup& setup);
// Also raises the minimum of SINCOS_fract to the fraction written.
bool ELRES_FRACT(CQel_Setup& setup);
// Also QUAL_ACT and QUAL_AQ2, the filter's length and sampling pattern.
bool QUAL(CQel_Setup& setup);
bool POSOKLIM_FC(CQel_Setup& setup);
bool TONPOSOK_FC(CQel_Setup& setup);
bool TRANSMISSION(CQel_Setup& setup);
bool COUNTINGDIR(CQel_Setup& setup);
bool ABSTART_MINMOVE(CQel_Setup& setup);
// The biquad filters in the drive's three slots, with the lengths of the three chains.
bool BiquadSlots(CQel_Setup& setup);

}  // namespace compute
