#pragma once

// The state of a dialog window and its controls, independent of how a backend draws them: text,
// enabled, visible, checked, read-only, list items with item data, selection, bitmap, text
// colour, the range and position of sliders and spin buttons, the tabs of a tab control, and what
// the drawn controls show (bar graphs, diagrams, graphs: DrawnControls.h). Dialog code changes it
// through CWnd and the control wrappers (Wnd.h); a backend renders it (Backend::ControlChanged
// tells it what changed) and feeds user input back through UserInput.h; tests read it.
//
//   const ui::ControlState* edit = dialog.GetWindowState()->Find(1010);
//   EXPECT_EQ(edit->text, "48");  EXPECT_TRUE(edit->enabled);

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/ui/AfxTypes.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/DrawnControls.h"

namespace ui {

struct ListItem {
    std::string text;
    DWORD_PTR data = 0;
};

struct ControlState {
    // A new slider or spin button runs from 0 to 100; a click beside a slider's thumb moves it
    // by a fifth of that.
    static constexpr int kDefaultRangeMax = 100;
    static constexpr int kDefaultPageSize = 20;

    int id = 0;
    ControlKind kind = ControlKind::Static;
    Rect rect;            // dialog units
    std::string caption;  // the template's caption ("&" marks the mnemonic)
    std::string text;     // what the control shows: the caption or the edit's text
    bool enabled = true;
    bool visible = true;
    int checked = BST_UNCHECKED;  // check boxes and radio buttons
    bool readOnly = false;        // edit boxes
    bool multiline = false;
    bool groupStart = false;
    bool isDefault = false;
    std::size_t limitText = 0;    // edit boxes: 0 is no limit
    std::vector<ListItem> items;  // combo, unit and list boxes; the tabs of a tab control
    int selection = -1;           // index into items, -1 when nothing is selected
    // Sliders and spin buttons: the position within [rangeMin, rangeMax].
    int rangeMin = 0;
    int rangeMax = kDefaultRangeMax;
    int position = 0;
    // Sliders: a tick mark every ticFrequency positions (0: no ticks); the step of a click
    // beside the thumb (pageSize) and of an arrow key (lineSize).
    int ticFrequency = 0;
    int pageSize = kDefaultPageSize;
    int lineSize = 1;
    std::string bitmap;  // name of the bitmap shown (pictures and buttons)
    std::vector<int> sharesPlaceWith;
    // The drawn controls: what the kernel's class attached to the control set.
    BarGraphState barGraph;
    DiagramState diagram;
    GraphState graph;

    bool IsList() const;
    bool IsButtonLike() const;  // push button, check box or radio button
    bool HasRange() const;      // slider or spin button
    // The value nearest to it within [rangeMin, rangeMax].
    int ClampToRange(int value) const;
    // The selected item's text, empty when nothing is selected.
    std::string SelectedText() const;
};

// Removes the mnemonic marks of a caption: "&Position" gives "Position", "&&" gives "&".
std::string StripMnemonic(std::string_view caption);

// The window of one dialog while it exists.
class WindowState {
  public:
    explicit WindowState(const DialogTemplate& dialogTemplate);

    int GetTemplateId() const { return templateId_; }
    const std::string& GetCaption() const { return caption_; }
    void SetCaption(std::string caption) { caption_ = std::move(caption); }
    const Rect& GetSize() const { return size_; }

    // The first control with this id, or null.
    ControlState* Find(int id);
    const ControlState* Find(int id) const;
    // The first control whose caption, without mnemonic marks, is this text, or null.
    const ControlState* FindByCaption(std::string_view caption) const;
    std::vector<ControlState>& Controls() { return controls_; }
    const std::vector<ControlState>& Controls() const { return controls_; }

    // The control with the keyboard focus (0: none).
    int GetFocusId() const { return focusId_; }
    void SetFocusId(int id) { focusId_ = id; }

  private:
    int templateId_;
    std::string caption_;
    Rect size_;
    std::vector<ControlState> controls_;  // fixed when the window is created: addresses stay
    int focusId_ = 0;
};

}  // namespace ui
