// Save prompts and PNG pictures in headless runs: the script answers each prompt in turn, every
// prompt is recorded, a prompt the script did not expect is a failure, pictures are refused.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/ui/FileDialogs.h"
#include "tests/host/ui/ProbeDialog.h"

namespace {

using ui::headless::DialogDriver;
using Answer = std::optional<std::filesystem::path>;

const std::vector<ui::FileType> kTypes = {{"SVG picture", "svg"}, {"Text, comma-separated", "csv"}};

class FileDialogsTest : public HeadlessTest {};

TEST_F(FileDialogsTest, ScriptAnswersSavePromptsInOrderAndRecordsThem) {
    ProbeDialog first(kFirstTemplate, log_);
    std::vector<Answer> answers;
    first.onCommand = [&answers](ProbeDialog& self, UINT id, UINT code) {
        if (id != kOpenButton || code != BN_CLICKED) {
            return FALSE;
        }
        answers.push_back(ui::AskSaveFilePath(&self, "Save Plots", "step.svg", kTypes));
        return TRUE;
    };
    ui_->ExpectSavePrompt("/tmp/first.csv");
    ui_->ExpectSavePromptCancelled();
    ui_->ExpectSavePrompt("second");
    ui_->When("First", [](DialogDriver& d) {
        d.Click(kOpenButton);
        d.Click(kOpenButton);
        d.Click(kOpenButton);
        d.Click(IDOK);
    });

    EXPECT_EQ(first.DoModal(), IDOK);
    const std::vector<Answer> expected = {std::filesystem::path("/tmp/first.csv"), std::nullopt,
                                          std::filesystem::path("second")};
    EXPECT_EQ(answers, expected) << "a scripted path is given back as it is";
    ASSERT_EQ(ui_->SavePrompts().size(), 3U);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ui::headless::SavePromptRecord& record = ui_->SavePrompts()[i];
        EXPECT_EQ(record.prompt.title, "Save Plots");
        EXPECT_EQ(record.prompt.defaultName, "step.svg");
        EXPECT_EQ(record.prompt.types, kTypes);
        EXPECT_EQ(record.answer, expected[i]);
        EXPECT_TRUE(record.expected);
    }
    EXPECT_EQ(ui_->PendingSavePromptExpectations(), 0U);
    EXPECT_TRUE(ui_->Failures().empty());
}

TEST_F(FileDialogsTest, UnexpectedSavePromptIsCancelledAndIsAFailure) {
    EXPECT_EQ(ui::AskSaveFilePath(nullptr, "Save Plots", "run.csv", kTypes), std::nullopt);
    ASSERT_EQ(ui_->SavePrompts().size(), 1U);
    EXPECT_FALSE(ui_->SavePrompts()[0].expected);
    EXPECT_EQ(ui_->SavePrompts()[0].answer, std::nullopt);
    EXPECT_EQ(ui_->Failures(),
              (std::vector<std::string>{"The save prompt \"Save Plots\" came with no answer in the "
                                        "script; it was cancelled."}));
}

TEST_F(FileDialogsTest, PngPicturesAreRefusedWithoutTheDesktop) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("brevan-refused-" + std::to_string(::getpid()) + ".png");
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>";
    EXPECT_EQ(ui::WritePngFromSvg(svg, 10, 10, path), "PNG pictures need the desktop");
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
