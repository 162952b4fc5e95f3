#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/host/ui/ProbeDialog.h"

namespace {

using ui::headless::DialogDriver;

// Runs checks inside the First dialog while its window exists.
class ControlsTest : public HeadlessTest {
  protected:
    void InsideFirst(const std::function<void(ProbeDialog&, DialogDriver&)>& checks) {
        ProbeDialog first(kFirstTemplate, log_);
        ui_->When("First", [&](DialogDriver& d) {
            checks(first, d);
            d.End(IDOK);
        });
        EXPECT_EQ(first.DoModal(), IDOK);
    }
};

std::vector<std::string> Texts(const CComboBox& combo) {
    std::vector<std::string> texts;
    for (int i = 0; i < combo.GetCount(); ++i) {
        texts.push_back(combo.GetLBText(i));
    }
    return texts;
}

TEST_F(ControlsTest, InsertingBeforeTheSelectionKeepsTheSelectedItem) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        auto* combo = static_cast<CComboBox*>(dialog.GetDlgItem(kCombo));
        combo->AddString("b");
        combo->AddString("c");
        combo->SetCurSel(1);
        EXPECT_EQ(combo->InsertString(0, "a"), 0);
        EXPECT_EQ(combo->GetCurSel(), 2);
        EXPECT_EQ(d.SelectedText(kCombo), "c");
        EXPECT_EQ(combo->InsertString(9, "z"), CB_ERR);
        EXPECT_EQ(Texts(*combo), (std::vector<std::string>{"a", "b", "c"}));
    });
}

TEST_F(ControlsTest, DeletingItemsMovesOrClearsTheSelection) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver&) {
        auto* combo = static_cast<CComboBox*>(dialog.GetDlgItem(kCombo));
        for (const char* text : {"a", "b", "c", "d"}) {
            combo->AddString(text);
        }
        combo->SetCurSel(2);
        EXPECT_EQ(combo->DeleteString(0), 3);
        EXPECT_EQ(combo->GetCurSel(), 1);
        EXPECT_EQ(combo->DeleteString(1), 2);
        EXPECT_EQ(combo->GetCurSel(), CB_ERR);
        EXPECT_EQ(combo->DeleteString(5), CB_ERR);
    });
}

TEST_F(ControlsTest, SelectingOutOfRangeClearsTheSelectionAndFails) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver&) {
        auto* combo = static_cast<CComboBox*>(dialog.GetDlgItem(kCombo));
        combo->AddString("a");
        combo->SetCurSel(0);
        EXPECT_EQ(combo->SetCurSel(3), CB_ERR);
        EXPECT_EQ(combo->GetCurSel(), CB_ERR);
    });
}

TEST_F(ControlsTest, ItemDataFollowsItsItem) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        auto* combo = static_cast<CComboBox*>(dialog.GetDlgItem(kCombo));
        combo->SetItemData(combo->AddString("x"), 10);
        combo->SetItemData(combo->AddString("y"), 20);
        combo->InsertString(0, "w");
        EXPECT_EQ(combo->GetItemData(1), 10U);
        EXPECT_EQ(combo->GetItemData(2), 20U);
        EXPECT_EQ(combo->GetItemData(0), 0U);
        EXPECT_EQ(combo->GetItemData(7), static_cast<DWORD_PTR>(CB_ERR));
        EXPECT_EQ(d.ItemData(kCombo), (std::vector<DWORD_PTR>{0, 10, 20}));
    });
}

TEST_F(ControlsTest, FindStringExactSearchesOnFromTheStartItemAndWraps) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver&) {
        auto* list = static_cast<CListBox*>(dialog.GetDlgItem(kListBox));
        for (const char* text : {"1", "2", "1", "3"}) {
            list->AddString(text);
        }
        EXPECT_EQ(list->FindStringExact(-1, "1"), 0);
        EXPECT_EQ(list->FindStringExact(0, "1"), 2);
        EXPECT_EQ(list->FindStringExact(2, "1"), 0);
        EXPECT_EQ(list->FindStringExact(-1, "4"), LB_ERR);
    });
}

TEST_F(ControlsTest, ListCallsOnAControlOfAnotherKindDoNothing) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        CComboBox misplaced;
        CDataExchange exchange(&dialog, FALSE);
        DDX_Control(&exchange, kEdit, misplaced);
        EXPECT_EQ(misplaced.AddString("x"), CB_ERR);
        EXPECT_EQ(misplaced.GetCount(), CB_ERR);
        EXPECT_EQ(misplaced.SetCurSel(0), CB_ERR);
        EXPECT_TRUE(d.Control(kEdit)->items.empty());
        CComboBox unattached;
        EXPECT_EQ(unattached.AddString("x"), CB_ERR);
        EXPECT_EQ(unattached.GetSafeHwnd(), nullptr);
    });
}

TEST_F(ControlsTest, AttachedWrapperIsDetachedWhenTheWindowGoes) {
    CComboBox member;
    InsideFirst([&member](ProbeDialog& dialog, DialogDriver& d) {
        CDataExchange exchange(&dialog, FALSE);
        DDX_Control(&exchange, kCombo, member);
        member.AddString("kept");
        EXPECT_EQ(d.ItemTexts(kCombo), (std::vector<std::string>{"kept"}));
        EXPECT_NE(member.GetSafeHwnd(), nullptr);
    });
    EXPECT_EQ(member.GetSafeHwnd(), nullptr);
    EXPECT_EQ(member.GetCount(), CB_ERR);
}

TEST_F(ControlsTest, GetDlgItemGivesOneWindowPerControlAndNullForMissingIds) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver&) {
        EXPECT_EQ(dialog.GetDlgItem(kEdit), dialog.GetDlgItem(kEdit));
        EXPECT_EQ(dialog.GetDlgItem(kEdit)->GetDlgCtrlID(), kEdit);
        EXPECT_EQ(dialog.GetDlgItem(kEdit)->GetParent(), &dialog);
        EXPECT_EQ(dialog.GetDlgItem(4242), nullptr);
        EXPECT_NE(dynamic_cast<CComboBox*>(dialog.GetDlgItem(kUnitCombo)), nullptr);
        EXPECT_NE(dynamic_cast<CListBox*>(dialog.GetDlgItem(kListBox)), nullptr);
        EXPECT_NE(dynamic_cast<CButton*>(dialog.GetDlgItem(kRadioOne)), nullptr);
        EXPECT_NE(dynamic_cast<CStatic*>(dialog.GetDlgItem(kPicture)), nullptr);
    });
}

TEST_F(ControlsTest, WindowStateCallsChangeWhatTheUserSees) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        CWnd* button = dialog.GetDlgItem(kOpenButton);
        EXPECT_FALSE(button->EnableWindow(FALSE));
        EXPECT_TRUE(button->EnableWindow(TRUE));
        EXPECT_TRUE(button->ShowWindow(SW_HIDE));
        EXPECT_FALSE(d.IsVisible(kOpenButton));
        EXPECT_FALSE(button->ShowWindow(SW_SHOW));
        dialog.SetDlgItemText(kOpenButton, "Start");
        EXPECT_EQ(d.Text(kOpenButton), "Start");
        dialog.SetWindowText("Renamed");
        EXPECT_EQ(d.Caption(), "Renamed");
        dialog.CheckRadioButton(kRadioZero, kRadioTwo, kRadioOne);
        EXPECT_EQ(dialog.GetCheckedRadioButton(kRadioZero, kRadioTwo), kRadioOne);
        auto* picture = static_cast<CStatic*>(dialog.GetDlgItem(kPicture));
        EXPECT_EQ(picture->SetBitmap({"3059"}).name, "START_PICTURE");
        EXPECT_EQ(d.Bitmap(kPicture), "3059");
    });
}

TEST_F(ControlsTest, RadioExchangeReadsAndWritesTheCheckedIndex) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        int index = 2;
        CDataExchange load(&dialog, FALSE);
        DDX_Radio(&load, kRadioZero, index);
        EXPECT_TRUE(d.IsChecked(kRadioTwo));
        EXPECT_FALSE(d.IsChecked(kRadioZero));
        dialog.CheckRadioButton(kRadioZero, kRadioTwo, kRadioZero);
        CDataExchange save(&dialog, TRUE);
        DDX_Radio(&save, kRadioZero, index);
        EXPECT_EQ(index, 0);
        dialog.CheckRadioButton(kRadioZero, kRadioTwo, 0);
        DDX_Radio(&save, kRadioZero, index);
        EXPECT_EQ(index, -1);
    });
}

TEST_F(ControlsTest, EditLimitRefusesLongerTyping) {
    InsideFirst([](ProbeDialog& dialog, DialogDriver& d) {
        static_cast<CEdit*>(dialog.GetDlgItem(kEdit))->SetLimitText(3);
        EXPECT_TRUE(d.Type(kEdit, "µab"));
        EXPECT_FALSE(d.Type(kEdit, "abcd"));
        EXPECT_EQ(d.Text(kEdit), "µab");
    });
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_NE(ui_->Failures()[0].find("takes at most 3 characters"), std::string::npos);
}

}  // namespace
