#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/ui/UserInput.h"
#include "tests/host/ui/ProbeDialog.h"

namespace {

using ui::headless::DialogDriver;
using Log = std::vector<std::string>;

class HeadlessLoopTest : public HeadlessTest {};

TEST_F(HeadlessLoopTest, TimerOpensSecondDialogHundredMillisecondsAfterShow) {
    constexpr UINT_PTR kOpenTimer = 2;
    std::uint64_t secondShownAt_ms = 0;
    ProbeDialog first(kFirstTemplate, log_);
    first.onShow = [](ProbeDialog& self) { self.SetTimer(kOpenTimer, 100); };
    first.onTimer = [this](ProbeDialog& self, UINT_PTR id) {
        self.KillTimer(id);
        ProbeDialog second(kSecondTemplate, log_);
        self.Log("second returned " + std::to_string(second.DoModal()));
    };
    ui_->When("Second", [&](DialogDriver& d) {
        secondShownAt_ms = ui_->Now_ms();
        d.Click(IDOK);
    });
    ui_->When("First", [](DialogDriver& d) { d.Click(IDOK); });

    EXPECT_EQ(first.DoModal(), IDOK);
    EXPECT_EQ(secondShownAt_ms, 100U);
    EXPECT_EQ(log_, (Log{"First: init", "First: show", "First: timer 2 at 100", "Second: init",
                         "Second: show", "Second: command 1/0", "Second: hide",
                         "First: second returned 1", "First: command 1/0", "First: hide"}));
    EXPECT_TRUE(ui_->Failures().empty());
    EXPECT_TRUE(ui::OpenDialogs().empty());
}

TEST_F(HeadlessLoopTest, ClickReturnsAfterTheDialogItOpenedHasEnded) {
    ProbeDialog first(kFirstTemplate, log_);
    first.onCommand = [this](ProbeDialog&, UINT id, UINT code) {
        if (id == kOpenButton && code == BN_CLICKED) {
            ProbeDialog second(kSecondTemplate, log_);
            second.DoModal();
            return TRUE;
        }
        return FALSE;
    };
    bool firstOpenAfterClick = false;
    ui_->When("First", [&](DialogDriver& d) {
        d.Click(kOpenButton);
        firstOpenAfterClick = d.IsOpen();
        d.Click(IDCANCEL);
    });
    ui_->When("Second", [](DialogDriver& d) { d.Type(kEdit, "typed in second"); });
    ui_->When("Second", [](DialogDriver& d) {
        EXPECT_EQ(d.Text(kEdit), "typed in second");
        d.Click(IDOK);
    });

    EXPECT_EQ(first.DoModal(), IDCANCEL);
    EXPECT_TRUE(firstOpenAfterClick);
    EXPECT_EQ(ui_->PendingSteps(), 0U);
    EXPECT_TRUE(ui_->Failures().empty());
}

TEST_F(HeadlessLoopTest, DialogWithoutScriptIsCancelledAndTheRunOutRecorded) {
    ProbeDialog first(kFirstTemplate, log_);
    EXPECT_EQ(first.DoModal(), IDCANCEL);
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_EQ(ui_->Failures()[0],
              "The script ran out at 0 ms in \"First\" (template 900): no script step is left "
              "and no timer is pending; the dialog was ended with IDCANCEL.");
}

TEST_F(HeadlessLoopTest, WaitForAbsentDialogEndsAfterTheWaitBudget) {
    ui_->SetWaitBudget_ms(1000);
    ProbeDialog first(kFirstTemplate, log_);
    int ticks = 0;
    first.onShow = [](ProbeDialog& self) { self.SetTimer(1, 20); };
    first.onTimer = [&ticks](ProbeDialog&, UINT_PTR) { ++ticks; };
    ui_->When("Never", [](DialogDriver& d) { d.Click(IDOK); });

    EXPECT_EQ(first.DoModal(), IDCANCEL);
    EXPECT_EQ(ticks, 50);
    EXPECT_EQ(ui_->Now_ms(), 1000U);
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_NE(ui_->Failures()[0].find("the next step waits for the dialog \"Never\" and 1000 ms "
                                      "passed without it"),
              std::string::npos)
        << ui_->Failures()[0];
    EXPECT_EQ(ui_->PendingSteps(), 1U);
}

TEST_F(HeadlessLoopTest, TimerKilledInItsHandlerFiresNoMore) {
    ProbeDialog first(kFirstTemplate, log_);
    std::vector<std::uint64_t> ticks_ms;
    first.onShow = [](ProbeDialog& self) { self.SetTimer(1, 20); };
    first.onTimer = [&](ProbeDialog& self, UINT_PTR id) {
        ticks_ms.push_back(ui_->Now_ms());
        if (ticks_ms.size() == 3) {
            self.KillTimer(id);
        }
    };
    ui_->When("First", [](DialogDriver& d) {
        d.AdvanceTime(200);
        d.Click(IDOK);
    });
    EXPECT_EQ(first.DoModal(), IDOK);
    EXPECT_EQ(ticks_ms, (std::vector<std::uint64_t>{20, 40, 60}));
    EXPECT_EQ(ui_->Now_ms(), 200U);
}

TEST_F(HeadlessLoopTest, TimersOfAClosedDialogAreGone) {
    ProbeDialog first(kFirstTemplate, log_);
    int secondTicks = 0;
    first.onCommand = [&](ProbeDialog&, UINT id, UINT code) {
        if (id != kOpenButton || code != BN_CLICKED) {
            return FALSE;
        }
        ProbeDialog second(kSecondTemplate, log_);
        second.onShow = [](ProbeDialog& self) { self.SetTimer(5, 10); };
        second.onTimer = [&secondTicks](ProbeDialog&, UINT_PTR) { ++secondTicks; };
        second.DoModal();
        return TRUE;
    };
    ui_->When("First", [](DialogDriver& d) {
        d.Click(kOpenButton);
        d.AdvanceTime(100);
        d.Click(IDOK);
    });
    ui_->When("Second", [](DialogDriver& d) {
        d.AdvanceTime(35);
        d.Click(IDOK);
    });
    EXPECT_EQ(first.DoModal(), IDOK);
    EXPECT_EQ(secondTicks, 3);
}

TEST_F(HeadlessLoopTest, PumpInsideAHandlerLetsTheUserPressStop) {
    ProbeDialog first(kFirstTemplate, log_);
    int pumps = 0;
    bool stopped = false;
    first.onCommand = [&](ProbeDialog&, UINT id, UINT code) {
        if (code == BN_CLICKED && id == kStopButton) {
            stopped = true;
            return TRUE;
        }
        if (code == BN_CLICKED && id == kOpenButton) {
            while (!stopped && pumps < 1000) {
                PumpWaitingMessages();
                ++pumps;
            }
            return TRUE;
        }
        return FALSE;
    };
    ui_->When("First", [](DialogDriver& d) { d.Click(kOpenButton); });
    ui_->When("First", [](DialogDriver& d) { d.Click(kStopButton); });
    ui_->When("First", [](DialogDriver& d) { d.Click(IDOK); });
    EXPECT_EQ(first.DoModal(), IDOK);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(ui_->Now_ms(), 1U);
}

TEST_F(HeadlessLoopTest, EndingInInitDialogSkipsTheLoop) {
    ProbeDialog first(kFirstTemplate, log_);
    first.onInit = [](ProbeDialog& self) { self.EndDialog(IDOK); };
    EXPECT_EQ(first.DoModal(), IDOK);
    EXPECT_EQ(log_, (Log{"First: init"}));
    EXPECT_TRUE(ui_->Failures().empty());
}

TEST_F(HeadlessLoopTest, MissingTemplateFailsTheRunCleanly) {
    ProbeDialog absent(999, log_);
    EXPECT_EQ(absent.DoModal(), -1);
    EXPECT_TRUE(log_.empty());
    ASSERT_EQ(ui_->Problems().size(), 1U);
    EXPECT_EQ(ui_->Problems()[0],
              "The dialog 999 cannot be shown: there is no template 999 in " BREVAN_SOURCE_DIR
              "/tests/host/ui/resources/dialogs.");
    EXPECT_TRUE(ui::OpenDialogs().empty());
    EXPECT_EQ(absent.GetSafeHwnd(), nullptr);
}

TEST_F(HeadlessLoopTest, MalformedTemplateFailsTheRunCleanly) {
    ProbeDialog broken(902, log_);
    EXPECT_EQ(broken.DoModal(), -1);
    ASSERT_EQ(ui_->Problems().size(), 1U);
    EXPECT_NE(ui_->Problems()[0].find("902-malformed.json is not valid JSON"), std::string::npos);
}

TEST_F(HeadlessLoopTest, ClockListenersFollowEveryMove) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> moves;
    ui_->AddClockListener(
        [&moves](std::uint64_t from, std::uint64_t to) { moves.emplace_back(from, to); });
    ProbeDialog first(kFirstTemplate, log_);
    first.onShow = [](ProbeDialog& self) { self.SetTimer(1, 30); };
    ui_->When("First", [](DialogDriver& d) {
        d.AdvanceTime(70);
        d.Click(IDOK);
    });
    first.DoModal();
    EXPECT_EQ(moves,
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, 30}, {30, 60}, {60, 70}}));
}

// --- message boxes ---

TEST_F(HeadlessLoopTest, ExpectedMessageBoxGetsItsAnswerAndIsRecorded) {
    ProbeDialog first(kFirstTemplate, log_);
    int answer = 0;
    first.onCommand = [&answer](ProbeDialog& self, UINT id, UINT code) {
        if (id != kOpenButton || code != BN_CLICKED) {
            return FALSE;
        }
        answer = self.MessageBox("Replace the motor \"M1\"?", "Motors", MB_YESNO | MB_ICONQUESTION);
        return TRUE;
    };
    ui_->ExpectMessageBox("Replace the motor", IDNO);
    ui_->When("First", [](DialogDriver& d) {
        d.Click(kOpenButton);
        d.Click(IDOK);
    });
    first.DoModal();
    EXPECT_EQ(answer, IDNO);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    const ui::headless::MessageBoxRecord& box = ui_->MessageBoxes()[0];
    EXPECT_EQ(box.text, "Replace the motor \"M1\"?");
    EXPECT_EQ(box.caption, "Motors");
    EXPECT_EQ(box.type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(box.answer, IDNO);
    EXPECT_TRUE(box.expected);
    EXPECT_EQ(ui_->PendingMessageBoxExpectations(), 0U);
}

struct DefaultAnswerCase {
    UINT type;
    int answer;
};

class UnexpectedMessageBoxTest : public HeadlessTest,
                                 public ::testing::WithParamInterface<DefaultAnswerCase> {};

TEST_P(UnexpectedMessageBoxTest, GetsTheDefaultButton) {
    EXPECT_EQ(AfxMessageBox("Something happened.", GetParam().type), GetParam().answer);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    EXPECT_FALSE(ui_->MessageBoxes()[0].expected);
    EXPECT_EQ(ui_->MessageBoxes()[0].caption, "brevan");
    EXPECT_EQ(ui_->MessageBoxes()[0].answer, GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    ButtonSets, UnexpectedMessageBoxTest,
    ::testing::Values(DefaultAnswerCase{MB_OK | MB_ICONWARNING, IDOK},
                      DefaultAnswerCase{MB_OKCANCEL, IDOK},
                      DefaultAnswerCase{MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
                      DefaultAnswerCase{MB_YESNO, IDYES},
                      DefaultAnswerCase{MB_YESNO | MB_DEFBUTTON2, IDNO},
                      DefaultAnswerCase{MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
                      DefaultAnswerCase{MB_RETRYCANCEL, IDRETRY},
                      DefaultAnswerCase{MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE}));

TEST_F(HeadlessLoopTest, ExpectedAnswerThatIsNotAButtonFallsBackToTheDefault) {
    ui_->ExpectMessageBox("Done", IDYES);
    EXPECT_EQ(AfxMessageBox("Done.", MB_OK), IDOK);
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_EQ(ui_->Failures()[0],
              "The message box \"Done.\" has no button 6 to answer with; it got its default "
              "answer.");
}

TEST_F(HeadlessLoopTest, MessageBoxesMatchTheFirstExpectationFoundInTheirText) {
    ui_->ExpectMessageBox("second", IDCANCEL);
    ui_->ExpectMessageBox("first", IDOK);
    EXPECT_EQ(AfxMessageBox("the first box", MB_OKCANCEL), IDOK);
    EXPECT_EQ(AfxMessageBox("the second box", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(ui_->PendingMessageBoxExpectations(), 0U);
}

// --- what the user can and cannot do ---

struct RefusedCase {
    const char* name;
    std::function<bool(DialogDriver&)> act;
    const char* reason;
};

class RefusedInputTest : public HeadlessTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedInputTest, ChangesNothingAndRecordsWhy) {
    ProbeDialog first(kFirstTemplate, log_);
    first.onInit = [](ProbeDialog& self) {
        auto* combo = static_cast<CComboBox*>(self.GetDlgItem(kCombo));
        combo->AddString("alpha");
        self.SetDlgItemText(kReadOnlyEdit, "fixed");
    };
    bool accepted = true;
    ui_->When("First", [&](DialogDriver& d) {
        accepted = GetParam().act(d);
        d.Click(IDCANCEL);
    });
    first.DoModal();
    EXPECT_FALSE(accepted);
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_NE(ui_->Failures()[0].find(GetParam().reason), std::string::npos) << ui_->Failures()[0];
    for (const std::string& entry : log_) {
        EXPECT_EQ(entry.find("command 10"), std::string::npos) << entry;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedInputTest,
    ::testing::Values(
        RefusedCase{"DisabledButton", [](DialogDriver& d) { return d.Click(kDisabledButton); },
                    "button 1021 \"Disabled\" is disabled"},
        RefusedCase{"HiddenButton", [](DialogDriver& d) { return d.Click(kHiddenButton); },
                    "button 1022 \"Hidden\" is hidden"},
        RefusedCase{"ReadOnlyEdit",
                    [](DialogDriver& d) { return d.Type(kReadOnlyEdit, "changed"); },
                    "edit 1023 is read-only"},
        RefusedCase{"MissingControl", [](DialogDriver& d) { return d.Click(4242); },
                    "there is no control 4242"},
        RefusedCase{"ClickOnEdit", [](DialogDriver& d) { return d.Click(kEdit); },
                    "edit 1000 cannot be clicked"},
        RefusedCase{"TypeIntoButton", [](DialogDriver& d) { return d.Type(kOpenButton, "x"); },
                    "button 1020 \"Open\" is not an edit box"},
        RefusedCase{"MissingItemText", [](DialogDriver& d) { return d.Select(kCombo, "omega"); },
                    "it has no item \"omega\" (items: \"alpha\")"},
        RefusedCase{"ItemIndexOutOfRange", [](DialogDriver& d) { return d.SelectIndex(kCombo, 1); },
                    "combo 1010 has no item 1"},
        RefusedCase{"MissingItemData", [](DialogDriver& d) { return d.SelectData(kCombo, 77); },
                    "no item carries the data 77"},
        RefusedCase{"UnknownCaption", [](DialogDriver& d) { return d.Click("Apply"); },
                    "no control is captioned \"Apply\""}),
    [](const ::testing::TestParamInfo<RefusedCase>& testCase) { return testCase.param.name; });

TEST_F(HeadlessLoopTest, DialogUnderAnotherDialogTakesNoInput) {
    ProbeDialog first(kFirstTemplate, log_);
    first.onCommand = [this](ProbeDialog&, UINT id, UINT code) {
        if (id != kOpenButton || code != BN_CLICKED) {
            return FALSE;
        }
        ProbeDialog second(kSecondTemplate, log_);
        second.DoModal();
        return TRUE;
    };
    bool clickedUnder = true;
    ui_->When("First", [](DialogDriver& d) { d.Click(kOpenButton); });
    ui_->When("Second", [&](DialogDriver& d) {
        DialogDriver under(ui_.Backend(), *ui::OpenDialogs().front());
        clickedUnder = under.Click(IDOK);
        d.Click(IDOK);
    });
    ui_->When("First", [](DialogDriver& d) { d.Click(IDCANCEL); });
    EXPECT_EQ(first.DoModal(), IDCANCEL);
    EXPECT_FALSE(clickedUnder);
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_NE(ui_->Failures()[0].find("another dialog is open over it"), std::string::npos);
}

TEST_F(HeadlessLoopTest, RadioClickChecksItAndClearsOnlyItsOwnGroup) {
    ProbeDialog first(kFirstTemplate, log_);
    first.onInit = [](ProbeDialog& self) {
        self.CheckDlgButton(kRadioZero, BST_CHECKED);
        self.CheckDlgButton(kRadioLeft, BST_CHECKED);
    };
    ui_->When("First", [](DialogDriver& d) {
        d.Click("&Two");
        EXPECT_FALSE(d.IsChecked(kRadioZero));
        EXPECT_FALSE(d.IsChecked(kRadioOne));
        EXPECT_TRUE(d.IsChecked(kRadioTwo));
        EXPECT_TRUE(d.IsChecked(kRadioLeft));
        EXPECT_FALSE(d.IsChecked(kRadioRight));
        d.Click(IDOK);
    });
    first.DoModal();
    EXPECT_TRUE(ui_->Failures().empty());
}

TEST_F(HeadlessLoopTest, CheckBoxHandlerSeesTheToggledState) {
    ProbeDialog first(kFirstTemplate, log_);
    std::vector<UINT> seen;
    first.onCommand = [&seen](ProbeDialog& self, UINT id, UINT code) {
        if (id == kCheck && code == BN_CLICKED) {
            seen.push_back(self.IsDlgButtonChecked(kCheck));
        }
        return FALSE;
    };
    ui_->When("First", [](DialogDriver& d) {
        d.Click(kCheck);
        d.SetCheck(kCheck, true);
        d.SetCheck(kCheck, false);
        d.Click(IDOK);
    });
    first.DoModal();
    EXPECT_EQ(seen, (std::vector<UINT>{1, 0}));
}

TEST_F(HeadlessLoopTest, TypingNotifiesChangeThenFocusLossBeforeTheNextClick) {
    ProbeDialog first(kFirstTemplate, log_);
    ui_->When("First", [](DialogDriver& d) {
        d.EnterText(kEdit, "12.5");
        d.Click(kOpenButton);
        d.Type(kEdit, "13");
        d.Click(IDOK);
    });
    first.DoModal();
    const Log expected{"First: init",
                       "First: show",
                       "First: command 1000/256",
                       "First: command 1000/768",
                       "First: command 1000/512",
                       "First: command 1020/0",
                       "First: command 1000/256",
                       "First: command 1000/768",
                       "First: command 1000/512",
                       "First: command 1/0",
                       "First: hide"};
    EXPECT_EQ(log_, expected);
}

TEST_F(HeadlessLoopTest, ServiceKeyChordReachesPreTranslateWithItsModifiers) {
    ProbeDialog first(kFirstTemplate, log_);
    std::vector<std::string> keys;
    first.onKey = [&keys](ProbeDialog&, MSG& message) {
        keys.push_back(std::to_string(message.message) + " " + std::to_string(message.wParam) +
                       (GetKeyState(VK_CONTROL) < 0 ? " ctrl" : "") +
                       (GetKeyState(VK_MENU) < 0 ? " alt" : "") +
                       (GetKeyState(VK_SHIFT) < 0 ? " shift" : ""));
        return FALSE;
    };
    ui_->When("First", [](DialogDriver& d) {
        d.PressKey('K', {.control = true, .alt = true, .shift = true});
        d.PressKey('K', {.alt = true});
        d.Click(IDOK);
    });
    first.DoModal();
    EXPECT_EQ(keys, (std::vector<std::string>{"256 75 ctrl alt shift", "257 75 ctrl alt shift",
                                              "260 75 alt", "261 75 alt"}));
    EXPECT_GE(GetKeyState(VK_CONTROL), 0);
}

struct KeyCase {
    UINT key;
    int result;
};

class DialogKeyTest : public HeadlessTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(DialogKeyTest, EndsTheDialogLikeItsButton) {
    ProbeDialog first(kFirstTemplate, log_);
    ui_->When("First", [](DialogDriver& d) { d.PressKey(GetParam().key); });
    EXPECT_EQ(first.DoModal(), GetParam().result);
    EXPECT_TRUE(ui_->Failures().empty());
}

INSTANTIATE_TEST_SUITE_P(Keys, DialogKeyTest,
                         ::testing::Values(KeyCase{VK_RETURN, IDOK}, KeyCase{VK_ESCAPE, IDCANCEL}));

TEST_F(HeadlessLoopTest, ConsumedKeyDoesNotReachTheDialog) {
    ProbeDialog first(kFirstTemplate, log_);
    first.onKey = [](ProbeDialog&, MSG& message) {
        return message.wParam == VK_ESCAPE ? TRUE : FALSE;
    };
    ui_->When("First", [](DialogDriver& d) {
        d.PressKey(VK_ESCAPE);
        EXPECT_TRUE(d.IsOpen());
        d.Click(IDOK);
    });
    EXPECT_EQ(first.DoModal(), IDOK);
}

TEST_F(HeadlessLoopTest, HelpRequestsAreRecorded) {
    EXPECT_TRUE(HtmlHelp(nullptr, "/opt/host/help.chm", HH_HELP_CONTEXT, 0x40106));
    EXPECT_FALSE(HtmlHelp(nullptr, "/opt/host/help.chm", 1, 0));
    ASSERT_EQ(ui_->HelpRequests().size(), 1U);
    EXPECT_EQ(ui_->HelpRequests()[0].file, "/opt/host/help.chm");
    EXPECT_EQ(ui_->HelpRequests()[0].topic, 0x40106U);
    EXPECT_EQ(ui_->Problems(),
              (std::vector<std::string>{"The help viewer command 1 is not supported."}));
}

TEST_F(HeadlessLoopTest, WaitCursorLastsUntilTheOutermostEnds) {
    {
        CWaitCursor outer;
        { CWaitCursor inner; }
        EXPECT_EQ(ui_->CurrentCursor(), ui::Cursor::Wait);
    }
    EXPECT_EQ(ui_->CurrentCursor(), ui::Cursor::Arrow);
}

}  // namespace
