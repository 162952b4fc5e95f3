#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>

#include "host/kernel/AtomicFile.h"
#include "host/kernel/SetupFile.h"
#include "tests/host/kernel/KernelTestSupport.h"
#include "tests/support/CollectedErrors.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One of each kind of parameter; it loads without scales and with factors up to 2.
constexpr const char* kValidDocument = R"({
 "format": 1,
 "identity": {"description": "Test drive", "productId": "P-48", "firmwareId": "F514G",
              "e2romSizeWords": 16384, "userApplicationId": "Conveyor"},
 "drive": {"adcBits": 12, "adcWordBits": 16, "ioPorts": [
    {"pin": 3, "port": 1, "inverted": false, "brake": true},
    {"pin": 7, "port": 2, "inverted": true, "brake": false}]},
 "parameters": [
  {"name": "Motor_R", "family": "resistance", "unit": "mOhm", "kind": "physical", "type": "real",
   "value": 0.1, "min": -1.7976931348623157e308, "max": 1.7976931348623157e308, "precision": 4},
  {"name": "PWMPER", "family": "register", "kind": "physical", "type": "integer",
   "value": 2500, "min": 0, "max": 65535},
  {"name": "PERIOD", "family": "time", "unit": "µs", "kind": "physical", "type": "real",
   "value": 0.0001, "min": 1e-6, "max": 0.01},
  {"name": "ILIM", "family": "current", "kind": "scaled", "type": "real",
   "value": 10, "min": 0, "max": 20},
  {"name": "Label", "family": "number", "kind": "physical", "type": "text", "value": "axis 1"}],
 "variables": [
  {"name": "APOS", "family": "rotary_position", "unit": "rot", "value": -0.5},
  {"name": "CSPD", "family": "rotary_speed", "value": 3}],
 "options": {"MODE": "1", "BRAKE": "0"}
})";

std::string Describe(const std::vector<qel::SetupFileProblem>& problems) {
    return qel::DescribeProblems("setup", problems);
}

// A JSON pointer, a parameter or variable by name ("parameters[PWMPER].value"), "line L, column C"
// for a syntax error, or "(top level)" for the whole document.
bool IsPlace(const std::string& place) {
    static const std::regex kPlace(
        R"(/.*|(parameters|variables)\[[^\]]+\](\.\w+)?|line [0-9]+, column [0-9]+|\(top level\))");
    return std::regex_match(place, kPlace);
}

// A refused document: no setup, at least one problem, and every problem placed.
::testing::AssertionResult IsRefused(const qel::SetupLoadResult& result) {
    if (result.setup != nullptr || result.problems.empty()) {
        return ::testing::AssertionFailure() << "accepted: " << Describe(result.problems);
    }
    for (const qel::SetupFileProblem& problem : result.problems) {
        if (!IsPlace(problem.place) || problem.message.empty()) {
            return ::testing::AssertionFailure() << "unplaced problem: " << Describe({problem});
        }
    }
    return ::testing::AssertionSuccess();
}

std::uint64_t Bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

void ExpectSameSetup(const CQel_Setup& a, const CQel_Setup& b) {
    ASSERT_EQ(a.GetParameterCount(), b.GetParameterCount());
    for (std::size_t i = 0; i < a.GetParameterCount(); ++i) {
        const qel::ParameterDefinition x = a.GetParameterAt(i).GetDefinition();
        const qel::ParameterDefinition y = b.GetParameterAt(i).GetDefinition();
        SCOPED_TRACE(x.name);
        EXPECT_EQ(x.name, y.name);
        EXPECT_EQ(x.family, y.family);
        EXPECT_EQ(x.unit, y.unit);
        EXPECT_EQ(x.kind, y.kind);
        EXPECT_EQ(x.type, y.type);
        EXPECT_EQ(Bits(x.value), Bits(y.value));
        EXPECT_EQ(Bits(x.min), Bits(y.min));
        EXPECT_EQ(Bits(x.max), Bits(y.max));
        EXPECT_EQ(x.precision, y.precision);
        EXPECT_EQ(x.text, y.text);
    }
    ASSERT_EQ(a.GetVariableCount(), b.GetVariableCount());
    for (std::size_t i = 0; i < a.GetVariableCount(); ++i) {
        const CQel_Variable& x = a.GetVariableAt(i);
        const CQel_Variable& y = b.GetVariableAt(i);
        EXPECT_EQ(x.GetName(), y.GetName());
        EXPECT_EQ(&x.GetUnitFamily(), &y.GetUnitFamily());
        EXPECT_EQ(x.GetUnitName(), y.GetUnitName());
        EXPECT_EQ(Bits(x.GetValueInInternalUnit()), Bits(y.GetValueInInternalUnit()));
    }
    EXPECT_EQ(a.GetOptions(), b.GetOptions());
    const qel::Identity& ia = a.GetIdentity();
    const qel::Identity& ib = b.GetIdentity();
    EXPECT_EQ(std::tie(ia.description, ia.productId, ia.firmwareId, ia.e2romSizeWords,
                       ia.userApplicationId),
              std::tie(ib.description, ib.productId, ib.firmwareId, ib.e2romSizeWords,
                       ib.userApplicationId));
    EXPECT_EQ(a.GetAdcFormat().adcBits, b.GetAdcFormat().adcBits);
    EXPECT_EQ(a.GetAdcFormat().adcWordBits, b.GetAdcFormat().adcWordBits);
    ASSERT_EQ(a.GetIoPorts().size(), b.GetIoPorts().size());
    for (std::size_t i = 0; i < a.GetIoPorts().size(); ++i) {
        const qel::IoPort& x = a.GetIoPorts()[i];
        const qel::IoPort& y = b.GetIoPorts()[i];
        EXPECT_EQ(std::tie(x.pin, x.port, x.inverted, x.brake),
                  std::tie(y.pin, y.port, y.inverted, y.brake));
    }
}

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "brevan-kernel-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Every entry below the folder: files with their content, folders marked.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        entries[fs::relative(entry.path(), folder).string()] =
            entry.is_directory() ? "<folder>" : ReadFile(entry.path());
    }
    return entries;
}

std::unique_ptr<CQel_Setup> LoadValid() {
    qel::SetupLoadResult result = qel::ParseSetup(kValidDocument);
    EXPECT_TRUE(result.problems.empty()) << Describe(result.problems);
    return std::move(result.setup);
}

TEST(ParseSetup, ReadsEveryPartOfAValidDocument) {
    const auto setup = LoadValid();
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->GetParameterCount(), 5u);
    EXPECT_EQ(setup->GetParameterAt(2).GetUnitName(), "µs");
    EXPECT_EQ(setup->FindParameter("ILIM")->GetKind(), qel::ValueKind::Scaled);
    EXPECT_EQ(setup->FindParameter("Label")->GetText(), "axis 1");
    EXPECT_EQ(setup->FindVariable("APOS", 1)->GetUnitName(), "rot");
    EXPECT_EQ(setup->GetIntOption("MODE"), 1);
    EXPECT_EQ(setup->GetFirmwareID(), "F514G");
    EXPECT_EQ(setup->GetIOPinFromPort(2), 7);
}

struct MutationCase {
    const char* pointer;
    const char* replacement;  // JSON text, or nullptr to remove the member
    const char* place;
    const char* fragment;
    friend std::ostream& operator<<(std::ostream& out, const MutationCase& row) {
        return out << row.pointer << " := " << (row.replacement ? row.replacement : "(absent)");
    }
};

class Mutation : public ::testing::TestWithParam<MutationCase> {};

TEST_P(Mutation, IsReportedAtItsPlace) {
    const MutationCase& row = GetParam();
    Json document = Json::parse(kValidDocument);
    const Json::json_pointer pointer(row.pointer);
    if (row.replacement == nullptr) {
        document[pointer.parent_pointer()].erase(pointer.back());
    } else {
        document[pointer] = Json::parse(row.replacement);
    }

    const qel::SetupLoadResult result = qel::ParseSetup(document.dump());

    EXPECT_TRUE(IsRefused(result));
    const bool found =
        std::any_of(result.problems.begin(), result.problems.end(),
                    [&row](const qel::SetupFileProblem& problem) {
                        return problem.place == row.place &&
                               problem.message.find(row.fragment) != std::string::npos;
                    });
    EXPECT_TRUE(found) << "expected \"" << row.fragment << "\" at " << row.place << ", got\n"
                       << Describe(result.problems);
}

INSTANTIATE_TEST_SUITE_P(
    WrongTypes, Mutation,
    ::testing::Values(
        MutationCase{"", "[]", "(top level)", "expected an object"},
        MutationCase{"/format", "\"1\"", "/format", "expected a whole number"},
        MutationCase{"/identity", "[]", "/identity", "expected an object"},
        MutationCase{"/identity/description", "5", "/identity/description", "expected a text"},
        MutationCase{"/identity/productId", "true", "/identity/productId", "expected a text"},
        MutationCase{"/identity/firmwareId", "null", "/identity/firmwareId", "expected a text"},
        MutationCase{"/identity/e2romSizeWords", "\"16\"", "/identity/e2romSizeWords",
                     "expected a whole number"},
        MutationCase{"/identity/e2romSizeWords", "1.5", "/identity/e2romSizeWords",
                     "expected a whole number"},
        MutationCase{"/identity/e2romSizeWords", "65536", "/identity/e2romSizeWords",
                     "from 0 to 65535"},
        MutationCase{"/identity/userApplicationId", "[]", "/identity/userApplicationId",
                     "expected a text"},
        MutationCase{"/drive", "7", "/drive", "expected an object"},
        MutationCase{"/drive/adcBits", "\"12\"", "/drive/adcBits", "expected a whole number"},
        MutationCase{"/drive/adcBits", "0", "/drive/adcBits", "from 1 to 32"},
        MutationCase{"/drive/adcWordBits", "33", "/drive/adcWordBits", "from 1 to 32"},
        MutationCase{"/drive/ioPorts", "{}", "/drive/ioPorts", "expected an array"},
        MutationCase{"/drive/ioPorts/0", "\"x\"", "/drive/ioPorts/0", "expected an object"},
        MutationCase{"/drive/ioPorts/0/pin", "-1", "/drive/ioPorts/0/pin", "from 0 to 255"},
        MutationCase{"/drive/ioPorts/0/port", "\"3\"", "/drive/ioPorts/0/port",
                     "expected a whole number"},
        MutationCase{"/drive/ioPorts/0/inverted", "1", "/drive/ioPorts/0/inverted",
                     "expected true or false"},
        MutationCase{"/drive/ioPorts/1/brake", "\"true\"", "/drive/ioPorts/1/brake",
                     "expected true or false"},
        MutationCase{"/parameters", "{}", "/parameters", "expected an array"},
        MutationCase{"/parameters/0", "[]", "/parameters/0", "expected an object"},
        MutationCase{"/parameters/0/name", "3", "/parameters/0/name", "expected a text"},
        MutationCase{"/parameters/0/family", "3", "parameters[Motor_R].family", "expected a text"},
        MutationCase{"/parameters/0/unit", "3", "parameters[Motor_R].unit", "expected a text"},
        MutationCase{"/parameters/0/kind", "false", "parameters[Motor_R].kind", "expected a text"},
        MutationCase{"/parameters/0/type", "\"bool\"", "parameters[Motor_R].type", "expected \""},
        MutationCase{"/parameters/0/value", "\"1\"", "parameters[Motor_R].value",
                     "expected a number"},
        MutationCase{"/parameters/0/min", "null", "parameters[Motor_R].min", "expected a number"},
        MutationCase{"/parameters/0/max", "\"x\"", "parameters[Motor_R].max", "expected a number"},
        MutationCase{"/parameters/0/precision", "18", "parameters[Motor_R].precision",
                     "from 0 to 17"},
        MutationCase{"/parameters/0/precision", "2.5", "parameters[Motor_R].precision",
                     "expected a whole number"},
        MutationCase{"/parameters/4/value", "5", "parameters[Label].value", "expected a text"},
        MutationCase{"/variables", "{}", "/variables", "expected an array"},
        MutationCase{"/variables/0", "1", "/variables/0", "expected an object"},
        MutationCase{"/variables/0/name", "1", "/variables/0/name", "expected a text"},
        MutationCase{"/variables/0/family", "[]", "variables[APOS].family", "expected a text"},
        MutationCase{"/variables/1/value", "\"0\"", "variables[CSPD].value", "expected a number"},
        MutationCase{"/options", "[]", "/options", "expected an object"},
        MutationCase{"/options/MODE", "1", "/options/MODE", "expected a text"}));

INSTANTIATE_TEST_SUITE_P(
    Contents, Mutation,
    ::testing::Values(
        MutationCase{"/format", "2", "/format", "reads format 1"},
        MutationCase{"/format", nullptr, "(top level)", "missing member \"format\""},
        MutationCase{"/identity/productId", nullptr, "/identity", "\"productId\""},
        MutationCase{"/parameters/1/max", nullptr, "parameters[PWMPER]", "\"max\""},
        MutationCase{"/drive/ioPorts/0/brake", nullptr, "/drive/ioPorts/0", "\"brake\""},
        MutationCase{"/formats", "1", "/formats", "unknown member"},
        MutationCase{"/identity/serial", "\"x\"", "/identity/serial", "unknown member"},
        MutationCase{"/drive/ioPorts/0/Pin", "3", "/drive/ioPorts/0/Pin", "unknown member"},
        MutationCase{"/parameters/0/Value", "1", "parameters[Motor_R].Value", "unknown member"},
        MutationCase{"/variables/0/min", "1", "variables[APOS].min", "unknown member"},
        MutationCase{"/parameters/0/unit", "\"furlong\"", "parameters[Motor_R].unit",
                     "unknown unit"},
        MutationCase{"/parameters/0/unit", "\"mA\"", "parameters[Motor_R].unit", "unknown unit"},
        MutationCase{"/variables/0/unit", "\"mm\"", "variables[APOS].unit", "unknown unit"},
        MutationCase{"/parameters/0/family", "\"luminosity\"", "parameters[Motor_R].family",
                     "unknown unit family"},
        MutationCase{"/variables/1/family", "\"speed\"", "variables[CSPD].family",
                     "unknown unit family"},
        MutationCase{"/parameters/0/kind", "\"virtual\"", "parameters[Motor_R].kind", "\"scaled\""},
        MutationCase{"/parameters/2/name", "\"pwmper\"", "/parameters/2/name", "already used"},
        MutationCase{"/parameters/2/name", "\"\"", "/parameters/2/name", "empty name"},
        MutationCase{"/variables/1/name", "\"apos\"", "/variables/1/name", "already used"},
        MutationCase{"/options/mode", "\"2\"", "/options/mode", "already set"},
        MutationCase{"/drive/ioPorts/1/pin", "3", "/drive/ioPorts/1/pin", "listed twice"},
        MutationCase{"/drive/ioPorts/1/port", "1", "/drive/ioPorts/1/port", "listed twice"},
        MutationCase{"/drive/adcWordBits", "8", "/drive/adcWordBits", "narrower"},
        MutationCase{"/parameters/2/min", "1", "parameters[PERIOD].min", "exceeds the maximum"},
        MutationCase{"/parameters/1/value", "2500.5", "parameters[PWMPER].value", "whole number"},
        MutationCase{"/parameters/4/min", "0", "parameters[Label].min", "no range"},
        MutationCase{"/identity/firmwareId", "\"9abc\"", "/identity/firmwareId",
                     "not a firmware identifier"},
        MutationCase{"/identity/firmwareId", "\"\"", "/identity/firmwareId",
                     "not a firmware identifier"},
        MutationCase{"/identity/userApplicationId", "\"12345678901234567890123456789012345678901\"",
                     "/identity/userApplicationId", "longer than 40"}));

// A value outside its range loads at the range's nearer end, with a warning that names the
// parameter and gives the numbers in their shortest form: a range or a scale may follow from
// other values of the file, so such a value must not make the file unusable.
struct OutOfRangeCase {
    const char* pointer;
    const char* replacement;
    const char* name;
    double loadedBase;
    const char* place;
    const char* warning;
    friend std::ostream& operator<<(std::ostream& out, const OutOfRangeCase& row) {
        return out << row.pointer << " := " << row.replacement;
    }
};

class OutOfRangeValue : public ::testing::TestWithParam<OutOfRangeCase> {};

TEST_P(OutOfRangeValue, LoadsAtTheNearerEndWithAWarningNamingIt) {
    const OutOfRangeCase& row = GetParam();
    Json document = Json::parse(kValidDocument);
    document[Json::json_pointer(row.pointer)] = Json::parse(row.replacement);
    const CollectedErrors errors;

    const qel::SetupLoadResult result = qel::ParseSetup(document.dump());

    ASSERT_NE(result.setup, nullptr) << Describe(result.problems);
    EXPECT_EQ(result.setup->GetParameterValueInBaseUnit(row.name), row.loadedBase);
    ASSERT_EQ(result.warnings.size(), 1u) << Describe(result.warnings);
    EXPECT_EQ(result.warnings[0].place, row.place);
    EXPECT_EQ(result.warnings[0].message, row.warning);
    EXPECT_EQ(errors.Messages(),
              std::vector<std::string>{std::string(row.place) + ": " + row.warning});
}

INSTANTIATE_TEST_SUITE_P(
    Values, OutOfRangeValue,
    ::testing::Values(
        OutOfRangeCase{"/parameters/2/value", "0.5", "PERIOD", 0.01, "parameters[PERIOD].value",
                       "the value 0.5 s lies outside its range 1e-06 to 0.01 s; it is now 0.01 s"},
        OutOfRangeCase{"/parameters/2/value", "0.0000005", "PERIOD", 1e-6,
                       "parameters[PERIOD].value",
                       "the value 5e-07 s lies outside its range 1e-06 to 0.01 s; it is now 1e-06 "
                       "s"},
        OutOfRangeCase{"/parameters/1/value", "-1", "PWMPER", 0, "parameters[PWMPER].value",
                       "the value -1 lies outside its range 0 to 65535; it is now 0"},
        OutOfRangeCase{"/parameters/3/max", "5", "ILIM", 5, "parameters[ILIM].value",
                       "the value 10 A lies outside its range 0 to 5 A; it is now 5 A"}));

struct ScaledRangeCase {
    double factor;
    double loadedBase;    // ILIM's base value once loaded
    const char* warning;  // nullptr when the value lies in its range
    friend std::ostream& operator<<(std::ostream& out, const ScaledRangeCase& row) {
        return out << "factor " << row.factor;
    }
};

class ScaledRange : public ::testing::TestWithParam<ScaledRangeCase> {};

TEST_P(ScaledRange, IsCheckedInBaseUnitsThroughTheScale) {
    fake::Reset(GetParam().factor, 0);
    const CollectedErrors errors;
    const qel::SetupLoadResult result = qel::ParseSetup(kValidDocument, fake::Functions());
    ASSERT_NE(result.setup, nullptr) << Describe(result.problems);
    EXPECT_EQ(result.setup->GetParameterValueInBaseUnit("ILIM"), GetParam().loadedBase);
    if (GetParam().warning == nullptr) {
        EXPECT_TRUE(result.warnings.empty()) << Describe(result.warnings);
        return;
    }
    ASSERT_EQ(result.warnings.size(), 1u) << Describe(result.warnings);
    EXPECT_EQ(result.warnings[0].place, "parameters[ILIM].value");
    EXPECT_EQ(result.warnings[0].message, GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(
    Factors, ScaledRange,
    ::testing::Values(
        ScaledRangeCase{2, 20, nullptr},
        ScaledRangeCase{2.5, 20, "the value 25 A lies outside its range 0 to 20 A; it is now 20 A"},
        ScaledRangeCase{-1, 0, "the value -10 A lies outside its range 0 to 20 A; it is now 0 A"}));

TEST(ParseSetup, AValueTheScaleCannotConvertIsRefusedAtItsName) {
    fake::Reset(kNaN, 0);
    const qel::SetupLoadResult result = qel::ParseSetup(kValidDocument, fake::Functions());
    EXPECT_TRUE(IsRefused(result));
    ASSERT_EQ(result.problems.size(), 1u) << Describe(result.problems);
    EXPECT_EQ(result.problems[0].place, "parameters[ILIM].value");
    EXPECT_NE(result.problems[0].message.find("cannot be converted"), std::string::npos)
        << result.problems[0].message;
}

TEST(ParseSetup, RefusesEveryTruncationOfAValidDocument) {
    const auto setup = LoadValid();
    ASSERT_NE(setup, nullptr);
    std::string text = qel::SerializeSetup(*setup);
    text.erase(text.find_last_not_of(" \n") + 1);
    for (std::size_t length = 0; length < text.size(); ++length) {
        const auto refused = IsRefused(qel::ParseSetup(text.substr(0, length)));
        if (!refused) {
            ADD_FAILURE() << "the first " << length << " bytes: " << refused.message();
            break;
        }
    }
}

TEST(ParseSetup, RefusesRandomBytes) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> size(0, 300);
    for (int input = 0; input < 400; ++input) {
        // Half the inputs start like a setup, to get past the first bytes.
        std::string text = input % 2 == 0 ? "" : "{\"format\": 1, \"identity\": ";
        for (std::size_t n = size(random); n > 0; --n) {
            text += static_cast<char>(byte(random));
        }
        const auto refused = IsRefused(qel::ParseSetup(text));
        if (!refused) {
            ADD_FAILURE() << "input " << input << ": " << refused.message();
            break;
        }
    }
}

TEST(ParseSetup, ANumberBeyondTheDoubleRangeIsAProblemNotAnException) {
    std::string text = kValidDocument;
    text.replace(text.find("0.0001"), 6, "1e400");
    qel::SetupLoadResult result;
    EXPECT_NO_THROW(result = qel::ParseSetup(text));
    EXPECT_TRUE(IsRefused(result));
}

// A text nested far deeper than a setup file is refused before the parse, at the bracket that
// goes too deep; the parse of such a text may exhaust the stack.
struct DeepNestingCase {
    const char* label;
    std::string text;
    const char* place;
    friend std::ostream& operator<<(std::ostream& out, const DeepNestingCase& row) {
        return out << row.label;
    }
};

std::string Repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

class DeepNesting : public ::testing::TestWithParam<DeepNestingCase> {};

TEST_P(DeepNesting, IsRefusedAtTheBracketThatGoesTooDeep) {
    const qel::SetupLoadResult result = qel::ParseSetup(GetParam().text);
    EXPECT_FALSE(result.setup);
    ASSERT_EQ(result.problems.size(), 1u) << Describe(result.problems);
    EXPECT_EQ(result.problems[0].place, GetParam().place);
    EXPECT_EQ(result.problems[0].message, "nested more than 16 levels deep; a setup file needs 4");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DeepNesting,
    ::testing::Values(
        // The fuzzer's find: 5000 objects, never closed.
        DeepNestingCase{"UnclosedObjects", Repeated(R"({"a":)", 5000), "line 1, column 81"},
        DeepNestingCase{"ClosedArrays", Repeated("[", 5000) + Repeated("]", 5000),
                        "line 1, column 17"},
        // Seventeen levels exactly, within a parameter's value, after a text holding brackets.
        DeepNestingCase{"InAParameter",
                        std::string(R"({"identity": {"description": "[{\"[{"},)") +
                            "\n \"parameters\": [{\"value\": " + Repeated("[", 14) + "1" +
                            Repeated("]", 14) + "}]}",
                        "line 2, column 40"}),
    [](const auto& row) { return std::string(row.param.label); });

struct NestingDepthCase {
    const char* label;
    const char* text;
    std::optional<std::size_t> tooDeep;  // with a limit of 2
    friend std::ostream& operator<<(std::ostream& out, const NestingDepthCase& row) {
        return out << row.label;
    }
};

class NestingDepth : public ::testing::TestWithParam<NestingDepthCase> {};

TEST_P(NestingDepth, FindsTheFirstBracketBeyondTheLimit) {
    EXPECT_EQ(qel::FindNestingDeeperThan(GetParam().text, 2), GetParam().tooDeep);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NestingDepth,
    ::testing::Values(
        NestingDepthCase{"AtTheLimit", R"({"a": [1, 2], "b": {"c": 3}})", std::nullopt},
        NestingDepthCase{"OneBeyond", R"({"a": [1, [2]]})", 10},
        NestingDepthCase{"ClosedLevelsDoNotCount", R"([[1], [2], [3], {"a": {}}])", 22},
        NestingDepthCase{"BracketsInTexts", R"({"a": ["[[{", "\"[{", "\\"]})", std::nullopt},
        NestingDepthCase{"AfterAnEscapedBackslash", R"(["\\", [[]]])", 8},
        NestingDepthCase{"StrayClosingBrackets", R"(]]]]{[[]]})", 6}),
    [](const auto& row) { return std::string(row.param.label); });

// A member named twice in one object: the parser would keep the last silently (a second
// "options" drops every option of the first); the file is refused at the second name.
struct DuplicateCase {
    const char* label;
    std::string text;
    const char* place;
    const char* message;
    friend std::ostream& operator<<(std::ostream& out, const DuplicateCase& row) {
        return out << row.label;
    }
};

class DuplicateMember : public ::testing::TestWithParam<DuplicateCase> {};

TEST_P(DuplicateMember, IsRefusedAtTheSecondName) {
    const qel::SetupLoadResult result = qel::ParseSetup(GetParam().text);
    EXPECT_FALSE(result.setup);
    ASSERT_EQ(result.problems.size(), 1u) << Describe(result.problems);
    EXPECT_EQ(result.problems[0].place, GetParam().place);
    EXPECT_EQ(result.problems[0].message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DuplicateMember,
    ::testing::Values(
        DuplicateCase{"SecondOptionsOfAValidDocument",
                      std::string(kValidDocument)
                          .insert(std::string(kValidDocument).rfind('}'), ",\n \"options\": {}\n"),
                      "line 23, column 2",
                      "the member /options is given twice (first at line 21, column 2)"},
        DuplicateCase{"EscapedSpelling", R"({"format": 1, "form\u0061t": 1})", "line 1, column 15",
                      "the member /format is given twice (first at line 1, column 2)"},
        DuplicateCase{"InAnArrayElement",
                      "{\"parameters\": [{\"name\": \"a\"},\n {\"name\": \"b\", \"type\": "
                      "\"real\", \"name\": \"c\"}]}",
                      "line 2, column 32",
                      "the member /parameters/1/name is given twice (first at line 2, column 3)"}),
    [](const auto& row) { return std::string(row.param.label); });

// The same name in different objects, or inside a text, is no duplicate.
TEST(ParseSetup, ANameInAnotherObjectOrInATextIsNoDuplicate) {
    const qel::SetupLoadResult result = qel::ParseSetup(
        R"({"format": 1, "identity": {"format": 1, "description": "\"format\": 2, \\"},
            "parameters": [{"name": "a"}, {"name": "b"}], "options": {"name": "x"}})");
    for (const qel::SetupFileProblem& problem : result.problems) {
        EXPECT_EQ(problem.message.find("given twice"), std::string::npos) << Describe({problem});
    }
}

class BlankFile : public ::testing::TestWithParam<const char*> {};

TEST_P(BlankFile, IsRefusedWithALineAndColumn) {
    TempFolder folder;
    WriteFile(folder.Path() / "axis.json", GetParam());
    const qel::SetupLoadResult result = qel::LoadSetupFile(folder.Path() / "axis.json");
    EXPECT_TRUE(IsRefused(result));
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].place.rfind("line ", 0), 0u) << result.problems[0].place;
}

INSTANTIATE_TEST_SUITE_P(Contents, BlankFile, ::testing::Values("", " \n\t\r\n  "));

class RoundTrip : public ::testing::TestWithParam<double> {};

TEST_P(RoundTrip, KeepsTheTextAndEveryBitOfTheValues) {
    Json document = Json::parse(kValidDocument);
    document["parameters"][0]["value"] = GetParam();
    document["variables"][0]["value"] = GetParam();

    const qel::SetupLoadResult first = qel::ParseSetup(document.dump());
    ASSERT_NE(first.setup, nullptr) << Describe(first.problems);
    const std::string firstText = qel::SerializeSetup(*first.setup);
    const qel::SetupLoadResult second = qel::ParseSetup(firstText);
    ASSERT_NE(second.setup, nullptr) << Describe(second.problems);

    EXPECT_EQ(qel::SerializeSetup(*second.setup), firstText);
    ExpectSameSetup(*first.setup, *second.setup);
    for (const auto* setup : {first.setup.get(), second.setup.get()}) {
        EXPECT_EQ(Bits(setup->GetParameterValueInInternalUnit("Motor_R")), Bits(GetParam()));
        EXPECT_EQ(Bits(setup->FindVariable("APOS", 1)->GetValueInInternalUnit()), Bits(GetParam()));
    }
}

INSTANTIATE_TEST_SUITE_P(Doubles, RoundTrip,
                         ::testing::Values(0.1, 1e-300, 123456.789, -0.5, 1.0 / 3, 5e-324,
                                           std::numeric_limits<double>::max(), 9007199254740994.0,
                                           -4503599627370495.5, 42.0));

// The module's unit scales, loaded the way the host loads them (BREVAN_MODULE, else the module of
// this build); none when it is not built.
class ModuleScales {
  public:
    ModuleScales() : handle_(::dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ != nullptr) {
            functions_.factor =
                reinterpret_cast<qel::ScaleFactorFunction>(::dlsym(handle_, "GetScaleFactor"));
            functions_.offset =
                reinterpret_cast<qel::ScaleOffsetFunction>(::dlsym(handle_, "GetScaleOffset"));
        }
    }
    ~ModuleScales() {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
        }
    }
    ModuleScales(const ModuleScales&) = delete;
    ModuleScales& operator=(const ModuleScales&) = delete;
    bool Loaded() const { return functions_.factor != nullptr && functions_.offset != nullptr; }
    const qel::ScaleFunctions& Functions() const { return functions_; }

  private:
    static std::string ModulePath() {
        const char* chosen = std::getenv("BREVAN_MODULE");
        return chosen != nullptr && *chosen != '\0'
                   ? std::string(chosen)
                   : (fs::path(BREVAN_BINARY_DIR) / "bin" / "libbrevan.so").string();
    }

    void* handle_;
    qel::ScaleFunctions functions_;
};

class BundledExample : public ::testing::TestWithParam<const char*> {};

TEST_P(BundledExample, LoadSaveLoadLosesNothing) {
    const fs::path source = fs::path(BREVAN_SOURCE_DIR) / "examples" / GetParam();
    if (!fs::exists(source)) {
        GTEST_SKIP() << source << " is not there yet";
    }
    const ModuleScales module;
    if (!module.Loaded()) {
        GTEST_SKIP() << "the module is not built: " << ::dlerror();
    }
    const qel::ScaleFunctions& scales = module.Functions();
    const qel::SetupLoadResult first = qel::LoadSetupFile(source, scales);
    ASSERT_NE(first.setup, nullptr) << Describe(first.problems);
    TempFolder folder;
    ASSERT_EQ(qel::SaveSetupFile(*first.setup, folder.Path() / GetParam()), "");
    const qel::SetupLoadResult second = qel::LoadSetupFile(folder.Path() / GetParam(), scales);
    ASSERT_NE(second.setup, nullptr) << Describe(second.problems);
    ExpectSameSetup(*first.setup, *second.setup);
}

// The examples are kept as the program writes them: a save without a change rewrites no byte.
TEST_P(BundledExample, SavedUnchangedGivesTheSameBytes) {
    const fs::path source = fs::path(BREVAN_SOURCE_DIR) / "examples" / GetParam();
    const ModuleScales module;
    if (!module.Loaded()) {
        GTEST_SKIP() << "the module is not built: " << ::dlerror();
    }
    const qel::SetupLoadResult loaded = qel::LoadSetupFile(source, module.Functions());
    ASSERT_NE(loaded.setup, nullptr) << Describe(loaded.problems);
    EXPECT_TRUE(loaded.warnings.empty()) << Describe(loaded.warnings);
    TempFolder folder;
    ASSERT_EQ(qel::SaveSetupFile(*loaded.setup, folder.Path() / GetParam()), "");
    EXPECT_EQ(ReadFile(folder.Path() / GetParam()), ReadFile(source));
}

INSTANTIATE_TEST_SUITE_P(Examples, BundledExample,
                         ::testing::Values("reference-axis.json", "minimal-axis.json",
                                           "new-axis.json"));

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(SerializeSetup, WritesOneLinePerEntryWithOnlyTheMembersThatDifferFromTheirDefaults) {
    const auto setup = LoadValid();
    ASSERT_NE(setup, nullptr);
    const std::vector<std::string> lines = SplitLines(qel::SerializeSetup(*setup));
    const std::vector<std::string> expected = {
        R"(      { "pin": 3, "port": 1, "inverted": false, "brake": true },)",
        R"(    { "name": "Motor_R", "family": "resistance", "unit": "mOhm", "kind": "physical", )"
        R"("type": "real", "value": 0.1, "min": -1.7976931348623157e+308, )"
        R"("max": 1.7976931348623157e+308, "precision": 4 },)",
        R"(    { "name": "PWMPER", "family": "register", "kind": "physical", "type": "integer", )"
        R"("value": 2500, "min": 0, "max": 65535 },)",
        R"(    { "name": "ILIM", "family": "current", "kind": "scaled", "type": "real", "value": 10, )"
        R"("min": 0, "max": 20 },)",
        R"(    { "name": "Label", "family": "number", "kind": "physical", "type": "text", )"
        R"("value": "axis 1" })",
        R"(    { "name": "CSPD", "family": "rotary_speed", "value": 3 })",
        R"(    "MODE": "1",)"};
    for (const std::string& line : expected) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
            << "no line\n"
            << line << "\nin\n"
            << qel::SerializeSetup(*setup);
    }
}

// A one-value change saved over the file changes the one line of that value, whether the value
// is a plain one, a scaled one or one that the unit scales read.
struct OneValueCase {
    const char* name;
    double base;
};

class OneValueChange : public ::testing::TestWithParam<OneValueCase> {};

TEST_P(OneValueChange, ChangesExactlyOneLineOfTheSavedFile) {
    const ModuleScales module;
    if (!module.Loaded()) {
        GTEST_SKIP() << "the module is not built: " << ::dlerror();
    }
    const fs::path source = fs::path(BREVAN_SOURCE_DIR) / "examples" / "reference-axis.json";
    const qel::SetupLoadResult loaded = qel::LoadSetupFile(source, module.Functions());
    ASSERT_NE(loaded.setup, nullptr) << Describe(loaded.problems);
    TempFolder folder;
    const fs::path target = folder.Path() / "axis.json";
    ASSERT_EQ(qel::SaveSetupFile(*loaded.setup, target), "");
    const std::vector<std::string> before = SplitLines(ReadFile(target));

    ASSERT_TRUE(loaded.setup->SetParameterValueInBaseUnit(GetParam().name, GetParam().base));
    ASSERT_EQ(qel::SaveSetupFile(*loaded.setup, target), "");

    const std::vector<std::string> after = SplitLines(ReadFile(target));
    ASSERT_EQ(after.size(), before.size());
    std::vector<std::string> changed;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i] != before[i]) {
            changed.push_back(after[i]);
        }
    }
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_NE(changed[0].find("\"name\": \"" + std::string(GetParam().name) + "\""),
              std::string::npos)
        << changed[0];
}

INSTANTIATE_TEST_SUITE_P(Values, OneValueChange,
                         ::testing::Values(OneValueCase{"Vdc", 36}, OneValueCase{"TestCurrent", 1},
                                           OneValueCase{"PB_S", 250}, OneValueCase{"SLPER", 12}));

// When a scale the file's values convert through needs a parameter the file lacks, that is the
// one problem reported, naming the parameter, not one problem per value it leaves unconvertible.
class MissingScaleInput : public ::testing::TestWithParam<const char*> {};

TEST_P(MissingScaleInput, IsReportedOnceAsTheCause) {
    const ModuleScales module;
    if (!module.Loaded()) {
        GTEST_SKIP() << "the module is not built: " << ::dlerror();
    }
    Json document =
        Json::parse(ReadFile(fs::path(BREVAN_SOURCE_DIR) / "examples" / "reference-axis.json"));
    Json& parameters = document["parameters"];
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (parameters[i]["name"] == GetParam()) {
            parameters.erase(i);
            break;
        }
    }

    const qel::SetupLoadResult result = qel::ParseSetup(document.dump(), module.Functions());

    EXPECT_TRUE(IsRefused(result));
    ASSERT_EQ(result.problems.size(), 1u) << Describe(result.problems);
    EXPECT_EQ(result.problems[0].place, "/parameters");
    EXPECT_NE(result.problems[0].message.find("the unit scales read the parameter " +
                                              std::string(GetParam()) + ", which the setup lacks"),
              std::string::npos)
        << result.problems[0].message;
}

INSTANTIATE_TEST_SUITE_P(Names, MissingScaleInput,
                         ::testing::Values("PWMPER", "DSP_freq", "ADCrange", "VdcMaxMeasurable",
                                           "Load_transmission", "No_encoder_lines"));

TEST(SaveSetupFile, WritesALoadableFileAndNoTemporaryOne) {
    const auto setup = LoadValid();
    TempFolder folder;
    const fs::path target = folder.Path() / "axis.json";
    for (const char* description : {"first save", "save over an existing file"}) {
        SCOPED_TRACE(description);
        ASSERT_EQ(qel::SaveSetupFile(*setup, target), "");
        const qel::SetupLoadResult loaded = qel::LoadSetupFile(target);
        ASSERT_NE(loaded.setup, nullptr) << Describe(loaded.problems);
        ExpectSameSetup(*setup, *loaded.setup);
        EXPECT_EQ(Snapshot(folder.Path()).size(), 1u);
    }
}

// A save killed at any moment leaves the old file or the new one whole; what a killed save left
// beside it is gone after the next save.
TEST(SaveSetupFile, AKilledSaveLeavesAWholeFileAndTheNextSaveNoTemporary) {
    const auto setup = LoadValid();
    TempFolder folder;
    const fs::path target = folder.Path() / "axis.json";
    const std::string first = qel::SerializeSetup(*setup);
    setup->SetDescription(std::string(4096, 'x'));
    const std::string second = qel::SerializeSetup(*setup);
    ASSERT_EQ(qel::WriteFileAtomically(target, first), "");

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delay_us(0, 2000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    constexpr int kMaxKills = 300;
    int kills = 0;
    while (kills < kMaxKills && std::chrono::steady_clock::now() < deadline) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                static_cast<void>(qel::WriteFileAtomically(target, i % 2 == 0 ? second : first));
            }
        }
        ::usleep(static_cast<useconds_t>(delay_us(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ++kills;
        const std::string now = ReadFile(target);
        ASSERT_TRUE(now == first || now == second) << "after kill " << kills << ":\n" << now;
    }

    ASSERT_EQ(qel::SaveSetupFile(*setup, target), "");
    EXPECT_EQ(Snapshot(folder.Path()).size(), 1u);
    EXPECT_EQ(ReadFile(target), second);
}

// A save removes only what earlier saves of the same file left behind: our name pattern, older
// than the save, held by no living writer.
TEST(SaveSetupFile, RemovesOnlyStaleTemporariesOfItsOwnTarget) {
    const auto setup = LoadValid();
    TempFolder folder;
    const fs::path target = folder.Path() / "axis.json";
    for (const char* name :
         {".axis.json.Ab3dE9", ".axis.json.zzzzzz", ".axis.json.held00", ".axis.json.keep-me",
          ".axis.json.Ab3dE", ".other.json.Ab3dE9", "axis.json.Ab3dE9", "notes.txt"}) {
        WriteFile(folder.Path() / name, "left");
    }
    // A save in progress elsewhere holds its temporary locked.
    const int held = ::open((folder.Path() / ".axis.json.held00").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_EQ(qel::SaveSetupFile(*setup, target), "");
    ::close(held);

    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".axis.json.Ab3dE", ".axis.json.held00",
                                              ".axis.json.keep-me", ".other.json.Ab3dE9",
                                              "axis.json", "axis.json.Ab3dE9", "notes.txt"}));
}

// Saving onto a symbolic link writes the file it points to and keeps the link.
struct LinkCase {
    const char* description;
    bool absolute;
    bool targetExists;
    friend std::ostream& operator<<(std::ostream& out, const LinkCase& row) {
        return out << row.description;
    }
};

class SaveThroughLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(SaveThroughLink, WritesTheLinkedFileAndKeepsTheLink) {
    const auto setup = LoadValid();
    TempFolder folder;
    fs::create_directory(folder.Path() / "store");
    const fs::path real = folder.Path() / "store" / "axis.json";
    if (GetParam().targetExists) {
        WriteFile(real, "old setup\n");
    }
    const fs::path link = folder.Path() / "current.json";
    fs::create_symlink(GetParam().absolute ? real : fs::path("store") / "axis.json", link);
    const fs::path chained = folder.Path() / "chained.json";
    fs::create_symlink("current.json", chained);

    ASSERT_EQ(qel::SaveSetupFile(*setup, chained), "");

    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(chained)));
    EXPECT_EQ(ReadFile(real), qel::SerializeSetup(*setup));
    EXPECT_EQ(Snapshot(folder.Path() / "store").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Links, SaveThroughLink,
                         ::testing::Values(LinkCase{"relative", false, true},
                                           LinkCase{"absolute", true, true},
                                           LinkCase{"dangling", false, false}));

TEST(SaveSetupFile, KeepsThePermissionsOfTheTarget) {
    const auto setup = LoadValid();
    TempFolder folder;
    const fs::path target = folder.Path() / "axis.json";
    for (const fs::perms mode : {fs::perms(0600), fs::perms(0640), fs::perms(0755)}) {
        WriteFile(target, "old");
        fs::permissions(target, mode);
        ASSERT_EQ(qel::SaveSetupFile(*setup, target), "");
        EXPECT_EQ(fs::status(target).permissions(), mode);
        EXPECT_NE(ReadFile(target), "old");
    }
}

enum class Obstacle { ParentIsAFile, MissingFolder, TargetIsAFolder };

class SaveFailure : public ::testing::TestWithParam<Obstacle> {};

TEST_P(SaveFailure, GivesAReasonAndChangesNothing) {
    const auto setup = LoadValid();
    TempFolder folder;
    WriteFile(folder.Path() / "notes.txt", "keep");
    fs::path target;
    switch (GetParam()) {
        case Obstacle::ParentIsAFile:
            target = folder.Path() / "notes.txt" / "axis.json";
            break;
        case Obstacle::MissingFolder:
            target = folder.Path() / "missing" / "axis.json";
            break;
        case Obstacle::TargetIsAFolder:
            target = folder.Path() / "axis.json";
            fs::create_directory(target);
            WriteFile(target / "inside", "keep too");
            break;
    }
    const auto before = Snapshot(folder.Path());

    EXPECT_NE(qel::SaveSetupFile(*setup, target), "");

    EXPECT_EQ(Snapshot(folder.Path()), before);
}

std::string ObstacleName(const ::testing::TestParamInfo<Obstacle>& row) {
    switch (row.param) {
        case Obstacle::ParentIsAFile:
            return "ParentIsAFile";
        case Obstacle::MissingFolder:
            return "MissingFolder";
        case Obstacle::TargetIsAFolder:
            break;
    }
    return "TargetIsAFolder";
}

INSTANTIATE_TEST_SUITE_P(Obstacles, SaveFailure,
                         ::testing::Values(Obstacle::ParentIsAFile, Obstacle::MissingFolder,
                                           Obstacle::TargetIsAFolder),
                         ObstacleName);

TEST(SaveSetupFile, AWriteThatFailsHalfwayLeavesTheOldFileWhole) {
    const auto setup = LoadValid();
    TempFolder folder;
    const fs::path target = folder.Path() / "axis.json";
    WriteFile(target, "old setup\n");
    const auto before = Snapshot(folder.Path());

    // A file-size limit below the document's size makes the write fail partway.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string error = qel::SaveSetupFile(*setup, target);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previousHandler);

    EXPECT_NE(error, "");
    EXPECT_EQ(Snapshot(folder.Path()), before);
}

TEST(SaveSetupFile, TextThatIsNotUtf8GivesAReasonInsteadOfAnException) {
    auto setup = LoadValid();
    setup->SetDescription(
        "Drive at 40 \xB0"
        "C");
    TempFolder folder;
    const fs::path target = folder.Path() / "axis.json";
    WriteFile(target, "old setup\n");
    std::string error;
    EXPECT_NO_THROW(error = qel::SaveSetupFile(*setup, target));
    if (!error.empty()) {
        EXPECT_EQ(ReadFile(target), "old setup\n");
    }
}

}  // namespace
