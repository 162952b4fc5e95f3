#pragma once

// Dialog templates: the controls of a dialog (ids, kinds, captions, geometry) as data, read from
// <resource directory>/dialogs/<id>-<name>.json. The host sets the resource directory once;
// CDialog::DoModal loads its template by id. A template can also be built in code (small kernel
// dialogs such as a name prompt).
//
//   ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
//   ui::TemplateLoad loaded = ui::LoadDialogTemplate(106);
//   if (!loaded.dialogTemplate) { show loaded.problem }

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

enum class ControlKind {
    Static,
    Edit,
    Button,
    Check,
    Radio,
    Combo,  // drop-down list
    Unit,   // drop-down list of a parameter's units
    List,   // list box
    Group,
    Picture,
    Slider,
    Spin,
    Tab,
    BarGraph,  // a value drawn as a bar between two limits (DrawnControls.h)
    Diagram,   // an angle drawn as a pointer on a dial or on three phase axes
    Graph,     // curves of values over time
};

// The template spelling of a kind ("edit", "unit", ...), and back.
std::string_view ControlKindName(ControlKind kind);
std::optional<ControlKind> ParseControlKind(std::string_view name);

struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

struct ControlTemplate {
    int id = 0;
    ControlKind kind = ControlKind::Static;
    std::string caption;
    Rect rect;
    bool visible = true;
    bool enabled = true;
    bool readOnly = false;
    bool multiline = false;
    bool groupStart = false;
    bool isDefault = false;
    std::string bitmap;
    std::vector<int> sharesPlaceWith;
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    int width = 0;
    int height = 0;
    std::vector<ControlTemplate> controls;  // in tab order
};

struct TemplateLoad {
    std::optional<DialogTemplate> dialogTemplate;
    std::string problem;  // why there is no template, for the user
};

// Where the resources live (the folder holding dialogs/, strings.json, bitmaps.json). Until the
// host sets one, the environment variable BREVAN_RESOURCE_DIR is used when set.
void SetResourceDirectory(std::filesystem::path directory);
std::filesystem::path GetResourceDirectory();

// Reads and checks the template of that id. Never throws: a missing, unreadable or malformed
// template gives no template and a problem text naming the file and the fault.
TemplateLoad LoadDialogTemplate(int templateId);
// Checks a template given as JSON text (the file's content); fileName only names it in problems.
TemplateLoad ParseDialogTemplate(std::string_view jsonText, std::string_view fileName);

// An entry of the string table (strings.json); empty when absent.
std::string LoadResourceString(int stringId);
// The guideline steps a dialog shows one at a time, in order (the "guidelines" of strings.json);
// none when the dialog has none.
std::vector<std::string> LoadGuidelineTexts(int templateId);

// A bitmap of the resources, by name. Bitmaps with a number are named by its decimal digits.
struct Bitmap {
    std::string name;
};
// The bitmap when bitmaps.json lists it (or when there is no bitmaps.json to check against);
// otherwise nothing, and the problem is reported.
std::optional<Bitmap> LoadBitmapResource(std::string_view name);
std::optional<Bitmap> LoadBitmapResource(int bitmapId);

}  // namespace ui
