#include "drive/DriveRegisters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace drive {

namespace {

using Width = RegisterWidth;

struct ScalarRegister {
    const char* name;
    std::int64_t DriveRegisters::*field;
    Width width;
    bool optional;
};

// The scalar registers. The encoder's electrical-resolution fraction, its counting direction, the
// biquad counts, the I2t warning levels, the software limit positions, the analogue reference
// input and the electric angle controller belong to optional features of the drive.
constexpr ScalarRegister kScalarRegisters[] = {
    {"PWMPER", &DriveRegisters::PWMPER, Width::Unsigned16, false},
    {"CLPER", &DriveRegisters::CLPER, Width::Unsigned16, false},
    {"SLPER", &DriveRegisters::SLPER, Width::Unsigned16, false},
    {"ACR", &DriveRegisters::ACR, Width::Unsigned16, false},
    {"PCR", &DriveRegisters::PCR, Width::Unsigned16, false},
    {"UPGRADE", &DriveRegisters::UPGRADE, Width::Unsigned16, false},
    {"MECRESL", &DriveRegisters::MECRESL, Width::Unsigned32, false},
    {"ENC2THL", &DriveRegisters::ENC2THL, Width::Unsigned32, false},
    {"ELRES_FRACT", &DriveRegisters::ELRES_FRACT, Width::Unsigned16, true},
    {"COUNTINGDIR", &DriveRegisters::COUNTINGDIR, Width::Unsigned16, true},
    {"KPI", &DriveRegisters::KPI, Width::Unsigned16, false},
    {"SFTKPI", &DriveRegisters::SFTKPI, Width::Signed16, false},
    {"KII", &DriveRegisters::KII, Width::Unsigned16, false},
    {"SFTKII", &DriveRegisters::SFTKII, Width::Signed16, false},
    {"SATID", &DriveRegisters::SATID, Width::Signed16, false},
    {"SATIQ", &DriveRegisters::SATIQ, Width::Signed16, false},
    {"FILTERQ", &DriveRegisters::FILTERQ, Width::Unsigned16, false},
    {"FFL", &DriveRegisters::FFL, Width::Signed16, false},
    {"KFFL", &DriveRegisters::KFFL, Width::Unsigned16, false},
    {"KPS", &DriveRegisters::KPS, Width::Unsigned16, false},
    {"SFTKPS", &DriveRegisters::SFTKPS, Width::Signed16, false},
    {"KIS", &DriveRegisters::KIS, Width::Unsigned16, false},
    {"SFTKIS", &DriveRegisters::SFTKIS, Width::Signed16, false},
    {"IMAXS", &DriveRegisters::IMAXS, Width::Signed16, false},
    {"SATS", &DriveRegisters::SATS, Width::Signed16, false},
    {"KPP", &DriveRegisters::KPP, Width::Unsigned16, false},
    {"SFTKPP", &DriveRegisters::SFTKPP, Width::Signed16, false},
    {"KIP", &DriveRegisters::KIP, Width::Unsigned16, false},
    {"SFTKIP", &DriveRegisters::SFTKIP, Width::Signed16, false},
    {"KDP", &DriveRegisters::KDP, Width::Unsigned16, false},
    {"SFTKDP", &DriveRegisters::SFTKDP, Width::Signed16, false},
    {"KDFP", &DriveRegisters::KDFP, Width::Unsigned16, false},
    {"IMAXP", &DriveRegisters::IMAXP, Width::Signed16, false},
    {"SATP", &DriveRegisters::SATP, Width::Signed16, false},
    {"KFFS", &DriveRegisters::KFFS, Width::Unsigned16, false},
    {"SFTSFFW", &DriveRegisters::SFTSFFW, Width::Signed16, false},
    {"KFFA", &DriveRegisters::KFFA, Width::Unsigned16, false},
    {"SFTAFFW", &DriveRegisters::SFTAFFW, Width::Signed16, false},
    {"SFTKFF", &DriveRegisters::SFTKFF, Width::Signed16, false},
    {"IMAXPROT", &DriveRegisters::IMAXPROT, Width::Unsigned16, false},
    {"TIMAXPROT", &DriveRegisters::TIMAXPROT, Width::Unsigned16, false},
    {"ERRMAX", &DriveRegisters::ERRMAX, Width::Unsigned16, false},
    {"TERRMAX", &DriveRegisters::TERRMAX, Width::Unsigned16, false},
    {"SERRMAX", &DriveRegisters::SERRMAX, Width::Unsigned16, false},
    {"TSERRMAX", &DriveRegisters::TSERRMAX, Width::Unsigned16, false},
    {"II2TPROT_M", &DriveRegisters::II2TPROT_M, Width::Unsigned16, false},
    {"SFI2T_M", &DriveRegisters::SFI2T_M, Width::Unsigned16, false},
    {"I2TINTLIM_M", &DriveRegisters::I2TINTLIM_M, Width::Unsigned32, false},
    {"II2TPROT_D", &DriveRegisters::II2TPROT_D, Width::Unsigned16, false},
    {"SFI2T_D", &DriveRegisters::SFI2T_D, Width::Unsigned16, false},
    {"I2TINTLIM_D", &DriveRegisters::I2TINTLIM_D, Width::Unsigned32, false},
    {"UMAXPROT", &DriveRegisters::UMAXPROT, Width::Unsigned16, false},
    {"UMINPROT", &DriveRegisters::UMINPROT, Width::Unsigned16, false},
    {"II2TWARLIM_D", &DriveRegisters::II2TWARLIM_D, Width::Unsigned32, true},
    {"I2TWARLIM_M", &DriveRegisters::I2TWARLIM_M, Width::Unsigned32, true},
    {"SCR", &DriveRegisters::SCR, Width::Unsigned16, false},
    {"MTSTYPE", &DriveRegisters::MTSTYPE, Width::Unsigned16, false},
    {"T1MAXPROT", &DriveRegisters::T1MAXPROT, Width::Unsigned16, false},
    {"T2MAXPROT", &DriveRegisters::T2MAXPROT, Width::Unsigned16, false},
    {"ASR", &DriveRegisters::ASR, Width::Unsigned16, false},
    {"SWPOSLS", &DriveRegisters::SWPOSLS, Width::Signed32, true},
    {"SWNEGLS", &DriveRegisters::SWNEGLS, Width::Signed32, true},
    {"LEVEL_AD5", &DriveRegisters::LEVEL_AD5, Width::Unsigned16, true},
    {"E_LEVEL_AD5", &DriveRegisters::E_LEVEL_AD5, Width::Unsigned16, true},
    {"FILTER1", &DriveRegisters::FILTER1, Width::Unsigned16, true},
    {"CADIN", &DriveRegisters::CADIN, Width::Signed16, true},
    {"SFTADIN", &DriveRegisters::SFTADIN, Width::Signed16, true},
    {"AD5OFF", &DriveRegisters::AD5OFF, Width::Signed16, true},
    {"KPTHT", &DriveRegisters::KPTHT, Width::Unsigned16, true},
    {"SFTKPTHT", &DriveRegisters::SFTKPTHT, Width::Signed16, true},
    {"KITHT", &DriveRegisters::KITHT, Width::Unsigned16, true},
    {"SFTKITHT", &DriveRegisters::SFTKITHT, Width::Signed16, true},
    {"SPDREF_BQ_INI", &DriveRegisters::SPDREF_BQ_INI, Width::Unsigned16, true},
    {"IQREF_BQ_INI", &DriveRegisters::IQREF_BQ_INI, Width::Unsigned16, true},
    {"ASPD_BQ_INI", &DriveRegisters::ASPD_BQ_INI, Width::Unsigned16, true},
};

struct SlotField {
    const char* suffix;
    std::int64_t BiquadSlotRegisters::*field;
    Width width;
};

// The six registers of a slot: signed 32-bit coefficients and the power-of-two scale factor.
constexpr SlotField kSlotFields[] = {
    {"B0", &BiquadSlotRegisters::B0, Width::Signed32},
    {"B1", &BiquadSlotRegisters::B1, Width::Signed32},
    {"B2", &BiquadSlotRegisters::B2, Width::Signed32},
    {"A1", &BiquadSlotRegisters::A1, Width::Signed32},
    {"A2", &BiquadSlotRegisters::A2, Width::Signed32},
    {"SF", &BiquadSlotRegisters::SF, Width::Unsigned16},
};

std::string SlotRegisterName(std::size_t slot, const char* suffix) {
    char name[16];
    std::snprintf(name, sizeof name, "BQ%zu%s", slot + 1, suffix);
    return name;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t index = 0; index < a.size(); ++index) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[index]) != lower(b[index])) {
            return false;
        }
    }
    return true;
}

// The register of that name as a field of the registers, with its width; null when unknown.
std::int64_t* FindField(DriveRegisters& registers, std::string_view name, Width& width) {
    for (const ScalarRegister& entry : kScalarRegisters) {
        if (SameName(name, entry.name)) {
            width = entry.width;
            return &(registers.*entry.field);
        }
    }
    for (std::size_t slot = 0; slot < registers.BQ.size(); ++slot) {
        for (const SlotField& entry : kSlotFields) {
            if (SameName(name, SlotRegisterName(slot, entry.suffix))) {
                width = entry.width;
                return &(registers.BQ[slot].*entry.field);
            }
        }
    }
    return nullptr;
}

std::vector<RegisterInfo> BuildTable() {
    std::vector<RegisterInfo> table;
    for (const ScalarRegister& entry : kScalarRegisters) {
        table.push_back({entry.name, entry.width, entry.optional});
    }
    for (std::size_t slot = 0; slot < DriveRegisters{}.BQ.size(); ++slot) {
        for (const SlotField& entry : kSlotFields) {
            table.push_back({SlotRegisterName(slot, entry.suffix), entry.width, true});
        }
    }
    return table;
}

}  // namespace

const std::vector<RegisterInfo>& RegisterTable() {
    static const std::vector<RegisterInfo> table = BuildTable();
    return table;
}

std::int64_t FitToWidth(double value, RegisterWidth width) {
    // Values beyond +-2^62 are first brought into the 64-bit range; their low bits are then
    // what a 32-bit register keeps, as for any other value.
    constexpr double kLargest = 4.611686018427388e18;
    const auto whole =
        static_cast<std::int64_t>(std::llround(std::clamp(value, -kLargest, kLargest)));
    switch (width) {
        case RegisterWidth::Unsigned16:
            return static_cast<std::uint16_t>(static_cast<std::uint64_t>(whole));
        case RegisterWidth::Signed16:
            return static_cast<std::int16_t>(static_cast<std::uint64_t>(whole));
        case RegisterWidth::Unsigned32:
            return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
        case RegisterWidth::Signed32:
            return static_cast<std::int32_t>(static_cast<std::uint64_t>(whole));
    }
    return whole;
}

bool SetRegister(DriveRegisters& registers, std::string_view name, double value) {
    if (!std::isfinite(value)) {
        return false;
    }
    Width width = Width::Unsigned16;
    std::int64_t* field = FindField(registers, name, width);
    if (field == nullptr) {
        return false;
    }
    *field = FitToWidth(value, width);
    return true;
}

std::optional<std::int64_t> GetRegister(const DriveRegisters& registers, std::string_view name) {
    Width width = Width::Unsigned16;
    // Only read through: the look-up itself does not modify the registers.
    const std::int64_t* field = FindField(const_cast<DriveRegisters&>(registers), name, width);
    if (field == nullptr) {
        return std::nullopt;
    }
    return *field;
}

}  // namespace drive
