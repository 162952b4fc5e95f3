#include "drive/MotorFile.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/kernel/SetupFile.h"

namespace drive {

namespace {

using Json = nlohmann::json;

// A motor file nests objects 2 deep (the top level and "encoder", "thermal" or "bench"); a text
// nested far deeper is refused before it is parsed, since the parse of a deeply nested text may
// exhaust the stack.
constexpr int kMaxMotorFileNesting = 16;

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

// A limit as a requirement names it: "0.001", "1e-07", "1000".
std::string FormatLimit(double limit) {
    std::ostringstream text;
    text << limit;
    return text.str();
}

// The range a member of a real servo motor (from a few watts to tens of kilowatts) can have; a
// value outside is a mistake, and would drive the simulation far beyond what it models.
struct Range {
    double minimum;
    double maximum;

    bool Contains(double value) const { return value >= minimum && value <= maximum; }
    std::string Requirement() const {
        return "a number from " + FormatLimit(minimum) + " to " + FormatLimit(maximum);
    }
};

constexpr Range kPhaseResistance_ohm{1e-3, 1e3};
constexpr Range kPhaseInductance_H{1e-6, 1.0};
constexpr Range kTorqueConstant_Nm_A{1e-3, 100.0};
constexpr Range kFlux_Wb{1e-4, 10.0};
constexpr Range kRotorInertia_kgm2{1e-7, 1.0};
constexpr Range kLoadInertia_kgm2{0.0, 100.0};
constexpr Range kViscousFriction_Nms_rad{0.0, 10.0};
constexpr Range kCoulombFriction_Nm{0.0, 1000.0};
constexpr Range kLoadTorque_Nm{-1000.0, 1000.0};
constexpr Range kMotorCurrent_A{1e-3, 1000.0};
constexpr double kTwoPi = 6.283185307179586;
constexpr Range kZeroAngle_rad{-kTwoPi, kTwoPi};
constexpr Range kThermalResistance_K_W{1e-2, 100.0};
constexpr Range kThermalTimeConstant_s{0.1, 1e5};
constexpr Range kSensorRatedTemperature_C{0.0, 250.0};

// Pole pairs and encoder lines a drive can count.
constexpr int kMaxPolePairs = 256;
constexpr int kMaxEncoderLines = 1 << 20;

// Reads a number that must lie within its range.
void RangedNumber(ObjectReader& reader, const char* name, double& target, bool required,
                  const Range& range) {
    reader.Number(
        name, target, required, [&range](double value) { return range.Contains(value); },
        range.Requirement().c_str());
}

void ReadEncoder(const Json& object, EncoderData& encoder,
                 std::vector<MotorFileProblem>& problems) {
    ObjectReader reader(object, "/encoder", problems);
    reader.WholeNumber("lines", encoder.lines, 1, kMaxEncoderLines);
    reader.Boolean("reversed", encoder.reversed);
    reader.Number(
        "zeroAngle_rad", encoder.zeroAngle_rad, false,
        [](double value) { return kZeroAngle_rad.Contains(value); }, "a number from -2π to 2π");
    reader.Boolean("absolute", encoder.absolute);
    reader.RejectUnknownMembers();
}

void ReadThermal(const Json& object, ThermalData& thermal,
                 std::vector<MotorFileProblem>& problems) {
    ObjectReader reader(object, "/thermal", problems);
    RangedNumber(reader, "thermalResistance_K_W", thermal.thermalResistance_K_W, true,
                 kThermalResistance_K_W);
    RangedNumber(reader, "timeConstant_s", thermal.timeConstant_s, true, kThermalTimeConstant_s);
    std::string sensor = "PTC";
    reader.Text("sensor", sensor);
    if (sensor == "PTC") {
        thermal.sensor = ThermalSensor::PTC;
    } else if (sensor == "NTC") {
        thermal.sensor = ThermalSensor::NTC;
    } else {
        reader.Problem("/thermal/sensor", "must be \"PTC\" or \"NTC\"");
    }
    RangedNumber(reader, "sensorRatedTemperature_C", thermal.sensorRatedTemperature_C, false,
                 kSensorRatedTemperature_C);
    reader.RejectUnknownMembers();
}

void ReadBench(const Json& object, BenchData& bench, std::vector<MotorFileProblem>& problems) {
    ObjectReader reader(object, "/bench", problems);
    const std::string requirement =
        "a number from " + FormatLimit(kMinBenchSupply_V) + " to " + FormatLimit(kMaxBenchSupply_V);
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
    RangedNumber(reader, "phaseResistance_ohm", motor.phaseResistance_ohm, true,
                 kPhaseResistance_ohm);
    RangedNumber(reader, "phaseInductance_H", motor.phaseInductance_H, true, kPhaseInductance_H);
    reader.WholeNumber("polePairs", motor.polePairs, 1, kMaxPolePairs);
    const bool hasTorqueConstant = reader.Has("torqueConstant_Nm_A");
    const bool hasFlux = reader.Has("flux_Wb");
    if (hasTorqueConstant == hasFlux) {
        reader.Problem("/", "give exactly one of \"torqueConstant_Nm_A\" and \"flux_Wb\"");
        reader.Accept("torqueConstant_Nm_A");
        reader.Accept("flux_Wb");
    } else if (hasTorqueConstant) {
        RangedNumber(reader, "torqueConstant_Nm_A", motor.torqueConstant_Nm_A, true,
                     kTorqueConstant_Nm_A);
    } else {
        double flux_Wb = 0.0;
        RangedNumber(reader, "flux_Wb", flux_Wb, true, kFlux_Wb);
        if (flux_Wb > 0.0) {
            motor.torqueConstant_Nm_A = TorqueConstantFromFlux(flux_Wb, motor.polePairs);
            if (!kTorqueConstant_Nm_A.Contains(motor.torqueConstant_Nm_A)) {
                reader.Problem("/flux_Wb", "gives a torque constant of " +
                                               FormatLimit(motor.torqueConstant_Nm_A) +
                                               " N·m/A with the pole pairs; it must be " +
                                               kTorqueConstant_Nm_A.Requirement());
            }
        }
    }
    RangedNumber(reader, "rotorInertia_kgm2", motor.rotorInertia_kgm2, true, kRotorInertia_kgm2);
    RangedNumber(reader, "loadInertia_kgm2", motor.loadInertia_kgm2, false, kLoadInertia_kgm2);
    RangedNumber(reader, "viscousFriction_Nms_rad", motor.viscousFriction_Nms_rad, false,
                 kViscousFriction_Nms_rad);
    RangedNumber(reader, "coulombFriction_Nm", motor.coulombFriction_Nm, false,
                 kCoulombFriction_Nm);
    RangedNumber(reader, "loadTorque_Nm", motor.loadTorque_Nm, false, kLoadTorque_Nm);
    RangedNumber(reader, "ratedCurrent_A", motor.ratedCurrent_A, false, kMotorCurrent_A);
    RangedNumber(reader, "peakCurrent_A", motor.peakCurrent_A, false, kMotorCurrent_A);
    if (motor.ratedCurrent_A > 0.0 && motor.peakCurrent_A > 0.0 &&
        motor.peakCurrent_A < motor.ratedCurrent_A) {
        reader.Problem("/peakCurrent_A", "must be at least the rated current (" +
                                             FormatLimit(motor.ratedCurrent_A) + " A)");
    }
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
    if (const auto tooDeep = qel::FindNestingDeeperThan(text, kMaxMotorFileNesting)) {
        result.problems.push_back({qel::LineAndColumn(text, *tooDeep),
                                   "nested more than " + std::to_string(kMaxMotorFileNesting) +
                                       " levels deep; a motor file needs 2"});
        return result;
    }
    Json root;
    // The members around the value being parsed, outermost first: the place of a number too
    // large for a double, which the library reports without it.
    std::vector<std::string> members;
    const Json::parser_callback_t trackMembers = [&members](int depth, Json::parse_event_t event,
                                                            Json& parsed) {
        // A key's depth counts the object it is in; a start's, the containers around it.
        const auto level = static_cast<std::size_t>(std::max(depth, 0));
        if (event == Json::parse_event_t::key && level > 0) {
            members.resize(level);
            members.back() = parsed.get<std::string>();
        } else if (event == Json::parse_event_t::object_start ||
                   event == Json::parse_event_t::array_start) {
            members.resize(level);
        }
        return true;
    };
    try {
        root = Json::parse(text.begin(), text.end(), trackMembers);
    } catch (const Json::parse_error& error) {
        // The library counts the offending byte from 1.
        const std::size_t offset = error.byte > 0 ? error.byte - 1 : 0;
        result.problems.push_back({qel::LineAndColumn(text, offset), "the text is not valid JSON"});
        return result;
    } catch (const Json::out_of_range&) {
        std::string place;
        for (const std::string& member : members) {
            place += member.empty() ? "" : "/" + member;
        }
        result.problems.push_back(
            {place.empty() ? "/" : place, "the number is too large (beyond what a double holds)"});
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
