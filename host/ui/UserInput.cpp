#include "host/ui/UserInput.h"

#include "host/ui/Backend.h"
#include "host/ui/Dialog.h"

namespace ui::input {
namespace {

InputResult Refused(std::string reason) {
    return InputResult{false, std::move(reason)};
}

std::string Describe(const ControlState& control) {
    std::string text =
        std::string(ControlKindName(control.kind)) + " " + std::to_string(control.id);
    const std::string caption = StripMnemonic(control.caption);
    if (!caption.empty()) {
        text += " \"" + caption + "\"";
    }
    return text;
}

// Checks that the user can reach the dialog: its window exists, it has not ended and no modal
// dialog lies over it.
InputResult CheckDialog(const CDialog& dialog) {
    if (dialog.GetWindowState() == nullptr) {
        return Refused("the dialog is not open");
    }
    if (dialog.HasEnded()) {
        return Refused("the dialog has already ended");
    }
    if (ActiveDialog() != &dialog) {
        return Refused("another dialog is open over it");
    }
    return {};
}

// The control when the user can act on it: it exists, is visible and enabled.
ControlState* Reach(CDialog& dialog, int id, InputResult& result) {
    result = CheckDialog(dialog);
    if (!result) {
        return nullptr;
    }
    ControlState* control = dialog.GetWindowState()->Find(id);
    if (control == nullptr) {
        result = Refused("there is no control " + std::to_string(id));
        return nullptr;
    }
    if (!control->visible) {
        result = Refused(Describe(*control) + " is hidden");
        return nullptr;
    }
    if (!control->enabled) {
        result = Refused(Describe(*control) + " is disabled");
        return nullptr;
    }
    return control;
}

// The focus moves to the control (the edit that had it is told it lost it). False when that
// ended the dialog.
bool MoveFocus(CDialog& dialog, int id) {
    if (CWnd* item = dialog.GetDlgItem(id)) {
        item->SetFocus();
    }
    return dialog.GetWindowState() != nullptr && !dialog.HasEnded();
}

// The radio buttons of the clicked one's group: from the control that starts the group up to
// the next one that starts a group.
void CheckInGroup(CDialog& dialog, ControlState& clicked) {
    std::vector<ControlState>& controls = dialog.GetWindowState()->Controls();
    const auto at = static_cast<std::size_t>(&clicked - controls.data());
    std::size_t first = at;
    while (first > 0 && !controls[first].groupStart) {
        --first;
    }
    for (std::size_t i = first; i < controls.size(); ++i) {
        if (i != first && controls[i].groupStart) {
            break;
        }
        ControlState& control = controls[i];
        if (control.kind == ControlKind::Radio) {
            const int wanted = &control == &clicked ? BST_CHECKED : BST_UNCHECKED;
            if (control.checked != wanted) {
                control.checked = wanted;
                CurrentBackend().ControlChanged(dialog, control.id);
            }
        }
    }
}

std::size_t CountCharacters(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        // UTF-8 continuation bytes (10xxxxxx) do not start a character.
        constexpr unsigned kContinuationMask = 0xC0U;
        constexpr unsigned kContinuationBits = 0x80U;
        if ((static_cast<unsigned char>(c) & kContinuationMask) != kContinuationBits) {
            ++count;
        }
    }
    return count;
}

}  // namespace

InputResult Click(CDialog& dialog, int id) {
    InputResult result;
    ControlState* control = Reach(dialog, id, result);
    if (control == nullptr) {
        return result;
    }
    if (!control->IsButtonLike()) {
        return Refused(Describe(*control) + " cannot be clicked");
    }
    if (!MoveFocus(dialog, id)) {
        return Refused("the dialog ended when the focus moved to " + Describe(*control));
    }
    if (control->kind == ControlKind::Check) {
        control->checked = control->checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        CurrentBackend().ControlChanged(dialog, id);
    } else if (control->kind == ControlKind::Radio) {
        CheckInGroup(dialog, *control);
    }
    dialog.DispatchCommand(static_cast<UINT>(id), BN_CLICKED);
    return result;
}

InputResult EnterText(CDialog& dialog, int id, std::string_view text) {
    InputResult result;
    ControlState* control = Reach(dialog, id, result);
    if (control == nullptr) {
        return result;
    }
    if (control->kind != ControlKind::Edit) {
        return Refused(Describe(*control) + " is not an edit box");
    }
    if (control->readOnly) {
        return Refused(Describe(*control) + " is read-only");
    }
    if (control->limitText != 0 && CountCharacters(text) > control->limitText) {
        return Refused(Describe(*control) + " takes at most " + std::to_string(control->limitText) +
                       " characters");
    }
    if (!MoveFocus(dialog, id)) {
        return Refused("the dialog ended when the focus moved to " + Describe(*control));
    }
    control->text = std::string(text);
    CurrentBackend().ControlChanged(dialog, id);
    dialog.DispatchCommand(static_cast<UINT>(id), EN_CHANGE);
    return result;
}

InputResult LeaveField(CDialog& dialog) {
    InputResult result = CheckDialog(dialog);
    if (result) {
        dialog.SetFocus();
    }
    return result;
}

InputResult SelectIndex(CDialog& dialog, int id, int index) {
    InputResult result;
    ControlState* control = Reach(dialog, id, result);
    if (control == nullptr) {
        return result;
    }
    if (!control->IsList()) {
        return Refused(Describe(*control) + " is not a list");
    }
    if (index < 0 || static_cast<std::size_t>(index) >= control->items.size()) {
        return Refused(Describe(*control) + " has no item " + std::to_string(index));
    }
    if (!MoveFocus(dialog, id)) {
        return Refused("the dialog ended when the focus moved to " + Describe(*control));
    }
    if (control->selection != index) {
        control->selection = index;
        CurrentBackend().ControlChanged(dialog, id);
        dialog.DispatchCommand(static_cast<UINT>(id), CBN_SELCHANGE);
    }
    return result;
}

InputResult PressKey(CDialog& dialog, UINT virtualKey, Modifiers modifiers) {
    InputResult result = CheckDialog(dialog);
    if (!result) {
        return result;
    }
    // Alt without Control makes a system key, as the toolkit reports it.
    const bool systemKey = modifiers.alt && !modifiers.control;
    MSG down{&dialog, systemKey ? WM_SYSKEYDOWN : WM_KEYDOWN, virtualKey, 0};
    if (!dialog.PreTranslateMessage(&down) && dialog.GetWindowState() != nullptr) {
        if (virtualKey == VK_ESCAPE) {
            dialog.DispatchCommand(static_cast<UINT>(IDCANCEL), BN_CLICKED);
        } else if (virtualKey == VK_RETURN) {
            int target = IDOK;
            for (const ControlState& control : dialog.GetWindowState()->Controls()) {
                if (control.isDefault && control.kind == ControlKind::Button) {
                    target = control.id;
                    break;
                }
            }
            const ControlState* button = dialog.GetWindowState()->Find(target);
            if (button == nullptr || (button->enabled && button->visible)) {
                dialog.DispatchCommand(static_cast<UINT>(target), BN_CLICKED);
            }
        }
    }
    if (dialog.GetWindowState() != nullptr) {
        MSG up{&dialog, systemKey ? WM_SYSKEYUP : WM_KEYUP, virtualKey, 0};
        dialog.PreTranslateMessage(&up);
    }
    return result;
}

InputResult Close(CDialog& dialog) {
    InputResult result = CheckDialog(dialog);
    if (result) {
        dialog.DispatchCommand(static_cast<UINT>(IDCANCEL), BN_CLICKED);
    }
    return result;
}

InputResult MoveSlider(CDialog& dialog, int id, int position) {
    InputResult result;
    ControlState* control = Reach(dialog, id, result);
    if (control == nullptr) {
        return result;
    }
    if (control->kind != ControlKind::Slider) {
        return Refused(Describe(*control) + " is not a slider");
    }
    if (!MoveFocus(dialog, id)) {
        return Refused("the dialog ended when the focus moved to " + Describe(*control));
    }
    const int clamped = control->ClampToRange(position);
    if (control->position == clamped) {
        return result;
    }
    control->position = clamped;
    CurrentBackend().ControlChanged(dialog, id);
    CWnd* slider = dialog.WindowOf(*control);
    dialog.OnHScroll(TB_THUMBTRACK, static_cast<UINT>(clamped), slider);
    if (dialog.GetWindowState() != nullptr) {
        dialog.OnHScroll(TB_ENDTRACK, 0, dialog.WindowOf(*control));
    }
    return result;
}

InputResult Spin(CDialog& dialog, int id, int delta) {
    InputResult result;
    ControlState* control = Reach(dialog, id, result);
    if (control == nullptr) {
        return result;
    }
    if (control->kind != ControlKind::Spin) {
        return Refused(Describe(*control) + " is not a spin button");
    }
    NMUPDOWN change;
    change.hdr = NMHDR{dialog.WindowOf(*control), static_cast<UINT_PTR>(id), UDN_DELTAPOS};
    change.iPos = control->position;
    change.iDelta = delta;
    if (dialog.DispatchNotify(change.hdr) != 0 || dialog.GetWindowState() == nullptr) {
        return result;
    }
    const int moved = control->ClampToRange(control->position + delta);
    if (control->position != moved) {
        control->position = moved;
        CurrentBackend().ControlChanged(dialog, id);
    }
    return result;
}

InputResult SelectTab(CDialog& dialog, int id, int index) {
    InputResult result;
    ControlState* control = Reach(dialog, id, result);
    if (control == nullptr) {
        return result;
    }
    if (control->kind != ControlKind::Tab) {
        return Refused(Describe(*control) + " is not a tab control");
    }
    if (index < 0 || static_cast<std::size_t>(index) >= control->items.size()) {
        return Refused(Describe(*control) + " has no tab " + std::to_string(index));
    }
    if (!MoveFocus(dialog, id)) {
        return Refused("the dialog ended when the focus moved to " + Describe(*control));
    }
    if (control->selection != index) {
        control->selection = index;
        CurrentBackend().ControlChanged(dialog, id);
        NMHDR header{dialog.WindowOf(*control), static_cast<UINT_PTR>(id), TCN_SELCHANGE};
        dialog.DispatchNotify(header);
    }
    return result;
}

InputResult ContextMenu(CDialog& dialog, int id, CPoint point) {
    InputResult result;
    if (id == 0) {
        result = CheckDialog(dialog);
        if (result) {
            dialog.OnContextMenu(&dialog, point);
        }
        return result;
    }
    ControlState* control = Reach(dialog, id, result);
    if (control != nullptr) {
        dialog.OnContextMenu(dialog.WindowOf(*control), point);
    }
    return result;
}

InputResult StepGraphScale(CDialog& dialog, int id, std::size_t curve, int step) {
    InputResult result;
    const ControlState* control = Reach(dialog, id, result);
    if (control == nullptr) {
        return result;
    }
    if (control->kind != ControlKind::Graph) {
        return Refused(Describe(*control) + " is not a graph");
    }
    const std::vector<GraphCurve>& curves = control->graph.curves;
    if (curve >= curves.size() || !curves[curve].scale) {
        return Refused(Describe(*control) + " has no curve " + std::to_string(curve) +
                       " with a scale of its own");
    }
    if (step == 0) {
        return Refused("a scale step of 0 changes nothing");
    }
    const auto channel = static_cast<std::uint16_t>(curves[curve].scale->channel);
    dialog.SendMessage(kGraphScaleRequest, static_cast<WPARAM>(id),
                       MAKELPARAM(channel, static_cast<std::uint16_t>(step)));
    return result;
}

}  // namespace ui::input
