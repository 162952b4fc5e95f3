#pragma once

// The kernel's bar graph: one value between a left and a right limit, drawn as a bar from a
// reference value (the drawing reference) to the value, with the value written over it. It is
// attached to a "bargraph" control of a dialog's template; every setting goes straight into the
// control's state (ui::BarGraphState), so what a headless test reads is what the desktop draws.
// Settings made before the dialog's window exists are kept and written when it is attached.
//
//   CBarGraph current_;                                  // a member of the test dialog
//   BOOL CMyTestDlg::OnInitDialog() {
//       CQel_TestDlg::OnInitDialog();
//       current_.SubclassDlgItem(1021, this);            // or current_.Attach(*this, 1021)
//       current_.SetLimits(-10.0, 10.0);
//       current_.SetDrawingReference(0.0);               // the bar grows either way from 0
//       current_.SetBarColour(RGB16(12));
//       current_.SetValueFormat("%.2f A");
//       return TRUE;
//   }
//   ... on each tick: current_.SetCurrentValue(current_A);
//
// A non-finite limit, value or reference is refused and reported; the previous one stays.

#include <optional>
#include <string>
#include <string_view>

#include "host/kernel/KernelFunctions.h"
#include "host/ui/DrawnControls.h"
#include "host/ui/Wnd.h"

class CBarGraph : public CWnd {
  public:
    // 0 ... 1, the value 0, drawn from the left limit, in blue on white, as "%g".
    CBarGraph();

    void SetLeftLimit(double left);
    void SetRightLimit(double right);
    void SetLimits(double left, double right);
    double GetLeftLimit() const { return bar_.leftLimit; }
    double GetRightLimit() const { return bar_.rightLimit; }

    void SetCurrentValue(double value);
    double GetCurrentValue() const { return bar_.value; }

    // The value the bar is drawn from. Until one is set it is the left limit (and follows it).
    void SetDrawingReference(double reference);
    double GetDrawingReference() const { return bar_.reference; }

    void SetBarColour(QelColour colour);
    void SetBarColour(COLORREF colour);
    COLORREF GetBarColour() const { return bar_.barColour; }
    void SetBackgroundColour(QelColour colour);
    void SetBackgroundColour(COLORREF colour);
    COLORREF GetBackgroundColour() const { return bar_.backgroundColour; }

    // The printf-style format of the value text: exactly one conversion of a real number (f, e,
    // g, a or their capitals, with flags, a width and a precision of at most two digits each)
    // among any other text ("%.2f A", "%+.1f%%"). Another format is refused (FALSE, reported)
    // and the previous one stays.
    BOOL SetValueFormat(std::string_view format);
    const std::string& GetValueFormat() const { return format_; }
    // The value as the bar shows it.
    const std::string& GetValueText() const { return bar_.valueText; }

    // Where the bar lies, as fractions of the width from the left edge (ui::BarGraphExtent).
    ui::BarExtent GetBarExtent() const { return ui::BarGraphExtent(bar_); }

    // Asks the window to draw again (every setting already has).
    void Repaint();

  protected:
    void OnAttached() override;

  private:
    // Writes the settings into the control's state and has it drawn.
    void Publish();
    bool Accept(double number, std::string_view what) const;

    ui::BarGraphState bar_;
    std::string format_;
    bool referenceSet_ = false;
};
