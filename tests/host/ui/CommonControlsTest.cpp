// Sliders, spin buttons, tab controls and pop-up menus in the headless layer: the wrappers, the
// notifications user input sends, the inputs the layer refuses, and scripted menus.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/ui/Menu.h"
#include "tests/host/ui/ProbeDialog.h"

namespace {

using ui::headless::DialogDriver;

// Log lines of the First dialog.
std::string Logged(const std::string& what) {
    return "First: " + what;
}

class CommonControlsTest : public HeadlessTest {
  protected:
    // Runs the checks inside the First dialog, its tabs "A", "B", "C" inserted and the slider's
    // range set to 10 ... 50; returns what was logged from then on.
    std::vector<std::string> InsideFirst(
        const std::function<void(ProbeDialog&, DialogDriver&)>& checks) {
        first_.onInit = [](ProbeDialog& dialog) {
            auto* tabs = static_cast<CTabCtrl*>(dialog.GetDlgItem(kTabStrip));
            for (const char* text : {"A", "B", "C"}) {
                tabs->InsertItem(tabs->GetItemCount(), text);
            }
            static_cast<CSliderCtrl*>(dialog.GetDlgItem(kSliderControl))->SetRange(10, 50);
        };
        std::size_t start = 0;
        ui_->When("First", [&](DialogDriver& d) {
            start = log_.size();
            checks(first_, d);
            d.End(IDOK);
        });
        EXPECT_EQ(first_.DoModal(), IDOK);
        return {log_.begin() + static_cast<std::ptrdiff_t>(start), log_.end() - 1};
    }

    ProbeDialog first_{kFirstTemplate, log_};
};

// --- wrappers ---------------------------------------------------------------------------------

TEST_F(CommonControlsTest, SliderKeepsItsPositionWithinTheRange) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        auto* slider = static_cast<CSliderCtrl*>(dialog.GetDlgItem(kSliderControl));
        EXPECT_EQ(slider->GetPos(), 10);  // the range moved it in
        slider->SetPos(70);
        EXPECT_EQ(slider->GetPos(), 50);
        slider->SetPos(-3);
        EXPECT_EQ(d.Position(kSliderControl), 10);
        slider->SetPos(30);
        slider->SetRange(0, 20, TRUE);
        EXPECT_EQ(slider->GetPos(), 20);
        EXPECT_EQ(slider->GetRangeMin(), 0);
        EXPECT_EQ(slider->GetRangeMax(), 20);
        EXPECT_EQ(slider->SetPageSize(5), ui::ControlState::kDefaultPageSize);
        EXPECT_EQ(slider->GetPageSize(), 5);
    });
}

TEST_F(CommonControlsTest, SpinRangeMayRunDownward) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        auto* spin = static_cast<CSpinButtonCtrl*>(dialog.GetDlgItem(kSpinButton));
        spin->SetRange32(100, -100);
        EXPECT_EQ(spin->SetPos32(150), 0);
        EXPECT_EQ(spin->GetPos32(), 100);
        EXPECT_EQ(spin->SetPos32(-150), 100);
        EXPECT_EQ(d.Position(kSpinButton), -100);
        int lower = 0;
        int upper = 0;
        spin->GetRange32(lower, upper);
        EXPECT_EQ(lower, 100);
        EXPECT_EQ(upper, -100);
    });
}

TEST_F(CommonControlsTest, TabSelectionFollowsItsTabThroughInsertsAndDeletes) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        auto* tabs = static_cast<CTabCtrl*>(dialog.GetDlgItem(kTabStrip));
        EXPECT_EQ(tabs->GetCurSel(), 0);  // the first tab inserted was selected
        EXPECT_EQ(tabs->SetCurSel(1), 0);
        EXPECT_EQ(tabs->InsertItem(0, "Z"), 0);
        EXPECT_EQ(d.SelectedText(kTabStrip), "B");
        EXPECT_EQ(tabs->InsertItem(99, "end"), 4);
        EXPECT_EQ(tabs->InsertItem(-1, "bad"), -1);
        EXPECT_EQ(tabs->SetCurSel(5), -1);
        EXPECT_EQ(tabs->GetCurSel(), 2);
        EXPECT_TRUE(tabs->DeleteItem(2));
        EXPECT_EQ(tabs->GetCurSel(), -1);
        EXPECT_EQ(d.ItemTexts(kTabStrip), (std::vector<std::string>{"Z", "A", "C", "end"}));
        EXPECT_TRUE(tabs->DeleteAllItems());
        EXPECT_EQ(tabs->GetItemCount(), 0);
    });
}

TEST_F(CommonControlsTest, CallsOnAControlOfAnotherKindDoNothing) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        CDataExchange exchange(&dialog, FALSE);
        CSliderCtrl slider;
        CSpinButtonCtrl spin;
        CTabCtrl tabs;
        DDX_Control(&exchange, kCombo, slider);
        DDX_Control(&exchange, kTabStrip, spin);
        DDX_Control(&exchange, kSliderControl, tabs);
        slider.SetPos(5);
        EXPECT_EQ(slider.GetPos(), 0);
        BOOL error = FALSE;
        EXPECT_EQ(spin.SetPos32(5), 0);
        spin.GetPos32(&error);
        EXPECT_TRUE(error);
        EXPECT_EQ(tabs.InsertItem(0, "x"), -1);
        EXPECT_EQ(d.Position(kCombo), 0);
        EXPECT_EQ(d.ItemTexts(kTabStrip).size(), 3U);
        EXPECT_TRUE(d.ItemTexts(kSliderControl).empty());
    });
}

// --- notifications ------------------------------------------------------------------------------

struct InputRow {
    const char* name;
    std::function<bool(DialogDriver&)> act;
    std::vector<std::string> logged;
    int id;      // the control whose state is checked
    int wanted;  // its position, or the selected tab
};

void PrintTo(const InputRow& row, std::ostream* os) {
    *os << row.name;
}

class NotificationTest : public CommonControlsTest,
                         public ::testing::WithParamInterface<InputRow> {};

TEST_P(NotificationTest, InputSendsWhatTheToolkitSends) {
    const InputRow& row = GetParam();
    first_.onNotify = [](ProbeDialog& dialog, NMHDR& header, LRESULT& result) {
        // The dialog refuses to spin below zero.
        if (header.code == UDN_DELTAPOS) {
            const auto& change = reinterpret_cast<NMUPDOWN&>(header);
            result = change.iPos + change.iDelta < 0 ? TRUE : FALSE;
            EXPECT_EQ(header.hwndFrom, dialog.GetDlgItem(kSpinButton));
        }
        return TRUE;
    };
    const std::vector<std::string> log = InsideFirst([&row](ProbeDialog&, DialogDriver& d) {
        EXPECT_TRUE(row.act(d));
        const ui::ControlState* control = d.Control(row.id);
        EXPECT_EQ(control->kind == ui::ControlKind::Tab ? control->selection : control->position,
                  row.wanted);
    });
    std::vector<std::string> wanted;
    for (const std::string& line : row.logged) {
        wanted.push_back(Logged(line));
    }
    EXPECT_EQ(log, wanted);
    EXPECT_TRUE(ui_->Failures().empty()) << ui_->Failures().front();
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, NotificationTest,
    ::testing::Values(InputRow{"SliderDragTracksThenEnds",
                               [](DialogDriver& d) { return d.MoveSlider(kSliderControl, 40); },
                               {"hscroll 5 40 from 1030", "hscroll 8 0 from 1030"},
                               kSliderControl,
                               40},
                      InputRow{"SliderDragStopsAtTheRangeEnd",
                               [](DialogDriver& d) { return d.MoveSlider(kSliderControl, 99); },
                               {"hscroll 5 50 from 1030", "hscroll 8 0 from 1030"},
                               kSliderControl,
                               50},
                      InputRow{"SliderLeftWhereItIsSendsNothing",
                               [](DialogDriver& d) { return d.MoveSlider(kSliderControl, 0); },
                               {},
                               kSliderControl,
                               10},
                      InputRow{"SpinUpAsksThenMoves",
                               [](DialogDriver& d) { return d.Spin(kSpinButton, 1); },
                               {"notify 1031 deltapos 0 1"},
                               kSpinButton,
                               1},
                      InputRow{"SpinRefusedByTheDialogStays",
                               [](DialogDriver& d) { return d.Spin(kSpinButton, -1); },
                               {"notify 1031 deltapos 0 -1"},
                               kSpinButton,
                               0},
                      InputRow{"SpinAtTheRangeEndAsksButStays",
                               [](DialogDriver& d) {
                                   return d.Spin(kSpinButton, 60) && d.Spin(kSpinButton, 60);
                               },
                               {"notify 1031 deltapos 0 60", "notify 1031 deltapos 60 60"},
                               kSpinButton,
                               100},
                      InputRow{"TabPickSelectsThenNotifies",
                               [](DialogDriver& d) { return d.SelectTab(kTabStrip, 2); },
                               {"notify 1032 selchange"},
                               kTabStrip,
                               2},
                      InputRow{"TabPickOfTheSelectedTabSendsNothing",
                               [](DialogDriver& d) { return d.SelectTab(kTabStrip, 0); },
                               {},
                               kTabStrip,
                               0},
                      InputRow{"RightClickOnAControlNamesIt",
                               [](DialogDriver& d) {
                                   return d.RightClick(kListBox, CPoint{300, 200});
                               },
                               {"context 1012 at 300,200"},
                               kTabStrip,
                               0},
                      InputRow{"RightClickOnTheDialogNamesTheDialog",
                               [](DialogDriver& d) {
                                   return d.RightClick(0, CPoint{5, 6});
                               },
                               {"context 0 at 5,6"},
                               kTabStrip,
                               0}),
    [](const ::testing::TestParamInfo<InputRow>& row) { return std::string(row.param.name); });

struct RefusalRow {
    const char* name;
    std::function<bool(DialogDriver&)> act;
    const char* reason;
};

void PrintTo(const RefusalRow& row, std::ostream* os) {
    *os << row.name;
}

class RefusalTest : public CommonControlsTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusalTest, RefusedInputChangesNothingAndSaysWhy) {
    const std::vector<std::string> log = InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        dialog.GetDlgItem(kSpinButton)->ShowWindow(SW_HIDE);
        EXPECT_FALSE(GetParam().act(d));
        EXPECT_EQ(d.Position(kSliderControl), 10);
        EXPECT_EQ(d.Position(kDisabledSlider), 0);
        EXPECT_EQ(d.Position(kSpinButton), 0);
        EXPECT_EQ(d.Control(kTabStrip)->selection, 0);
    });
    EXPECT_TRUE(log.empty()) << log.front();
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_NE(ui_->Failures()[0].find(GetParam().reason), std::string::npos) << ui_->Failures()[0];
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalTest,
    ::testing::Values(
        RefusalRow{"DisabledSlider",
                   [](DialogDriver& d) { return d.MoveSlider(kDisabledSlider, 5); },
                   "slider 1033 is disabled"},
        RefusalRow{"SliderInputOnACombo", [](DialogDriver& d) { return d.MoveSlider(kCombo, 5); },
                   "combo 1010 is not a slider"},
        RefusalRow{"HiddenSpin", [](DialogDriver& d) { return d.Spin(kSpinButton, 1); },
                   "spin 1031 is hidden"},
        RefusalRow{"SpinInputOnASlider", [](DialogDriver& d) { return d.Spin(kSliderControl, 1); },
                   "slider 1030 is not a spin button"},
        RefusalRow{"TabBeyondTheLast", [](DialogDriver& d) { return d.SelectTab(kTabStrip, 3); },
                   "tab 1032 has no tab 3"},
        RefusalRow{"TabInputOnAList", [](DialogDriver& d) { return d.SelectTab(kListBox, 0); },
                   "list 1012 is not a tab control"},
        RefusalRow{"RightClickOnAHiddenButton",
                   [](DialogDriver& d) { return d.RightClick(kHiddenButton); },
                   "button 1022 \"Hidden\" is hidden"},
        RefusalRow{"RightClickOnAMissingControl",
                   [](DialogDriver& d) { return d.RightClick(4242); }, "there is no control 4242"}),
    [](const ::testing::TestParamInfo<RefusalRow>& row) { return std::string(row.param.name); });

TEST_F(CommonControlsTest, SliderMessagesNameTheAttachedMember) {
    CSliderCtrl member;
    CScrollBar* named = nullptr;
    first_.onHScroll = [&named](ProbeDialog&, UINT, UINT, CScrollBar* slider) { named = slider; };
    InsideFirst([&member](ProbeDialog& dialog, DialogDriver& d) {
        CDataExchange exchange(&dialog, FALSE);
        DDX_Control(&exchange, kSliderControl, member);
        EXPECT_TRUE(d.MoveSlider(kSliderControl, 20));
    });
    EXPECT_EQ(named, &member);
}

// A dialog with pages shows and hides its own controls when the user picks a tab.
TEST_F(CommonControlsTest, TabPickLetsTheDialogSwitchItsPages) {
    first_.onNotify = [](ProbeDialog& dialog, NMHDR& header, LRESULT&) {
        const int page = static_cast<CTabCtrl*>(dialog.GetDlgItem(kTabStrip))->GetCurSel();
        dialog.GetDlgItem(kEdit)->ShowWindow(page == 0 ? SW_SHOW : SW_HIDE);
        return header.code == TCN_SELCHANGE ? TRUE : FALSE;
    };
    InsideFirst([](ProbeDialog&, DialogDriver& d) {
        EXPECT_TRUE(d.SelectTab(kTabStrip, 1));
        EXPECT_FALSE(d.Type(kEdit, "1"));
        EXPECT_TRUE(d.SelectTab(kTabStrip, 0));
        EXPECT_TRUE(d.Type(kEdit, "1"));
    });
    EXPECT_EQ(ui_->Failures().size(), 1U);
}

// --- pop-up menus -------------------------------------------------------------------------------

constexpr UINT kZoom = 10062;
constexpr UINT kSave = 10063;
constexpr UINT kPause = 10064;

struct MenuRow {
    const char* name;
    std::vector<std::string> expectations;  // ExpectMenu texts
    UINT trackFlags;
    int returned;                       // what TrackPopupMenu returned
    std::vector<std::string> commands;  // logged after the context line
    std::size_t failures;
};

void PrintTo(const MenuRow& row, std::ostream* os) {
    *os << row.name;
}

class MenuTest : public CommonControlsTest, public ::testing::WithParamInterface<MenuRow> {};

TEST_P(MenuTest, ContextMenuAnswersAsTheUserChose) {
    const MenuRow& row = GetParam();
    for (const std::string& text : row.expectations) {
        ui_->ExpectMenu(text);
    }
    int returned = -1;
    first_.onContextMenu = [&returned, &row](ProbeDialog& dialog, CWnd*, CPoint point) {
        CMenu menu;
        ASSERT_TRUE(menu.CreatePopupMenu());
        menu.AppendMenu(MF_STRING | MF_CHECKED, kZoom, "&Zoom out");
        menu.AppendMenu(MF_SEPARATOR);
        menu.AppendMenu(MF_STRING | MF_GRAYED, kSave, "Save");
        menu.AppendMenu(MF_STRING, kPause, "Pause");
        returned = menu.TrackPopupMenu(row.trackFlags, point.x, point.y, &dialog);
    };
    const std::vector<std::string> log = InsideFirst([](ProbeDialog&, DialogDriver& d) {
        EXPECT_TRUE(d.RightClick(kPicture, CPoint{1, 2}));
    });
    std::vector<std::string> wanted{Logged("context 1014 at 1,2")};
    for (const std::string& line : row.commands) {
        wanted.push_back(Logged(line));
    }
    EXPECT_EQ(log, wanted);
    EXPECT_EQ(returned, row.returned);
    ASSERT_EQ(ui_->Menus().size(), 1U);
    EXPECT_EQ(ui_->Menus()[0].items, (std::vector<std::string>{"Zoom out", "", "Save", "Pause"}));
    EXPECT_EQ(ui_->Failures().size(), row.failures);
    EXPECT_EQ(ui_->PendingMenuExpectations(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Menus, MenuTest,
    ::testing::Values(
        MenuRow{"ReturnCommandGivesTheId", {"Pause"}, TPM_RETURNCMD, kPause, {}, 0},
        MenuRow{"MnemonicIgnored", {"Zoom out"}, TPM_RETURNCMD | TPM_RIGHTBUTTON, kZoom, {}, 0},
        MenuRow{"WithoutReturnCommandTheIdIsACommand",
                {"Pause"},
                TPM_LEFTALIGN,
                TRUE,
                {"command 10064/0"},
                0},
        MenuRow{"DismissedByExpectation", {""}, TPM_LEFTALIGN, FALSE, {}, 0},
        MenuRow{"NoExpectationDismisses", {}, TPM_RETURNCMD, 0, {}, 0},
        MenuRow{"GrayedItemCannotBeChosen", {"Save"}, TPM_RETURNCMD, 0, {}, 1},
        MenuRow{"MissingItemCannotBeChosen", {"Print"}, TPM_RETURNCMD, 0, {}, 1}),
    [](const ::testing::TestParamInfo<MenuRow>& row) { return std::string(row.param.name); });

TEST(MenuItems, OnlyACreatedMenuTakesItems) {
    CMenu menu;
    EXPECT_FALSE(menu.AppendMenu(MF_STRING, 1, "x"));
    EXPECT_EQ(menu.GetMenuItemCount(), -1);
    ASSERT_TRUE(menu.CreatePopupMenu());
    EXPECT_FALSE(menu.CreatePopupMenu());
    EXPECT_TRUE(menu.AppendMenu(MF_STRING | MF_DISABLED, 1, "x"));
    EXPECT_FALSE(menu.Items()[0].IsChoosable());
    EXPECT_EQ(menu.GetMenuItemCount(), 1);
    EXPECT_FALSE(menu.TrackPopupMenu(TPM_RETURNCMD, 0, 0, nullptr));
    EXPECT_TRUE(menu.DestroyMenu());
    EXPECT_EQ(menu.GetMenuItemCount(), -1);
}

}  // namespace
