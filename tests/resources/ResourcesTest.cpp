// Checks the module's resources: every dialog template against the template format and the
// layout rules a desktop backend relies on, every control the dialogs' code addresses by id or
// caption, the string table and the list of bitmaps.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// A horizontal dialog unit is a quarter of the average character width.
constexpr int kAverageCharWidth_du = 4;
// A vertical dialog unit is an eighth of the character height: one text line.
constexpr int kLineHeight_du = 8;
// Check box or radio button square plus the gap before its text.
constexpr int kCheckMarkWidth_du = 12;
// Frame and inner margin of a push button around its text.
constexpr int kButtonPadding_du = 8;
// A group box's caption is inset from the frame's left corner and padded on both sides.
constexpr int kGroupCaptionInset_du = 8;
// The band at the top of a group box taken by its caption.
constexpr int kGroupCaptionBand_du = 8;
// A closed drop-down shows only its selection field; the rest of `h` is its open list.
constexpr int kClosedDropDownHeight_du = 14;
// Id shared by static texts that the code never addresses.
constexpr int kUnaddressedStaticId = -1;
constexpr int kOkId = 1;
constexpr int kCancelId = 2;
constexpr int kHelpId = 10024;

constexpr int kDriveSetup = 106;
constexpr int kMotorSetup = 108;
constexpr int kAdvanced = 110;
constexpr int kExternalReference = 111;
constexpr int kFilters = 295;
constexpr int kDriveInfo = 3018;
constexpr int kInertiaQuestion = 3056;
constexpr int kVdcDetection = 105;
constexpr int kResistanceInductance = 290;
constexpr int kPolePairsDetection = 289;
constexpr int kPhaseConnections = 288;
constexpr int kAnalogueReference = 104;
constexpr int kTotalInertia = 3041;
constexpr int kEncoderOffset = 3058;
constexpr int kEncoderResolution = 292;
constexpr int kEncoderConnections = 291;
constexpr int kAngleController = 3057;
constexpr int kCurrentController = 101;
constexpr int kSpeedController = 102;
constexpr int kPositionController = 103;
constexpr int kStartId = 10000;

const std::filesystem::path kResourceDir = std::filesystem::path(BREVAN_SOURCE_DIR) / "resources";

const std::set<std::string> kKinds = {"static", "edit",     "button",  "check",   "radio",  "combo",
                                      "unit",   "list",     "group",   "picture", "slider", "spin",
                                      "tab",    "bargraph", "diagram", "graph"};

struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    int Right() const { return x + w; }
    int Bottom() const { return y + h; }
};

bool Intersect(const Rect& a, const Rect& b) {
    return a.x < b.Right() && b.x < a.Right() && a.y < b.Bottom() && b.y < a.Bottom();
}

struct Control {
    int id = 0;
    std::string kind;
    std::optional<std::string> caption;
    Rect rect;  // as laid out, a drop-down closed
    int height_du = 0;
    bool visible = true;
    bool enabled = true;
    bool readOnly = false;
    bool multiline = false;
    bool groupStart = false;
    bool isDefault = false;
    std::optional<std::string> bitmap;
    std::vector<int> sharesPlaceWith;

    bool IsDropDown() const { return kind == "combo" || kind == "unit"; }
    bool Shares(int otherId) const {
        return std::ranges::find(sharesPlaceWith, otherId) != sharesPlaceWith.end();
    }
    std::string Name() const {
        return kind + " " + std::to_string(id) + (caption ? " \"" + *caption + "\"" : "");
    }
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    int width = 0;
    int height = 0;
    std::vector<Control> controls;

    const Control* Find(int controlId) const {
        auto it = std::ranges::find(controls, controlId, &Control::id);
        return it == controls.end() ? nullptr : &*it;
    }
};

json ReadJson(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) {
        ADD_FAILURE() << "cannot open " << path;
        return json();
    }
    try {
        return json::parse(in);
    } catch (const json::parse_error& error) {
        ADD_FAILURE() << path << ": " << error.what();
        return json();
    }
}

// Everything the format forbids, one text per problem.
std::vector<std::string> FormatProblems(const json& doc) {
    std::vector<std::string> problems;
    if (!doc.is_object()) {
        return {"the template is not an object"};
    }
    const std::set<std::string> dialogMembers = {"id", "caption", "width", "height", "controls"};
    for (const auto& [key, value] : doc.items()) {
        if (!dialogMembers.contains(key)) {
            problems.push_back("unknown dialog member " + key);
        }
    }
    if (!doc.contains("id") || !doc["id"].is_number_integer()) {
        problems.push_back("dialog id missing or not an integer");
    }
    if (!doc.contains("caption") || !doc["caption"].is_string()) {
        problems.push_back("dialog caption missing or not a text");
    }
    for (const char* size : {"width", "height"}) {
        if (!doc.contains(size) || !doc[size].is_number_integer() || doc[size].get<int>() <= 0) {
            problems.push_back(std::string("dialog ") + size + " missing or not positive");
        }
    }
    if (!doc.contains("controls") || !doc["controls"].is_array()) {
        problems.push_back("controls missing or not a list");
        return problems;
    }
    const std::set<std::string> boolMembers = {"visible",   "enabled",    "readOnly",
                                               "multiline", "groupStart", "default"};
    for (std::size_t index = 0; index < doc["controls"].size(); ++index) {
        const json& c = doc["controls"][index];
        const std::string where = "control #" + std::to_string(index) +
                                  (c.contains("id") ? " (id " + c["id"].dump() + ")" : "");
        if (!c.is_object()) {
            problems.push_back(where + " is not an object");
            continue;
        }
        for (const auto& [key, value] : c.items()) {
            const bool known = key == "id" || key == "kind" || key == "caption" || key == "x" ||
                               key == "y" || key == "w" || key == "h" || key == "bitmap" ||
                               key == "sharesPlaceWith" || boolMembers.contains(key);
            if (!known) {
                problems.push_back(where + ": unknown member " + key);
            } else if (boolMembers.contains(key) && !value.is_boolean()) {
                problems.push_back(where + ": " + key + " is not true or false");
            }
        }
        const std::string kind =
            c.value("kind", json()).is_string() ? c["kind"].get<std::string>() : std::string();
        if (!kKinds.contains(kind)) {
            problems.push_back(where + ": unknown kind " + c.value("kind", json()).dump());
        }
        if (!c.contains("id") || !c["id"].is_number_integer()) {
            problems.push_back(where + ": id missing or not an integer");
        } else {
            const int id = c["id"].get<int>();
            if (id <= 0 && !(id == kUnaddressedStaticId && kind == "static")) {
                problems.push_back(where + ": id must be positive (-1 only for static texts)");
            }
        }
        for (const char* coordinate : {"x", "y"}) {
            if (!c.contains(coordinate) || !c[coordinate].is_number_integer() ||
                c[coordinate].get<int>() < 0) {
                problems.push_back(where + ": " + coordinate + " missing or negative");
            }
        }
        for (const char* size : {"w", "h"}) {
            if (!c.contains(size) || !c[size].is_number_integer() || c[size].get<int>() <= 0) {
                problems.push_back(where + ": " + size + " missing or not positive");
            }
        }
        if (c.contains("caption")) {
            if (!c["caption"].is_string()) {
                problems.push_back(where + ": caption is not a text");
            } else {
                const std::string caption = c["caption"].get<std::string>();
                int mnemonics = 0;
                for (std::size_t i = 0; i < caption.size(); ++i) {
                    if (caption[i] != '&') {
                        continue;
                    }
                    if (i + 1 < caption.size() && caption[i + 1] == '&') {
                        ++i;
                    } else if (i + 1 == caption.size() || caption[i + 1] == ' ') {
                        problems.push_back(where + ": \"&\" marks no letter");
                    } else {
                        ++mnemonics;
                    }
                }
                if (mnemonics > 1) {
                    problems.push_back(where + ": more than one mnemonic letter");
                }
            }
        }
        if ((c.contains("readOnly") || c.contains("multiline")) && kind != "edit") {
            problems.push_back(where + ": readOnly and multiline belong to edit boxes");
        }
        if (c.contains("default") && kind != "button") {
            problems.push_back(where + ": only a push button can be the default");
        }
        if (c.contains("bitmap") && (kind != "picture" || !c["bitmap"].is_string())) {
            problems.push_back(where + ": bitmap is a text and belongs to pictures");
        }
        if (c.contains("sharesPlaceWith")) {
            const json& shares = c["sharesPlaceWith"];
            if (!shares.is_array() ||
                !std::ranges::all_of(shares, [](const json& v) { return v.is_number_integer(); })) {
                problems.push_back(where + ": sharesPlaceWith is not a list of ids");
            }
        }
        if ((kind == "combo" || kind == "unit") && c.value("h", json()).is_number_integer() &&
            c["h"].get<int>() < kClosedDropDownHeight_du + 2 * kLineHeight_du) {
            problems.push_back(where + ": the height of a drop-down leaves no room for its list");
        }
    }
    return problems;
}

// Reads a template that FormatProblems accepted.
DialogTemplate ToTemplate(const json& doc) {
    DialogTemplate dialog;
    dialog.id = doc.at("id").get<int>();
    dialog.caption = doc.at("caption").get<std::string>();
    dialog.width = doc.at("width").get<int>();
    dialog.height = doc.at("height").get<int>();
    for (const json& c : doc.at("controls")) {
        Control control;
        control.id = c.at("id").get<int>();
        control.kind = c.at("kind").get<std::string>();
        if (c.contains("caption")) {
            control.caption = c["caption"].get<std::string>();
        }
        control.height_du = c.at("h").get<int>();
        control.rect = {c.at("x").get<int>(), c.at("y").get<int>(), c.at("w").get<int>(),
                        control.height_du};
        if (control.IsDropDown()) {
            control.rect.h = std::min(control.rect.h, kClosedDropDownHeight_du);
        }
        control.visible = c.value("visible", true);
        control.enabled = c.value("enabled", true);
        control.readOnly = c.value("readOnly", false);
        control.multiline = c.value("multiline", false);
        control.groupStart = c.value("groupStart", false);
        control.isDefault = c.value("default", false);
        if (c.contains("bitmap")) {
            control.bitmap = c["bitmap"].get<std::string>();
        }
        control.sharesPlaceWith = c.value("sharesPlaceWith", std::vector<int>());
        dialog.controls.push_back(control);
    }
    return dialog;
}

struct DialogCase {
    int id;
    const char* fileName;
    const char* caption;
    bool hasHelp;
    bool hasCancel;
    // Setup dialogs close with OK and Cancel; a test dialog's default is Start, and it closes with
    // Close.
    int defaultId = kOkId;
    const char* cancelCaption = "Cancel";
};

void PrintTo(const DialogCase& dialog, std::ostream* os) {
    *os << "dialog " << dialog.id;
}

const DialogCase kDialogs[] = {
    {kDriveSetup, "106-drive-setup.json", "Drive Setup", true, true},
    {kMotorSetup, "108-motor-setup.json", "Brushless Motor Setup", true, true},
    {kAdvanced, "110-advanced.json", "Advanced", true, true},
    {kExternalReference, "111-external-reference-setup.json", "External Reference Setup", true,
     true},
    {kFilters, "295-filters.json", "Filters", false, true},
    {kDriveInfo, "3018-drive-info.json", "Drive info", false, true},
    {kInertiaQuestion, "3056-motor-inertia.json", "Motor inertia", false, false},
    {kVdcDetection, "105-vdc-detection-test.json", "VDC Detection Test", true, true, kStartId,
     "Close"},
    {kResistanceInductance, "290-resistance-inductance-test.json",
     "Total Resistance and Inductance Identification Test", true, true, kStartId, "Close"},
    {kPolePairsDetection, "289-pole-pairs-detection-test.json", "Motor Pole Pairs Detection Test",
     true, true, kStartId, "Close"},
    {kPhaseConnections, "288-phase-connection-test.json", "Motor Phase Connection Test", true, true,
     kStartId, "Close"},
    {kAnalogueReference, "104-analogue-reference-test.json", "Analogue Reference Test", true, true,
     kStartId, "Close"},
    {kTotalInertia, "3041-total-inertia-test.json", "Total inertia test", true, true, kStartId,
     "Close"},
    {kEncoderOffset, "3058-encoder-offset-test.json", "Detect Offset Test", true, true, kStartId,
     "Close"},
    {kEncoderResolution, "292-encoder-resolution-test.json",
     "Encoder Resolution And Direction Test", true, true, kStartId, "Close"},
    {kEncoderConnections, "291-encoder-connections-test.json", "Encoder Connections Test", true,
     true, kStartId, "Close"},
    {kAngleController, "3057-angle-controller-test.json", "Electric Angle Controller Tuning Test",
     true, true, kStartId, "Cancel"},
    {kCurrentController, "101-current-controller-test.json", "Current Controller Tuning Test", true,
     true, kStartId, "Cancel"},
    {kSpeedController, "102-speed-controller-test.json", "Speed Controller Tuning Test", true, true,
     kStartId, "Cancel"},
    {kPositionController, "103-position-controller-test.json", "Position Controller Tuning Test",
     true, true, kStartId, "Cancel"},
};

const json& DialogJson(int dialogId) {
    static const std::map<int, json> docs = [] {
        std::map<int, json> loaded;
        for (const DialogCase& dialog : kDialogs) {
            loaded[dialog.id] = ReadJson(kResourceDir / "dialogs" / dialog.fileName);
        }
        return loaded;
    }();
    return docs.at(dialogId);
}

// The template, or nothing (with a failure) when its format is broken.
std::optional<DialogTemplate> LoadDialog(int dialogId) {
    const json& doc = DialogJson(dialogId);
    const std::vector<std::string> problems = FormatProblems(doc);
    if (!problems.empty()) {
        ADD_FAILURE() << "dialog " << dialogId << " has a broken format: " << problems.front();
        return std::nullopt;
    }
    return ToTemplate(doc);
}

// Lines a caption takes when wrapped into `width_du`, at the average character width;
// "&&" shows one ampersand and a single "&" none.
int WrappedLines(const std::string& caption, int width_du) {
    std::vector<int> words(1, 0);
    for (std::size_t i = 0; i < caption.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(caption[i]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // continuation byte of a UTF-8 character
        }
        if (caption[i] == '&' && !(i + 1 < caption.size() && caption[i + 1] == '&')) {
            continue;
        }
        if (caption[i] == '&') {
            ++i;
        }
        if (caption[i] == ' ') {
            words.push_back(0);
        } else {
            words.back() += kAverageCharWidth_du;
        }
    }
    int lines = 1;
    int used_du = 0;
    for (const int word_du : words) {
        const int needed_du = used_du == 0 ? word_du : used_du + kAverageCharWidth_du + word_du;
        if (needed_du <= width_du || used_du == 0) {
            used_du = needed_du;
            if (used_du > width_du) {
                return std::numeric_limits<int>::max();  // one word wider than the control
            }
        } else {
            ++lines;
            used_du = word_du;
        }
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Structure of every template

class DialogTemplateTest : public ::testing::TestWithParam<DialogCase> {};

TEST_P(DialogTemplateTest, FollowsTheTemplateFormat) {
    const std::vector<std::string> problems = FormatProblems(DialogJson(GetParam().id));
    std::ostringstream all;
    for (const std::string& problem : problems) {
        all << "\n  " << problem;
    }
    EXPECT_TRUE(problems.empty()) << GetParam().fileName << all.str();
}

TEST_P(DialogTemplateTest, CarriesItsIdAndCaption) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->id, GetParam().id);
    EXPECT_EQ(dialog->caption, GetParam().caption);
}

TEST_P(DialogTemplateTest, IdsAreUniqueExceptUnaddressedStaticTexts) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    std::set<int> seen;
    for (const Control& control : dialog->controls) {
        if (control.id == kUnaddressedStaticId) {
            continue;
        }
        EXPECT_TRUE(seen.insert(control.id).second) << "id " << control.id << " used twice";
    }
}

TEST_P(DialogTemplateTest, ControlsLieInsideTheDialog) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    for (const Control& control : dialog->controls) {
        EXPECT_LE(control.rect.Right(), dialog->width) << control.Name();
        EXPECT_LE(control.rect.Bottom(), dialog->height) << control.Name();
    }
}

TEST_P(DialogTemplateTest, ControlsTouchingAGroupBoxLieWithinItsFrame) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    for (const Control& group : dialog->controls) {
        if (group.kind != "group") {
            continue;
        }
        const Rect& box = group.rect;
        for (const Control& control : dialog->controls) {
            if (&control == &group || !Intersect(control.rect, box)) {
                continue;
            }
            const Rect& r = control.rect;
            const bool within = r.x > box.x && r.Right() < box.Right() &&
                                r.y >= box.y + kGroupCaptionBand_du && r.Bottom() < box.Bottom();
            EXPECT_TRUE(within) << control.Name() << " crosses the frame or caption of "
                                << group.Name();
        }
    }
}

TEST_P(DialogTemplateTest, ControlsOverlapOnlyWhereTheyShareAPlace) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    const auto& controls = dialog->controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const Control& a = controls[i];
            const Control& b = controls[j];
            if (a.kind == "group" || b.kind == "group" || !Intersect(a.rect, b.rect)) {
                continue;
            }
            EXPECT_TRUE(a.Shares(b.id) && b.Shares(a.id)) << a.Name() << " overlaps " << b.Name();
        }
    }
}

TEST_P(DialogTemplateTest, PlaceSharingIsMutualAndShowsOneControlAtStart) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    for (const Control& control : dialog->controls) {
        int visibleSharers = control.visible ? 1 : 0;
        for (const int otherId : control.sharesPlaceWith) {
            const Control* other = dialog->Find(otherId);
            ASSERT_NE(other, nullptr) << control.Name() << " shares with missing id " << otherId;
            EXPECT_TRUE(other->Shares(control.id)) << other->Name() << " does not share back";
            EXPECT_TRUE(Intersect(control.rect, other->rect))
                << control.Name() << " and " << other->Name() << " do not stand together";
            visibleSharers += other->visible ? 1 : 0;
        }
        EXPECT_LE(visibleSharers, 1) << control.Name() << " starts visible with a sharer";
    }
}

TEST_P(DialogTemplateTest, RadioButtonsFormRunsOfConsecutiveIds) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    const auto& controls = dialog->controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const Control& control = controls[i];
        const bool afterRadio = i > 0 && controls[i - 1].kind == "radio";
        if (control.kind != "radio") {
            EXPECT_TRUE(!afterRadio || control.groupStart)
                << control.Name() << " follows a radio run without starting a group";
            continue;
        }
        if (!afterRadio) {
            EXPECT_TRUE(control.groupStart) << control.Name() << " starts a run without groupStart";
        } else if (!control.groupStart) {
            EXPECT_EQ(control.id, controls[i - 1].id + 1)
                << control.Name() << " does not follow " << controls[i - 1].Name();
        }
    }
}

TEST_P(DialogTemplateTest, CaptionsFitTheirControls) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    for (const Control& control : dialog->controls) {
        if (!control.caption) {
            continue;
        }
        int room_du = control.rect.w;
        int lines = 1;
        if (control.kind == "check" || control.kind == "radio") {
            room_du -= kCheckMarkWidth_du;
        } else if (control.kind == "button") {
            room_du -= kButtonPadding_du;
        } else if (control.kind == "group") {
            room_du -= 2 * kGroupCaptionInset_du;
        } else if (control.kind == "static") {
            lines = std::max(1, control.rect.h / kLineHeight_du);
        } else {
            continue;
        }
        EXPECT_LE(WrappedLines(*control.caption, room_du), lines)
            << control.Name() << " does not fit in " << control.rect.w << " x " << control.rect.h;
    }
}

TEST_P(DialogTemplateTest, HasItsDefaultAndItsCancelAndHelpButtons) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    const Control* byDefault = dialog->Find(GetParam().defaultId);
    ASSERT_NE(byDefault, nullptr);
    EXPECT_EQ(byDefault->kind, "button");
    EXPECT_TRUE(byDefault->isDefault);
    EXPECT_EQ(std::ranges::count_if(dialog->controls, &Control::isDefault), 1);
    const Control* cancel = dialog->Find(kCancelId);
    EXPECT_EQ(cancel != nullptr, GetParam().hasCancel);
    if (cancel != nullptr) {
        EXPECT_EQ(cancel->kind, "button");
        EXPECT_EQ(cancel->caption, GetParam().cancelCaption);
    }
    const Control* help = dialog->Find(kHelpId);
    EXPECT_EQ(help != nullptr, GetParam().hasHelp);
    if (help != nullptr) {
        EXPECT_EQ(help->kind, "button");
        EXPECT_EQ(help->caption, "Help");
    }
}

std::set<std::string> BitmapNames() {
    std::set<std::string> names;
    const json doc = ReadJson(kResourceDir / "bitmaps.json");
    for (const json& bitmap : doc.value("bitmaps", json::array())) {
        names.insert(bitmap.value("name", std::string()));
    }
    return names;
}

TEST_P(DialogTemplateTest, PicturesShowListedBitmaps) {
    const auto dialog = LoadDialog(GetParam().id);
    ASSERT_TRUE(dialog);
    const std::set<std::string> names = BitmapNames();
    for (const Control& control : dialog->controls) {
        if (control.bitmap) {
            EXPECT_TRUE(names.contains(*control.bitmap))
                << control.Name() << " shows unlisted bitmap " << *control.bitmap;
        }
    }
}

std::string DialogName(const ::testing::TestParamInfo<DialogCase>& info) {
    return "Dialog" + std::to_string(info.param.id);
}

INSTANTIATE_TEST_SUITE_P(AllDialogs, DialogTemplateTest, ::testing::ValuesIn(kDialogs), DialogName);

TEST(DialogFiles, HoldExactlyOneTemplatePerDialog) {
    std::set<std::string> expected;
    for (const DialogCase& dialog : kDialogs) {
        expected.insert(dialog.fileName);
    }
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(kResourceDir / "dialogs")) {
        found.insert(entry.path().filename().string());
    }
    EXPECT_EQ(found, expected);
}

// ---------------------------------------------------------------------------------------------
// Controls the dialogs' code addresses

struct ExpectedControl {
    int dialog;
    int id;
    const char* kind;
    const char* caption;  // nullptr: the code sets the caption, or the control has none
};

void PrintTo(const ExpectedControl& expected, std::ostream* os) {
    *os << "dialog " << expected.dialog << " " << expected.kind << " " << expected.id;
}

// Controls bound to parameters are not listed: the dialog base reports a binding to a missing
// control or one of the wrong kind, and the dialog tests fail on any report.
const ExpectedControl kExpectedControls[] = {
    // Drive Setup: choices
    {kDriveSetup, 1059, "radio", "Position"},
    {kDriveSetup, 1060, "radio", "Speed"},
    {kDriveSetup, 1061, "radio", "Torque"},
    {kDriveSetup, 1063, "radio", "No"},
    {kDriveSetup, 1064, "radio", "Yes"},
    {kDriveSetup, 3405, "radio", "Source(NPN)"},
    {kDriveSetup, 3406, "radio", "Sink (PNP)"},
    {kDriveSetup, 1096, "radio", "Move till aligned with phase A"},
    {kDriveSetup, 1097, "radio", "Motionless start"},
    {kDriveSetup, 3116, "check", "Automatically activated after Power On"},
    {kDriveSetup, 3213, "check", "Over current"},
    {kDriveSetup, 3230, "check", "Control error"},
    {kDriveSetup, 3231, "check", "Control error"},
    {kDriveSetup, 3232, "check", "Motor over temperature"},
    {kDriveSetup, 3233, "check", "I2t"},
    {kDriveSetup, 3243, "check", "Connected"},
    {kDriveSetup, 3338, "check", "Restrict movement between:"},
    {kDriveSetup, 3136, "combo", nullptr},
    {kDriveSetup, 10021, "combo", nullptr},
    // Drive Setup: buttons
    {kDriveSetup, 3171, "button", "Detect"},
    {kDriveSetup, 3137, "button", "Tune && Test"},
    {kDriveSetup, 3178, "button", "Tune && Test"},
    {kDriveSetup, 3198, "button", "Tune && Test"},
    {kDriveSetup, 3263, "button", "Tune && Test"},
    {kDriveSetup, 3208, "button", "Setup"},
    {kDriveSetup, 3158, "button", "Advanced"},
    {kDriveSetup, 3159, "button", "Drive Info"},
    {kDriveSetup, 10019, "button", "Motor setup"},
    {kDriveSetup, 10022, "button", "CANopen settings..."},
    {kDriveSetup, 10005, "button", "Previous"},
    {kDriveSetup, 10006, "button", "Next"},
    {kDriveSetup, 10007, "edit", nullptr},
    {kDriveSetup, kOkId, "button", "OK"},
    {kDriveSetup, kCancelId, "button", "Cancel"},
    {kDriveSetup, kHelpId, "button", "Help"},
    // Drive Setup: captions the rules enable, show or rewrite
    {kDriveSetup, 3318, "static", nullptr},
    {kDriveSetup, 3262, "static", "Analogue"},
    {kDriveSetup, 3403, "static", nullptr},
    {kDriveSetup, 3404, "static", nullptr},
    {kDriveSetup, 3248, "static", "Enable"},
    {kDriveSetup, 3234, "static", "Motor current >"},
    {kDriveSetup, 3235, "static", "for more than"},
    {kDriveSetup, 3236, "static", "Position error >"},
    {kDriveSetup, 3237, "static", "for more than"},
    {kDriveSetup, 3238, "static", "Speed error >"},
    {kDriveSetup, 3239, "static", "for more than"},
    {kDriveSetup, 3240, "static", "Over current"},
    {kDriveSetup, 3241, "static", "for"},
    {kDriveSetup, 3246, "static", "Activate if power supply >"},
    {kDriveSetup, 3273, "static", "Negative Limit"},
    {kDriveSetup, 3270, "static", "Positive Limit"},
    {kDriveSetup, 3256, "static", "Current used (% of nominal current)"},
    {kDriveSetup, 3259, "static", "Time to align on phases"},
    {kDriveSetup, 3184, "static", "Kp"},
    {kDriveSetup, 3185, "static", "Ki"},
    {kDriveSetup, 3186, "static", "Integral limit"},
    {kDriveSetup, 3187, "static", "Feedforward"},
    {kDriveSetup, 3188, "static", "(Acceleration)"},
    {kDriveSetup, 3394, "static", "(Speed)"},
    {kDriveSetup, 3199, "static", "Kp"},
    {kDriveSetup, 3200, "static", "Ki"},
    {kDriveSetup, 3201, "static", "Kd"},
    {kDriveSetup, 3202, "static", "Kd filter"},
    {kDriveSetup, 3203, "static", "Integral limit"},
    {kDriveSetup, 3204, "static", "Feedforward"},
    {kDriveSetup, 3206, "static", "(Acceleration)"},
    {kDriveSetup, 3205, "static", "(Speed)"},
    {kDriveSetup, 1101, "static", "Load speed limit"},
    {kDriveSetup, 10023, "static", nullptr},
    {kDriveSetup, 3349, "static", nullptr},
    {kDriveSetup, 3177, "group", "Speed Controller"},
    {kDriveSetup, 3189, "group", "Position Controller"},
    {kDriveSetup, 3255, "group", "Start mode"},
    {kDriveSetup, 3276, "group", nullptr},

    // Motor Setup
    {kMotorSetup, 1178, "check", "Motor inertia is unknown"},
    {kMotorSetup, 1183, "check", "Temperature"},
    {kMotorSetup, 3355, "check", "EnDAT encoder interface"},
    {kMotorSetup, 3342, "check", "Reverse counting"},
    {kMotorSetup, 3358, "check", "Reverse encoder counting"},
    {kMotorSetup, 3380, "check", "Motor brake on output line :"},
    {kMotorSetup, 3360, "check", "Filter encoder inputs to"},
    {kMotorSetup, 1195, "radio", "Star"},
    {kMotorSetup, 1196, "radio", "Delta"},
    {kMotorSetup, 1185, "radio", "NTC"},
    {kMotorSetup, 1186, "radio", "PTC"},
    {kMotorSetup, 1203, "radio", "Single turn"},
    {kMotorSetup, 1204, "radio", "Multi turn"},
    {kMotorSetup, 1193, "radio", "Rotary to rotary"},
    {kMotorSetup, 1194, "radio", "Rotary to linear"},
    {kMotorSetup, 1175, "button", "Test Phase Connections"},
    {kMotorSetup, 1176, "button", "Detect Number of Pole Pairs"},
    {kMotorSetup, 1177, "button", "Identify Resistance and Inductance"},
    {kMotorSetup, 1187, "button", "Test Connections"},
    {kMotorSetup, 1189, "button", "Detect resolution"},
    {kMotorSetup, 3345, "button", "Detect offset"},
    {kMotorSetup, 3408, "button", nullptr},
    {kMotorSetup, 10005, "button", "Previous"},
    {kMotorSetup, 10006, "button", "Next"},
    {kMotorSetup, 10007, "edit", nullptr},
    {kMotorSetup, 10008, "group", "Database"},
    {kMotorSetup, 10010, "combo", nullptr},
    {kMotorSetup, 10009, "group", "Motor"},
    {kMotorSetup, 10011, "combo", nullptr},
    {kMotorSetup, 10012, "button", "Save to User Database"},
    {kMotorSetup, 10013, "button", "Delete"},
    {kMotorSetup, kOkId, "button", "OK"},
    {kMotorSetup, kCancelId, "button", "Cancel"},
    {kMotorSetup, kHelpId, "button", "Help"},
    {kMotorSetup, 3267, "static", "Motor inertia"},
    {kMotorSetup, 1184, "static", "Sensor type"},
    {kMotorSetup, 3347, "static", "resolution"},
    {kMotorSetup, 3356, "static", "Frequency"},
    {kMotorSetup, 3357, "static", "resolution"},
    {kMotorSetup, 3270, "static", "(only for single-ended encoders)"},
    {kMotorSetup, 3272, "static", "of maximum bandwidth"},
    {kMotorSetup, 3385, "static", nullptr},
    {kMotorSetup, 3387, "static", "Brake release delay :"},
    {kMotorSetup, 3388, "static", "Brake apply delay :"},
    {kMotorSetup, 3379, "group", nullptr},
    {kMotorSetup, 3386, "picture", nullptr},

    // Advanced
    {kAdvanced, 3344, "radio", "Close only position and current loop"},
    {kAdvanced, 3345, "radio", "Close position, speed and current loop"},
    {kAdvanced, 1146, "radio", "slow loop"},
    {kAdvanced, 1147, "radio", "fast loop"},
    {kAdvanced, 3374, "radio", "speed loop"},
    {kAdvanced, 3375, "radio", "current loop"},
    {kAdvanced, 3340, "check", "Enable high resolution speed estimator"},
    {kAdvanced, 3396, "check", "Set freeze control parameters"},
    {kAdvanced, 1131, "static", "Fast loop sampling frequency divider"},
    {kAdvanced, 1134, "static", "Slow loop sampling frequency divider"},
    {kAdvanced, 1140, "static", "Fast loop sampling period"},
    {kAdvanced, 1143, "static", "Slow loop sampling period"},
    {kAdvanced, 1148, "static", "OUTSIDE LIMITS ->"},
    {kAdvanced, 1149, "static", "OUTSIDE LIMITS ->"},
    {kAdvanced, 3347, "static", "Execute position and/or speed control in"},
    {kAdvanced, 3376, "static", "Apply speed feedforward to"},
    {kAdvanced, 3397, "static", "Position accepted error band"},
    {kAdvanced, 3398, "static", "Trigger time"},
    {kAdvanced, 3280, "picture", nullptr},
    {kAdvanced, 3355, "group", nullptr},
    {kAdvanced, 3395, "group", nullptr},
    {kAdvanced, kOkId, "button", "OK"},
    {kAdvanced, kCancelId, "button", "Cancel"},
    {kAdvanced, kHelpId, "button", "Help"},

    // External Reference Setup
    {kExternalReference, 1001, "check", "Use a filter for the analogue reference input"},
    {kExternalReference, 3289, "radio", "Digital"},
    {kExternalReference, 3290, "radio", "Analogue"},
    {kExternalReference, 3291, "radio", "Pulse && Direction"},
    {kExternalReference, 3292, "radio", "Incremental Encoder"},
    {kExternalReference, 1007, "static", nullptr},
    {kExternalReference, 1009, "static", nullptr},
    {kExternalReference, 1011, "static", "DeadBand Point"},
    {kExternalReference, 1013, "static", "DeadBand Range +/-"},
    {kExternalReference, 1002, "static", "Filter bandwidth"},
    {kExternalReference, 3294, "static", "with gear ratio"},
    {kExternalReference, 3297, "static", "Slave"},
    {kExternalReference, 3298, "static", "(your motor)"},
    {kExternalReference, 3299, "static", "Master"},
    {kExternalReference, 3300, "static", "(reference)"},
    {kExternalReference, 3328, "static", nullptr},
    {kExternalReference, 3327, "static", nullptr},
    {kExternalReference, 1014, "picture", nullptr},
    {kExternalReference, 1000, "button", "&Test"},
    {kExternalReference, kOkId, "button", "OK"},
    {kExternalReference, kCancelId, "button", "Cancel"},
    {kExternalReference, kHelpId, "button", "Help"},

    // Filters: one column of controls per filter
    {kFilters, 3484, "group", nullptr},
    {kFilters, 3492, "group", nullptr},
    {kFilters, 3517, "group", nullptr},
    {kFilters, 3485, "check", nullptr},
    {kFilters, 3493, "check", nullptr},
    {kFilters, 3518, "check", nullptr},
    {kFilters, 3503, "static", "Location"},
    {kFilters, 3501, "static", "Location"},
    {kFilters, 3527, "static", "Location"},
    {kFilters, 3502, "combo", nullptr},
    {kFilters, 3500, "combo", nullptr},
    {kFilters, 3526, "combo", nullptr},
    {kFilters, 3486, "static", "Type"},
    {kFilters, 3494, "static", "Type"},
    {kFilters, 3520, "static", "Type"},
    {kFilters, 3487, "combo", nullptr},
    {kFilters, 3495, "combo", nullptr},
    {kFilters, 3519, "combo", nullptr},
    {kFilters, 3488, "static", nullptr},
    {kFilters, 3496, "static", nullptr},
    {kFilters, 3521, "static", nullptr},
    {kFilters, 3489, "edit", nullptr},
    {kFilters, 3497, "edit", nullptr},
    {kFilters, 3523, "edit", nullptr},
    {kFilters, 3490, "static", nullptr},
    {kFilters, 3498, "static", nullptr},
    {kFilters, 3522, "static", nullptr},
    {kFilters, 3491, "edit", nullptr},
    {kFilters, 3499, "edit", nullptr},
    {kFilters, 3524, "edit", nullptr},
    {kFilters, 3508, "unit", nullptr},
    {kFilters, 3509, "unit", nullptr},
    {kFilters, 3525, "unit", nullptr},
    {kFilters, 3504, "edit", nullptr},
    {kFilters, 3505, "edit", nullptr},
    {kFilters, 3506, "edit", nullptr},
    {kFilters, 3510, "unit", nullptr},
    {kFilters, 3511, "unit", nullptr},
    {kFilters, 3512, "unit", nullptr},
    {kFilters, kOkId, "button", "OK"},
    {kFilters, kCancelId, "button", "Cancel"},

    // Drive info
    {kDriveInfo, 3275, "edit", nullptr},
    {kDriveInfo, 3277, "edit", nullptr},
    {kDriveInfo, 3276, "edit", nullptr},
    {kDriveInfo, 3278, "edit", nullptr},
    {kDriveInfo, 3114, "edit", nullptr},
    {kDriveInfo, 3097, "check", "Temperature sensor"},
    {kDriveInfo, 3325, "check", "Drive temperature"},
    {kDriveInfo, 3103, "check", "Over voltage"},
    {kDriveInfo, 3105, "check", "Under voltage"},
    {kDriveInfo, 3107, "check", "I2t"},
    {kDriveInfo, 3098, "static", "Sensor gain"},
    {kDriveInfo, 3101, "static", "Output at 0°C"},
    {kDriveInfo, 3326, "static", "Trigger if T > T2max"},
    {kDriveInfo, 3104, "static", "Trigger if power supply >"},
    {kDriveInfo, 3106, "static", "Trigger if power supply <"},
    {kDriveInfo, 3108, "static", "Support over current"},
    {kDriveInfo, 3109, "static", "for"},
    {kDriveInfo, kOkId, "button", "OK"},
    {kDriveInfo, kCancelId, "button", "Cancel"},

    // Motor inertia question
    {kInertiaQuestion, 3333, "radio",
     "Increase total inertia to match your motor inertia (default)"},
    {kInertiaQuestion, 3334, "radio", "Leave total inertia unchanged and disregard motor inertia"},
    {kInertiaQuestion, kOkId, "button", "OK"},

    // Pole pairs detection, total inertia and encoder offset tests
    {kPolePairsDetection, 1021, "button", "&Move"},
    {kPolePairsDetection, 3126, "edit", nullptr},
    {kPhaseConnections, 1020, "edit", nullptr},
    {kPhaseConnections, 1021, "bargraph", nullptr},
    {kPhaseConnections, 1022, "edit", nullptr},
    {kPhaseConnections, 1023, "bargraph", nullptr},
    {kAnalogueReference, 1010, "edit", nullptr},
    {kAnalogueReference, 1011, "edit", nullptr},
    {kAnalogueReference, 1012, "static", "Analogue input voltage"},
    {kAnalogueReference, 1014, "bargraph", nullptr},
    {kAnalogueReference, 1015, "bargraph", nullptr},
    {kEncoderOffset, 3131, "edit", nullptr},
    {kEncoderResolution, 3126, "edit", nullptr},
    {kEncoderResolution, 3357, "check", "Reverse encoder counting"},
    {kEncoderResolution, 1021, "edit", nullptr},
    {kEncoderResolution, 3131, "edit", nullptr},
    {kEncoderResolution, 1024, "diagram", "Encoder"},
    {kEncoderResolution, 1025, "diagram", "Phases"},
    {kEncoderConnections, 3131, "edit", nullptr},
    {kEncoderConnections, 1024, "diagram", "Encoder"},
    {kEncoderConnections, 1025, "diagram", "Phase currents"},
};

class ExpectedControlTest : public ::testing::TestWithParam<ExpectedControl> {};

TEST_P(ExpectedControlTest, IsPresentWithItsKindAndCaption) {
    const ExpectedControl& expected = GetParam();
    const auto dialog = LoadDialog(expected.dialog);
    ASSERT_TRUE(dialog);
    const Control* control = dialog->Find(expected.id);
    ASSERT_NE(control, nullptr) << "dialog " << expected.dialog << " lacks id " << expected.id;
    EXPECT_EQ(control->kind, expected.kind);
    if (expected.caption != nullptr) {
        EXPECT_EQ(control->caption, std::string(expected.caption));
    }
}

std::string ExpectedControlName(const ::testing::TestParamInfo<ExpectedControl>& info) {
    return "Dialog" + std::to_string(info.param.dialog) + "_Id" + std::to_string(info.param.id);
}

INSTANTIATE_TEST_SUITE_P(AddressedControls, ExpectedControlTest,
                         ::testing::ValuesIn(kExpectedControls), ExpectedControlName);

// Captions the user reads that no code addresses by id.
struct ExpectedCaption {
    int dialog;
    const char* kind;
    const char* caption;
};

void PrintTo(const ExpectedCaption& expected, std::ostream* os) {
    *os << "dialog " << expected.dialog << " " << expected.kind << " \"" << expected.caption
        << "\"";
}

const ExpectedCaption kExpectedCaptions[] = {
    {kDriveSetup, "group", "Control mode"},
    {kDriveSetup, "group", "External reference"},
    {kDriveSetup, "group", "Drive operation parameters"},
    {kDriveSetup, "group", "Current controller"},
    {kDriveSetup, "group", "Protections"},
    {kDriveSetup, "group", "External brake resistor"},
    {kDriveSetup, "group", "Inputs polarity"},
    {kDriveSetup, "group", "Guideline assistant"},
    {kDriveSetup, "static", "Power supply"},
    {kDriveSetup, "static", "Current limit"},
    {kDriveSetup, "static", "Limit switch+"},
    {kDriveSetup, "static", "Limit switch-"},
    {kDriveSetup, "static", "Type"},
    {kMotorSetup, "group", "Transmission to load"},
    {kMotorSetup, "group", "Guideline assistant"},
    {kMotorSetup, "static", "Nominal current"},
    {kMotorSetup, "static", "Peak current"},
    {kMotorSetup, "static", "Pole pairs"},
    {kMotorSetup, "static", "Torque constant"},
    {kMotorSetup, "static", "Phase resistance (motor + drive)"},
    {kMotorSetup, "static", "Phase inductance (motor + drive)"},
    {kMotorSetup, "static", "Phase connection"},
    {kMotorSetup, "static", "No. of periods/rev"},
    {kMotorSetup, "static", "Interpolation level"},
    {kMotorSetup, "static", "Equivalent per revolution"},
    {kMotorSetup, "static", "Transmission type:"},
    {kMotorSetup, "static", "Motor displacement of"},
    {kMotorSetup, "static", "corresponds on load to"},
    {kAdvanced, "group", "Control scheme"},
    {kAdvanced, "static", "PWM frequency"},
    {kAdvanced, "static", "PWM period"},
    {kAdvanced, "static", "Computation formulas:"},
    {kAdvanced, "static", "PWM period  = 1 /  PWM frequency"},
    {kAdvanced, "static", "Current loop sampling period = PWM period  x  Current loop divider"},
    {kAdvanced, "static",
     "Speed/position loop sampling period = PWM period  x  Speed/position loop divider"},
    {kDriveInfo, "static", "Intelligent drive name"},
    {kDriveInfo, "static", "Product ID"},
    {kDriveInfo, "static", "E2ROM size"},
    {kDriveInfo, "static", "Kwords"},
    {kDriveInfo, "static", "Firmware ID"},
    {kDriveInfo, "static", "Application ID"},
    {kDriveInfo, "group", "Power supply (motor)"},
    {kDriveInfo, "group", "Logic supply"},
    {kDriveInfo, "static", "min. value"},
    {kDriveInfo, "static", "max. value"},
    {kDriveInfo, "static", "Nominal current"},
    {kDriveInfo, "static", "Peak current"},
    {kDriveInfo, "static", "Maximum measurable DC voltage"},
    {kDriveInfo, "static", "Analogue inputs range"},
    {kInertiaQuestion, "static",
     "Motor inertia is bigger than the value previously set for total inertia (motor + load). "
     "You have the following options:"},
};

class ExpectedCaptionTest : public ::testing::TestWithParam<ExpectedCaption> {};

TEST_P(ExpectedCaptionTest, IsShownByAControlOfItsKind) {
    const ExpectedCaption& expected = GetParam();
    const auto dialog = LoadDialog(expected.dialog);
    ASSERT_TRUE(dialog);
    const bool shown = std::ranges::any_of(dialog->controls, [&](const Control& control) {
        return control.kind == expected.kind && control.caption == std::string(expected.caption);
    });
    EXPECT_TRUE(shown) << "dialog " << expected.dialog << " shows no " << expected.kind << " \""
                       << expected.caption << "\"";
}

std::string ExpectedCaptionName(const ::testing::TestParamInfo<ExpectedCaption>& info) {
    return "Dialog" + std::to_string(info.param.dialog) + "_Caption" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(UnaddressedCaptions, ExpectedCaptionTest,
                         ::testing::ValuesIn(kExpectedCaptions), ExpectedCaptionName);

// Radio runs bound to one parameter: the button at first id + k stands for value k.
struct RadioRun {
    int dialog;
    int firstId;
    int lastId;
};

void PrintTo(const RadioRun& run, std::ostream* os) {
    *os << "dialog " << run.dialog << " radios " << run.firstId << "-" << run.lastId;
}

const RadioRun kRadioRuns[] = {
    {kDriveSetup, 1059, 1061},        {kDriveSetup, 1063, 1064},
    {kDriveSetup, 3290, 3291},        {kDriveSetup, 1046, 1047},
    {kDriveSetup, 3251, 3252},        {kDriveSetup, 3253, 3254},
    {kDriveSetup, 3405, 3406},        {kDriveSetup, 1096, 1097},
    {kMotorSetup, 1195, 1196},        {kMotorSetup, 1185, 1186},
    {kMotorSetup, 1203, 1204},        {kMotorSetup, 1193, 1194},
    {kAdvanced, 3344, 3345},          {kAdvanced, 1146, 1147},
    {kAdvanced, 3374, 3375},          {kExternalReference, 3289, 3290},
    {kExternalReference, 3291, 3292}, {kInertiaQuestion, 3333, 3334},
};

class RadioRunTest : public ::testing::TestWithParam<RadioRun> {};

TEST_P(RadioRunTest, FormsOneRunOfExactlyItsIds) {
    const RadioRun& run = GetParam();
    const auto dialog = LoadDialog(run.dialog);
    ASSERT_TRUE(dialog);
    const auto& controls = dialog->controls;
    const auto first = std::ranges::find(controls, run.firstId, &Control::id);
    ASSERT_NE(first, controls.end());
    EXPECT_TRUE(first->groupStart);
    auto it = first;
    for (int id = run.firstId; id <= run.lastId; ++id, ++it) {
        ASSERT_NE(it, controls.end()) << "run ends before id " << id;
        EXPECT_EQ(it->id, id);
        EXPECT_EQ(it->kind, "radio");
        EXPECT_EQ(it->groupStart, id == run.firstId) << "id " << id;
    }
    if (it != controls.end()) {
        EXPECT_TRUE(it->kind != "radio" || it->groupStart)
            << it->Name() << " continues the run past id " << run.lastId;
    }
}

std::string RadioRunName(const ::testing::TestParamInfo<RadioRun>& info) {
    return "Dialog" + std::to_string(info.param.dialog) + "_Ids" +
           std::to_string(info.param.firstId) + "to" + std::to_string(info.param.lastId);
}

INSTANTIATE_TEST_SUITE_P(BoundRadioRuns, RadioRunTest, ::testing::ValuesIn(kRadioRuns),
                         RadioRunName);

// Controls standing at the same place, only one of them shown at a time.
struct SharedPlace {
    int dialog;
    int firstId;
    int secondId;
};

void PrintTo(const SharedPlace& place, std::ostream* os) {
    *os << "dialog " << place.dialog << " ids " << place.firstId << " and " << place.secondId;
}

const SharedPlace kSharedPlaces[] = {
    {kExternalReference, 3302, 3304}, {kExternalReference, 3136, 3137}, {kFilters, 3489, 3504},
    {kFilters, 3497, 3505},           {kFilters, 3523, 3506},
};

class SharedPlaceTest : public ::testing::TestWithParam<SharedPlace> {};

TEST_P(SharedPlaceTest, BothControlsStandTogetherAndSaySo) {
    const SharedPlace& place = GetParam();
    const auto dialog = LoadDialog(place.dialog);
    ASSERT_TRUE(dialog);
    const Control* first = dialog->Find(place.firstId);
    const Control* second = dialog->Find(place.secondId);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(first->Shares(second->id));
    EXPECT_TRUE(second->Shares(first->id));
    EXPECT_EQ(first->rect.x, second->rect.x);
    EXPECT_EQ(first->rect.y, second->rect.y);
    EXPECT_NE(first->visible, second->visible);
}

std::string SharedPlaceName(const ::testing::TestParamInfo<SharedPlace>& info) {
    return "Dialog" + std::to_string(info.param.dialog) + "_Ids" +
           std::to_string(info.param.firstId) + "and" + std::to_string(info.param.secondId);
}

INSTANTIATE_TEST_SUITE_P(SharedPlaces, SharedPlaceTest, ::testing::ValuesIn(kSharedPlaces),
                         SharedPlaceName);

// States a control has before any code runs.
enum class InitialState { kReadOnly, kReadOnlyMultiline, kHidden, kDisabled };

struct ExpectedState {
    int dialog;
    int id;
    InitialState state;
};

void PrintTo(const ExpectedState& expected, std::ostream* os) {
    *os << "dialog " << expected.dialog << " id " << expected.id;
}

const ExpectedState kExpectedStates[] = {
    {kDriveSetup, 10007, InitialState::kReadOnlyMultiline},
    {kDriveSetup, 3290, InitialState::kDisabled},
    {kDriveSetup, 3291, InitialState::kDisabled},
    {kMotorSetup, 10007, InitialState::kReadOnlyMultiline},
    {kMotorSetup, 3353, InitialState::kReadOnly},
    {kMotorSetup, 1206, InitialState::kReadOnly},
    {kAdvanced, 1141, InitialState::kReadOnly},
    {kAdvanced, 1144, InitialState::kReadOnly},
    {kAdvanced, 1138, InitialState::kReadOnly},
    {kAdvanced, 1148, InitialState::kHidden},
    {kAdvanced, 1149, InitialState::kHidden},
};

class ExpectedStateTest : public ::testing::TestWithParam<ExpectedState> {};

TEST_P(ExpectedStateTest, ControlStartsInItsState) {
    const ExpectedState& expected = GetParam();
    const auto dialog = LoadDialog(expected.dialog);
    ASSERT_TRUE(dialog);
    const Control* control = dialog->Find(expected.id);
    ASSERT_NE(control, nullptr);
    switch (expected.state) {
        case InitialState::kReadOnly:
            EXPECT_TRUE(control->readOnly);
            break;
        case InitialState::kReadOnlyMultiline:
            EXPECT_TRUE(control->readOnly);
            EXPECT_TRUE(control->multiline);
            break;
        case InitialState::kHidden:
            EXPECT_FALSE(control->visible);
            break;
        case InitialState::kDisabled:
            EXPECT_FALSE(control->enabled);
            break;
    }
}

std::string ExpectedStateName(const ::testing::TestParamInfo<ExpectedState>& info) {
    return "Dialog" + std::to_string(info.param.dialog) + "_Id" + std::to_string(info.param.id);
}

INSTANTIATE_TEST_SUITE_P(InitialStates, ExpectedStateTest, ::testing::ValuesIn(kExpectedStates),
                         ExpectedStateName);

// ---------------------------------------------------------------------------------------------
// String table and bitmaps

TEST(StringTable, HoldsTheTwoReferenceProfileMessages) {
    const json doc = ReadJson(kResourceDir / "strings.json");
    ASSERT_TRUE(doc.contains("strings") && doc["strings"].is_array());
    std::map<int, std::string> texts;
    for (const json& entry : doc["strings"]) {
        ASSERT_TRUE(entry.contains("id") && entry["id"].is_number_integer());
        ASSERT_TRUE(entry.contains("text") && entry["text"].is_string());
        EXPECT_TRUE(texts.emplace(entry["id"].get<int>(), entry["text"].get<std::string>()).second)
            << "string " << entry["id"] << " given twice";
    }
    const std::map<int, std::string> expected = {
        {1,
         "Distances between consecutive points on X axis must be greater than 0 and below "
         "32768."},
        {2, "Reference variation between two consecutive points is too big (slope overflow)."},
    };
    EXPECT_EQ(texts, expected);
}

TEST(BitmapList, NamesEveryBitmapTheDialogsShowOnceWithADescription) {
    const json doc = ReadJson(kResourceDir / "bitmaps.json");
    ASSERT_TRUE(doc.contains("bitmaps") && doc["bitmaps"].is_array());
    std::set<std::string> names;
    for (const json& bitmap : doc["bitmaps"]) {
        ASSERT_TRUE(bitmap.contains("name") && bitmap["name"].is_string());
        const std::string name = bitmap["name"].get<std::string>();
        EXPECT_TRUE(names.insert(name).second) << name << " listed twice";
        EXPECT_TRUE(bitmap.contains("description") && bitmap["description"].is_string() &&
                    !bitmap["description"].get<std::string>().empty())
            << name << " has no description";
    }
    // Host bitmaps on buttons, the motor drawing, the four control schemes, the three
    // reference chains, the tuning tests' pictures and the test dialogs' result icons.
    const std::set<std::string> expected = {"TO_MOTORSETUP",
                                            "TO_DRIVESETUP",
                                            "WARN_SWITCH_HW_LS",
                                            "3059",
                                            "3016",
                                            "3017",
                                            "3060",
                                            "3061",
                                            "3003",
                                            "3044",
                                            "3002",
                                            "3015",
                                            "3354",
                                            "TEST_PASSED",
                                            "TEST_FAILED",
                                            "308",
                                            "314",
                                            "3063",
                                            "3062",
                                            "PAUSE_",
                                            "CONTINUE_",
                                            "309"};
    EXPECT_EQ(names, expected);
}

}  // namespace
