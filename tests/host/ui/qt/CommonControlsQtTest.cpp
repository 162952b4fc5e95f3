// Sliders, spin buttons, tab controls and context menus on real widgets: what the state shows,
// what the mouse and keys send through the layer, and a pop-up menu answered by a simulated user.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTabBar>
#include <string>
#include <vector>

#include "host/ui/Menu.h"
#include "tests/host/ui/ProbeDialog.h"
#include "tests/host/ui/qt/QtTestSupport.h"

namespace {

using ui::qt::DialogWindow;

constexpr int kEveryKind = 920;
constexpr int kSlider = 1017;
constexpr int kSpin = 1018;
constexpr int kTab = 1019;
constexpr UINT kZoom = 10062;
constexpr UINT kSave = 10063;
constexpr UINT kPause = 10064;

class CommonControlsQtTest : public QtBackendTest {
  protected:
    void SetUp() override {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/qt/resources");
        dialog_.onInit = [](ProbeDialog& dialog) {
            auto* slider = static_cast<CSliderCtrl*>(dialog.GetDlgItem(kSlider));
            slider->SetRange(0, 20);
            slider->SetPos(5);
            slider->SetPageSize(4);
            slider->SetTicFreq(5);
            static_cast<CSpinButtonCtrl*>(dialog.GetDlgItem(kSpin))->SetRange32(0, 10);
            auto* tabs = static_cast<CTabCtrl*>(dialog.GetDlgItem(kTab));
            tabs->InsertItem(0, "Test Parameters");
            tabs->InsertItem(1, "Test");
        };
    }

    // Runs the dialog with one step while it is up, then cancels it.
    void Run(const std::function<void(DialogWindow&)>& step) {
        script_.When(kEveryKind, [&step](DialogWindow& window) {
            step(window);
            Click(window, IDCANCEL);
        });
        dialog_.DoModal();
        ExpectScriptCompleted();
    }

    // What the dialog logged, without its own lines (init, show, hide, the closing Cancel).
    std::vector<std::string> Notifications() const {
        std::vector<std::string> lines;
        for (const std::string& line : log_) {
            if (line.find(": notify") != std::string::npos ||
                line.find(": hscroll") != std::string::npos ||
                line.find(": context") != std::string::npos) {
                lines.push_back(line.substr(line.find(": ") + 2));
            }
        }
        return lines;
    }

    std::vector<std::string> log_;
    ProbeDialog dialog_{kEveryKind, log_};
};

// The rectangle of a part of a spin button's scroll bar (an arrow).
QRect SpinPart(QScrollBar& bar, QStyle::SubControl part) {
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.orientation = bar.orientation();
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.singleStep = bar.singleStep();
    option.pageStep = bar.pageStep();
    option.subControls = QStyle::SC_All;
    return bar.style()->subControlRect(QStyle::CC_ScrollBar, &option, part, &bar);
}

// The middle of a slider's thumb.
QPoint ThumbCentre(QSlider& slider) {
    const int thumb_px = slider.style()->pixelMetric(QStyle::PM_SliderLength, nullptr, &slider);
    const int travel_px = slider.width() - thumb_px;
    const int at_px = QStyle::sliderPositionFromValue(slider.minimum(), slider.maximum(),
                                                      slider.value(), travel_px);
    return {at_px + thumb_px / 2, slider.height() / 2};
}

TEST_F(CommonControlsQtTest, WidgetsShowTheState) {
    Run([](DialogWindow& window) {
        QSlider* slider = Control<QSlider>(window, kSlider);
        EXPECT_EQ(slider->minimum(), 0);
        EXPECT_EQ(slider->maximum(), 20);
        EXPECT_EQ(slider->value(), 5);
        EXPECT_EQ(slider->pageStep(), 4);
        EXPECT_EQ(slider->tickInterval(), 5);
        QTabBar* tabs = Control<QTabBar>(window, kTab);
        ASSERT_EQ(tabs->count(), 2);
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("Test"));
        static_cast<CTabCtrl*>(window.Dialog().GetDlgItem(kTab))->SetCurSel(1);
        static_cast<CSliderCtrl*>(window.Dialog().GetDlgItem(kSlider))->SetPos(17);
        EXPECT_EQ(tabs->currentIndex(), 1);
        EXPECT_EQ(slider->value(), 17);
    });
    EXPECT_TRUE(Notifications().empty()) << "code changes sent " << Notifications().front();
}

TEST_F(CommonControlsQtTest, SliderKeysMoveByLineAndPage) {
    Run([](DialogWindow& window) {
        QSlider* slider = Control<QSlider>(window, kSlider);
        slider->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_PageUp);
        QTest::keyClick(slider, Qt::Key_End);
        QTest::keyClick(slider, Qt::Key_End);
        EXPECT_EQ(window.Dialog().GetWindowState()->Find(kSlider)->position, 20);
    });
    EXPECT_EQ(Notifications(),
              (std::vector<std::string>{"hscroll 5 6 from 1017", "hscroll 8 0 from 1017",
                                        "hscroll 5 10 from 1017", "hscroll 8 0 from 1017",
                                        "hscroll 5 20 from 1017", "hscroll 8 0 from 1017"}));
}

TEST_F(CommonControlsQtTest, SliderDraggedToItsEndTracksUpToTheEnd) {
    Run([](DialogWindow& window) {
        QSlider* slider = Control<QSlider>(window, kSlider);
        const QPoint grip = ThumbCentre(*slider);
        QTest::mousePress(slider, Qt::LeftButton, {}, grip);
        QTest::mouseMove(slider, QPoint(slider->width() / 2, grip.y()));
        QTest::mouseMove(slider, QPoint(slider->width() + 40, grip.y()));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() + 40, grip.y()));
        EXPECT_EQ(window.Dialog().GetWindowState()->Find(kSlider)->position, 20);
    });
    const std::vector<std::string> sent = Notifications();
    ASSERT_GE(sent.size(), 4U) << "a drag over the middle to the end moves at least twice";
    EXPECT_EQ(sent[sent.size() - 2], "hscroll 5 20 from 1017");
    EXPECT_EQ(sent.back(), "hscroll 8 0 from 1017");
}

TEST_F(CommonControlsQtTest, SpinArrowsAskTheDialogAndMoveThePosition) {
    dialog_.onNotify = [](ProbeDialog&, NMHDR& header, LRESULT& result) {
        // The dialog keeps the position below 2.
        const auto& change = reinterpret_cast<NMUPDOWN&>(header);
        result = header.code == UDN_DELTAPOS && change.iPos + change.iDelta >= 2 ? TRUE : FALSE;
        return TRUE;
    };
    Run([](DialogWindow& window) {
        QScrollBar* arrows = Control<QScrollBar>(window, kSpin);
        const QPoint up = SpinPart(*arrows, QStyle::SC_ScrollBarSubLine).center();
        const QPoint down = SpinPart(*arrows, QStyle::SC_ScrollBarAddLine).center();
        QTest::mouseClick(arrows, Qt::LeftButton, {}, up);
        QTest::mouseClick(arrows, Qt::LeftButton, {}, up);
        EXPECT_EQ(window.Dialog().GetWindowState()->Find(kSpin)->position, 1);
        QTest::mouseClick(arrows, Qt::LeftButton, {}, down);
        EXPECT_EQ(window.Dialog().GetWindowState()->Find(kSpin)->position, 0);
        // A range running downward turns the arrows round.
        static_cast<CSpinButtonCtrl*>(window.Dialog().GetDlgItem(kSpin))->SetRange32(10, 0);
        QTest::mouseClick(arrows, Qt::LeftButton, {}, up);
        EXPECT_EQ(arrows->value(), arrows->minimum() + 1) << "the thumb stays at rest";
    });
    EXPECT_EQ(Notifications(),
              (std::vector<std::string>{"notify 1018 deltapos 0 1", "notify 1018 deltapos 1 1",
                                        "notify 1018 deltapos 1 -1", "notify 1018 deltapos 0 -1"}));
}

TEST_F(CommonControlsQtTest, TabClickSelectsAndNotifies) {
    std::vector<int> seen;
    dialog_.onNotify = [&seen](ProbeDialog& dialog, NMHDR&, LRESULT&) {
        seen.push_back(static_cast<CTabCtrl*>(dialog.GetDlgItem(kTab))->GetCurSel());
        return TRUE;
    };
    Run([](DialogWindow& window) {
        QTabBar* tabs = Control<QTabBar>(window, kTab);
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        EXPECT_EQ(window.Dialog().GetWindowState()->Find(kTab)->selection, 1);
    });
    EXPECT_EQ(Notifications(), (std::vector<std::string>{"notify 1019 selchange"}));
    EXPECT_EQ(seen, (std::vector<int>{1}));
}

// --- context menus ------------------------------------------------------------------------------

// Right mouse button at a point of a widget, as the window system delivers it.
void RightClick(QWidget& widget, QPoint point) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, widget.mapToGlobal(point));
    QApplication::sendEvent(&widget, &event);
}

struct MenuShown {
    std::vector<QString> texts;  // separators as "-"
    std::vector<bool> enabled;
    std::vector<bool> checked;
};

// Picks the action of that text in the next pop-up menu with the mouse, once it is up.
void ChooseWhenShown(const QString& text, MenuShown& shown, QObject& context) {
    QTimer* poll = new QTimer(&context);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, text, &shown] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || !menu->isVisible()) {
            return;
        }
        poll->stop();
        QAction* wanted = nullptr;
        for (QAction* action : menu->actions()) {
            shown.texts.push_back(action->isSeparator() ? QStringLiteral("-") : action->text());
            shown.enabled.push_back(action->isEnabled());
            shown.checked.push_back(action->isChecked());
            if (action->text() == text) {
                wanted = action;
            }
        }
        if (wanted != nullptr) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(wanted).center());
        } else {
            menu->close();
        }
    });
    poll->start(5);
}

TEST_F(CommonControlsQtTest, ContextMenuOverAControlReturnsTheChosenId) {
    UINT returned = 1;
    int over = -1;
    dialog_.onContextMenu = [&returned, &over](ProbeDialog& dialog, CWnd* window, CPoint point) {
        over = window->GetDlgCtrlID();
        CMenu menu;
        menu.CreatePopupMenu();
        menu.AppendMenu(MF_STRING | MF_CHECKED, kZoom, "&Zoom out");
        menu.AppendMenu(MF_SEPARATOR);
        menu.AppendMenu(MF_STRING | MF_GRAYED, kSave, "Save");
        menu.AppendMenu(MF_STRING, kPause, "Pause");
        returned = static_cast<UINT>(
            menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, &dialog));
    };
    MenuShown shown;
    QObject context;
    ChooseWhenShown(QStringLiteral("Pause"), shown, context);
    Run([](DialogWindow& window) {
        QWidget* picture = Control<QWidget>(window, kPicture);
        RightClick(*picture, picture->rect().center());
    });
    EXPECT_EQ(returned, kPause);
    EXPECT_EQ(over, kPicture);
    EXPECT_EQ(shown.texts, (std::vector<QString>{QStringLiteral("&Zoom out"), QStringLiteral("-"),
                                                 QStringLiteral("Save"), QStringLiteral("Pause")}));
    EXPECT_EQ(shown.enabled, (std::vector<bool>{true, true, false, true}));
    EXPECT_EQ(shown.checked, (std::vector<bool>{true, false, false, false}));
}

TEST_F(CommonControlsQtTest, ContextMenuChoiceWithoutReturnCommandIsACommand) {
    dialog_.onContextMenu = [](ProbeDialog& dialog, CWnd*, CPoint point) {
        CMenu menu;
        menu.CreatePopupMenu();
        menu.AppendMenu(MF_STRING, kPause, "Pause");
        menu.TrackPopupMenu(TPM_LEFTALIGN, point.x, point.y, &dialog);
    };
    MenuShown shown;
    QObject context;
    ChooseWhenShown(QStringLiteral("Pause"), shown, context);
    Run([](DialogWindow& window) {
        // Over a disabled button the dialog itself is named.
        QWidget* button = Control<QWidget>(window, kDisabledButton);
        RightClick(window, button->geometry().center());
    });
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "Every kind: command 10064/0"), 1);
    const std::vector<std::string> sent = Notifications();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_TRUE(sent[0].starts_with("context 0 at ")) << sent[0];
}

}  // namespace
