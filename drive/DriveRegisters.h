#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/Biquad.h"

namespace drive {

// The simulated firmware decodes these registers with its own code (the bit numbers, masks and
// fixed-point formats in DriveFirmware.cpp and FixedPoint.h), written from what each register's
// format means and never by calling the engine (engine/), on purpose: a decoding shared with the
// engine would carry an engine mistake into the drive, where it would cancel out and go unseen;
// decoded apart, the mistake makes the drive misbehave and a physical test fail. The two are
// kept easy to compare instead: a bit or field both name carries the engine's name here too
// (engine/RegisterFormats.h), without the drive including it.

// The registers the simulated firmware runs from, as the host writes them to the drive. Each
// field is named after its register and holds the register's value as the drive stores it
// (within the register's width, see SetRegister). The defaults are those of a 20 kHz drive whose
// loops have no gain yet (set the gains to close them), with full-range saturations, no filter,
// no biquad and no protection armed.
struct DriveRegisters {
    // Timing: the PWM period register counts DSP clocks per half period; the current and speed
    // loops run every CLPER and SLPER PWM periods.
    std::int64_t PWMPER = 1000;
    std::int64_t CLPER = 1;
    std::int64_t SLPER = 10;

    // Configuration bit fields.
    std::int64_t ACR = 0x0100;
    std::int64_t PCR = 0;
    std::int64_t UPGRADE = 0;

    // Encoder: counts per revolution at the electrical resolution, the electrical angle per
    // count (a 32-bit fraction of an electrical turn), the fraction bits of the electrical
    // resolution, the counting direction.
    std::int64_t MECRESL = 4096;
    std::int64_t ENC2THL = 3145728;
    std::int64_t ELRES_FRACT = 0;
    std::int64_t COUNTINGDIR = 0;

    // Current loop.
    std::int64_t KPI = 0;
    std::int64_t SFTKPI = 0;
    std::int64_t KII = 0;
    std::int64_t SFTKII = 0;
    std::int64_t SATID = 0;
    std::int64_t SATIQ = 0;
    std::int64_t FILTERQ = 32767;
    std::int64_t FFL = 0;
    std::int64_t KFFL = 32767;

    // Speed loop.
    std::int64_t KPS = 0;
    std::int64_t SFTKPS = 0;
    std::int64_t KIS = 0;
    std::int64_t SFTKIS = 0;
    std::int64_t IMAXS = 0;
    std::int64_t SATS = 0;

    // Position loop.
    std::int64_t KPP = 0;
    std::int64_t SFTKPP = 0;
    std::int64_t KIP = 0;
    std::int64_t SFTKIP = 0;
    std::int64_t KDP = 0;
    std::int64_t SFTKDP = 0;
    std::int64_t KDFP = 32767;
    std::int64_t IMAXP = 0;
    std::int64_t SATP = 0;

    // Feed-forward of the reference speed and acceleration.
    std::int64_t KFFS = 0;
    std::int64_t SFTSFFW = 0;
    std::int64_t KFFA = 0;
    std::int64_t SFTAFFW = 0;
    std::int64_t SFTKFF = 0;

    // Protections; times count speed-loop periods, 65535 switching the protection off.
    std::int64_t IMAXPROT = 32767;
    std::int64_t TIMAXPROT = 65535;
    std::int64_t ERRMAX = 32767;
    std::int64_t TERRMAX = 65535;
    std::int64_t SERRMAX = 32767;
    std::int64_t TSERRMAX = 65535;
    std::int64_t II2TPROT_M = 32767;
    std::int64_t SFI2T_M = 0;
    std::int64_t I2TINTLIM_M = 0;
    std::int64_t II2TPROT_D = 32767;
    std::int64_t SFI2T_D = 0;
    std::int64_t I2TINTLIM_D = 0;
    std::int64_t UMAXPROT = 65535;
    std::int64_t UMINPROT = 0;
    // I2t warning levels of the drive and the motor, in the units of I2TINTLIM_D and I2TINTLIM_M
    // (the largest value: never).
    std::int64_t II2TWARLIM_D = 0xFFFFFFFF;
    std::int64_t I2TWARLIM_M = 0xFFFFFFFF;
    // Temperature sensors: which are fitted (SCR), the motor sensor's kind (MTSTYPE: 1 a PTC,
    // else an NTC) and the converter levels at which the motor (T1MAXPROT) and the drive
    // (T2MAXPROT) count as too hot.
    std::int64_t SCR = 0;
    std::int64_t MTSTYPE = 1;
    std::int64_t T1MAXPROT = 32767;
    std::int64_t T2MAXPROT = 65535;
    // Software limit switches: ASR bit 12 arms them at the positions SWNEGLS and SWPOSLS
    // (position counts).
    std::int64_t ASR = 0;
    std::int64_t SWPOSLS = 0x7FFFFFFF;
    std::int64_t SWNEGLS = -0x7FFFFFFF - 1;

    // Analogue reference input (ACR bit 6): the dead band around LEVEL_AD5 (+-E_LEVEL_AD5
    // converter counts), the first-order filter FILTER1, and the reference AD5OFF +
    // CADIN x 2^SFTADIN x 2 x input / 65536.
    std::int64_t LEVEL_AD5 = 0;
    std::int64_t E_LEVEL_AD5 = 0;
    std::int64_t FILTER1 = 32767;
    std::int64_t CADIN = 0;
    std::int64_t SFTADIN = 0;
    std::int64_t AD5OFF = 0;

    // The electric angle controller of the motionless start: a PI on the rotor's motion.
    std::int64_t KPTHT = 0;
    std::int64_t SFTKPTHT = 0;
    std::int64_t KITHT = 0;
    std::int64_t SFTKITHT = 0;

    // Biquad chains: how many slots (taken in slot order) filter the speed reference, the
    // current reference and the measured speed; and the three slots.
    std::int64_t SPDREF_BQ_INI = 0;
    std::int64_t IQREF_BQ_INI = 0;
    std::int64_t ASPD_BQ_INI = 0;
    std::array<BiquadSlotRegisters, 3> BQ{};
};

// How the drive stores a register: its width and whether it is read with a sign. A value
// written to a register keeps only the register's bits, as in the drive's memory.
enum class RegisterWidth { Unsigned16, Signed16, Unsigned32, Signed32 };

// A register of the table: its name, width, and whether a setup may lack it (the firmware then
// keeps the default).
struct RegisterInfo {
    std::string name;
    RegisterWidth width;
    bool optional;
};

// Every register of DriveRegisters, in a fixed order: the scalar registers, then "BQ1B0" ...
// "BQ3SF".
const std::vector<RegisterInfo>& RegisterTable();

// The value as the register of that width holds it (two's complement wrap, like a memory write).
std::int64_t FitToWidth(double value, RegisterWidth width);

// Writes a register by name (compared without regard to letter case), rounding the value to a
// whole number and fitting it to the register's width. False when no register has that name or
// the value is not a finite number.
bool SetRegister(DriveRegisters& registers, std::string_view name, double value);
// The register's value, or nothing when no register has that name.
std::optional<std::int64_t> GetRegister(const DriveRegisters& registers, std::string_view name);

}  // namespace drive
