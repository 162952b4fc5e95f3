#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "host/ui/Wnd.h"
#include "tests/host/ui/ProbeDialog.h"
#include "tests/host/ui/qt/QtTestSupport.h"

namespace {

using ui::qt::DialogWindow;

constexpr int kEveryKind = 920;
constexpr int kInner = 921;
constexpr int kGroup = 1030;
constexpr int kStatic = 1013;
constexpr int kUndrawnPicture = 1015;
constexpr int kLines = 1016;
constexpr int kSlider = 1017;
constexpr int kSpin = 1018;
constexpr int kTab = 1019;

// How long a test lets the loop run for something that takes a few milliseconds.
constexpr int kPatience_ms = 5000;

class QtLoopTest : public QtBackendTest {
  protected:
    void SetUp() override {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/qt/resources");
    }

    // Runs the dialog with one step while it is up; cancels it if the step left it open.
    INT_PTR Run(ProbeDialog& dialog, const std::function<void(DialogWindow&)>& step) {
        script_.When(static_cast<int>(dialog.GetTemplateId()), [&step](DialogWindow& window) {
            step(window);
            if (!window.Dialog().HasEnded()) {
                Click(window, IDCANCEL);
            }
        });
        return dialog.DoModal();
    }

    // Runs a dialog that ends by itself; cancels it when it has not ended within the patience.
    INT_PTR RunUntilItEnds(ProbeDialog& dialog) {
        QObject watch;
        QTimer::singleShot(kPatience_ms, &watch, [&dialog] {
            ADD_FAILURE() << "the dialog did not end by itself";
            dialog.EndDialog(IDCANCEL);
        });
        return dialog.DoModal();
    }

    std::size_t Count(const std::string& entry) const {
        return static_cast<std::size_t>(std::count(log_.begin(), log_.end(), entry));
    }

    std::vector<std::string> log_;
};

// --- Widgets from the template ------------------------------------------------------------------

struct KindRow {
    int id;
    const char* widgetClass;
};

void PrintTo(const KindRow& row, std::ostream* os) {
    *os << row.widgetClass << " " << row.id;
}

class WidgetKindTest : public QtLoopTest, public ::testing::WithParamInterface<KindRow> {};

TEST_P(WidgetKindTest, EachControlGetsItsWidgetAtItsPlace) {
    ProbeDialog dialog(kEveryKind, log_);
    Run(dialog, [this](DialogWindow& window) {
        const ui::ControlState* control = window.Dialog().GetWindowState()->Find(GetParam().id);
        QWidget* widget = Control<QWidget>(window, GetParam().id);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), GetParam().widgetClass);
        EXPECT_EQ(widget->geometry(), backend_.Metrics().ControlRect(*control));
        EXPECT_EQ(window.size(),
                  backend_.Metrics().ToPixels(window.Dialog().GetWindowState()->GetSize()).size());
    });
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WidgetKindTest,
    ::testing::Values(KindRow{kEdit, "QLineEdit"}, KindRow{kCheck, "QCheckBox"},
                      KindRow{kGroup, "QGroupBox"}, KindRow{kRadioZero, "QRadioButton"},
                      KindRow{kCombo, "QComboBox"}, KindRow{kUnitCombo, "QComboBox"},
                      KindRow{kListBox, "QListWidget"}, KindRow{kStatic, "QLabel"},
                      KindRow{kLines, "QPlainTextEdit"}, KindRow{kSlider, "QSlider"},
                      KindRow{kSpin, "QScrollBar"}, KindRow{kTab, "QTabBar"},
                      KindRow{kOpenButton, "QPushButton"}),
    [](const ::testing::TestParamInfo<KindRow>& row) {
        return std::string(row.param.widgetClass) + std::to_string(row.param.id);
    });

TEST_F(QtLoopTest, DropDownTakesItsClosedHeightAndStaticShowsAmpersand) {
    ProbeDialog dialog(kEveryKind, log_);
    Run(dialog, [](DialogWindow& window) {
        EXPECT_LT(Control<QComboBox>(window, kCombo)->height(),
                  Control<QListWidget>(window, kListBox)->height());
        EXPECT_EQ(Control<QLabel>(window, kStatic)->text(), QStringLiteral("Pulse & Direction"));
        EXPECT_EQ(Control<QCheckBox>(window, kCheck)->text(), QStringLiteral("&Flag"));
        EXPECT_FALSE(Control<QPushButton>(window, kDisabledButton)->isEnabled());
        EXPECT_TRUE(Control<QPushButton>(window, kHiddenButton)->isHidden());
        EXPECT_TRUE(Control<QLineEdit>(window, kReadOnlyEdit)->isReadOnly());
        EXPECT_TRUE(Control<QPushButton>(window, IDOK)->isDefault());
    });
    ExpectScriptCompleted();
}

// --- State to widget ----------------------------------------------------------------------------

struct ChangeRow {
    const char* name;
    std::function<void(ProbeDialog&)> change;
    std::function<void(DialogWindow&)> check;
};

void PrintTo(const ChangeRow& row, std::ostream* os) {
    *os << row.name;
}

class StateChangeTest : public QtLoopTest, public ::testing::WithParamInterface<ChangeRow> {};

TEST_P(StateChangeTest, CodeChangesShowWithoutComingBackAsInput) {
    ProbeDialog dialog(kEveryKind, log_);
    Run(dialog, [&dialog](DialogWindow& window) {
        GetParam().change(dialog);
        GetParam().check(window);
    });
    ASSERT_FALSE(log_.empty());
    const auto commands = std::count_if(log_.begin(), log_.end(), [](const std::string& e) {
        return e.find("command") != std::string::npos;
    });
    EXPECT_EQ(commands, 1) << "only the closing Cancel is a notification";
    EXPECT_TRUE(log_[log_.size() - 2].ends_with(": command 2/0"));
    ExpectScriptCompleted();
}

CComboBox& Combo(CDialog& dialog, int id) {
    return *static_cast<CComboBox*>(dialog.GetDlgItem(id));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, StateChangeTest,
    ::testing::Values(
        ChangeRow{"EditText", [](ProbeDialog& d) { d.SetDlgItemText(kEdit, "12.5"); },
                  [](DialogWindow& w) {
                      EXPECT_EQ(Control<QLineEdit>(w, kEdit)->text(), QStringLiteral("12.5"));
                  }},
        ChangeRow{
            "Disabled", [](ProbeDialog& d) { d.GetDlgItem(kOpenButton)->EnableWindow(FALSE); },
            [](DialogWindow& w) { EXPECT_FALSE(Control<QWidget>(w, kOpenButton)->isEnabled()); }},
        ChangeRow{"Hidden", [](ProbeDialog& d) { d.GetDlgItem(kCheck)->ShowWindow(SW_HIDE); },
                  [](DialogWindow& w) { EXPECT_TRUE(Control<QWidget>(w, kCheck)->isHidden()); }},
        ChangeRow{
            "Shown", [](ProbeDialog& d) { d.GetDlgItem(kHiddenButton)->ShowWindow(SW_SHOW); },
            [](DialogWindow& w) { EXPECT_TRUE(Control<QWidget>(w, kHiddenButton)->isVisible()); }},
        ChangeRow{"Checked", [](ProbeDialog& d) { d.CheckDlgButton(kCheck, BST_CHECKED); },
                  [](DialogWindow& w) { EXPECT_TRUE(Control<QCheckBox>(w, kCheck)->isChecked()); }},
        ChangeRow{"RadioRun",
                  [](ProbeDialog& d) { d.CheckRadioButton(kRadioZero, kRadioTwo, kRadioOne); },
                  [](DialogWindow& w) {
                      EXPECT_FALSE(Control<QRadioButton>(w, kRadioZero)->isChecked());
                      EXPECT_TRUE(Control<QRadioButton>(w, kRadioOne)->isChecked());
                      EXPECT_FALSE(Control<QRadioButton>(w, kRadioTwo)->isChecked());
                  }},
        ChangeRow{"ComboItems",
                  [](ProbeDialog& d) {
                      Combo(d, kUnitCombo).AddString("V");
                      Combo(d, kUnitCombo).AddString("mV");
                      Combo(d, kUnitCombo).SetCurSel(1);
                  },
                  [](DialogWindow& w) {
                      QComboBox* combo = Control<QComboBox>(w, kUnitCombo);
                      EXPECT_EQ(combo->count(), 2);
                      EXPECT_EQ(combo->currentText(), QStringLiteral("mV"));
                  }},
        ChangeRow{"ListItems",
                  [](ProbeDialog& d) {
                      auto* list = static_cast<CListBox*>(d.GetDlgItem(kListBox));
                      list->AddString("one");
                      list->AddString("two");
                      list->SetCurSel(0);
                      list->DeleteString(0);
                  },
                  [](DialogWindow& w) {
                      QListWidget* list = Control<QListWidget>(w, kListBox);
                      ASSERT_EQ(list->count(), 1);
                      EXPECT_EQ(list->item(0)->text(), QStringLiteral("two"));
                      EXPECT_EQ(list->currentRow(), -1);
                  }},
        ChangeRow{"ReadOnly",
                  [](ProbeDialog& d) { static_cast<CEdit*>(d.GetDlgItem(kEdit))->SetReadOnly(); },
                  [](DialogWindow& w) { EXPECT_TRUE(Control<QLineEdit>(w, kEdit)->isReadOnly()); }},
        ChangeRow{"Caption", [](ProbeDialog& d) { d.SetWindowText("Renamed"); },
                  [](DialogWindow& w) { EXPECT_EQ(w.windowTitle(), QStringLiteral("Renamed")); }},
        ChangeRow{"Windows1252Static", [](ProbeDialog& d) { d.SetDlgItemText(kStatic, "90\xB0"); },
                  [](DialogWindow& w) {
                      EXPECT_EQ(Control<QLabel>(w, kStatic)->text(),
                                QString::fromUtf8("90\xC2\xB0"));
                  }},
        ChangeRow{"MultilineText", [](ProbeDialog& d) { d.SetDlgItemText(kLines, "one\r\ntwo"); },
                  [](DialogWindow& w) {
                      EXPECT_EQ(Control<QPlainTextEdit>(w, kLines)->toPlainText(),
                                QStringLiteral("one\ntwo"));
                  }},
        ChangeRow{"PictureBitmap",
                  [](ProbeDialog& d) {
                      static_cast<CStatic*>(d.GetDlgItem(kUndrawnPicture))->SetBitmap({"DRAWN"});
                  },
                  [](DialogWindow& w) {
                      auto* picture = dynamic_cast<ui::qt::PictureWidget*>(
                          Control<QWidget>(w, kUndrawnPicture));
                      ASSERT_NE(picture, nullptr);
                      EXPECT_EQ(picture->Bitmap(), "DRAWN");
                  }},
        ChangeRow{"ButtonImage",
                  [](ProbeDialog& d) {
                      static_cast<CButton*>(d.GetDlgItem(kOpenButton))->SetBitmap({"DRAWN"});
                  },
                  [](DialogWindow& w) {
                      QPushButton* button = Control<QPushButton>(w, kOpenButton);
                      EXPECT_FALSE(button->icon().isNull());
                      EXPECT_EQ(button->text(), QString());
                      EXPECT_EQ(button->toolTip(), QStringLiteral("Open"));
                  }}),
    [](const ::testing::TestParamInfo<ChangeRow>& row) { return std::string(row.param.name); });

// --- Widget input through the layer -------------------------------------------------------------

struct InputRow {
    const char* name;
    std::function<void(DialogWindow&)> act;
    std::function<void(const ui::WindowState&)> check;
    std::string notification;  // what the probe logs for it
};

void PrintTo(const InputRow& row, std::ostream* os) {
    *os << row.name;
}

class UserInputTest : public QtLoopTest, public ::testing::WithParamInterface<InputRow> {};

TEST_P(UserInputTest, WidgetInputChangesTheStateAndNotifiesTheDialog) {
    ProbeDialog dialog(kEveryKind, log_);
    dialog.onInit = [](ProbeDialog& d) {
        auto* list = static_cast<CListBox*>(d.GetDlgItem(kListBox));
        for (const char* item : {"first", "second"}) {
            Combo(d, kCombo).AddString(item);
            list->AddString(item);
        }
        Combo(d, kCombo).SetCurSel(0);
    };
    Run(dialog, [](DialogWindow& window) {
        GetParam().act(window);
        GetParam().check(*window.Dialog().GetWindowState());
    });
    EXPECT_EQ(Count("Every kind: " + GetParam().notification), 1U);
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, UserInputTest,
    ::testing::Values(
        InputRow{"CheckBox", [](DialogWindow& w) { Click(w, kCheck); },
                 [](const ui::WindowState& s) { EXPECT_EQ(s.Find(kCheck)->checked, BST_CHECKED); },
                 "command 1001/0"},
        InputRow{"RadioButton", [](DialogWindow& w) { Click(w, kRadioTwo); },
                 [](const ui::WindowState& s) {
                     EXPECT_EQ(s.Find(kRadioTwo)->checked, BST_CHECKED);
                     EXPECT_EQ(s.Find(kRadioZero)->checked, BST_UNCHECKED);
                 },
                 "command 1004/0"},
        InputRow{"Typing", [](DialogWindow& w) { TypeInto(w, kEdit, "7.5"); },
                 [](const ui::WindowState& s) { EXPECT_EQ(s.Find(kEdit)->text, "7.5"); },
                 "command 1000/" + std::to_string(EN_SETFOCUS)},
        InputRow{"TypingBeyondTheLimit",
                 [](DialogWindow& w) {
                     static_cast<CEdit*>(w.Dialog().GetDlgItem(kEdit))->SetLimitText(2);
                     TypeInto(w, kEdit, "123");
                     EXPECT_EQ(Control<QLineEdit>(w, kEdit)->text(), QStringLiteral("12"));
                 },
                 [](const ui::WindowState& s) { EXPECT_EQ(s.Find(kEdit)->text, "12"); },
                 "command 1000/" + std::to_string(EN_SETFOCUS)},
        InputRow{"TabLeavesTheField", [](DialogWindow& w) { Type(w, kEdit, "7"); },
                 [](const ui::WindowState& s) { EXPECT_NE(s.GetFocusId(), kEdit); },
                 "command 1000/" + std::to_string(EN_KILLFOCUS)},
        InputRow{
            "ComboByKeyboard",
            [](DialogWindow& w) { QTest::keyClick(Control<QComboBox>(w, kCombo), Qt::Key_Down); },
            [](const ui::WindowState& s) { EXPECT_EQ(s.Find(kCombo)->selection, 1); },
            "command 1010/" + std::to_string(CBN_SELCHANGE)},
        InputRow{"ListByMouse",
                 [](DialogWindow& w) {
                     QListWidget* list = Control<QListWidget>(w, kListBox);
                     QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                       list->visualItemRect(list->item(1)).center());
                 },
                 [](const ui::WindowState& s) { EXPECT_EQ(s.Find(kListBox)->selection, 1); },
                 "command 1012/" + std::to_string(LBN_SELCHANGE)}),
    [](const ::testing::TestParamInfo<InputRow>& row) { return std::string(row.param.name); });

TEST_F(QtLoopTest, TypingNotifiesEachChange) {
    ProbeDialog dialog(kEveryKind, log_);
    Run(dialog, [](DialogWindow& window) { TypeInto(window, kEdit, "42"); });
    EXPECT_EQ(Count("Every kind: command 1000/" + std::to_string(EN_CHANGE)), 2U);
    ExpectScriptCompleted();
}

TEST_F(QtLoopTest, InputRefusedByTheLayerLeavesTheWidgetShowingTheState) {
    ProbeDialog outer(kEveryKind, log_);
    outer.onCommand = [this](ProbeDialog&, UINT id, UINT code) {
        if (id == kOpenButton && code == BN_CLICKED) {
            ProbeDialog inner(kInner, log_);
            inner.DoModal();
            return TRUE;
        }
        return FALSE;
    };
    DialogWindow* outerWindow = nullptr;
    script_.When(kEveryKind, [&outerWindow](DialogWindow& window) {
        outerWindow = &window;
        Click(window, kOpenButton);
        Click(window, IDCANCEL);
    });
    script_.When(kInner, [&outerWindow, &outer](DialogWindow& window) {
        // Test events reach the outer window's widgets although the inner dialog is modal.
        QTest::keyClicks(Control<QLineEdit>(*outerWindow, kEdit), "9");
        QTest::mouseClick(Control<QCheckBox>(*outerWindow, kCheck), Qt::LeftButton);
        EXPECT_EQ(Control<QLineEdit>(*outerWindow, kEdit)->text(), QString());
        EXPECT_FALSE(Control<QCheckBox>(*outerWindow, kCheck)->isChecked());
        EXPECT_EQ(outer.GetWindowState()->Find(kEdit)->text, "");
        EXPECT_EQ(outer.GetWindowState()->Find(kCheck)->checked, BST_UNCHECKED);
        Click(window, IDOK);
    });
    EXPECT_EQ(outer.DoModal(), IDCANCEL);
    EXPECT_EQ(Count("Every kind: command 1001/0"), 0U);
    ExpectScriptCompleted();
}

// --- Keys and the close box ---------------------------------------------------------------------

struct KeyRow {
    const char* name;
    Qt::Key key;
    INT_PTR result;
    std::string command;
};

void PrintTo(const KeyRow& row, std::ostream* os) {
    *os << row.name;
}

class DialogKeyTest : public QtLoopTest, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(DialogKeyTest, ReturnAndEscapeGoThroughTheLayer) {
    ProbeDialog dialog(kEveryKind, log_);
    const INT_PTR result = Run(dialog, [](DialogWindow& window) {
        TypeInto(window, kEdit, "5");
        QTest::keyClick(Control<QLineEdit>(window, kEdit), GetParam().key);
    });
    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(Count("Every kind: " + GetParam().command), 1U);
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DialogKeyTest,
    ::testing::Values(KeyRow{"Return", Qt::Key_Return, IDOK, "command 1/0"},
                      KeyRow{"Enter", Qt::Key_Enter, IDOK, "command 1/0"},
                      KeyRow{"Escape", Qt::Key_Escape, IDCANCEL, "command 2/0"}),
    [](const ::testing::TestParamInfo<KeyRow>& row) { return std::string(row.param.name); });

TEST_F(QtLoopTest, KeyMessagesCarryTheModifiersGetKeyStateReports) {
    struct Seen {
        UINT message;
        WPARAM key;
        bool control;
        bool alt;
        bool shift;
    };
    std::vector<Seen> seen;
    ProbeDialog dialog(kEveryKind, log_);
    dialog.onKey = [&seen](ProbeDialog&, MSG& message) {
        seen.push_back({message.message, message.wParam, GetKeyState(VK_CONTROL) < 0,
                        GetKeyState(VK_MENU) < 0, GetKeyState(VK_SHIFT) < 0});
        return FALSE;
    };
    Run(dialog, [](DialogWindow& window) {
        QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(&window, Qt::Key_E, Qt::AltModifier);
    });
    // The modifier keys come as key messages of their own; the letter's carry them held.
    std::erase_if(seen, [](const Seen& s) { return s.key != 'E'; });
    ASSERT_EQ(seen.size(), 4U);
    EXPECT_EQ(seen[0].message, WM_KEYDOWN);
    EXPECT_EQ(seen[0].key, static_cast<WPARAM>('E'));
    EXPECT_TRUE(seen[0].control);
    EXPECT_FALSE(seen[0].alt);
    EXPECT_TRUE(seen[0].shift);
    EXPECT_EQ(seen[1].message, WM_KEYUP);
    EXPECT_EQ(seen[2].message, WM_SYSKEYDOWN);
    EXPECT_TRUE(seen[2].alt);
    EXPECT_FALSE(seen[2].control);
    EXPECT_FALSE(GetKeyState(VK_CONTROL) < 0) << "outside a key, nothing is held";
    ExpectScriptCompleted();
}

TEST_F(QtLoopTest, CloseBoxCancels) {
    ProbeDialog dialog(kEveryKind, log_);
    EXPECT_EQ(Run(dialog, [](DialogWindow& window) { window.close(); }), IDCANCEL);
    EXPECT_EQ(Count("Every kind: command 2/0"), 1U);
    ExpectScriptCompleted();
}

// --- Modal runs and timers ----------------------------------------------------------------------

TEST_F(QtLoopTest, TimerRepeatsUntilKilledAndStopsWithItsDialog) {
    constexpr UINT_PTR kTimer = 1;
    int firings = 0;
    ProbeDialog dialog(kEveryKind, log_);
    dialog.onShow = [](ProbeDialog& self) { self.SetTimer(kTimer, 1); };
    dialog.onTimer = [&firings](ProbeDialog& self, UINT_PTR) {
        if (++firings == 3) {
            self.KillTimer(kTimer);
            self.SetTimer(kTimer + 1, 1);  // left running: the dialog's end stops it
            self.EndDialog(IDOK);
        }
    };
    EXPECT_EQ(RunUntilItEnds(dialog), IDOK);
    QTest::qWait(30);
    EXPECT_EQ(firings, 3);
    EXPECT_EQ(log_.back(), "Every kind: hide");
}

TEST_F(QtLoopTest, RestartingATimerReplacesItsPeriod) {
    constexpr UINT_PTR kTimer = 4;
    constexpr UINT kHour_ms = 3600000;
    ProbeDialog dialog(kEveryKind, log_);
    dialog.onShow = [](ProbeDialog& self) {
        self.SetTimer(kTimer, kHour_ms);
        self.SetTimer(kTimer, 2);
    };
    dialog.onTimer = [](ProbeDialog& self, UINT_PTR id) {
        self.KillTimer(id);
        self.EndDialog(IDOK);
    };
    EXPECT_EQ(RunUntilItEnds(dialog), IDOK);
}

TEST_F(QtLoopTest, TimerOpensANestedDialogAndWaitsForItBeforeFiringAgain) {
    constexpr UINT_PTR kOpenTimer = 2;
    int firings = 0;
    int firingsWhileInnerOpen = -1;
    ProbeDialog outer(kEveryKind, log_);
    outer.onShow = [](ProbeDialog& self) { self.SetTimer(kOpenTimer, 20); };
    outer.onTimer = [this, &firings](ProbeDialog& self, UINT_PTR id) {
        ++firings;
        ProbeDialog inner(kInner, log_);
        self.Log("inner returned " + std::to_string(inner.DoModal()));
        self.KillTimer(id);
    };
    script_.When(kInner, [&firings, &firingsWhileInnerOpen](DialogWindow& window) {
        QTest::qWait(100);  // five periods of the outer timer
        firingsWhileInnerOpen = firings;
        Click(window, IDOK);
    });
    script_.When(kEveryKind, [](DialogWindow& window) { Click(window, IDOK); });
    EXPECT_EQ(outer.DoModal(), IDOK);
    EXPECT_EQ(firingsWhileInnerOpen, 1);
    EXPECT_EQ(firings, 1);
    EXPECT_EQ(Count("Every kind: inner returned 1"), 1U);
    ExpectScriptCompleted();
}

TEST_F(QtLoopTest, OuterDialogEndedFromTheInnerReturnsAfterTheInner) {
    ProbeDialog outer(kEveryKind, log_);
    outer.onCommand = [this](ProbeDialog& self, UINT id, UINT code) {
        if (id == kOpenButton && code == BN_CLICKED) {
            ProbeDialog inner(kInner, log_);
            self.Log("inner returned " + std::to_string(inner.DoModal()));
            return TRUE;
        }
        return FALSE;
    };
    script_.When(kEveryKind, [](DialogWindow& window) { Click(window, kOpenButton); });
    script_.When(kInner, [&outer](DialogWindow& window) {
        outer.EndDialog(IDOK);
        EXPECT_TRUE(window.isVisible());
        Click(window, IDCANCEL);
    });
    EXPECT_EQ(outer.DoModal(), IDOK);
    const std::vector<std::string> tail(log_.end() - 3, log_.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Inner: hide", "Every kind: inner returned 2",
                                              "Every kind: hide"}));
    ExpectScriptCompleted();
}

TEST_F(QtLoopTest, PumpingInsideAHandlerLetsTimersFire) {
    constexpr UINT_PTR kTickTimer = 3;
    bool ticked = false;
    ProbeDialog dialog(kEveryKind, log_);
    dialog.onCommand = [&ticked](ProbeDialog& self, UINT id, UINT code) {
        if (id != kOpenButton || code != BN_CLICKED) {
            return FALSE;
        }
        self.SetTimer(kTickTimer, 1);
        QElapsedTimer patience;
        patience.start();
        while (!ticked && patience.elapsed() < kPatience_ms) {
            PumpWaitingMessages();
        }
        self.KillTimer(kTickTimer);
        return TRUE;
    };
    dialog.onTimer = [&ticked](ProbeDialog&, UINT_PTR) { ticked = true; };
    Run(dialog, [](DialogWindow& window) { Click(window, kOpenButton); });
    EXPECT_TRUE(ticked);
    ExpectScriptCompleted();
}

TEST_F(QtLoopTest, WaitCursorShowsWhileAWaitCursorLives) {
    ProbeDialog dialog(kEveryKind, log_);
    Run(dialog, [](DialogWindow&) {
        {
            const CWaitCursor wait;
            ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
            EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    });
    ExpectScriptCompleted();
}

// --- Pictures -----------------------------------------------------------------------------------

TEST_F(QtLoopTest, DrawingFillsThePictureKeepingItsProportions) {
    ProbeDialog dialog(kEveryKind, log_);
    Run(dialog, [](DialogWindow& window) {
        QWidget* picture = Control<QWidget>(window, kPicture);
        const QImage image = picture->grab().toImage();
        const QPoint centre = image.rect().center();
        EXPECT_EQ(image.pixelColor(centre), QColor(Qt::red));
        // The drawing is twice as wide as high: the square picture's top rows stay empty.
        EXPECT_NE(image.pixelColor(centre.x(), 2), QColor(Qt::red));
        EXPECT_EQ(image.pixelColor(2, centre.y()), QColor(Qt::red));
    });
    ExpectScriptCompleted();
}

TEST_F(QtLoopTest, MissingDrawingShowsAFramedBoxAndIsReportedOnce) {
    for (int run = 0; run < 2; ++run) {
        ProbeDialog dialog(kEveryKind, log_);
        dialog.onInit = [](ProbeDialog& self) {
            static_cast<CStatic*>(self.GetDlgItem(kUndrawnPicture))->SetBitmap({"UNDRAWN"});
        };
        Run(dialog, [](DialogWindow& window) {
            const QImage image = Control<QWidget>(window, kUndrawnPicture)->grab().toImage();
            EXPECT_EQ(image.pixelColor(0, image.height() / 2), QColor(0x80, 0x80, 0x80));
            EXPECT_EQ(image.pixelColor(3, 3), QColor(0xF0, 0xF0, 0xF0));
        });
    }
    ASSERT_EQ(problems_.size(), 1U);
    EXPECT_NE(problems_.front().find("UNDRAWN"), std::string::npos) << problems_.front();
    EXPECT_NE(problems_.front().find("UNDRAWN.svg does not exist"), std::string::npos);
}

}  // namespace
