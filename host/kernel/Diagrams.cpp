#include "host/kernel/Diagrams.h"

#include <cmath>
#include <utility>

#include "host/kernel/DrawingSupport.h"
#include "host/kernel/ErrorReport.h"

CAngleDiagram::CAngleDiagram(ui::DiagramStyle style, std::string defaultCaption)
    : style_(style), defaultCaption_(std::move(defaultCaption)) {}

ui::ControlState* CAngleDiagram::Diagram() const {
    ui::ControlState* control = GetControlState();
    return control != nullptr && control->kind == ui::ControlKind::Diagram ? control : nullptr;
}

void CAngleDiagram::SetTheta(double theta_rad) {
    if (!std::isfinite(theta_rad)) {
        qel::ReportError("The diagram " + std::to_string(GetDlgCtrlID()) +
                         " cannot point at an angle that is not a finite number.");
        return;
    }
    theta_rad_ = ui::NormalisedAngle_rad(theta_rad);
    if (ui::ControlState* control = Diagram()) {
        control->diagram.theta_rad = theta_rad_;
        Changed();
    }
}

void CAngleDiagram::EnableDiagram(BOOL enable) {
    enabled_ = enable != FALSE;
    if (Diagram() != nullptr) {
        EnableWindow(enable);
    }
}

BOOL CAngleDiagram::IsDiagramEnabled() const {
    if (const ui::ControlState* control = Diagram()) {
        return control->enabled ? TRUE : FALSE;
    }
    return enabled_.value_or(true) ? TRUE : FALSE;
}

void CAngleDiagram::SetCaption(std::string_view caption) {
    caption_ = std::string(caption);
    if (Diagram() != nullptr) {
        SetWindowText(caption);
    }
}

std::string CAngleDiagram::GetCaption() const {
    if (const ui::ControlState* control = Diagram()) {
        return control->text;
    }
    return caption_.value_or(defaultCaption_);
}

void CAngleDiagram::OnAttached() {
    if (!qel::IsAttachedToKind(*this, ui::ControlKind::Diagram)) {
        return;
    }
    ui::ControlState& control = *GetControlState();
    control.diagram.style = style_;
    control.diagram.theta_rad = theta_rad_;
    if (caption_) {
        control.text = *caption_;
    } else if (control.text.empty()) {
        control.text = defaultCaption_;
    }
    if (enabled_) {
        control.enabled = *enabled_;
    }
    Changed();
}

CEncoderDiagram::CEncoderDiagram() : CAngleDiagram(ui::DiagramStyle::Dial, "Encoder") {}

CPhaseDiagram::CPhaseDiagram() : CAngleDiagram(ui::DiagramStyle::Phases, "Phases") {}
