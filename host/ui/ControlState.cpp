#include "host/ui/ControlState.h"

#include <algorithm>

namespace ui {

bool ControlState::IsList() const {
    return kind == ControlKind::Combo || kind == ControlKind::Unit || kind == ControlKind::List;
}

bool ControlState::IsButtonLike() const {
    return kind == ControlKind::Button || kind == ControlKind::Check || kind == ControlKind::Radio;
}

bool ControlState::HasRange() const {
    return kind == ControlKind::Slider || kind == ControlKind::Spin;
}

int ControlState::ClampToRange(int value) const {
    return std::clamp(value, std::min(rangeMin, rangeMax), std::max(rangeMin, rangeMax));
}

std::string ControlState::SelectedText() const {
    if (selection < 0 || static_cast<std::size_t>(selection) >= items.size()) {
        return {};
    }
    return items[static_cast<std::size_t>(selection)].text;
}

std::string StripMnemonic(std::string_view caption) {
    std::string plain;
    plain.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                plain += '&';
                ++i;
            }
            continue;
        }
        plain += caption[i];
    }
    return plain;
}

WindowState::WindowState(const DialogTemplate& dialogTemplate)
    : templateId_(dialogTemplate.id),
      caption_(dialogTemplate.caption),
      size_{0, 0, dialogTemplate.width, dialogTemplate.height} {
    controls_.reserve(dialogTemplate.controls.size());
    for (const ControlTemplate& item : dialogTemplate.controls) {
        ControlState control;
        control.id = item.id;
        control.kind = item.kind;
        control.rect = item.rect;
        control.caption = item.caption;
        control.text = item.kind == ControlKind::Edit ? std::string() : item.caption;
        control.enabled = item.enabled;
        control.visible = item.visible;
        control.readOnly = item.readOnly;
        control.multiline = item.multiline;
        control.groupStart = item.groupStart;
        control.isDefault = item.isDefault;
        control.bitmap = item.bitmap;
        control.sharesPlaceWith = item.sharesPlaceWith;
        controls_.push_back(std::move(control));
    }
}

ControlState* WindowState::Find(int id) {
    for (ControlState& control : controls_) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

const ControlState* WindowState::Find(int id) const {
    return const_cast<WindowState*>(this)->Find(id);
}

const ControlState* WindowState::FindByCaption(std::string_view caption) const {
    const std::string wanted = StripMnemonic(caption);
    for (const ControlState& control : controls_) {
        if (StripMnemonic(control.caption) == wanted) {
            return &control;
        }
    }
    return nullptr;
}

}  // namespace ui
