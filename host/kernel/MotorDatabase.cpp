#include "host/kernel/MotorDatabase.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Setup.h"

namespace qel {
namespace {

using Json = nlohmann::json;

constexpr int kFormatVersion = 1;
// A value the setup holds differs from the motor's when it is off by more than this fraction.
constexpr double kRelativeTolerance = 1e-9;

std::filesystem::path& SystemFileSetting() {
    static std::filesystem::path file;
    return file;
}

std::filesystem::path& UserFileSetting() {
    static std::filesystem::path file;
    return file;
}

std::filesystem::path DefaultUserFile() {
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome != nullptr && *dataHome) {
        return std::filesystem::path(dataHome) / "brevan" / "user-motors.json";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home) {
        return std::filesystem::path(home) / ".local" / "share" / "brevan" / "user-motors.json";
    }
    return std::filesystem::path(GetGUIDirectory()) / "motors" / "user-motors.json";
}

const std::string* CanonicalName(std::string_view name) {
    for (const std::string& known : MotorParameterNames()) {
        if (EqualsIgnoringCase(known, name)) {
            return &known;
        }
    }
    return nullptr;
}

// The setup's parameter, looked up without reporting a missing name.
template <typename Setup>
auto QuietFind(Setup& setup, std::string_view name) -> decltype(setup.FindParameter(name)) {
    const int saved = g_bShowErrors;
    g_bShowErrors = 0;
    auto* parameter = setup.FindParameter(name);
    g_bShowErrors = saved;
    return parameter;
}

Json ToJson(const std::vector<MotorRecord>& motors) {
    Json list = Json::array();
    for (const MotorRecord& motor : motors) {
        Json values = Json::object();
        for (const auto& [name, value] : motor.values) {
            values[name] = value;
        }
        list.push_back({{"name", motor.name}, {"values", values}});
    }
    return {{"format", kFormatVersion}, {"motors", list}};
}

std::string WriteUserDatabase(const std::vector<MotorRecord>& motors) {
    const std::filesystem::path file = GetMotorDatabaseFile(MotorDatabaseKind::User);
    std::error_code error;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), error);
        if (error) {
            return "The folder " + file.parent_path().string() +
                   " cannot be created: " + error.message() + ".";
        }
    }
    // Written beside the file and renamed over it, so that a failed write leaves the old file.
    std::filesystem::path temporary = file;
    temporary += ".new";
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream << ToJson(motors).dump(2) << '\n';
        if (!stream) {
            std::filesystem::remove(temporary, error);
            return "The user motor database " + file.string() + " cannot be written.";
        }
    }
    std::filesystem::rename(temporary, file, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return "The user motor database " + file.string() + " cannot be written.";
    }
    return {};
}

bool Same(double a, double b) {
    return std::fabs(a - b) <= kRelativeTolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

}  // namespace

const std::vector<std::string>& MotorParameterNames() {
    static const std::vector<std::string> names{"In",
                                                "ImaxM",
                                                "pp",
                                                "K",
                                                "R",
                                                "L",
                                                "Jm",
                                                "MotorPhaseConnectionType",
                                                "No_encoder_lines",
                                                "isMotorTemperatureSensor",
                                                "Motor_TempSensor_Type"};
    return names;
}

void SetMotorDatabaseFiles(std::filesystem::path systemFile, std::filesystem::path userFile) {
    SystemFileSetting() = std::move(systemFile);
    UserFileSetting() = std::move(userFile);
}

std::filesystem::path GetMotorDatabaseFile(MotorDatabaseKind kind) {
    if (kind == MotorDatabaseKind::System) {
        return SystemFileSetting().empty()
                   ? std::filesystem::path(GetGUIDirectory()) / "motors" / "system-motors.json"
                   : SystemFileSetting();
    }
    return UserFileSetting().empty() ? DefaultUserFile() : UserFileSetting();
}

MotorDatabaseLoad ParseMotorDatabase(std::string_view jsonText, std::string_view fileName) {
    MotorDatabaseLoad load;
    const std::string file(fileName);
    const Json root = Json::parse(jsonText, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        load.problem = file + " is not a JSON object.";
        return load;
    }
    if (!root.contains("format") || root["format"] != kFormatVersion) {
        load.problem = file + ": \"format\" must be " + std::to_string(kFormatVersion) + ".";
        return load;
    }
    if (!root.contains("motors") || !root["motors"].is_array()) {
        load.problem = file + ": \"motors\" must be a list.";
        return load;
    }
    for (const Json& entry : root["motors"]) {
        if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string() ||
            entry["name"].get<std::string>().empty()) {
            load.problem = file + ": every motor needs a name.";
            load.motors.clear();
            return load;
        }
        MotorRecord motor;
        motor.name = entry["name"].get<std::string>();
        const bool duplicate = std::any_of(
            load.motors.begin(), load.motors.end(),
            [&motor](const MotorRecord& m) { return EqualsIgnoringCase(m.name, motor.name); });
        if (duplicate) {
            load.problem = file + ": the motor \"" + motor.name + "\" appears twice.";
            load.motors.clear();
            return load;
        }
        if (!entry.contains("values") || !entry["values"].is_object()) {
            load.problem = file + ": the motor \"" + motor.name + "\" has no \"values\".";
            load.motors.clear();
            return load;
        }
        for (const auto& [name, value] : entry["values"].items()) {
            const std::string* canonical = CanonicalName(name);
            if (canonical == nullptr) {
                load.problem = file + ": \"" + name + "\" of the motor \"" + motor.name +
                               "\" is not a motor parameter.";
                load.motors.clear();
                return load;
            }
            if (!value.is_number() || !std::isfinite(value.get<double>())) {
                load.problem = file + ": \"" + name + "\" of the motor \"" + motor.name +
                               "\" must be a number.";
                load.motors.clear();
                return load;
            }
            motor.values[*canonical] = value.get<double>();
        }
        load.motors.push_back(std::move(motor));
    }
    std::sort(load.motors.begin(), load.motors.end(),
              [](const MotorRecord& a, const MotorRecord& b) { return a.name < b.name; });
    return load;
}

MotorDatabaseLoad LoadMotorDatabase(MotorDatabaseKind kind) {
    const std::filesystem::path file = GetMotorDatabaseFile(kind);
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return {};
    }
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    if (!stream) {
        MotorDatabaseLoad load;
        load.problem = "The motor database " + file.string() + " cannot be read.";
        return load;
    }
    return ParseMotorDatabase(text.str(), file.string());
}

MotorRecord MotorFromSetup(const CQel_Setup& setup, std::string name) {
    MotorRecord motor;
    motor.name = std::move(name);
    for (const std::string& parameterName : MotorParameterNames()) {
        if (const CQel_Parameter* parameter = QuietFind(setup, parameterName)) {
            motor.values[parameterName] = parameter->GetValueInBaseUnit();
        }
    }
    return motor;
}

std::vector<std::string> ApplyMotor(const MotorRecord& motor, CQel_Setup& setup) {
    std::vector<std::string> limited;
    for (const auto& [name, value] : motor.values) {
        CQel_Parameter* parameter = QuietFind(setup, name);
        if (parameter == nullptr) {
            continue;
        }
        parameter->SetValueInBaseUnit(value);
        if (!Same(parameter->GetValueInBaseUnit(), value)) {
            limited.push_back(name);
        }
    }
    return limited;
}

std::string SaveUserMotor(const MotorRecord& motor) {
    MotorDatabaseLoad database = LoadMotorDatabase(MotorDatabaseKind::User);
    if (!database.problem.empty()) {
        return database.problem + " The motor was not saved, so that the file is kept as it is.";
    }
    std::erase_if(database.motors, [&motor](const MotorRecord& m) {
        return EqualsIgnoringCase(m.name, motor.name);
    });
    database.motors.push_back(motor);
    std::sort(database.motors.begin(), database.motors.end(),
              [](const MotorRecord& a, const MotorRecord& b) { return a.name < b.name; });
    return WriteUserDatabase(database.motors);
}

std::string DeleteUserMotor(std::string_view name) {
    MotorDatabaseLoad database = LoadMotorDatabase(MotorDatabaseKind::User);
    if (!database.problem.empty()) {
        return database.problem + " Nothing was deleted.";
    }
    const std::size_t removed = std::erase_if(
        database.motors, [name](const MotorRecord& m) { return EqualsIgnoringCase(m.name, name); });
    if (removed == 0) {
        return "The user database holds no motor \"" + std::string(name) + "\".";
    }
    return WriteUserDatabase(database.motors);
}

}  // namespace qel
