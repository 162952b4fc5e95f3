#include "host/kernel/SetupFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/kernel/AtomicFile.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/SetupConsistency.h"

namespace qel {
namespace {

using Json = nlohmann::ordered_json;

// Values beyond this are not all whole numbers a double holds exactly.
constexpr double kLargestExactInteger = 9007199254740992.0;  // 2^53
constexpr int kMaxPrecision = 17;
constexpr int kDefaultRealPrecision = 6;
// How deep a setup file nests its objects and arrays: the top level, "drive", "ioPorts", one
// port. A text nested far deeper is refused before it is parsed, since the parse of a deeply
// nested text may exhaust the stack.
constexpr int kSetupNesting = 4;
constexpr int kMaxSetupNesting = 16;

// A parameter or variable is placed by its name, "parameters[Ts_S]", and its members after a dot.
bool IsNamedPlace(std::string_view place) {
    return !place.empty() && place.back() == ']';
}

std::string NamedPlace(std::string_view array, std::string_view name) {
    return std::string(array) + "[" + std::string(name) + "]";
}

std::string JoinPointer(std::string_view base, std::string_view key) {
    if (IsNamedPlace(base)) {
        return std::string(base) + "." + std::string(key);
    }
    std::string pointer(base);
    pointer += '/';
    for (char c : key) {
        if (c == '~') {
            pointer += "~0";
        } else if (c == '/') {
            pointer += "~1";
        } else {
            pointer += c;
        }
    }
    return pointer;
}

std::string JoinPointer(std::string_view base, std::size_t index) {
    return std::string(base) + '/' + std::to_string(index);
}

std::string PlaceOrRoot(std::string_view pointer) {
    return pointer.empty() ? std::string("(top level)") : std::string(pointer);
}

// Walks the parsed document, converting what is well-formed and noting every problem.
class Reader {
  public:
    explicit Reader(std::vector<SetupFileProblem>& problems) : problems_(problems) {}

    void Problem(std::string_view place, std::string message) {
        problems_.push_back({PlaceOrRoot(place), std::move(message)});
    }

    bool ExpectObject(const Json& value, std::string_view place,
                      std::initializer_list<std::string_view> allowed) {
        if (!value.is_object()) {
            Problem(place, "expected an object");
            return false;
        }
        for (const auto& item : value.items()) {
            if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end()) {
                Problem(JoinPointer(place, item.key()), "unknown member");
            }
        }
        return true;
    }

    const Json* Member(const Json& object, std::string_view place, const char* key, bool required) {
        const auto found = object.find(key);
        if (found == object.end()) {
            if (required) {
                Problem(place, std::string("missing member \"") + key + "\"");
            }
            return nullptr;
        }
        return &*found;
    }

    std::optional<std::string> Text(const Json& object, std::string_view place, const char* key,
                                    bool required = true) {
        const Json* value = Member(object, place, key, required);
        if (value == nullptr) {
            return std::nullopt;
        }
        if (!value->is_string()) {
            Problem(JoinPointer(place, key), "expected a text");
            return std::nullopt;
        }
        return value->get<std::string>();
    }

    std::optional<double> Number(const Json& object, std::string_view place, const char* key,
                                 bool required = true) {
        const Json* value = Member(object, place, key, required);
        if (value == nullptr) {
            return std::nullopt;
        }
        if (!value->is_number()) {
            Problem(JoinPointer(place, key), "expected a number");
            return std::nullopt;
        }
        const double number = value->get<double>();
        if (!std::isfinite(number)) {
            Problem(JoinPointer(place, key), "the number is too large");
            return std::nullopt;
        }
        return number;
    }

    std::optional<std::int64_t> Integer(const Json& object, std::string_view place, const char* key,
                                        std::int64_t low, std::int64_t high, bool required = true) {
        const Json* value = Member(object, place, key, required);
        if (value == nullptr) {
            return std::nullopt;
        }
        if (!value->is_number_integer()) {
            Problem(JoinPointer(place, key), "expected a whole number");
            return std::nullopt;
        }
        // Unsigned numbers beyond the signed range are above every high end we use.
        const bool outside =
            value->is_number_unsigned()
                ? value->get<std::uint64_t>() > static_cast<std::uint64_t>(high) ||
                      static_cast<std::int64_t>(value->get<std::uint64_t>()) < low
                : value->get<std::int64_t>() < low || value->get<std::int64_t>() > high;
        if (outside) {
            Problem(JoinPointer(place, key), "expected a whole number from " + std::to_string(low) +
                                                 " to " + std::to_string(high));
            return std::nullopt;
        }
        return value->get<std::int64_t>();
    }

    std::optional<bool> Boolean(const Json& object, std::string_view place, const char* key) {
        const Json* value = Member(object, place, key, true);
        if (value == nullptr) {
            return std::nullopt;
        }
        if (!value->is_boolean()) {
            Problem(JoinPointer(place, key), "expected true or false");
            return std::nullopt;
        }
        return value->get<bool>();
    }

    const UnitFamily* Family(const Json& object, std::string_view place) {
        const std::optional<std::string> id = Text(object, place, "family");
        if (!id) {
            return nullptr;
        }
        const UnitFamily* family = FindUnitFamily(*id);
        if (family == nullptr) {
            Problem(JoinPointer(place, "family"), "unknown unit family \"" + *id + "\"");
        }
        return family;
    }

    // The selected unit, checked against the family; empty selects the base unit.
    std::optional<std::string> Unit(const Json& object, std::string_view place,
                                    const UnitFamily* family) {
        const Json* member = Member(object, place, "unit", false);
        if (member == nullptr) {
            return std::string();
        }
        std::optional<std::string> unit = Text(object, place, "unit");
        if (!unit || family == nullptr) {
            return std::nullopt;
        }
        if (!EqualsIgnoringCase(*unit, kInternalUnitName) && family->FindUnit(*unit) == nullptr) {
            Problem(JoinPointer(place, "unit"),
                    "unknown unit \"" + *unit + "\" for the family \"" + family->id + "\"");
            return std::nullopt;
        }
        return unit;
    }

  private:
    std::vector<SetupFileProblem>& problems_;
};

std::optional<Identity> ReadIdentity(Reader& reader, const Json& root) {
    const Json* object = reader.Member(root, "", "identity", true);
    const std::string place = "/identity";
    if (object == nullptr || !reader.ExpectObject(*object, place,
                                                  {"description", "productId", "firmwareId",
                                                   "e2romSizeWords", "userApplicationId"})) {
        return std::nullopt;
    }
    Identity identity;
    bool complete = true;
    auto take = [&complete](auto value, auto& target) {
        if (value) {
            target = *value;
        } else {
            complete = false;
        }
    };
    take(reader.Text(*object, place, "description"), identity.description);
    take(reader.Text(*object, place, "productId"), identity.productId);
    take(reader.Text(*object, place, "firmwareId"), identity.firmwareId);
    std::int64_t e2rom = 0;
    take(reader.Integer(*object, place, "e2romSizeWords", 0, 65535), e2rom);
    identity.e2romSizeWords = static_cast<std::uint16_t>(e2rom);
    take(reader.Text(*object, place, "userApplicationId"), identity.userApplicationId);
    if (complete && !IsValidFirmwareId(identity.firmwareId)) {
        reader.Problem(place + "/firmwareId",
                       "not a firmware identifier (1 to 16 letters, digits, '.', '-' or '_', "
                       "starting with a letter)");
        complete = false;
    }
    if (identity.userApplicationId.size() > kMaxUserApplicationIdLength) {
        reader.Problem(place + "/userApplicationId", "longer than 40 characters");
        complete = false;
    }
    return complete ? std::optional(identity) : std::nullopt;
}

struct DriveFacts {
    AdcFormat adc;
    std::vector<IoPort> ioPorts;
};

std::optional<DriveFacts> ReadDrive(Reader& reader, const Json& root) {
    const Json* object = reader.Member(root, "", "drive", true);
    const std::string place = "/drive";
    if (object == nullptr ||
        !reader.ExpectObject(*object, place, {"adcBits", "adcWordBits", "ioPorts"})) {
        return std::nullopt;
    }
    constexpr std::int64_t kMaxConverterBits = 32;
    const auto adcBits = reader.Integer(*object, place, "adcBits", 1, kMaxConverterBits);
    const auto wordBits = reader.Integer(*object, place, "adcWordBits", 1, kMaxConverterBits);
    bool complete = adcBits && wordBits;
    if (complete && *wordBits < *adcBits) {
        reader.Problem(place + "/adcWordBits", "narrower than the converter's resolution");
        complete = false;
    }
    DriveFacts facts;
    if (complete) {
        facts.adc = {static_cast<int>(*adcBits), static_cast<int>(*wordBits)};
    }
    const Json* ports = reader.Member(*object, place, "ioPorts", true);
    if (ports == nullptr) {
        return std::nullopt;
    }
    const std::string portsPlace = place + "/ioPorts";
    if (!ports->is_array()) {
        reader.Problem(portsPlace, "expected an array");
        return std::nullopt;
    }
    constexpr std::int64_t kMaxPinOrPort = 255;
    for (std::size_t i = 0; i < ports->size(); ++i) {
        const Json& entry = (*ports)[i];
        const std::string entryPlace = JoinPointer(portsPlace, i);
        if (!reader.ExpectObject(entry, entryPlace, {"pin", "port", "inverted", "brake"})) {
            complete = false;
            continue;
        }
        const auto pin = reader.Integer(entry, entryPlace, "pin", 0, kMaxPinOrPort);
        const auto port = reader.Integer(entry, entryPlace, "port", 0, kMaxPinOrPort);
        const auto inverted = reader.Boolean(entry, entryPlace, "inverted");
        const auto brake = reader.Boolean(entry, entryPlace, "brake");
        if (!pin || !port || !inverted || !brake) {
            complete = false;
            continue;
        }
        for (const IoPort& earlier : facts.ioPorts) {
            if (earlier.pin == *pin) {
                reader.Problem(entryPlace + "/pin",
                               "pin " + std::to_string(*pin) + " is listed twice");
                complete = false;
            }
            if (earlier.port == *port) {
                reader.Problem(entryPlace + "/port",
                               "port " + std::to_string(*port) + " is listed twice");
                complete = false;
            }
        }
        facts.ioPorts.push_back(
            {static_cast<int>(*pin), static_cast<int>(*port), *inverted, *brake});
    }
    return complete ? std::optional(facts) : std::nullopt;
}

std::optional<ParameterDefinition> ReadParameter(Reader& reader, const Json& entry,
                                                 const std::string& place) {
    if (!reader.ExpectObject(
            entry, place,
            {"name", "family", "unit", "kind", "type", "value", "min", "max", "precision"})) {
        return std::nullopt;
    }
    ParameterDefinition definition;
    bool complete = true;
    const auto name = reader.Text(entry, place, "name");
    if (name && name->empty()) {
        reader.Problem(JoinPointer(place, "name"), "empty name");
    }
    complete = name && !name->empty();
    definition.name = name.value_or("");
    definition.family = reader.Family(entry, place);
    const auto unit = reader.Unit(entry, place, definition.family);
    complete = complete && definition.family != nullptr && unit;
    definition.unit = unit.value_or("");

    const auto kind = reader.Text(entry, place, "kind");
    if (kind && *kind != "physical" && *kind != "scaled") {
        reader.Problem(JoinPointer(place, "kind"), "expected \"physical\" or \"scaled\"");
        complete = false;
    }
    definition.kind = kind == "scaled" ? ValueKind::Scaled : ValueKind::Physical;

    const auto type = reader.Text(entry, place, "type");
    if (type && *type != "real" && *type != "integer" && *type != "text") {
        reader.Problem(JoinPointer(place, "type"), "expected \"real\", \"integer\" or \"text\"");
        complete = false;
    }
    complete = complete && kind && type;
    definition.type = type == "integer" ? ValueType::Integer
                      : type == "text"  ? ValueType::Text
                                        : ValueType::Real;

    if (definition.type == ValueType::Text) {
        const auto text = reader.Text(entry, place, "value");
        complete = complete && text;
        definition.text = text.value_or("");
        definition.precision = 0;
        for (const char* numericOnly : {"min", "max"}) {
            if (entry.contains(numericOnly)) {
                reader.Problem(JoinPointer(place, numericOnly), "a text parameter has no range");
                complete = false;
            }
        }
    } else {
        const auto value = reader.Number(entry, place, "value");
        const auto min = reader.Number(entry, place, "min");
        const auto max = reader.Number(entry, place, "max");
        complete = complete && value && min && max;
        if (min && max && *min > *max) {
            reader.Problem(JoinPointer(place, "min"), "the minimum exceeds the maximum");
            complete = false;
        }
        if (value && definition.type == ValueType::Integer && *value != std::round(*value)) {
            reader.Problem(JoinPointer(place, "value"),
                           "an integer parameter holds a whole number");
            complete = false;
        }
        definition.value = value.value_or(0.0);
        definition.min = min.value_or(0.0);
        definition.max = max.value_or(0.0);
        definition.precision = definition.type == ValueType::Integer ? 0 : kDefaultRealPrecision;
    }
    if (entry.contains("precision")) {
        const auto precision = reader.Integer(entry, place, "precision", 0, kMaxPrecision);
        complete = complete && precision;
        definition.precision = static_cast<int>(precision.value_or(0));
    }
    return complete ? std::optional(definition) : std::nullopt;
}

// An entry of the parameters or variables is placed by its name when it has one that no earlier
// entry took, else by its index.
template <typename Taken>
std::string EntryPlace(std::string_view array, const Json& entry, std::size_t index, Taken taken) {
    if (entry.is_object()) {
        const auto name = entry.find("name");
        if (name != entry.end() && name->is_string() && !name->get<std::string>().empty() &&
            !taken(name->get<std::string>())) {
            return NamedPlace(array, name->get<std::string>());
        }
    }
    return JoinPointer("/" + std::string(array), index);
}

void ReadParameters(Reader& reader, const Json& root, CQel_Setup& setup,
                    std::vector<std::string>& places) {
    const Json* array = reader.Member(root, "", "parameters", true);
    if (array == nullptr) {
        return;
    }
    if (!array->is_array()) {
        reader.Problem("/parameters", "expected an array");
        return;
    }
    for (std::size_t i = 0; i < array->size(); ++i) {
        const std::string place = EntryPlace("parameters", (*array)[i], i, [&setup](auto name) {
            return setup.FindParameter(name) != nullptr;
        });
        const auto definition = ReadParameter(reader, (*array)[i], place);
        if (!definition) {
            continue;
        }
        if (setup.FindParameter(definition->name) != nullptr) {
            reader.Problem(
                JoinPointer(place, "name"),
                "the name \"" + definition->name + "\" is already used (names ignore letter case)");
            continue;
        }
        setup.AddParameter(*definition);
        places.push_back(place);
    }
}

void ReadVariables(Reader& reader, const Json& root, CQel_Setup& setup) {
    const Json* array = reader.Member(root, "", "variables", false);
    if (array == nullptr) {
        return;
    }
    if (!array->is_array()) {
        reader.Problem("/variables", "expected an array");
        return;
    }
    for (std::size_t i = 0; i < array->size(); ++i) {
        const Json& entry = (*array)[i];
        const std::string place = EntryPlace("variables", entry, i, [&setup](auto name) {
            return setup.FindVariable(name, 0) != nullptr;
        });
        if (!reader.ExpectObject(entry, place, {"name", "family", "unit", "value"})) {
            continue;
        }
        const auto name = reader.Text(entry, place, "name");
        const UnitFamily* family = reader.Family(entry, place);
        const auto unit = reader.Unit(entry, place, family);
        const auto value = reader.Number(entry, place, "value");
        if (!name || family == nullptr || !unit || !value) {
            continue;
        }
        if (name->empty() || setup.FindVariable(*name, 0) != nullptr) {
            reader.Problem(JoinPointer(place, "name"),
                           name->empty() ? std::string("empty name")
                                         : "the name \"" + *name + "\" is already used");
            continue;
        }
        CQel_Variable* variable = setup.AddVariable(*name, *family, *value);
        if (!unit->empty()) {
            variable->ChangeUnit(*unit);
        }
    }
}

void ReadOptions(Reader& reader, const Json& root, CQel_Setup& setup) {
    const Json* object = reader.Member(root, "", "options", false);
    if (object == nullptr) {
        return;
    }
    if (!object->is_object()) {
        reader.Problem("/options", "expected an object");
        return;
    }
    for (const auto& item : object->items()) {
        const std::string place = JoinPointer("/options", item.key());
        if (!item.value().is_string()) {
            reader.Problem(place, "expected a text");
        } else if (setup.FindOption(item.key())) {
            reader.Problem(place, "the option is already set (names ignore letter case)");
        } else {
            setup.SetOption(item.key(), item.value().get<std::string>());
        }
    }
}

// Scaled values can only be checked once the whole setup is there, since their scales read the
// registers. A value the scales cannot convert makes the file unusable: when the scales lack a
// parameter, that is said once as the cause. A value outside its range is brought to the nearer
// end with a warning: its range or its scale may follow from other values of the file that
// changed since it was stored.
void CheckRanges(Reader& reader, CQel_Setup& setup, const std::vector<std::string>& places,
                 std::vector<SetupFileProblem>& warnings) {
    const UnconvertibleValues unconvertible = FindUnconvertibleValues(setup);
    if (!unconvertible.Empty()) {
        if (unconvertible.missingNames.empty()) {
            for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
                const std::string& name = setup.GetParameterAt(i).GetName();
                if (std::find(unconvertible.parameters.begin(), unconvertible.parameters.end(),
                              name) != unconvertible.parameters.end()) {
                    reader.Problem(JoinPointer(places[i], "value"),
                                   "the value cannot be converted to its base unit (its unit "
                                   "scale is not a finite number)");
                }
            }
        } else {
            reader.Problem("/parameters", DescribeUnconvertible(unconvertible));
        }
        return;
    }
    for (const RangeCorrection& correction : BringValuesIntoRange(setup)) {
        std::size_t index = 0;
        while (setup.GetParameterAt(index).GetName() != correction.name) {
            ++index;
        }
        const SetupFileProblem warning{JoinPointer(places[index], "value"),
                                       DescribeCorrection(correction)};
        warnings.push_back(warning);
        ReportError(warning.place + ": " + warning.message);
    }
}

// The JSON library's messages start with its own code and the place ("[json.exception...]
// parse error at line 1, column 5: "), which our place already says.
std::string WithoutLibraryPrefix(const std::string& message) {
    const auto column = message.find("column ");
    const auto colon = message.find(": ", column == std::string::npos ? 0 : column);
    return colon == std::string::npos ? message : message.substr(colon + 2);
}

// A number in its shortest exact form; whole numbers without a fraction.
std::string NumberText(double value) {
    if (value == std::round(value) && std::fabs(value) < kLargestExactInteger) {
        return std::to_string(static_cast<std::int64_t>(value));
    }
    return ShortNumber(value);
}

// A JSON text literal; throws Json::type_error for a text that is not UTF-8.
std::string Quoted(const std::string& text) {
    return Json(text).dump();
}

const char* KindName(ValueKind kind) {
    return kind == ValueKind::Scaled ? "scaled" : "physical";
}

const char* TypeName(ValueType type) {
    switch (type) {
        case ValueType::Integer:
            return "integer";
        case ValueType::Text:
            return "text";
        case ValueType::Real:
            break;
    }
    return "real";
}

int DefaultPrecision(ValueType type) {
    return type == ValueType::Real ? kDefaultRealPrecision : 0;
}

// The members of one line, "{ "a": 1, "b": 2 }", in the order given.
class Line {
  public:
    Line& Member(std::string_view name, const std::string& jsonValue) {
        text_ += text_.empty() ? "{ " : ", ";
        text_ += "\"" + std::string(name) + "\": " + jsonValue;
        return *this;
    }
    Line& Text(std::string_view name, const std::string& value) {
        return Member(name, Quoted(value));
    }
    Line& Number(std::string_view name, double value) { return Member(name, NumberText(value)); }
    std::string Close() const { return text_ + " }"; }

  private:
    std::string text_;
};

// The display unit, only when another than the base unit is selected.
void AddUnit(Line& line, const Quantity& quantity) {
    const std::string unit = quantity.GetUnitName();
    if (unit != quantity.GetBaseUnitName()) {
        line.Text("unit", unit);
    }
}

std::string ParameterLine(const CQel_Parameter& parameter) {
    Line line;
    line.Text("name", parameter.GetName()).Text("family", parameter.GetUnitFamily().id);
    AddUnit(line, parameter);
    line.Text("kind", KindName(parameter.GetKind()))
        .Text("type", TypeName(parameter.GetValueType()));
    if (parameter.GetValueType() == ValueType::Text) {
        line.Text("value", parameter.GetText());
    } else {
        line.Number("value", parameter.GetValueInInternalUnit())
            .Number("min", parameter.GetMinInBaseUnit())
            .Number("max", parameter.GetMaxInBaseUnit());
    }
    if (parameter.GetPrecision() != DefaultPrecision(parameter.GetValueType())) {
        line.Member("precision", std::to_string(parameter.GetPrecision()));
    }
    return line.Close();
}

std::string VariableLine(const CQel_Variable& variable) {
    Line line;
    line.Text("name", variable.GetName()).Text("family", variable.GetUnitFamily().id);
    AddUnit(line, variable);
    return line.Number("value", variable.GetValueInInternalUnit()).Close();
}

// "[" then one entry a line at the indent, then "]"; "[]" when there are none.
std::string Lines(const std::vector<std::string>& entries, const std::string& indent,
                  const char* open, const char* close) {
    if (entries.empty()) {
        return std::string(open) + close;
    }
    std::string text = std::string(open) + "\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        text += indent + "  " + entries[i] + (i + 1 < entries.size() ? ",\n" : "\n");
    }
    return text + indent + close;
}

// One member named twice in one object of a text the parser has taken: where the second stands
// and what it repeats. The parser keeps the last silently, so a second "options" would drop every
// option of the first.
struct DuplicateMember {
    std::size_t offset;       // of the second name's opening quote
    std::size_t firstOffset;  // of the first
    std::string pointer;      // the member, as a JSON pointer
};

std::vector<DuplicateMember> FindDuplicateMembers(std::string_view text) {
    struct Frame {
        bool object = false;
        bool expectingName = false;
        std::string pointer;
        std::size_t index = 0;  // of the current element of an array
        std::string lastName;
        std::vector<std::pair<std::string, std::size_t>> names;  // with their offsets
    };
    std::vector<DuplicateMember> duplicates;
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            const std::size_t start = i;
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\') {
                    ++i;
                }
            }
            if (frames.empty() || !frames.back().object || !frames.back().expectingName) {
                continue;
            }
            Frame& frame = frames.back();
            frame.expectingName = false;
            // The name as the parser reads it, escapes decoded: "\u0041" and "A" are one name.
            std::string name;
            try {
                name = Json::parse(text.substr(start, i + 1 - start)).get<std::string>();
            } catch (const Json::exception&) {
                name = std::string(text.substr(start + 1, i - start - 1));
            }
            const auto earlier =
                std::find_if(frame.names.begin(), frame.names.end(),
                             [&name](const auto& entry) { return entry.first == name; });
            if (earlier != frame.names.end()) {
                duplicates.push_back({start, earlier->second, JoinPointer(frame.pointer, name)});
            } else {
                frame.names.emplace_back(name, start);
            }
            frame.lastName = std::move(name);
        } else if (c == '{' || c == '[') {
            std::string pointer;
            if (!frames.empty()) {
                pointer = frames.back().object
                              ? JoinPointer(frames.back().pointer, frames.back().lastName)
                              : JoinPointer(frames.back().pointer, frames.back().index);
            }
            Frame frame;
            frame.object = c == '{';
            frame.expectingName = frame.object;
            frame.pointer = std::move(pointer);
            frames.push_back(std::move(frame));
        } else if (c == '}' || c == ']') {
            if (!frames.empty()) {
                frames.pop_back();
            }
        } else if (c == ',' && !frames.empty()) {
            if (frames.back().object) {
                frames.back().expectingName = true;
            } else {
                ++frames.back().index;
            }
        }
    }
    return duplicates;
}

}  // namespace

SetupLoadResult ParseSetup(std::string_view text, const ScaleFunctions& scales) {
    SetupLoadResult result;
    Reader reader(result.problems);
    if (const auto tooDeep = FindNestingDeeperThan(text, kMaxSetupNesting)) {
        reader.Problem(LineAndColumn(text, *tooDeep),
                       "nested more than " + std::to_string(kMaxSetupNesting) +
                           " levels deep; a setup file needs " + std::to_string(kSetupNesting));
        return result;
    }
    Json root;
    try {
        root = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& error) {
        reader.Problem(LineAndColumn(text, error.byte == 0 ? 0 : error.byte - 1),
                       "not valid JSON: " + WithoutLibraryPrefix(error.what()));
        return result;
    } catch (const Json::out_of_range& error) {
        // A number beyond what a double holds: the library names the number but not its place.
        const std::string message = error.what();
        const auto quote = message.find('\'');
        const std::string number =
            quote == std::string::npos
                ? std::string()
                : message.substr(quote + 1, message.find('\'', quote + 1) - quote - 1);
        const auto offset = number.empty() ? std::string_view::npos : text.find(number);
        reader.Problem(offset == std::string_view::npos ? std::string("(top level)")
                                                        : LineAndColumn(text, offset),
                       "the number " + number + " is too large");
        return result;
    }
    if (const std::vector<DuplicateMember> duplicates = FindDuplicateMembers(text);
        !duplicates.empty()) {
        for (const DuplicateMember& duplicate : duplicates) {
            reader.Problem(LineAndColumn(text, duplicate.offset),
                           "the member " + duplicate.pointer + " is given twice (first at " +
                               LineAndColumn(text, duplicate.firstOffset) + ")");
        }
        return result;
    }
    if (!reader.ExpectObject(
            root, "", {"format", "identity", "drive", "parameters", "variables", "options"})) {
        return result;
    }
    if (const auto format =
            reader.Integer(root, "", "format", 0, std::numeric_limits<std::int32_t>::max());
        format && *format != kSetupFormatVersion) {
        reader.Problem("/format", "format " + std::to_string(*format) +
                                      " is not supported; this program reads format " +
                                      std::to_string(kSetupFormatVersion));
        return result;
    }
    const auto identity = ReadIdentity(reader, root);
    const auto drive = ReadDrive(reader, root);
    auto setup = std::make_unique<CQel_Setup>();
    setup->SetScaleFunctions(scales);
    std::vector<std::string> places;
    const int showErrors = std::exchange(g_bShowErrors, 0);
    ReadParameters(reader, root, *setup, places);
    ReadVariables(reader, root, *setup);
    ReadOptions(reader, root, *setup);
    if (identity) {
        setup->SetDescription(identity->description);
        setup->SetProductID(identity->productId);
        setup->SetFirmwareID(identity->firmwareId);
        setup->SetE2ROMSize(identity->e2romSizeWords);
        setup->SetUserAppID(identity->userApplicationId);
    }
    if (drive) {
        setup->SetAdcFormat(drive->adc);
        setup->SetIoPorts(drive->ioPorts);
    }
    if (result.problems.empty()) {
        CheckRanges(reader, *setup, places, result.warnings);
    }
    g_bShowErrors = showErrors;
    if (result.problems.empty()) {
        result.setup = std::move(setup);
    }
    return result;
}

SetupLoadResult LoadSetupFile(const std::filesystem::path& path, const ScaleFunctions& scales) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        SetupLoadResult result;
        result.problems.push_back(
            {"(file)", std::string("cannot be read: ") + std::strerror(errno)});
        return result;
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        SetupLoadResult result;
        result.problems.push_back({"(file)", "reading failed"});
        return result;
    }
    return ParseSetup(content.str(), scales);
}

std::string SerializeSetup(const CQel_Setup& setup) {
    const Identity& identity = setup.GetIdentity();
    std::string text = "{\n  \"format\": " + std::to_string(kSetupFormatVersion) + ",\n";
    text += "  \"identity\": " +
            Lines({"\"description\": " + Quoted(identity.description),
                   "\"productId\": " + Quoted(identity.productId),
                   "\"firmwareId\": " + Quoted(identity.firmwareId),
                   "\"e2romSizeWords\": " + std::to_string(identity.e2romSizeWords),
                   "\"userApplicationId\": " + Quoted(identity.userApplicationId)},
                  "  ", "{", "}") +
            ",\n";
    std::vector<std::string> ports;
    for (const IoPort& port : setup.GetIoPorts()) {
        ports.push_back(Line()
                            .Number("pin", port.pin)
                            .Number("port", port.port)
                            .Member("inverted", port.inverted ? "true" : "false")
                            .Member("brake", port.brake ? "true" : "false")
                            .Close());
    }
    text += "  \"drive\": " +
            Lines({"\"adcBits\": " + std::to_string(setup.GetAdcFormat().adcBits),
                   "\"adcWordBits\": " + std::to_string(setup.GetAdcFormat().adcWordBits),
                   "\"ioPorts\": " + Lines(ports, "    ", "[", "]")},
                  "  ", "{", "}") +
            ",\n";
    std::vector<std::string> parameters;
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        parameters.push_back(ParameterLine(setup.GetParameterAt(i)));
    }
    text += "  \"parameters\": " + Lines(parameters, "  ", "[", "]") + ",\n";
    std::vector<std::string> variables;
    for (std::size_t i = 0; i < setup.GetVariableCount(); ++i) {
        variables.push_back(VariableLine(setup.GetVariableAt(i)));
    }
    text += "  \"variables\": " + Lines(variables, "  ", "[", "]") + ",\n";
    std::vector<std::string> options;
    for (const auto& [name, value] : setup.GetOptions()) {
        options.push_back(Quoted(name) + ": " + Quoted(value));
    }
    return text + "  \"options\": " + Lines(options, "  ", "{", "}") + "\n}\n";
}

namespace {

// Why the setup cannot be saved as it is, or nothing: a file the program writes always loads.
std::string UnsavableBecause(const CQel_Setup& setup) {
    if (const UnconvertibleValues unconvertible = FindUnconvertibleValues(setup);
        !unconvertible.Empty()) {
        return DescribeUnconvertible(unconvertible);
    }
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        const CQel_Parameter& parameter = setup.GetParameterAt(i);
        if (parameter.GetValueType() != ValueType::Text &&
            parameter.GetMinInBaseUnit() > parameter.GetMaxInBaseUnit()) {
            return "the range of " + parameter.GetName() + " is the wrong way round (from " +
                   ShortNumber(parameter.GetMinInBaseUnit()) + " to " +
                   ShortNumber(parameter.GetMaxInBaseUnit()) + ")";
        }
    }
    for (std::size_t i = 0; i < setup.GetVariableCount(); ++i) {
        if (!std::isfinite(setup.GetVariableAt(i).GetValueInInternalUnit())) {
            return "the variable " + setup.GetVariableAt(i).GetName() + " holds no finite value";
        }
    }
    return {};
}

}  // namespace

std::string SaveSetupFile(const CQel_Setup& setup, const std::filesystem::path& path) {
    if (const std::string reason = UnsavableBecause(setup); !reason.empty()) {
        return "the setup was not saved: " + reason;
    }
    CQel_Setup saved(setup);
    for (const RangeCorrection& correction : BringValuesIntoRange(saved)) {
        ReportError("saving " + path.string() + ": " + correction.name + ": " +
                    DescribeCorrection(correction));
    }
    std::string text;
    try {
        text = SerializeSetup(saved);
    } catch (const Json::type_error& error) {
        // Texts set through the kernel's interface (not from a file) may be in another encoding.
        return "the setup was not saved: a text in it is not UTF-8 (" +
               WithoutLibraryPrefix(error.what()) + ")";
    }
    return qel::WriteFileAtomically(path, text);
}

std::string LineAndColumn(std::string_view text, std::size_t byteOffset) {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < byteOffset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::optional<std::size_t> FindNestingDeeperThan(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;  // the escaped character, a quote among them, ends nothing
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > maxDepth) {
                return i;
            }
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return std::nullopt;
}

std::string DescribeProblems(const std::filesystem::path& path,
                             const std::vector<SetupFileProblem>& problems) {
    std::string description;
    for (const SetupFileProblem& problem : problems) {
        description += path.string() + ": " + problem.place + ": " + problem.message + "\n";
    }
    return description;
}

}  // namespace qel
