#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/ui/Dialog.h"
#include "host/ui/headless/HeadlessBackend.h"

// The test templates: 900 "First" (every kind of control), 901 "Second" (an edit, OK, Cancel).
inline constexpr int kFirstTemplate = 900;
inline constexpr int kSecondTemplate = 901;
inline constexpr int kEdit = 1000;
inline constexpr int kCheck = 1001;
inline constexpr int kRadioZero = 1002;
inline constexpr int kRadioOne = 1003;
inline constexpr int kRadioTwo = 1004;
inline constexpr int kRadioLeft = 1005;
inline constexpr int kRadioRight = 1006;
inline constexpr int kCombo = 1010;
inline constexpr int kUnitCombo = 1011;
inline constexpr int kListBox = 1012;
inline constexpr int kPicture = 1014;
inline constexpr int kOpenButton = 1020;
inline constexpr int kDisabledButton = 1021;
inline constexpr int kHiddenButton = 1022;
inline constexpr int kReadOnlyEdit = 1023;
inline constexpr int kStopButton = 1024;
inline constexpr int kSliderControl = 1030;
inline constexpr int kSpinButton = 1031;
inline constexpr int kTabStrip = 1032;
inline constexpr int kDisabledSlider = 1033;

// A dialog that writes what happens to it into a shared log and runs hooks the test sets.
class ProbeDialog : public CDialog {
  public:
    ProbeDialog(int templateId, std::vector<std::string>& log)
        : CDialog(static_cast<UINT>(templateId), nullptr), log_(log) {}

    std::function<void(ProbeDialog&)> onInit;
    std::function<void(ProbeDialog&)> onShow;
    std::function<void(ProbeDialog&, UINT_PTR)> onTimer;
    std::function<BOOL(ProbeDialog&, UINT, UINT)> onCommand;
    std::function<BOOL(ProbeDialog&, MSG&)> onKey;
    std::function<void(ProbeDialog&, UINT, UINT, CScrollBar*)> onHScroll;
    // Returns whether it handled the notification; the answer goes into the LRESULT.
    std::function<BOOL(ProbeDialog&, NMHDR&, LRESULT&)> onNotify;
    std::function<void(ProbeDialog&, CWnd*, CPoint)> onContextMenu;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        Log("init");
        if (onInit) {
            onInit(*this);
        }
        return TRUE;
    }
    void OnShowWindow(BOOL show, UINT status) override {
        CDialog::OnShowWindow(show, status);
        Log(show ? "show" : "hide");
        if (show && onShow) {
            onShow(*this);
        }
    }
    void OnTimer(UINT_PTR timerId) override {
        Log("timer " + std::to_string(timerId) + " at " +
            std::to_string(ui::CurrentBackend().Now_ms()));
        if (onTimer) {
            onTimer(*this, timerId);
        }
    }
    BOOL OnCommand(UINT id, UINT notifyCode) override {
        Log("command " + std::to_string(id) + "/" + std::to_string(notifyCode));
        if (onCommand && onCommand(*this, id, notifyCode)) {
            return TRUE;
        }
        return CDialog::OnCommand(id, notifyCode);
    }
    void OnHScroll(UINT code, UINT position, CScrollBar* slider) override {
        Log("hscroll " + std::to_string(code) + " " + std::to_string(position) + " from " +
            std::to_string(slider != nullptr ? slider->GetDlgCtrlID() : 0));
        if (onHScroll) {
            onHScroll(*this, code, position, slider);
        }
    }
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
        auto& header = *reinterpret_cast<NMHDR*>(lParam);
        std::string what = "notify " + std::to_string(wParam) + " ";
        if (header.code == UDN_DELTAPOS) {
            const auto& change = reinterpret_cast<NMUPDOWN&>(header);
            what += "deltapos " + std::to_string(change.iPos) + " " + std::to_string(change.iDelta);
        } else if (header.code == TCN_SELCHANGE) {
            what += "selchange";
        } else {
            what += std::to_string(header.code);
        }
        Log(what);
        return onNotify ? onNotify(*this, header, *pResult) : FALSE;
    }
    void OnContextMenu(CWnd* window, CPoint point) override {
        Log("context " + std::to_string(window == this ? 0 : window->GetDlgCtrlID()) + " at " +
            std::to_string(point.x) + "," + std::to_string(point.y));
        if (onContextMenu) {
            onContextMenu(*this, window, point);
        }
    }
    BOOL PreTranslateMessage(MSG* message) override {
        return onKey ? onKey(*this, *message) : FALSE;
    }

    void Log(const std::string& what) {
        const ui::WindowState* window = GetWindowState();
        log_.push_back((window != nullptr ? window->GetCaption() : std::string("?")) + ": " + what);
    }

  private:
    std::vector<std::string>& log_;
};

// A test with a fresh headless backend and the test resources.
class HeadlessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/resources");
    }

    ui::headless::Session ui_;
    std::vector<std::string> log_;
};
