#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/DriveLink.h"
#include "host/kernel/Parameter.h"
#include "host/kernel/Variable.h"

class CQel_Setup;

namespace qel {

// The module's unit-scale exports, registered by the host after loading the module. The kernel
// never links the module; without registered functions every scale is factor 1, offset 0.
using ScaleFactorFunction = double (*)(CQel_Setup* setup, const char* unitName,
                                       const char* parameterName);
using ScaleOffsetFunction = double (*)(CQel_Setup* setup, const char* unitName);

struct ScaleFunctions {
    ScaleFactorFunction factor = nullptr;
    ScaleOffsetFunction offset = nullptr;
};

// A digital output of the drive that may drive a motor brake: the pin as the drive's brake
// register holds it, and the port number the user chooses it by.
struct IoPort {
    int pin = 0;
    int port = 0;
    bool inverted = false;
    bool brake = false;
};

// The drive's identification, as its EEPROM and the user describe it.
struct Identity {
    std::string description;
    std::string productId;
    std::string firmwareId;
    std::uint16_t e2romSizeWords = 0;
    std::string userApplicationId;
};

// The drive's converter: adcBits of resolution, left-aligned in an adcWordBits word.
struct AdcFormat {
    int adcBits = 16;
    int adcWordBits = 16;
    bool IsValid() const { return adcBits >= 1 && adcWordBits >= adcBits && adcWordBits <= 32; }
};

inline constexpr std::size_t kMaxUserApplicationIdLength = 40;

bool IsValidFirmwareId(std::string_view firmwareId);

}  // namespace qel

// The setup document of one axis: parameters (registers and user parameters) in file order,
// drive variables, options, identity and the drive's hardware facts.
class CQel_Setup {
  public:
    CQel_Setup() = default;
    CQel_Setup(const CQel_Setup& other);
    CQel_Setup& operator=(const CQel_Setup& other);
    CQel_Setup(CQel_Setup&&) = delete;
    CQel_Setup& operator=(CQel_Setup&&) = delete;
    ~CQel_Setup() = default;

    // Parameters. A failed look-up is reported when g_bShowErrors is set.
    CQel_Parameter* FindParameter(std::string_view name);
    const CQel_Parameter* FindParameter(std::string_view name) const;
    // While a list is given, a failed look-up that would be reported (g_bShowErrors set) adds the
    // name to it instead, once: how a caller learns which names a computation (a unit scale) read
    // in vain. Null ends the recording.
    void RecordMissingNames(std::vector<std::string>* names) const { missingNames_ = names; }
    // Absent names read as NaN (and are reported), so that nothing computed from them is stored.
    double GetParameterValueInBaseUnit(std::string_view name) const;
    double GetParameterValueInInternalUnit(std::string_view name) const;
    bool SetParameterValueInBaseUnit(std::string_view name, double baseValue);
    bool SetParameterValueInInternalUnit(std::string_view name, double internalValue);
    // Adds a parameter at the end; refuses (and reports) a name the setup already holds.
    CQel_Parameter* AddParameter(const qel::ParameterDefinition& definition);
    bool RemoveParameter(std::string_view name);
    std::size_t GetParameterCount() const { return parameters_.size(); }
    CQel_Parameter& GetParameterAt(std::size_t index) { return *parameters_[index]; }
    const CQel_Parameter& GetParameterAt(std::size_t index) const { return *parameters_[index]; }

    // Drive variables; reportErrors non-zero reports a failed look-up when g_bShowErrors is set.
    CQel_Variable* FindVariable(std::string_view name, int reportErrors);
    const CQel_Variable* FindVariable(std::string_view name, int reportErrors) const;
    CQel_Variable* AddVariable(std::string name, const qel::UnitFamily& family,
                               double internalValue);
    bool RemoveVariable(std::string_view name);
    std::size_t GetVariableCount() const { return variables_.size(); }
    CQel_Variable& GetVariableAt(std::size_t index) { return *variables_[index]; }
    const CQel_Variable& GetVariableAt(std::size_t index) const { return *variables_[index]; }

    // Options: named texts, in the order they were first set.
    std::optional<std::string> FindOption(std::string_view name) const;
    // The option read as an integer (its leading decimal number; 0 when it has none). An absent
    // option reads 0 and is reported when g_bShowErrors is set.
    int GetIntOption(std::string_view name) const;
    std::string GetOptionNoError(std::string_view name) const;
    void SetOption(std::string_view name, std::string_view text);
    void ClearOption(std::string_view name);
    const std::vector<std::pair<std::string, std::string>>& GetOptions() const { return options_; }

    // Identity.
    const qel::Identity& GetIdentity() const { return identity_; }
    const std::string& GetDescription() const { return identity_.description; }
    void SetDescription(std::string text) { identity_.description = std::move(text); }
    const std::string& GetProductID() const { return identity_.productId; }
    void SetProductID(std::string text) { identity_.productId = std::move(text); }
    std::uint16_t GetE2ROMSize() const { return identity_.e2romSizeWords; }
    void SetE2ROMSize(std::uint16_t words) { identity_.e2romSizeWords = words; }
    const std::string& GetFirmwareID() const { return identity_.firmwareId; }
    // Returns 0 and keeps the old identifier when the text is not a firmware identifier.
    int SetFirmwareID(std::string_view firmwareId);
    const std::string& GetUserAppID() const { return identity_.userApplicationId; }
    // Longer texts are cut to the 40 characters the drive keeps.
    void SetUserAppID(std::string_view text);

    // Drive hardware.
    const qel::AdcFormat& GetAdcFormat() const { return adc_; }
    void SetAdcFormat(qel::AdcFormat format) { adc_ = format; }
    const std::vector<qel::IoPort>& GetIoPorts() const { return ioPorts_; }
    void SetIoPorts(std::vector<qel::IoPort> ports) { ioPorts_ = std::move(ports); }
    // Brake output numbering: -1 when the pin (port) is not one of the drive's outputs.
    int GetIOPortFromPin(int pin) const;
    int GetIOPinFromPort(int port) const;

    // The drive this setup is connected to (not owned); none until the host connects one.
    void SetDriveLink(qel::DriveLink* link) { driveLink_ = link; }
    qel::DriveLink* GetDriveLink() const { return driveLink_; }

    // Unit scales.
    void SetScaleFunctions(qel::ScaleFunctions functions) { scales_ = functions; }
    const qel::ScaleFunctions& GetScaleFunctions() const { return scales_; }
    // The module's scale of a scaled quantity. A scale that reads a scaled quantity would depend
    // on itself: that is reported and answered with NaN, never recursed into.
    qel::Scale ScaleOf(const qel::Quantity& quantity) const;

  private:
    template <typename Item>
    using NameIndex =
        std::unordered_map<std::string, Item*, qel::CaseInsensitiveHash, qel::CaseInsensitiveEqual>;

    void CopyFrom(const CQel_Setup& other);

    std::vector<std::unique_ptr<CQel_Parameter>> parameters_;
    NameIndex<CQel_Parameter> parameterIndex_;
    std::vector<std::unique_ptr<CQel_Variable>> variables_;
    NameIndex<CQel_Variable> variableIndex_;
    std::vector<std::pair<std::string, std::string>> options_;
    qel::Identity identity_;
    qel::AdcFormat adc_;
    std::vector<qel::IoPort> ioPorts_;
    qel::ScaleFunctions scales_;
    qel::DriveLink* driveLink_ = nullptr;
    mutable bool computingScale_ = false;
    mutable std::vector<std::string>* missingNames_ = nullptr;
};
