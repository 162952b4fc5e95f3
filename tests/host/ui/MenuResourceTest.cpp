// Menu resources: the scope's context menu loads from resources/menus/101.json, and a file that
// is not a menu is refused with the problem named.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/ui/DialogTemplate.h"
#include "host/ui/Menu.h"
#include "host/ui/headless/HeadlessBackend.h"

namespace {

TEST(MenuResource, ScopeMenuOffersItsCommandsInOrderWithOneSeparator) {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
    ui::headless::Session ui;
    CMenu menu;
    ASSERT_EQ(menu.LoadMenu(101), TRUE) << (ui->Problems().empty() ? "" : ui->Problems()[0]);
    EXPECT_EQ(menu.GetMenuItemCount(), 1);
    CMenu* scope = menu.GetSubMenu(0);
    ASSERT_NE(scope, nullptr);
    EXPECT_EQ(menu.GetSubMenu(1), nullptr);
    std::vector<UINT> ids;
    for (const ui::MenuItem& item : scope->Items()) {
        EXPECT_EQ(item.IsSeparator(), item.id == 0);
        EXPECT_EQ(item.IsChoosable(), !item.IsSeparator()) << item.text;
        EXPECT_EQ(item.text.empty(), item.IsSeparator()) << item.id;
        ids.push_back(item.id);
    }
    EXPECT_EQ(ids, (std::vector<UINT>{10062, 10063, 10064, 10065, 10066, 0, 10067, 10068, 10069}));
    EXPECT_EQ(scope->Items()[2].text, "&Autoscale");
    EXPECT_EQ(menu.LoadMenu(101), FALSE) << "a menu loads once";
    EXPECT_EQ(ui->Problems().size(), 1U);
}

TEST(MenuResource, MissingResourceIsReported) {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
    ui::headless::Session ui;
    CMenu menu;
    EXPECT_EQ(menu.LoadMenu(999), FALSE);
    EXPECT_EQ(menu.GetSubMenu(0), nullptr);
    ASSERT_EQ(ui->Problems().size(), 1U);
    EXPECT_NE(ui->Problems()[0].find("menus/999.json"), std::string::npos) << ui->Problems()[0];
}

struct BadMenuCase {
    std::string label;
    std::string text;
    std::string problem;
};

class BadMenuResource : public ::testing::TestWithParam<BadMenuCase> {};

TEST_P(BadMenuResource, IsRefusedWithItsProblem) {
    std::string problem;
    EXPECT_FALSE(ui::ParseMenuResource(GetParam().text, problem));
    EXPECT_EQ(problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BadMenuResource,
    ::testing::Values(
        BadMenuCase{"NotJson", "{\"popups\": [", "it is not a JSON object"},
        BadMenuCase{"NoPopups", "{\"id\": 101}", "the menu has no list \"popups\""},
        BadMenuCase{"PopupWithoutCaption", R"({"popups": [{"items": []}]})",
                    "popups[0] has no text \"caption\""},
        BadMenuCase{"ItemWithoutId",
                    R"({"popups": [{"caption": "S", "items": [{"caption": "A"}]}]})",
                    "popups[0].items[0] has no positive \"id\""},
        BadMenuCase{"ItemOfIdZero",
                    R"({"popups": [{"caption": "S", "items": [{"id": 0, "caption": "A"}]}]})",
                    "popups[0].items[0] has no positive \"id\""},
        BadMenuCase{"ItemWithoutCaption",
                    R"({"popups": [{"caption": "S", "items": [{"separator": true}, {"id": 5}]}]})",
                    "popups[0].items[1] has no text \"caption\""}),
    [](const auto& row) { return row.param.label; });

}  // namespace
