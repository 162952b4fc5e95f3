#include "host/kernel/Setup.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "host/kernel/ErrorReport.h"

namespace qel {

bool IsValidFirmwareId(std::string_view firmwareId) {
    constexpr std::size_t kMaxFirmwareIdLength = 16;
    if (firmwareId.empty() || firmwareId.size() > kMaxFirmwareIdLength ||
        std::isalpha(static_cast<unsigned char>(firmwareId.front())) == 0) {
        return false;
    }
    return std::all_of(firmwareId.begin(), firmwareId.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
    });
}

}  // namespace qel

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

void ReportMissing(const char* what, std::string_view name) {
    qel::ReportError(std::string(what) + " \"" + std::string(name) + "\" is not in the setup.");
}

template <typename Item>
void EraseByName(std::vector<std::unique_ptr<Item>>& items, const Item* item) {
    std::erase_if(items, [item](const std::unique_ptr<Item>& held) { return held.get() == item; });
}

}  // namespace

CQel_Setup::CQel_Setup(const CQel_Setup& other) {
    CopyFrom(other);
}

CQel_Setup& CQel_Setup::operator=(const CQel_Setup& other) {
    if (this != &other) {
        CopyFrom(other);
    }
    return *this;
}

void CQel_Setup::CopyFrom(const CQel_Setup& other) {
    parameters_.clear();
    parameterIndex_.clear();
    variables_.clear();
    variableIndex_.clear();
    for (const auto& parameter : other.parameters_) {
        auto copy = std::make_unique<CQel_Parameter>(*parameter);
        copy->RebindSetup(this);
        parameterIndex_.emplace(copy->GetName(), copy.get());
        parameters_.push_back(std::move(copy));
    }
    for (const auto& variable : other.variables_) {
        auto copy = std::make_unique<CQel_Variable>(*variable);
        copy->RebindSetup(this);
        variableIndex_.emplace(copy->GetName(), copy.get());
        variables_.push_back(std::move(copy));
    }
    options_ = other.options_;
    identity_ = other.identity_;
    adc_ = other.adc_;
    ioPorts_ = other.ioPorts_;
    scales_ = other.scales_;
    driveLink_ = other.driveLink_;
}

CQel_Parameter* CQel_Setup::FindParameter(std::string_view name) {
    return const_cast<CQel_Parameter*>(std::as_const(*this).FindParameter(name));
}

const CQel_Parameter* CQel_Setup::FindParameter(std::string_view name) const {
    const auto found = parameterIndex_.find(name);
    if (found != parameterIndex_.end()) {
        return found->second;
    }
    if (g_bShowErrors == 0) {
        return nullptr;
    }
    if (missingNames_ == nullptr) {
        ReportMissing("The parameter", name);
    } else if (std::find(missingNames_->begin(), missingNames_->end(), name) ==
               missingNames_->end()) {
        missingNames_->emplace_back(name);
    }
    return nullptr;
}

double CQel_Setup::GetParameterValueInBaseUnit(std::string_view name) const {
    const CQel_Parameter* parameter = FindParameter(name);
    return parameter == nullptr ? kNotANumber : parameter->GetValueInBaseUnit();
}

double CQel_Setup::GetParameterValueInInternalUnit(std::string_view name) const {
    const CQel_Parameter* parameter = FindParameter(name);
    return parameter == nullptr ? kNotANumber : parameter->GetValueInInternalUnit();
}

bool CQel_Setup::SetParameterValueInBaseUnit(std::string_view name, double baseValue) {
    CQel_Parameter* parameter = FindParameter(name);
    return parameter != nullptr && parameter->SetValueInBaseUnit(baseValue);
}

bool CQel_Setup::SetParameterValueInInternalUnit(std::string_view name, double internalValue) {
    CQel_Parameter* parameter = FindParameter(name);
    return parameter != nullptr && parameter->SetValueInInternalUnit(internalValue);
}

CQel_Parameter* CQel_Setup::AddParameter(const qel::ParameterDefinition& definition) {
    if (!std::isfinite(definition.value) || !std::isfinite(definition.min) ||
        !std::isfinite(definition.max) || definition.family == nullptr) {
        qel::ReportError("The parameter \"" + definition.name +
                         "\" was not added: its value, range or unit family is not defined.");
        return nullptr;
    }
    if (parameterIndex_.contains(definition.name)) {
        qel::ReportError("The setup already holds a parameter \"" + definition.name + "\".");
        return nullptr;
    }
    auto parameter = std::make_unique<CQel_Parameter>(this, definition);
    CQel_Parameter* added = parameter.get();
    parameters_.push_back(std::move(parameter));
    parameterIndex_.emplace(added->GetName(), added);
    return added;
}

bool CQel_Setup::RemoveParameter(std::string_view name) {
    const CQel_Parameter* parameter = FindParameter(name);
    if (parameter == nullptr) {
        return false;
    }
    parameterIndex_.erase(parameterIndex_.find(name));
    EraseByName(parameters_, parameter);
    return true;
}

CQel_Variable* CQel_Setup::FindVariable(std::string_view name, int reportErrors) {
    return const_cast<CQel_Variable*>(std::as_const(*this).FindVariable(name, reportErrors));
}

const CQel_Variable* CQel_Setup::FindVariable(std::string_view name, int reportErrors) const {
    const auto found = variableIndex_.find(name);
    if (found != variableIndex_.end()) {
        return found->second;
    }
    if (reportErrors != 0 && g_bShowErrors != 0) {
        ReportMissing("The variable", name);
    }
    return nullptr;
}

CQel_Variable* CQel_Setup::AddVariable(std::string name, const qel::UnitFamily& family,
                                       double internalValue) {
    if (variableIndex_.contains(name)) {
        qel::ReportError("The setup already holds a variable \"" + name + "\".");
        return nullptr;
    }
    auto variable = std::make_unique<CQel_Variable>(this, std::move(name), family, internalValue);
    CQel_Variable* added = variable.get();
    variables_.push_back(std::move(variable));
    variableIndex_.emplace(added->GetName(), added);
    return added;
}

bool CQel_Setup::RemoveVariable(std::string_view name) {
    const CQel_Variable* variable = FindVariable(name, 1);
    if (variable == nullptr) {
        return false;
    }
    variableIndex_.erase(variableIndex_.find(name));
    EraseByName(variables_, variable);
    return true;
}

std::optional<std::string> CQel_Setup::FindOption(std::string_view name) const {
    for (const auto& [optionName, text] : options_) {
        if (qel::EqualsIgnoringCase(optionName, name)) {
            return text;
        }
    }
    return std::nullopt;
}

int CQel_Setup::GetIntOption(std::string_view name) const {
    const std::optional<std::string> text = FindOption(name);
    if (!text) {
        if (g_bShowErrors != 0) {
            ReportMissing("The option", name);
        }
        return 0;
    }
    const long value = std::strtol(text->c_str(), nullptr, 10);
    return static_cast<int>(
        std::clamp<long>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::string CQel_Setup::GetOptionNoError(std::string_view name) const {
    return FindOption(name).value_or(std::string());
}

void CQel_Setup::SetOption(std::string_view name, std::string_view text) {
    for (auto& [optionName, value] : options_) {
        if (qel::EqualsIgnoringCase(optionName, name)) {
            value = text;
            return;
        }
    }
    options_.emplace_back(name, text);
}

void CQel_Setup::ClearOption(std::string_view name) {
    std::erase_if(options_, [name](const auto& option) {
        return qel::EqualsIgnoringCase(option.first, name);
    });
}

int CQel_Setup::SetFirmwareID(std::string_view firmwareId) {
    if (!qel::IsValidFirmwareId(firmwareId)) {
        return 0;
    }
    identity_.firmwareId = firmwareId;
    return 1;
}

void CQel_Setup::SetUserAppID(std::string_view text) {
    std::size_t length = std::min(text.size(), qel::kMaxUserApplicationIdLength);
    // Never cut inside a UTF-8 character: back up over its continuation bytes (10xxxxxx).
    constexpr unsigned char kContinuationMask = 0xC0;
    constexpr unsigned char kContinuationBits = 0x80;
    while (length > 0 && length < text.size() &&
           (static_cast<unsigned char>(text[length]) & kContinuationMask) == kContinuationBits) {
        --length;
    }
    identity_.userApplicationId = text.substr(0, length);
}

int CQel_Setup::GetIOPortFromPin(int pin) const {
    const auto found = std::find_if(ioPorts_.begin(), ioPorts_.end(),
                                    [pin](const qel::IoPort& port) { return port.pin == pin; });
    return found == ioPorts_.end() ? -1 : found->port;
}

int CQel_Setup::GetIOPinFromPort(int port) const {
    const auto found =
        std::find_if(ioPorts_.begin(), ioPorts_.end(),
                     [port](const qel::IoPort& entry) { return entry.port == port; });
    return found == ioPorts_.end() ? -1 : found->pin;
}

qel::Scale CQel_Setup::ScaleOf(const qel::Quantity& quantity) const {
    if (scales_.factor == nullptr || scales_.offset == nullptr) {
        return {};
    }
    if (computingScale_) {
        qel::ReportError("A unit scale reads \"" + quantity.GetName() +
                         "\", which is itself converted through a unit scale; only physical "
                         "parameters may feed a scale.");
        return {kNotANumber, kNotANumber};
    }
    computingScale_ = true;
    auto* self = const_cast<CQel_Setup*>(this);
    const std::string& unit = quantity.GetBaseUnitName();
    const qel::Scale scale{scales_.factor(self, unit.c_str(), quantity.GetName().c_str()),
                           scales_.offset(self, unit.c_str())};
    computingScale_ = false;
    return scale;
}
