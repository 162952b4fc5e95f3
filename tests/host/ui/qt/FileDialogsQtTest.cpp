// The save prompt on the desktop (Qt's own file dialog, acted on as a user would) and PNG
// pictures drawn from SVG.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/ui/FileDialogs.h"
#include "tests/host/ui/qt/QtTestSupport.h"

namespace {

namespace fs = std::filesystem;

const std::vector<ui::FileType> kTypes = {
    {"SVG picture", "svg"}, {"PNG picture", "png"}, {"Text, comma-separated", "csv"}};

// A fresh folder per test, removed afterwards.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& name)
        : path_(fs::temp_directory_path() / ("brevan-" + name + "-" + std::to_string(::getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() { fs::remove_all(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

QLineEdit* NameField(QFileDialog& dialog) {
    return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

QComboBox* TypeList(QFileDialog& dialog) {
    return dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
}

void TypeName(QFileDialog& dialog, const QString& name) {
    QLineEdit* field = NameField(dialog);
    ASSERT_NE(field, nullptr);
    field->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, name);
}

void PressSave(QFileDialog& dialog) {
    QTest::keyClick(NameField(dialog), Qt::Key_Return);
}

// Picks the next file type down the list with the keyboard, as a user does.
void PickNextType(QFileDialog& dialog) {
    QComboBox* list = TypeList(dialog);
    ASSERT_NE(list, nullptr);
    QTest::keyClick(list, Qt::Key_Down);
}

struct SavePromptRow {
    const char* name;
    const char* defaultName;
    std::function<void(QFileDialog&)> act;
    std::optional<const char*> chosenFile;  // in the folder; std::nullopt: cancelled
};

void PrintTo(const SavePromptRow& row, std::ostream* os) {
    *os << row.name;
}

class SavePromptQtTest : public QtBackendTest,
                         public ::testing::WithParamInterface<SavePromptRow> {};

TEST_P(SavePromptQtTest, AnswersThePathTheUserChose) {
    const SavePromptRow& row = GetParam();
    const ScratchFolder folder("save-prompt");
    script_.WhenFileDialog(row.act);
    const std::optional<fs::path> answer = ui::AskSaveFilePath(
        nullptr, "Save Plots", (folder.Path() / row.defaultName).string(), kTypes);
    if (row.chosenFile) {
        EXPECT_EQ(answer, folder.Path() / *row.chosenFile);
    } else {
        EXPECT_EQ(answer, std::nullopt);
    }
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Choices, SavePromptQtTest,
    ::testing::Values(SavePromptRow{"ProposedName", "plots.svg",
                                    [](QFileDialog& d) { PressSave(d); }, "plots.svg"},
                      SavePromptRow{"TypedNameGetsTheChosenTypesExtension", "plots.svg",
                                    [](QFileDialog& d) {
                                        PickNextType(d);
                                        TypeName(d, QStringLiteral("step"));
                                        PressSave(d);
                                    },
                                    "step.png"},
                      SavePromptRow{"TypedExtensionIsKept", "plots.svg",
                                    [](QFileDialog& d) {
                                        TypeName(d, QStringLiteral("step.csv"));
                                        PressSave(d);
                                    },
                                    "step.csv"},
                      SavePromptRow{"ProposedExtensionChoosesItsType", "plots.csv",
                                    [](QFileDialog& d) {
                                        TypeName(d, QStringLiteral("step"));
                                        PressSave(d);
                                    },
                                    "step.csv"},
                      SavePromptRow{"EscapeCancels", "plots.svg",
                                    [](QFileDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
                                    std::nullopt}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

class SavePromptLookTest : public QtBackendTest {};

TEST_F(SavePromptLookTest, ShowsTitleTypesAndProposedName) {
    const ScratchFolder folder("save-prompt-look");
    QString title;
    QStringList filters;
    QString selectedFilter;
    QString name;
    bool native = true;
    script_.WhenFileDialog([&](QFileDialog& d) {
        title = d.windowTitle();
        filters = d.nameFilters();
        selectedFilter = d.selectedNameFilter();
        name = NameField(d) != nullptr ? NameField(d)->text() : QString();
        native = !d.testOption(QFileDialog::DontUseNativeDialog);
        d.reject();
    });
    EXPECT_EQ(ui::AskSaveFilePath(nullptr, "Save Plots",
                                  (folder.Path() / "step-response.png").string(), kTypes),
              std::nullopt);
    EXPECT_EQ(title, QStringLiteral("Save Plots"));
    EXPECT_EQ(filters, (QStringList{QStringLiteral("SVG picture (*.svg)"),
                                    QStringLiteral("PNG picture (*.png)"),
                                    QStringLiteral("Text, comma-separated (*.csv)")}));
    EXPECT_EQ(selectedFilter, QStringLiteral("PNG picture (*.png)"));
    EXPECT_EQ(name, QStringLiteral("step-response.png"));
    EXPECT_FALSE(native) << "the platform's dialog cannot be driven offscreen";
    ExpectScriptCompleted();
}

// The open prompt is the same dialog choosing an existing file: nothing to replace, no
// extension added.
TEST_F(SavePromptLookTest, OpenPromptChoosesTheExistingFileProposed) {
    const ScratchFolder folder("open-prompt");
    const fs::path existing = folder.Path() / "SpeedTuning.json";
    std::ofstream(existing) << "{}";
    bool opens = false;
    bool existingOnly = false;
    script_.WhenFileDialog([&](QFileDialog& d) {
        opens = d.acceptMode() == QFileDialog::AcceptOpen;
        existingOnly = d.fileMode() == QFileDialog::ExistingFile;
        PressSave(d);
    });
    EXPECT_EQ(ui::AskOpenFilePath(nullptr, "Load Scope Settings", existing.string(),
                                  {{"Scope settings", "json"}}),
              existing);
    EXPECT_TRUE(opens);
    EXPECT_TRUE(existingOnly);
    ExpectScriptCompleted();
}

// --- PNG pictures ---

// The left half red, the right half left empty (so it shows the white drawn under the picture).
constexpr const char* kHalfRed =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\" viewBox=\"0 0 10 10\">"
    "<rect x=\"0\" y=\"0\" width=\"5\" height=\"10\" fill=\"#ff0000\"/></svg>";

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t BigEndianAt(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

struct PngSize {
    int width_px;
    int height_px;
};

void PrintTo(const PngSize& size, std::ostream* os) {
    *os << size.width_px << " x " << size.height_px;
}

class PngPictureTest : public QtBackendTest, public ::testing::WithParamInterface<PngSize> {};

TEST_P(PngPictureTest, WritesThePictureScaledToTheSize) {
    const auto [width_px, height_px] = GetParam();
    const ScratchFolder folder("png");
    const fs::path path = folder.Path() / "half.png";
    ASSERT_EQ(ui::WritePngFromSvg(kHalfRed, width_px, height_px, path), "");
    const std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 24U);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
    EXPECT_EQ(BigEndianAt(bytes, 16), static_cast<std::uint32_t>(width_px));
    EXPECT_EQ(BigEndianAt(bytes, 20), static_cast<std::uint32_t>(height_px));
    const QImage image(QString::fromStdString(path.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixel(width_px / 4, height_px / 2), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(3 * width_px / 4, height_px / 2), qRgb(255, 255, 255));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngPictureTest,
                         ::testing::Values(PngSize{800, 480}, PngSize{64, 200}),
                         [](const auto& testCase) {
                             return std::to_string(testCase.param.width_px) + "x" +
                                    std::to_string(testCase.param.height_px);
                         });

struct PngProblemRow {
    const char* name;
    const char* svg;
    int width_px;
    const char* file;  // in the folder
    const char* problem;
};

void PrintTo(const PngProblemRow& row, std::ostream* os) {
    *os << row.name;
}

class PngProblemTest : public QtBackendTest, public ::testing::WithParamInterface<PngProblemRow> {};

TEST_P(PngProblemTest, WritesNothingAndSaysWhy) {
    const PngProblemRow& row = GetParam();
    const ScratchFolder folder("png-problem");
    const fs::path path = folder.Path() / row.file;
    std::string problem = row.problem;
    if (const std::size_t at = problem.find("PATH"); at != std::string::npos) {
        problem.replace(at, 4, path.string());
    }
    EXPECT_EQ(ui::WritePngFromSvg(row.svg, row.width_px, 100, path), problem);
    EXPECT_TRUE(fs::is_empty(folder.Path()));
}

INSTANTIATE_TEST_SUITE_P(
    Problems, PngProblemTest,
    ::testing::Values(PngProblemRow{"NotSvg", "<html></html>", 100, "bad.png",
                                    "the picture is not valid SVG"},
                      PngProblemRow{"NoPixels", kHalfRed, 0, "empty.png",
                                    "a picture of 0 x 100 pixels cannot be drawn"},
                      PngProblemRow{"MissingFolder", kHalfRed, 100, "missing/half.png",
                                    "the file PATH could not be written"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
