// Checks the drawings behind the named bitmaps (resources/bitmaps/*.svg) and the help pages the
// dialogs' Help buttons open (docs/help/): every bitmap has a drawing in the subset of SVG the
// desktop renderer draws, shaped like the control that shows it and readable at its size; every
// help topic of a dialog leads to a page, and every link of the pages leads somewhere.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const fs::path kSourceDir = BREVAN_SOURCE_DIR;
const fs::path kResourceDir = kSourceDir / "resources";
const fs::path kBitmapDir = kResourceDir / "bitmaps";
const fs::path kHelpDir = kSourceDir / "docs" / "help";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The document, or null when the file is missing or no JSON (without reporting: the bitmap list
// is read while the tests are being registered).
json ReadJsonQuietly(const fs::path& path) {
    std::ifstream in(path);
    return in ? json::parse(in, nullptr, false) : json();
}

json ReadJson(const fs::path& path) {
    json doc = ReadJsonQuietly(path);
    if (doc.is_discarded() || doc.is_null()) {
        ADD_FAILURE() << path << " is missing or not JSON";
        return json();
    }
    return doc;
}

// ---------------------------------------------------------------------------------------------
// A minimal XML reader, enough for the drawings and for help pages written as well-formed HTML:
// elements, quoted attributes, the five predefined and the numeric character references,
// comments, an XML declaration and a document type line before the root. Anything else (CDATA,
// entities of a DTD, a second root) is an error.

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<Element> children;
    std::string text;  // character data directly inside, references resolved
};

struct XmlDocument {
    Element root;
    bool hasDoctype = false;
};

struct XmlResult {
    std::optional<XmlDocument> document;
    std::string error;  // with its line, when document is empty
};

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class XmlReader {
  public:
    explicit XmlReader(std::string_view text) : text_(text) {}

    XmlResult Read() {
        XmlResult result;
        XmlDocument document;
        bool rootDone = false;
        while (pos_ < text_.size()) {
            if (text_[pos_] != '<') {
                const std::size_t end = std::min(text_.find('<', pos_), text_.size());
                std::string data;
                if (!Resolve(text_.substr(pos_, end - pos_), data)) {
                    return Fail(result);
                }
                if (stack_.empty()) {
                    if (data.find_first_not_of(" \t\r\n") != std::string::npos) {
                        error_ = "text outside the root element";
                        return Fail(result);
                    }
                } else {
                    stack_.back().text += data;
                }
                pos_ = end;
            } else if (Starts("<?")) {
                if (!Skip("?>", stack_.empty() && !rootDone)) {
                    return Fail(result);
                }
            } else if (Starts("<!--")) {
                if (!Skip("-->", true)) {
                    return Fail(result);
                }
            } else if (Starts("<!DOCTYPE") || Starts("<!doctype")) {
                document.hasDoctype = true;
                if (!Skip(">", stack_.empty() && !rootDone)) {
                    return Fail(result);
                }
            } else if (Starts("<!")) {
                error_ = "unsupported markup declaration";
                return Fail(result);
            } else if (Starts("</")) {
                pos_ += 2;
                const std::string name = Name();
                SkipSpace();
                if (!Expect('>')) {
                    return Fail(result);
                }
                if (stack_.empty() || stack_.back().name != name) {
                    error_ =
                        "end tag </" + name + "> does not close " +
                        (stack_.empty() ? std::string("anything") : "<" + stack_.back().name + ">");
                    return Fail(result);
                }
                Element done = std::move(stack_.back());
                stack_.pop_back();
                if (stack_.empty()) {
                    document.root = std::move(done);
                    rootDone = true;
                } else {
                    stack_.back().children.push_back(std::move(done));
                }
            } else {
                if (stack_.empty() && rootDone) {
                    error_ = "a second root element";
                    return Fail(result);
                }
                std::optional<Element> element;
                bool empty = false;
                if (!StartTag(element, empty)) {
                    return Fail(result);
                }
                if (!empty) {
                    stack_.push_back(std::move(*element));
                } else if (stack_.empty()) {
                    document.root = std::move(*element);
                    rootDone = true;
                } else {
                    stack_.back().children.push_back(std::move(*element));
                }
            }
        }
        if (!stack_.empty()) {
            error_ = "<" + stack_.back().name + "> is not closed";
            return Fail(result);
        }
        if (!rootDone) {
            error_ = "no root element";
            return Fail(result);
        }
        result.document = std::move(document);
        return result;
    }

  private:
    XmlResult& Fail(XmlResult& result) const {
        const std::string_view before = text_.substr(0, std::min(pos_, text_.size()));
        const auto line = std::count(before.begin(), before.end(), '\n') + 1;
        result.error = "line " + std::to_string(line) + ": " + error_;
        return result;
    }

    bool Starts(std::string_view prefix) const { return text_.substr(pos_).starts_with(prefix); }

    // Skips past the terminator; allowed says whether this construct may stand here.
    bool Skip(std::string_view terminator, bool allowed) {
        if (!allowed) {
            error_ = "declaration inside or after the root element";
            return false;
        }
        const std::size_t end = text_.find(terminator, pos_);
        if (end == std::string_view::npos) {
            error_ = "unterminated declaration or comment";
            return false;
        }
        pos_ = end + terminator.size();
        return true;
    }

    static bool IsNameChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-' ||
               c == '.';
    }

    std::string Name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) {
            ++pos_;
        }
        return std::string(text_.substr(start, pos_ - start));
    }

    bool SkipSpace() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
        return pos_ > start;
    }

    bool Expect(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) {
            error_ = std::string("expected '") + c + "'";
            return false;
        }
        ++pos_;
        return true;
    }

    bool StartTag(std::optional<Element>& element, bool& empty) {
        ++pos_;
        Element result;
        result.name = Name();
        if (result.name.empty()) {
            error_ = "a tag without a name";
            return false;
        }
        while (true) {
            const bool spaced = SkipSpace();
            if (Starts("/>")) {
                pos_ += 2;
                empty = true;
                break;
            }
            if (Starts(">")) {
                ++pos_;
                break;
            }
            const std::string attribute = Name();
            if (attribute.empty() || !spaced) {
                error_ = "malformed attribute in <" + result.name + ">";
                return false;
            }
            SkipSpace();
            if (!Expect('=')) {
                return false;
            }
            SkipSpace();
            if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
                error_ = "attribute " + attribute + " without quotes";
                return false;
            }
            const char quote = text_[pos_++];
            const std::size_t end = text_.find(quote, pos_);
            if (end == std::string_view::npos) {
                error_ = "unterminated value of " + attribute;
                return false;
            }
            const std::string_view raw = text_.substr(pos_, end - pos_);
            if (raw.find('<') != std::string_view::npos) {
                error_ = "'<' in the value of " + attribute;
                return false;
            }
            std::string value;
            if (!Resolve(raw, value)) {
                return false;
            }
            if (!result.attributes.emplace(attribute, value).second) {
                error_ = "attribute " + attribute + " twice in <" + result.name + ">";
                return false;
            }
            pos_ = end + 1;
        }
        element = std::move(result);
        return true;
    }

    bool Resolve(std::string_view raw, std::string& out) {
        static const std::map<std::string_view, char> kNamed = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '&') {
                out += raw[i];
                continue;
            }
            const std::size_t end = raw.find(';', i);
            if (end == std::string_view::npos) {
                error_ = "a bare '&'";
                return false;
            }
            const std::string_view reference = raw.substr(i + 1, end - i - 1);
            if (auto named = kNamed.find(reference); named != kNamed.end()) {
                out += named->second;
            } else if (reference.starts_with("#")) {
                const bool hex = reference.starts_with("#x");
                const std::string digits(reference.substr(hex ? 2 : 1));
                const bool valid =
                    !digits.empty() && std::all_of(digits.begin(), digits.end(), [hex](char c) {
                        return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                   : std::isdigit(static_cast<unsigned char>(c)) != 0;
                    });
                if (!valid || digits.size() > 6) {
                    error_ = "malformed character reference &" + std::string(reference) + ";";
                    return false;
                }
                AppendUtf8(out,
                           static_cast<std::uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10)));
            } else {
                error_ = "unknown entity &" + std::string(reference) + ";";
                return false;
            }
            i = end;
        }
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::vector<Element> stack_;
    std::string error_;
};

XmlResult ReadXml(const fs::path& path) {
    const std::string text = ReadText(path);
    return XmlReader(text).Read();
}

void CollectAll(const Element& element, std::vector<const Element*>& out) {
    out.push_back(&element);
    for (const Element& child : element.children) {
        CollectAll(child, out);
    }
}

std::vector<const Element*> AllElements(const Element& root) {
    std::vector<const Element*> all;
    CollectAll(root, all);
    return all;
}

TEST(XmlReader, AcceptsWellFormedMarkup) {
    const XmlResult result =
        XmlReader(
            "<?xml version=\"1.0\"?>\n<!-- c --><a x='1' y=\"&lt;&#x41;&#66;\"><b/>t&amp;u</a>\n")
            .Read();
    ASSERT_TRUE(result.document) << result.error;
    const Element& root = result.document->root;
    EXPECT_EQ(root.name, "a");
    EXPECT_EQ(root.attributes.at("y"), "<AB");
    EXPECT_EQ(root.text, "t&u");
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(root.children[0].name, "b");
}

TEST(XmlReader, RejectsWhatIsNotWellFormed) {
    const std::vector<std::string> broken = {
        "<a><b></a></b>",
        "<a>",
        "<a x=1/>",
        "<a x='1' x='2'/>",
        "<a>&nbsp;</a>",
        "<a>&</a>",
        "<a/><b/>",
        "text<a/>",
        "<a x='1'y='2'/>",
        "<a><![CDATA[x]]></a>",
        "",
        "<a x='<'/>",
    };
    for (const std::string& text : broken) {
        EXPECT_FALSE(XmlReader(text).Read().document) << text;
    }
}

// ---------------------------------------------------------------------------------------------
// Drawings

// The controls that show each bitmap: pictures the dialogs fill, and buttons that get a host
// bitmap. Template id, control id.
struct Placement {
    int dialogId;
    int controlId;
};

const std::map<std::string, Placement> kPlacements = {
    {"TO_MOTORSETUP", {106, 10019}},  // Drive Setup's "Motor setup" button
    {"TO_DRIVESETUP", {108, 1}},      // Brushless Motor Setup's OK button
    {"WARN_SWITCH_HW_LS", {108, 3408}},
    {"3059", {108, 3386}},
    {"3016", {110, 3280}},
    {"3017", {110, 3280}},
    {"3060", {110, 3280}},
    {"3061", {110, 3280}},
    {"3003", {111, 1014}},
    {"3044", {111, 1014}},
    {"3002", {111, 1014}},
    {"TEST_PASSED", {105, 10004}},  // every test dialog's result icon
    {"TEST_FAILED", {105, 10004}},
    {"3015", {101, 1123}},
    {"3354", {3057, 1123}},
    {"308", {102, 1305}},
    {"309", {103, 1305}},
    {"314", {102, 1322}},
    {"3063", {102, 1322}},
    {"3062", {102, 1322}},
    {"PAUSE_", {102, 10016}},
    {"CONTINUE_", {102, 10017}},
};

// A horizontal dialog unit is a quarter of the font's average character width, a vertical one an
// eighth of its height; for the usual dialog fonts both come to about the same number of pixels
// (an 11 px sans serif: 6.8 / 4 = 1.7 px and 13 / 8 = 1.6 px), so a control's pixel shape is
// taken as its shape in dialog units, within the tolerance below.
constexpr double kAspectTolerance = 0.10;
// The smallest scale a dialog is shown at: the pictures must stay readable there.
constexpr double kMinPixelsPerDialogUnit = 1.5;
constexpr double kMinLabelHeight_px = 9.0;
constexpr double kMinStrokeWidth_px = 1.0;

const std::set<std::string> kSvgElements = {
    "svg",    "title",   "desc", "g",        "defs",    "linearGradient", "stop", "rect",
    "circle", "ellipse", "line", "polyline", "polygon", "path",           "text", "tspan"};

struct ControlSize {
    int w = 0;
    int h = 0;
};

std::map<int, json> LoadTemplates() {
    std::map<int, json> templates;
    for (const auto& entry : fs::directory_iterator(kResourceDir / "dialogs")) {
        if (entry.path().extension() == ".json") {
            json doc = ReadJson(entry.path());
            if (doc.is_object()) {
                const int id = doc.value("id", 0);
                templates.emplace(id, std::move(doc));
            }
        }
    }
    return templates;
}

std::optional<ControlSize> FindControl(const std::map<int, json>& templates, Placement where) {
    auto dialog = templates.find(where.dialogId);
    if (dialog == templates.end()) {
        return std::nullopt;
    }
    for (const json& control : dialog->second.value("controls", json::array())) {
        if (control.is_object() && control.value("id", 0) == where.controlId) {
            return ControlSize{control.value("w", 0), control.value("h", 0)};
        }
    }
    return std::nullopt;
}

// The names of bitmaps.json; a list that cannot be read gives none, which the test that compares
// the drawings with the list reports.
std::vector<std::string> BitmapNames() {
    const json doc = ReadJsonQuietly(kResourceDir / "bitmaps.json");
    std::vector<std::string> names;
    if (!doc.is_object() || !doc.contains("bitmaps") || !doc["bitmaps"].is_array()) {
        return names;
    }
    for (const json& bitmap : doc["bitmaps"]) {
        if (bitmap.is_object() && bitmap.value("name", json()).is_string()) {
            names.push_back(bitmap["name"].get<std::string>());
        }
    }
    return names;
}

std::optional<double> Number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::vector<double>> Numbers(const std::string& text) {
    std::vector<double> numbers;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        std::replace(token.begin(), token.end(), ',', ' ');
        std::istringstream part(token);
        double value = 0.0;
        while (part >> value) {
            numbers.push_back(value);
        }
        if (!part.eof()) {
            return std::nullopt;
        }
    }
    return numbers;
}

// What a drawing element inherits from its ancestors and may set itself.
struct Presentation {
    std::optional<double> fontSize;
    std::string stroke = "none";
    double strokeWidth = 1.0;  // the SVG default
};

// Walks the drawing and reports elements outside the subset, references to anything outside the
// file, CSS, and labels or lines too small at the given scale (pixels per view-box unit).
void CheckDrawing(const Element& element, Presentation inherited, double scale_px,
                  std::vector<std::string>& problems) {
    const std::string where = "<" + element.name + ">";
    if (!kSvgElements.contains(element.name)) {
        problems.push_back(where + " is outside the drawable subset");
    }
    for (const auto& [name, value] : element.attributes) {
        if (name == "href" || name.ends_with(":href")) {
            problems.push_back(where + " refers to " + value);
        }
        if (name == "style" || name == "class") {
            problems.push_back(where + " uses CSS (" + name + ")");
        }
        if (value.find("url(") != std::string::npos && value.find("url(#") == std::string::npos) {
            problems.push_back(where + " refers outside the file: " + value);
        }
    }
    Presentation own = inherited;
    if (auto it = element.attributes.find("font-size"); it != element.attributes.end()) {
        own.fontSize = Number(it->second);
        if (!own.fontSize) {
            problems.push_back(where + " has a font size that is not a number: " + it->second);
        }
    }
    if (auto it = element.attributes.find("stroke"); it != element.attributes.end()) {
        own.stroke = it->second;
    }
    if (auto it = element.attributes.find("stroke-width"); it != element.attributes.end()) {
        if (const std::optional<double> width = Number(it->second)) {
            own.strokeWidth = *width;
        } else {
            problems.push_back(where + " has a line width that is not a number: " + it->second);
        }
    }
    if (element.name == "text" || element.name == "tspan") {
        if (!own.fontSize) {
            problems.push_back(where + " \"" + element.text + "\" has no font size");
        } else if (*own.fontSize * scale_px < kMinLabelHeight_px) {
            problems.push_back(where + " \"" + element.text + "\" is " +
                               std::to_string(*own.fontSize * scale_px) + " px high");
        }
    }
    const bool drawsLine = own.stroke != "none" && element.name != "svg" && element.name != "g" &&
                           element.name != "text" && element.name != "tspan";
    if (drawsLine && own.strokeWidth * scale_px < kMinStrokeWidth_px) {
        problems.push_back(where + " draws a line " + std::to_string(own.strokeWidth * scale_px) +
                           " px wide");
    }
    for (const Element& child : element.children) {
        CheckDrawing(child, own, scale_px, problems);
    }
}

class DrawingTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DrawingTest, IsAReadableDrawingShapedLikeItsControl) {
    const std::string& name = GetParam();
    const fs::path path = kBitmapDir / (name + ".svg");
    ASSERT_TRUE(fs::exists(path)) << "no drawing for bitmap " << name;
    const XmlResult xml = ReadXml(path);
    ASSERT_TRUE(xml.document) << path << ": " << xml.error;
    EXPECT_FALSE(xml.document->hasDoctype) << "a document type may load an external definition";
    const Element& root = xml.document->root;
    ASSERT_EQ(root.name, "svg");

    ASSERT_TRUE(root.attributes.contains("viewBox")) << name << " has no viewBox";
    const auto box = Numbers(root.attributes.at("viewBox"));
    ASSERT_TRUE(box && box->size() == 4 && (*box)[2] > 0.0 && (*box)[3] > 0.0)
        << name << ": malformed viewBox " << root.attributes.at("viewBox");
    const double boxWidth = (*box)[2];
    const double boxHeight = (*box)[3];

    ASSERT_TRUE(kPlacements.contains(name)) << name << " is shown by no known control";
    const std::optional<ControlSize> control = FindControl(LoadTemplates(), kPlacements.at(name));
    ASSERT_TRUE(control && control->w > 0 && control->h > 0)
        << name << ": control " << kPlacements.at(name).controlId << " not in template "
        << kPlacements.at(name).dialogId;
    const double controlAspect = static_cast<double>(control->w) / control->h;
    EXPECT_NEAR(boxWidth / boxHeight / controlAspect, 1.0, kAspectTolerance)
        << name << ": viewBox " << boxWidth << " x " << boxHeight << " on a control of "
        << control->w << " x " << control->h << " dialog units";

    const double scale_px = control->w * kMinPixelsPerDialogUnit / boxWidth;
    std::vector<std::string> problems;
    CheckDrawing(root, Presentation{}, scale_px, problems);
    EXPECT_TRUE(problems.empty()) << name << ":\n  " << [&] {
        std::string all;
        for (const std::string& problem : problems) {
            all += problem + "\n  ";
        }
        return all;
    }();
}

std::string BitmapTestName(const ::testing::TestParamInfo<std::string>& param) {
    return "Bitmap_" + param.param;
}

INSTANTIATE_TEST_SUITE_P(AllBitmaps, DrawingTest, ::testing::ValuesIn(BitmapNames()),
                         BitmapTestName);

TEST(Drawings, AreExactlyTheListedBitmaps) {
    std::set<std::string> listed;
    for (const std::string& name : BitmapNames()) {
        listed.insert(name + ".svg");
    }
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(kBitmapDir)) {
        found.insert(entry.path().filename().string());
    }
    EXPECT_EQ(found, listed);
}

TEST(Drawings, PicturesOfTheTemplatesAreWhereThePlacementsSay) {
    for (const auto& [dialogId, doc] : LoadTemplates()) {
        for (const json& control : doc.value("controls", json::array())) {
            if (!control.contains("bitmap")) {
                continue;
            }
            const std::string bitmap = control["bitmap"].get<std::string>();
            ASSERT_TRUE(kPlacements.contains(bitmap)) << bitmap;
            EXPECT_EQ(kPlacements.at(bitmap).dialogId, dialogId) << bitmap;
            EXPECT_EQ(kPlacements.at(bitmap).controlId, control.value("id", 0)) << bitmap;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Help pages

struct DialogSource {
    std::optional<int> templateId;
    std::optional<unsigned long> helpTopic;
};

// The number a source assigns to a constant ("kHelpTopic = 0x40106", "kTemplateId = 106"):
// decimal, or hexadecimal after 0x.
std::optional<unsigned long> ConstantValue(const std::string& text, std::string_view name) {
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        std::size_t pos = at + name.size();
        pos = text.find_first_not_of(" \t", pos);
        if (pos == std::string::npos || text[pos] != '=') {
            continue;
        }
        pos = text.find_first_not_of(" \t", pos + 1);
        if (pos == std::string::npos || !std::isdigit(static_cast<unsigned char>(text[pos]))) {
            continue;
        }
        const bool hex = text.compare(pos, 2, "0x") == 0;
        char* end = nullptr;
        const unsigned long value = std::strtoul(text.c_str() + pos, &end, hex ? 16 : 10);
        if (end > text.c_str() + pos + (hex ? 2 : 0)) {
            return value;
        }
    }
    return std::nullopt;
}

bool IsHexNumber(const std::string& text) {
    return text.size() > 2 && text.starts_with("0x") &&
           std::all_of(text.begin() + 2, text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// The dialogs' own constants, by source file stem (DriveSetupDlg.h and .cpp describe one dialog):
// the setup dialogs and the drive tests.
std::map<std::string, DialogSource> ScanDialogSources() {
    std::map<std::string, DialogSource> dialogs;
    std::vector<fs::directory_entry> entries;
    for (const char* folder : {"dialogs", "drivetests"}) {
        for (const auto& entry : fs::directory_iterator(kSourceDir / folder)) {
            entries.push_back(entry);
        }
    }
    for (const auto& entry : entries) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".h" && extension != ".cpp") {
            continue;
        }
        const std::string text = ReadText(entry.path());
        DialogSource& dialog = dialogs[entry.path().stem().string()];
        if (const auto id = ConstantValue(text, "kTemplateId")) {
            dialog.templateId = static_cast<int>(*id);
        }
        if (const auto topic = ConstantValue(text, "kHelpTopic")) {
            dialog.helpTopic = *topic;
        }
    }
    return dialogs;
}

struct Topic {
    unsigned long number = 0;
    std::string page;
    std::string title;
};

std::vector<Topic> ReadTopics() {
    const json doc = ReadJson(kHelpDir / "topics.json");
    std::vector<Topic> topics;
    if (!doc.contains("topics") || !doc["topics"].is_array()) {
        ADD_FAILURE() << "topics.json holds no list \"topics\"";
        return topics;
    }
    for (const json& entry : doc["topics"]) {
        const bool complete =
            entry.is_object() && entry.size() == 3 && entry.value("topic", json()).is_string() &&
            entry.value("page", json()).is_string() && entry.value("title", json()).is_string();
        if (!complete) {
            ADD_FAILURE() << "not a {topic, page, title} entry: " << entry.dump();
            continue;
        }
        const std::string number = entry["topic"].get<std::string>();
        if (!IsHexNumber(number)) {
            ADD_FAILURE() << "topic " << number << " is not a hexadecimal number";
            continue;
        }
        topics.push_back({std::stoul(number.substr(2), nullptr, 16),
                          entry["page"].get<std::string>(), entry["title"].get<std::string>()});
    }
    return topics;
}

std::vector<fs::path> HelpPages() {
    std::vector<fs::path> pages;
    for (const auto& entry : fs::directory_iterator(kHelpDir)) {
        if (entry.path().extension() == ".html") {
            pages.push_back(entry.path());
        }
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

const Element* FindFirst(const Element& root, std::string_view name) {
    for (const Element* element : AllElements(root)) {
        if (element->name == name) {
            return element;
        }
    }
    return nullptr;
}

std::set<std::string> Ids(const Element& root) {
    std::set<std::string> ids;
    for (const Element* element : AllElements(root)) {
        if (auto id = element->attributes.find("id"); id != element->attributes.end()) {
            ids.insert(id->second);
        }
    }
    return ids;
}

std::vector<std::string> Links(const Element& root) {
    std::vector<std::string> links;
    for (const Element* element : AllElements(root)) {
        for (const char* attribute : {"href", "src"}) {
            if (auto link = element->attributes.find(attribute);
                link != element->attributes.end()) {
                links.push_back(link->second);
            }
        }
    }
    return links;
}

bool IsExternal(const std::string& link) {
    const std::size_t colon = link.find(':');
    return colon != std::string::npos && link.find('/') > colon;
}

// The id of the Help button in the templates.
constexpr int kHelpButtonId = 10024;

TEST(HelpTopics, EveryDialogHelpTopicHasAPageTitledWithTheDialogsCaption) {
    const std::vector<Topic> topics = ReadTopics();
    const std::map<int, json> templates = LoadTemplates();
    std::set<int> withHelpButton;
    for (const auto& [id, doc] : templates) {
        for (const json& control : doc.value("controls", json::array())) {
            if (control.value("id", 0) == kHelpButtonId) {
                withHelpButton.insert(id);
            }
        }
    }
    std::set<int> withHelpTopic;
    for (const auto& [stem, dialog] : ScanDialogSources()) {
        if (!dialog.helpTopic) {
            continue;
        }
        if (dialog.templateId) {
            withHelpTopic.insert(*dialog.templateId);
        }
        auto topic = std::find_if(topics.begin(), topics.end(), [&](const Topic& candidate) {
            return candidate.number == *dialog.helpTopic;
        });
        ASSERT_NE(topic, topics.end())
            << stem << ": no entry for topic 0x" << std::hex << *dialog.helpTopic;
        ASSERT_TRUE(dialog.templateId && templates.contains(*dialog.templateId)) << stem;
        EXPECT_EQ(topic->title, templates.at(*dialog.templateId).value("caption", std::string()))
            << stem;
    }
    // The scan found a topic for exactly the dialogs whose template has a Help button.
    EXPECT_EQ(withHelpTopic, withHelpButton);
}

TEST(HelpTopics, AreUniqueAndLeadToPagesHeadedWithTheirTitle) {
    std::set<unsigned long> seen;
    for (const Topic& topic : ReadTopics()) {
        EXPECT_TRUE(seen.insert(topic.number).second)
            << "topic 0x" << std::hex << topic.number << " twice";
        const fs::path page = kHelpDir / topic.page;
        ASSERT_TRUE(fs::exists(page)) << topic.page;
        const XmlResult xml = ReadXml(page);
        ASSERT_TRUE(xml.document) << topic.page << ": " << xml.error;
        const Element* heading = FindFirst(xml.document->root, "h1");
        ASSERT_NE(heading, nullptr) << topic.page;
        EXPECT_EQ(heading->text, topic.title) << topic.page;
    }
}

TEST(HelpPages, EverySetupDialogHasAPageHeadedWithItsCaption) {
    std::set<std::string> headings;
    for (const fs::path& page : HelpPages()) {
        const XmlResult xml = ReadXml(page);
        ASSERT_TRUE(xml.document) << page << ": " << xml.error;
        if (const Element* heading = FindFirst(xml.document->root, "h1")) {
            headings.insert(heading->text);
        }
    }
    for (const auto& [id, doc] : LoadTemplates()) {
        EXPECT_TRUE(headings.contains(doc.value("caption", std::string())))
            << "no help page for dialog " << id << " \"" << doc.value("caption", std::string())
            << "\"";
    }
}

TEST(HelpPages, AreWellFormedTitledAndUseTheSharedStyleSheet) {
    const std::vector<fs::path> pages = HelpPages();
    ASSERT_FALSE(pages.empty());
    for (const fs::path& page : pages) {
        const XmlResult xml = ReadXml(page);
        ASSERT_TRUE(xml.document) << page << ": " << xml.error;
        const Element& root = xml.document->root;
        EXPECT_EQ(root.name, "html") << page;
        const Element* title = FindFirst(root, "title");
        EXPECT_TRUE(title != nullptr && !title->text.empty()) << page << " has no title";
        const std::vector<std::string> links = Links(root);
        EXPECT_NE(std::find(links.begin(), links.end(), "help.css"), links.end())
            << page << " does not use help.css";
    }
}

TEST(HelpPages, EveryRelativeLinkResolvesToAFileAndAnchor) {
    std::map<fs::path, std::set<std::string>> idsByPage;
    std::map<fs::path, std::vector<std::string>> linksByPage;
    for (const fs::path& page : HelpPages()) {
        const XmlResult xml = ReadXml(page);
        ASSERT_TRUE(xml.document) << page << ": " << xml.error;
        idsByPage[page.lexically_normal()] = Ids(xml.document->root);
        linksByPage[page] = Links(xml.document->root);
    }
    for (const auto& [page, links] : linksByPage) {
        for (const std::string& link : links) {
            if (IsExternal(link)) {
                continue;
            }
            const std::size_t hash = link.find('#');
            const std::string file = link.substr(0, hash);
            const fs::path target =
                file.empty() ? page.lexically_normal() : (kHelpDir / file).lexically_normal();
            ASSERT_TRUE(fs::exists(target)) << page.filename() << ": " << link << " leads nowhere";
            if (hash != std::string::npos) {
                const std::string anchor = link.substr(hash + 1);
                ASSERT_TRUE(idsByPage.contains(target)) << page.filename() << ": " << link;
                EXPECT_TRUE(idsByPage.at(target).contains(anchor))
                    << page.filename() << ": " << link << " names no anchor of its page";
            }
        }
    }
}

TEST(HelpPages, TheIndexLinksEveryPage) {
    const XmlResult xml = ReadXml(kHelpDir / "index.html");
    ASSERT_TRUE(xml.document) << xml.error;
    std::set<std::string> linked;
    for (const std::string& link : Links(xml.document->root)) {
        linked.insert(link.substr(0, link.find('#')));
    }
    for (const fs::path& page : HelpPages()) {
        const std::string name = page.filename().string();
        if (name != "index.html") {
            EXPECT_TRUE(linked.contains(name)) << "the index does not link " << name;
        }
    }
}

}  // namespace
