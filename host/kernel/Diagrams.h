#pragma once

// The kernel's angle diagrams, attached to "diagram" controls of a dialog's template:
//
// - CEncoderDiagram: a circle with a pointer at the encoder's position within one turn;
// - CPhaseDiagram: the three phase axes A, B and C (at 0, 120 and 240 degrees) with a pointer at
//   the electrical angle.
//
// Angles are in radians, counted counter-clockwise from the right (the A axis); any angle is
// taken (it is brought into 0 ... 2 pi), a non-finite one is refused and reported. A disabled
// diagram is drawn grey without its pointer. The caption is drawn with the diagram: the one set
// with SetCaption, else the template's caption, else "Encoder" or "Phases". Every setting goes
// straight into the control's state (ui::DiagramState, the control's text and enabled state);
// settings made before the dialog's window exists are written when it is attached.
//
//   CEncoderDiagram encoder_;
//   encoder_.SubclassDlgItem(1030, this);
//   encoder_.EnableDiagram(TRUE);
//   ... on each tick: encoder_.SetTheta(2.0 * std::numbers::pi * position_counts /
//   counts_per_turn);

#include <optional>
#include <string>
#include <string_view>

#include "host/ui/DrawnControls.h"
#include "host/ui/Wnd.h"

class CAngleDiagram : public CWnd {
  public:
    void SetTheta(double theta_rad);
    // Within 0 ... 2 pi.
    double GetTheta() const { return theta_rad_; }

    void EnableDiagram(BOOL enable);
    BOOL IsDiagramEnabled() const;

    void SetCaption(std::string_view caption);
    std::string GetCaption() const;

  protected:
    CAngleDiagram(ui::DiagramStyle style, std::string defaultCaption);
    void OnAttached() override;

  private:
    // The control's state when attached to a diagram control, else null.
    ui::ControlState* Diagram() const;

    ui::DiagramStyle style_;
    std::string defaultCaption_;
    double theta_rad_ = 0.0;
    std::optional<std::string> caption_;
    std::optional<bool> enabled_;
};

class CEncoderDiagram : public CAngleDiagram {
  public:
    CEncoderDiagram();
};

class CPhaseDiagram : public CAngleDiagram {
  public:
    CPhaseDiagram();
};
