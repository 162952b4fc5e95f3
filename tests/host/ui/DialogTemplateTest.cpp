#include <gtest/gtest.h>

#include <string>

#include "host/ui/ControlState.h"
#include "host/ui/DialogTemplate.h"
#include "tests/host/ui/ProbeDialog.h"

namespace {

struct MalformedCase {
    const char* name;
    const char* json;
    const char* fault;
};

constexpr const char* kHead = R"({"id": 5, "caption": "T", "width": 100, "height": 50, )";

std::string WithControls(const std::string& controls) {
    return std::string(kHead) + R"("controls": [)" + controls + "]}";
}

class MalformedTemplateTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedTemplateTest, IsRefusedNamingItsFault) {
    const ui::TemplateLoad load = ui::ParseDialogTemplate(GetParam().json, "t.json");
    EXPECT_FALSE(load.dialogTemplate);
    EXPECT_NE(load.problem.find(GetParam().fault), std::string::npos) << load.problem;
    EXPECT_EQ(load.problem.rfind("t.json", 0), 0U) << load.problem;
}

const std::string kDuplicate = WithControls(
    R"({"id": 7, "kind": "edit", "x": 0, "y": 0, "w": 1, "h": 1},
       {"id": 7, "kind": "button", "x": 0, "y": 0, "w": 1, "h": 1})");
const std::string kUnknownKind =
    WithControls(R"({"id": 7, "kind": "knob", "x": 0, "y": 0, "w": 1, "h": 1})");
const std::string kUnknownMember =
    WithControls(R"({"id": 7, "kind": "edit", "colour": 3, "x": 0, "y": 0, "w": 1, "h": 1})");
const std::string kReadOnlyButton = WithControls(
    R"({"id": 7, "kind": "button", "readOnly": true, "x": 0, "y": 0, "w": 1, "h": 1})");
const std::string kSharesWithMissing = WithControls(
    R"({"id": 7, "kind": "edit", "sharesPlaceWith": [8], "x": 0, "y": 0, "w": 1, "h": 1})");
const std::string kMissingGeometry = WithControls(R"({"id": 7, "kind": "edit", "x": 0, "y": 0})");
const std::string kTextId =
    WithControls(R"({"id": "seven", "kind": "edit", "x": 0, "y": 0, "w": 1, "h": 1})");
const std::string kVisibleText =
    WithControls(R"({"id": 7, "kind": "edit", "visible": "no", "x": 0, "y": 0, "w": 1, "h": 1})");

INSTANTIATE_TEST_SUITE_P(
    Faults, MalformedTemplateTest,
    ::testing::Values(
        MalformedCase{"NotJson", "{", "is not valid JSON"},
        MalformedCase{"NotObject", "[1, 2]", "is not a JSON object"},
        MalformedCase{"MissingCaption", R"({"id": 5, "width": 9, "height": 9, "controls": []})",
                      "\"caption\" is missing"},
        MalformedCase{"ZeroWidth",
                      R"({"id": 5, "caption": "T", "width": 0, "height": 9, "controls": []})",
                      "must be positive"},
        MalformedCase{"ControlsNotList",
                      R"({"id": 5, "caption": "T", "width": 9, "height": 9, "controls": 3})",
                      "\"controls\" must be a list"},
        MalformedCase{"UnknownDialogMember",
                      R"({"id": 5, "caption": "T", "width": 9, "height": 9, "controls": [],
                          "font": "x"})",
                      "unknown member \"font\""},
        MalformedCase{"DuplicateId", kDuplicate.c_str(), "control 7 appears twice"},
        MalformedCase{"UnknownKind", kUnknownKind.c_str(), "unknown kind \"knob\""},
        MalformedCase{"UnknownControlMember", kUnknownMember.c_str(), "unknown member \"colour\""},
        MalformedCase{"ReadOnlyButton", kReadOnlyButton.c_str(), "apply to edit boxes only"},
        MalformedCase{"SharesPlaceWithMissing", kSharesWithMissing.c_str(),
                      "shares its place with 8, which is not in the template"},
        MalformedCase{"MissingGeometry", kMissingGeometry.c_str(), "\"w\" is missing"},
        MalformedCase{"TextId", kTextId.c_str(), "\"id\" must be a whole number"},
        MalformedCase{"TextFlag", kVisibleText.c_str(), "\"visible\" must be true or false"}),
    [](const ::testing::TestParamInfo<MalformedCase>& testCase) { return testCase.param.name; });

TEST(DialogTemplateTest, ParsedControlsKeepTabOrderAndDefaults) {
    const ui::TemplateLoad load = ui::ParseDialogTemplate(
        WithControls(
            R"({"id": -1, "kind": "static", "caption": "A", "x": 1, "y": 2, "w": 3, "h": 4},
                        {"id": -1, "kind": "static", "caption": "B", "x": 0, "y": 0, "w": 1, "h": 1},
                        {"id": 9, "kind": "edit", "readOnly": true, "enabled": false,
                         "x": 0, "y": 0, "w": 1, "h": 1})"),
        "t.json");
    ASSERT_TRUE(load.dialogTemplate) << load.problem;
    const auto& controls = load.dialogTemplate->controls;
    ASSERT_EQ(controls.size(), 3U);
    EXPECT_EQ(controls[0].caption, "A");
    EXPECT_EQ(controls[0].rect.h, 4);
    EXPECT_TRUE(controls[0].visible);
    EXPECT_EQ(controls[1].caption, "B");
    EXPECT_EQ(controls[2].kind, ui::ControlKind::Edit);
    EXPECT_TRUE(controls[2].readOnly);
    EXPECT_FALSE(controls[2].enabled);
}

class TemplateFilesTest : public HeadlessTest {};

TEST_F(TemplateFilesTest, TemplateIsFoundByTheNumberBeforeItsName) {
    const ui::TemplateLoad load = ui::LoadDialogTemplate(kFirstTemplate);
    ASSERT_TRUE(load.dialogTemplate) << load.problem;
    EXPECT_EQ(load.dialogTemplate->caption, "First");
}

TEST_F(TemplateFilesTest, AbsentTemplateNamesTheFolderSearched) {
    const ui::TemplateLoad load = ui::LoadDialogTemplate(999);
    EXPECT_FALSE(load.dialogTemplate);
    EXPECT_EQ(load.problem,
              "there is no template 999 in " BREVAN_SOURCE_DIR "/tests/host/ui/resources/dialogs");
}

TEST_F(TemplateFilesTest, FileHoldingAnotherIdIsRefused) {
    const ui::TemplateLoad load = ui::LoadDialogTemplate(903);
    EXPECT_FALSE(load.dialogTemplate);
    EXPECT_NE(load.problem.find("the file holds template 904, not 903"), std::string::npos);
}

TEST_F(TemplateFilesTest, StringTableEntriesAreFoundById) {
    EXPECT_EQ(ui::LoadResourceString(2), "Zweite Zeichenkette");
    EXPECT_EQ(ui::LoadResourceString(3), "");
}

TEST_F(TemplateFilesTest, OnlyListedBitmapsLoad) {
    EXPECT_EQ(ui::LoadBitmapResource(3059)->name, "3059");
    EXPECT_FALSE(ui::LoadBitmapResource("NO_SUCH_PICTURE"));
    ASSERT_EQ(ui_->Problems().size(), 1U);
    EXPECT_EQ(ui_->Problems()[0],
              "The bitmap \"NO_SUCH_PICTURE\" is not among the resources' bitmaps.");
}

struct MnemonicCase {
    const char* caption;
    const char* plain;
};

class MnemonicTest : public ::testing::TestWithParam<MnemonicCase> {};

TEST_P(MnemonicTest, MarksAreRemoved) {
    EXPECT_EQ(ui::StripMnemonic(GetParam().caption), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(Captions, MnemonicTest,
                         ::testing::Values(MnemonicCase{"&Position", "Position"},
                                           MnemonicCase{"Tune && Test", "Tune & Test"},
                                           MnemonicCase{"Save &As && go", "Save As & go"},
                                           MnemonicCase{"trailing&", "trailing"},
                                           MnemonicCase{"plain", "plain"}));

}  // namespace
