#include "host/ui/DialogTemplate.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

#include "host/ui/Backend.h"

namespace ui {
namespace {

using Json = nlohmann::json;

// The id several static texts may share: they are never addressed by id.
constexpr int kSharedStaticId = -1;

constexpr std::array<std::pair<ControlKind, std::string_view>, 16> kKindNames{{
    {ControlKind::Static, "static"},
    {ControlKind::Edit, "edit"},
    {ControlKind::Button, "button"},
    {ControlKind::Check, "check"},
    {ControlKind::Radio, "radio"},
    {ControlKind::Combo, "combo"},
    {ControlKind::Unit, "unit"},
    {ControlKind::List, "list"},
    {ControlKind::Group, "group"},
    {ControlKind::Picture, "picture"},
    {ControlKind::Slider, "slider"},
    {ControlKind::Spin, "spin"},
    {ControlKind::Tab, "tab"},
    {ControlKind::BarGraph, "bargraph"},
    {ControlKind::Diagram, "diagram"},
    {ControlKind::Graph, "graph"},
}};

const std::set<std::string, std::less<>> kDialogMembers{"id", "caption", "width", "height",
                                                        "controls"};
const std::set<std::string, std::less<>> kControlMembers{
    "id",        "kind",       "caption", "x",       "y",
    "w",         "h",          "visible", "enabled", "readOnly",
    "multiline", "groupStart", "default", "bitmap",  "sharesPlaceWith"};

std::filesystem::path& ResourceDirectorySetting() {
    static std::filesystem::path directory;
    return directory;
}

// A fault found while reading a template; carries the text for the user.
struct TemplateFault {
    std::string text;
};

[[noreturn]] void Fault(std::string text) {
    throw TemplateFault{std::move(text)};
}

int ReadInt(const Json& object, std::string_view member, std::string_view where) {
    const auto found = object.find(member);
    if (found == object.end()) {
        Fault(std::string(where) + ": \"" + std::string(member) + "\" is missing");
    }
    if (!found->is_number_integer()) {
        Fault(std::string(where) + ": \"" + std::string(member) + "\" must be a whole number");
    }
    const auto value = found->get<std::int64_t>();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        Fault(std::string(where) + ": \"" + std::string(member) + "\" is out of range");
    }
    return static_cast<int>(value);
}

bool ReadBool(const Json& object, std::string_view member, bool fallback, std::string_view where) {
    const auto found = object.find(member);
    if (found == object.end()) {
        return fallback;
    }
    if (!found->is_boolean()) {
        Fault(std::string(where) + ": \"" + std::string(member) + "\" must be true or false");
    }
    return found->get<bool>();
}

std::string ReadText(const Json& object, std::string_view member, std::string_view where) {
    const auto found = object.find(member);
    if (found == object.end()) {
        return {};
    }
    if (!found->is_string()) {
        Fault(std::string(where) + ": \"" + std::string(member) + "\" must be a text");
    }
    return found->get<std::string>();
}

void RefuseUnknownMembers(const Json& object, const std::set<std::string, std::less<>>& known,
                          std::string_view where) {
    for (const auto& [member, value] : object.items()) {
        if (!known.contains(member)) {
            Fault(std::string(where) + ": unknown member \"" + member + "\"");
        }
    }
}

ControlTemplate ReadControl(const Json& item, std::size_t index) {
    const std::string where = "control " + std::to_string(index + 1);
    if (!item.is_object()) {
        Fault(where + " is not an object");
    }
    RefuseUnknownMembers(item, kControlMembers, where);
    ControlTemplate control;
    control.id = ReadInt(item, "id", where);
    const std::string idWhere = "control " + std::to_string(control.id);
    const std::string kindName = ReadText(item, "kind", idWhere);
    const std::optional<ControlKind> kind = ParseControlKind(kindName);
    if (!kind) {
        Fault(idWhere + ": unknown kind \"" + kindName + "\"");
    }
    control.kind = *kind;
    control.caption = ReadText(item, "caption", idWhere);
    control.rect = {ReadInt(item, "x", idWhere), ReadInt(item, "y", idWhere),
                    ReadInt(item, "w", idWhere), ReadInt(item, "h", idWhere)};
    if (control.rect.w < 0 || control.rect.h < 0) {
        Fault(idWhere + ": negative size");
    }
    control.visible = ReadBool(item, "visible", true, idWhere);
    control.enabled = ReadBool(item, "enabled", true, idWhere);
    control.readOnly = ReadBool(item, "readOnly", false, idWhere);
    control.multiline = ReadBool(item, "multiline", false, idWhere);
    if ((control.readOnly || control.multiline) && control.kind != ControlKind::Edit) {
        Fault(idWhere + ": \"readOnly\" and \"multiline\" apply to edit boxes only");
    }
    control.groupStart = ReadBool(item, "groupStart", false, idWhere);
    control.isDefault = ReadBool(item, "default", false, idWhere);
    control.bitmap = ReadText(item, "bitmap", idWhere);
    if (const auto shares = item.find("sharesPlaceWith"); shares != item.end()) {
        if (!shares->is_array()) {
            Fault(idWhere + ": \"sharesPlaceWith\" must be a list of control ids");
        }
        for (const Json& other : *shares) {
            if (!other.is_number_integer()) {
                Fault(idWhere + ": \"sharesPlaceWith\" must be a list of control ids");
            }
            control.sharesPlaceWith.push_back(other.get<int>());
        }
    }
    return control;
}

DialogTemplate ReadDialog(const Json& root) {
    if (!root.is_object()) {
        Fault("the template is not a JSON object");
    }
    RefuseUnknownMembers(root, kDialogMembers, "dialog");
    DialogTemplate dialog;
    dialog.id = ReadInt(root, "id", "dialog");
    if (!root.contains("caption")) {
        Fault("dialog: \"caption\" is missing");
    }
    dialog.caption = ReadText(root, "caption", "dialog");
    dialog.width = ReadInt(root, "width", "dialog");
    dialog.height = ReadInt(root, "height", "dialog");
    if (dialog.width <= 0 || dialog.height <= 0) {
        Fault("dialog: \"width\" and \"height\" must be positive");
    }
    const auto controls = root.find("controls");
    if (controls == root.end() || !controls->is_array()) {
        Fault("dialog: \"controls\" must be a list");
    }
    std::set<int> ids;
    for (std::size_t i = 0; i < controls->size(); ++i) {
        ControlTemplate control = ReadControl((*controls)[i], i);
        if (control.id != kSharedStaticId && !ids.insert(control.id).second) {
            Fault("control " + std::to_string(control.id) + " appears twice");
        }
        dialog.controls.push_back(std::move(control));
    }
    for (const ControlTemplate& control : dialog.controls) {
        for (int other : control.sharesPlaceWith) {
            if (!ids.contains(other)) {
                Fault("control " + std::to_string(control.id) + " shares its place with " +
                      std::to_string(other) + ", which is not in the template");
            }
        }
    }
    return dialog;
}

std::optional<std::string> ReadFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << stream.rdbuf();
    if (stream.bad()) {
        return std::nullopt;
    }
    return content.str();
}

// The resource file's parsed JSON, or null (with the problem reported) when it cannot be used.
std::optional<Json> ReadResourceJson(const std::string& fileName) {
    const std::filesystem::path path = GetResourceDirectory() / fileName;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return std::nullopt;
    }
    const std::optional<std::string> text = ReadFile(path);
    if (!text) {
        CurrentBackend().ReportProblem("Cannot read " + path.string() + ".");
        return std::nullopt;
    }
    Json parsed = Json::parse(*text, nullptr, false);
    if (parsed.is_discarded()) {
        CurrentBackend().ReportProblem(path.string() + " is not valid JSON.");
        return std::nullopt;
    }
    return parsed;
}

// The file of the template: <id>.json or <id>-<name>.json in the dialogs folder.
std::optional<std::filesystem::path> FindTemplateFile(int templateId, std::string& problem) {
    const std::filesystem::path folder = GetResourceDirectory() / "dialogs";
    const std::string number = std::to_string(templateId);
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) {
        problem = "the folder " + folder.string() + " cannot be read (" + error.message() + ")";
        return std::nullopt;
    }
    std::vector<std::filesystem::path> matches;
    for (const auto& entry : entries) {
        const std::filesystem::path& path = entry.path();
        const std::string stem = path.stem().string();
        if (path.extension() == ".json" && (stem == number || stem.starts_with(number + "-"))) {
            matches.push_back(path);
        }
    }
    if (matches.empty()) {
        problem = "there is no template " + number + " in " + folder.string();
        return std::nullopt;
    }
    if (matches.size() > 1) {
        std::sort(matches.begin(), matches.end());
        problem = "template " + number + " is in more than one file (" +
                  matches[0].filename().string() + ", " + matches[1].filename().string() + ")";
        return std::nullopt;
    }
    return matches.front();
}

}  // namespace

std::string_view ControlKindName(ControlKind kind) {
    for (const auto& [known, name] : kKindNames) {
        if (known == kind) {
            return name;
        }
    }
    return {};
}

std::optional<ControlKind> ParseControlKind(std::string_view name) {
    for (const auto& [kind, known] : kKindNames) {
        if (known == name) {
            return kind;
        }
    }
    return std::nullopt;
}

void SetResourceDirectory(std::filesystem::path directory) {
    ResourceDirectorySetting() = std::move(directory);
}

std::filesystem::path GetResourceDirectory() {
    if (!ResourceDirectorySetting().empty()) {
        return ResourceDirectorySetting();
    }
    const char* fromEnvironment = std::getenv("BREVAN_RESOURCE_DIR");
    return fromEnvironment != nullptr ? std::filesystem::path(fromEnvironment)
                                      : std::filesystem::path();
}

TemplateLoad ParseDialogTemplate(std::string_view jsonText, std::string_view fileName) {
    TemplateLoad load;
    const Json root = Json::parse(jsonText, nullptr, false);
    if (root.is_discarded()) {
        load.problem = std::string(fileName) + " is not valid JSON";
        return load;
    }
    try {
        load.dialogTemplate = ReadDialog(root);
    } catch (const TemplateFault& fault) {
        load.problem = std::string(fileName) + ": " + fault.text;
    } catch (const Json::exception& error) {
        load.problem = std::string(fileName) + ": " + error.what();
    }
    return load;
}

TemplateLoad LoadDialogTemplate(int templateId) {
    TemplateLoad load;
    if (GetResourceDirectory().empty()) {
        load.problem = "no resource directory is set";
        return load;
    }
    const std::optional<std::filesystem::path> path = FindTemplateFile(templateId, load.problem);
    if (!path) {
        return load;
    }
    const std::optional<std::string> text = ReadFile(*path);
    if (!text) {
        load.problem = "cannot read " + path->string();
        return load;
    }
    load = ParseDialogTemplate(*text, path->string());
    if (load.dialogTemplate && load.dialogTemplate->id != templateId) {
        load.problem = path->string() + ": the file holds template " +
                       std::to_string(load.dialogTemplate->id) + ", not " +
                       std::to_string(templateId);
        load.dialogTemplate.reset();
    }
    return load;
}

std::string LoadResourceString(int stringId) {
    const std::optional<Json> table = ReadResourceJson("strings.json");
    if (!table || !table->is_object() || !table->contains("strings") ||
        !(*table)["strings"].is_array()) {
        return {};
    }
    for (const Json& entry : (*table)["strings"]) {
        if (entry.is_object() && entry.value("id", 0) == stringId && entry.contains("text") &&
            entry["text"].is_string()) {
            return entry["text"].get<std::string>();
        }
    }
    return {};
}

std::vector<std::string> LoadGuidelineTexts(int templateId) {
    std::vector<std::string> texts;
    const std::optional<Json> table = ReadResourceJson("strings.json");
    if (!table || !table->is_object() || !table->contains("guidelines") ||
        !(*table)["guidelines"].is_array()) {
        return texts;
    }
    for (const Json& entry : (*table)["guidelines"]) {
        if (!entry.is_object() || entry.value("dialog", 0) != templateId ||
            !entry.contains("steps") || !entry["steps"].is_array()) {
            continue;
        }
        for (const Json& step : entry["steps"]) {
            if (step.is_string()) {
                texts.push_back(step.get<std::string>());
            }
        }
    }
    return texts;
}

std::optional<Bitmap> LoadBitmapResource(std::string_view name) {
    if (name.empty()) {
        CurrentBackend().ReportProblem("A bitmap without a name was asked for.");
        return std::nullopt;
    }
    const std::optional<Json> catalogue = ReadResourceJson("bitmaps.json");
    if (!catalogue) {
        return Bitmap{std::string(name)};
    }
    if (catalogue->is_object() && catalogue->contains("bitmaps") &&
        (*catalogue)["bitmaps"].is_array()) {
        for (const Json& entry : (*catalogue)["bitmaps"]) {
            if (entry.is_object() && entry.contains("name") && entry["name"].is_string() &&
                entry["name"].get<std::string>() == name) {
                return Bitmap{std::string(name)};
            }
        }
    }
    CurrentBackend().ReportProblem("The bitmap \"" + std::string(name) +
                                   "\" is not among the resources' bitmaps.");
    return std::nullopt;
}

std::optional<Bitmap> LoadBitmapResource(int bitmapId) {
    return LoadBitmapResource(std::to_string(bitmapId));
}

}  // namespace ui
