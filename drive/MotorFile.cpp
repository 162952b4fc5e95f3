#include "drive/MotorFile.h"

#include <cmath>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "host/kernel/SetupFile.h"

namespace drive {

namespace {

using Json = nlohmann::json;

// Reads members of one JSON object, noting every problem with its place.
class ObjectReader {
  public:
    ObjectReader(const Json& object, std::string place, std::vector<MotorFileProblem>& problems)
        : object_(object), place_(std::move(place)), problems_(problems) {}

    bool Has(const char* name) const { return object_.contains(name); }

    // A number that must satisfy the check (described by requirement); absent and not required
    // keeps the default.
    void Number(const char* name, double& target, bool required,
                const std::function<bool(double)>& check, const char* requirement) {
        seen_.insert(name);
        if (!object_.contains(name)) {
            if (required) {
                Problem(place_, std::string("the member \"") + name + "\" is missing");
            }
            return;
        }
        const Json& value = object_.at(name);
        if (!value.is_number() || !std::isfinite(value.get<double>()) ||
            !check(value.get<double>())) {
            Problem(place_ + "/" + name, std::string("must be ") + requirement);
            return;
        }
        target = value.get<double>();
    }

    void WholeNumber(const char* name, int& target, int minimum, int maximum) {
        double value = target;
        const std::string requirement =
            "a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum);
        Number(
            name, value, true,
            [minimum, maximum](double v) {
                return v == std::round(v) && v >= minimum && v <= maximum;
            },
            requirement.c_str());
        target = static_cast<int>(value);
    }

    void Boolean(const char* name, bool& target) {
        seen_.insert(name);
        if (!object_.contains(name)) {
            return;
        }
        if (!object_.at(name).is_boolean()) {
            Problem(place_ + "/" + name, "must be true or false");
            return;
        }
        target = object_.at(name).get<bool>();
    }

    void Text(const char* name, std::string& target) {
        seen_.insert(name);
        if (!object_.contains(name)) {
            return;
        }
        if (!object_.at(name).is_string()) {
            Problem(place_ + "/" + name, "must be a text");
            return;
        }
        target = object_.at(name).get<std::string>();
    }

    const Json* Object(const char* name) {
        seen_.insert(name);
        if (!object_.contains(name)) {
            Problem(place_, std::string("the member \"") + name + "\" is missing");
            return nullptr;
        }
        if (!object_.at(name).is_object()) {
            Problem(place_ + "/" + name, "must be an object");
            return nullptr;
        }
        return &object_.at(name);
    }

    void Accept(const char* name) { seen_.insert(name); }

    // Every member not read is an error: a misspelt one must not be silently ignored.
    void RejectUnknownMembers() {
        for (const auto& [name, value] : object_.items()) {
            if (!seen_.contains(name)) {
                Problem(place_ + "/" + name, "is not a member of a motor file");
            }
        }
    }

    void Problem(std::string place, std::string message) {
        problems_.push_back({place.empty() ? "/" : std::move(place), std::move(message)});
    }

  private:
    const Json& object_;
    std::string place_;
    std::vector<MotorFileProblem>& problems_;
    std::set<std::string> seen_;
};

bool Positive(double value) {
    return value > 0.0;
}
bool NotNegative(double value) {
    return value >= 0.0;
}
bool Any(double) {
    return true;
}

// A voltage limit as the requirement names it: "1", "1000".
std::string FormatVolts(double voltage_V) {
    std::ostringstream text;
    text << voltage_V;
    return text.str();
}

// Pole pairs and encoder lines a drive can count.
constexpr int kMaxPolePairs = 256;
constexpr int kMaxEncoderLines = 1 << 20;

void ReadEncoder(const Json& object, EncoderData& encoder,
                 std::vector<MotorFileProblem>& problems) {
    ObjectReader reader(object, "/encoder", problems);
    reader.WholeNumber("lines", encoder.lines, 1, kMaxEncoderLines);
    reader.Boolean("reversed", encoder.reversed);
    reader.Number("zeroAngle_rad", encoder.zeroAngle_rad, false, Any, "a number");
    reader.Boolean("absolute", encoder.absolute);
    reader.RejectUnknownMembers();
}

void ReadThermal(const Json& object, ThermalData& thermal,
                 std::vector<MotorFileProblem>& problems) {
    ObjectReader reader(object, "/thermal", problems);
    reader.Number("thermalResistance_K_W", thermal.thermalResistance_K_W, true, Positive,
                  "a number above 0");
    reader.Number("timeConstant_s", thermal.timeConstant_s, true, Positive, "a number above 0");
    std::string sensor = "PTC";
    reader.Text("sensor", sensor);
    if (sensor == "PTC") {
        thermal.sensor = ThermalSensor::PTC;
    } else if (sensor == "NTC") {
        thermal.sensor = ThermalSensor::NTC;
    } else {
        reader.Problem("/thermal/sensor", "must be \"PTC\" or \"NTC\"");
    }
    reader.Number("sensorRatedTemperature_C", thermal.sensorRatedTemperature_C, false, Any,
                  "a number");
    reader.RejectUnknownMembers();
}

void ReadBench(const Json& object, BenchData& bench, std::vector<MotorFileProblem>& problems) {
    ObjectReader reader(object, "/bench", problems);
    const std::string requirement =
        "a number from " + FormatVolts(kMinBenchSupply_V) + " to " + FormatVolts(kMaxBenchSupply_V);
    reader.Number("supply_V", bench.supply_V, false, IsBenchSupply, requirement.c_str());
    reader.RejectUnknownMembers();
}

void ReadMotor(const Json& root, MotorData& motor, BenchData& bench,
               std::vector<MotorFileProblem>& problems) {
    ObjectReader reader(root, "", problems);
    double format = 0.0;
    reader.Number(
        "format", format, true, [](double v) { return v == kMotorFileFormatVersion; },
        "1, the format this program reads");
    reader.Text("name", motor.name);
    std::string connection = "star";
    reader.Text("connection", connection);
    if (connection == "star") {
        motor.connection = PhaseConnection::Star;
    } else if (connection == "delta") {
        motor.connection = PhaseConnection::Delta;
    } else {
        reader.Problem("/connection", "must be \"star\" or \"delta\"");
    }
    reader.Number("phaseResistance_ohm", motor.phaseResistance_ohm, true, Positive,
                  "a number above 0");
    reader.Number("phaseInductance_H", motor.phaseInductance_H, true, Positive, "a number above 0");
    reader.WholeNumber("polePairs", motor.polePairs, 1, kMaxPolePairs);
    const bool hasTorqueConstant = reader.Has("torqueConstant_Nm_A");
    const bool hasFlux = reader.Has("flux_Wb");
    if (hasTorqueConstant == hasFlux) {
        reader.Problem("/", "give exactly one of \"torqueConstant_Nm_A\" and \"flux_Wb\"");
        reader.Accept("torqueConstant_Nm_A");
        reader.Accept("flux_Wb");
    } else if (hasTorqueConstant) {
        reader.Number("torqueConstant_Nm_A", motor.torqueConstant_Nm_A, true, Positive,
                      "a number above 0");
    } else {
        double flux_Wb = 0.0;
        reader.Number("flux_Wb", flux_Wb, true, Positive, "a number above 0");
        motor.torqueConstant_Nm_A = TorqueConstantFromFlux(flux_Wb, motor.polePairs);
    }
    reader.Number("rotorInertia_kgm2", motor.rotorInertia_kgm2, true, Positive, "a number above 0");
    reader.Number("loadInertia_kgm2", motor.loadInertia_kgm2, false, NotNegative,
                  "a number of at least 0");
    reader.Number("viscousFriction_Nms_rad", motor.viscousFriction_Nms_rad, false, NotNegative,
                  "a number of at least 0");
    reader.Number("coulombFriction_Nm", motor.coulombFriction_Nm, false, NotNegative,
                  "a number of at least 0");
    reader.Number("loadTorque_Nm", motor.loadTorque_Nm, false, Any, "a number");
    if (const Json* encoder = reader.Object("encoder")) {
        ReadEncoder(*encoder, motor.encoder, problems);
    }
    if (reader.Has("thermal")) {
        if (const Json* thermal = reader.Object("thermal")) {
            ReadThermal(*thermal, motor.thermal, problems);
        }
    }
    if (reader.Has("bench")) {
        if (const Json* benchObject = reader.Object("bench")) {
            ReadBench(*benchObject, bench, problems);
        }
    }
    reader.RejectUnknownMembers();
}

}  // namespace

bool IsBenchSupply(double supply_V) {
    return supply_V >= kMinBenchSupply_V && supply_V <= kMaxBenchSupply_V;
}

MotorFileResult ParseMotorFile(std::string_view text) {
    MotorFileResult result;
    Json root;
    try {
        root = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& error) {
        // The library counts the offending byte from 1.
        const std::size_t offset = error.byte > 0 ? error.byte - 1 : 0;
        result.problems.push_back({qel::LineAndColumn(text, offset), "the text is not valid JSON"});
        return result;
    }
    if (!root.is_object()) {
        result.problems.push_back({"/", "a motor file is one JSON object"});
        return result;
    }
    MotorData motor;
    ReadMotor(root, motor, result.bench, result.problems);
    if (result.problems.empty()) {
        result.motor = motor;
    }
    return result;
}

MotorFileResult LoadMotorFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        MotorFileResult result;
        result.problems.push_back({"file", "cannot be opened for reading"});
        return result;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseMotorFile(text.str());
}

std::string DescribeMotorFileProblems(const std::filesystem::path& path,
                                      const std::vector<MotorFileProblem>& problems) {
    std::string description;
    for (const MotorFileProblem& problem : problems) {
        description += path.string() + ": " + problem.place + ": " + problem.message + "\n";
    }
    return description;
}

}  // namespace drive
