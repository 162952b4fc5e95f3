#pragma once

// Table-driven checks of a parameter-bound dialog's bindings, generated from the dialog's own
// bindings (CQel_EditSetupDlg::GetBindings) and its template, so that the table cannot drift from
// the dialog. A dialog is made on the reference axis and on each of its shapes (states of the axis
// in which controls the reference axis disables, hides or does not bind come into use).
//
// - CheckBindingsAgainstTemplate: in every state, every bound control is in the template with the
//   kind its binding needs, and no control is bound to two parameters (an edit and a slider of
//   one parameter are two controls of the same parameter); every control of the template that
//   looks bindable (an edit that is not read-only, a combo, a unit combo, a check box, a radio
//   button, a slider) is bound in some state, or named in the dialog's list of controls its own
//   code handles, with the reason.
// - RunBindingRow: one row per bound control (edit, unit combo, combo, check box, radio run,
//   slider). The dialog is opened on the reference axis (else on the first shape where the
//   control can be used; on a tuning test the tab page showing the control is picked first), the
//   control is changed to another valid value, and exactly its own parameter must change: no
//   other parameter of the setup, except drive registers (family "register") and the dialog's
//   short allow-list of parameters it derives from that one, each with its reason. A control no
//   state lets the user change must be listed as a display, and show its parameter's value.
//
//   const std::vector<binding_table::DialogRules>& Dialogs();   // static storage
//   INSTANTIATE_TEST_SUITE_P(X, MyRowTest, ::testing::ValuesIn(binding_table::BindingRows(
//       Dialogs())), binding_table::RowName{});

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/RegisterComputation.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/EditSetupDlg.h"
#include "host/kernel/HostServices.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

namespace binding_table {

using BindingInfo = CQel_EditSetupDlg::BindingInfo;
using BindingKind = BindingInfo::Kind;

// The tab control of the drive-test dialogs whose controls sit on several pages.
inline constexpr int kTabId = 1300;

// A control of the template that the dialog's own code (not a binding) handles.
struct HandledControl {
    int id;
    const char* reason;
};

// A parameter the dialog derives when the user changes a bound one (its OnChangedParameterValue).
struct DerivedChange {
    const char* changed;  // the bound parameter the user changes
    // A parameter that may change with it; "*" any, only with unitOnly or relativeTolerance.
    const char* derived;
    const char* reason;
    bool unitOnly = false;  // only the derived parameter's unit may change, not its value
    // When not 0: the derived parameter's base value may move by this much (relative) only, as
    // it does when the dialog derives it again from registers it recomputed.
    double relativeTolerance = 0.0;
};

// The value (base units) a row types for a parameter whose valid values are sparser than its
// precision (the dialog snaps others to the nearest valid one).
struct Typed {
    const char* name;
    double base;
    const char* reason;
};

// Another state of the axis or of the dialog in which controls that the reference axis disables
// or hides can be used: user parameters set before the dialog is made (the registers computed
// from them), then actions on the open dialog.
struct Shape {
    const char* why;
    std::vector<std::pair<std::string, double>> values;
    std::function<void(ui::headless::DialogDriver&)> steps;
};

// A bound edit or radio run that only shows its parameter (read-only or disabled in every shape).
struct Display {
    int id;
    const char* reason;
    bool blank = false;  // empty until the test measures it
};

// A bound parameter the dialog re-quantises to what the drive's registers hold after the user
// typed it: it holds the typed value within this relative tolerance.
struct Quantised {
    const char* name;
    double relativeTolerance;
    const char* reason;
};

struct DialogRules {
    int templateId;
    const char* name;  // as the template file is named
    std::function<std::unique_ptr<CDialog>(CQel_Setup&)> make;
    std::vector<HandledControl> handled;
    std::vector<DerivedChange> derived;
    std::vector<Shape> shapes{};
    std::vector<Display> displays{};
    std::vector<Quantised> quantised{};
    std::vector<Typed> typed{};
    // Runs first whenever the dialog comes up (a key that unlocks its edits).
    std::function<void(ui::headless::DialogDriver&)> open{};
};

inline void PrintTo(const DialogRules& rules, std::ostream* os) {
    *os << rules.templateId << "-" << rules.name;
}

enum class Action { Edit, Unit, Check, Radio, List, Slider };

inline const char* ActionName(Action action) {
    switch (action) {
        case Action::Edit:
            return "edit";
        case Action::Unit:
            return "unit";
        case Action::Check:
            return "check";
        case Action::Radio:
            return "radio";
        case Action::List:
            return "combo";
        case Action::Slider:
            return "slider";
    }
    return "?";
}

// One bound control of one dialog, and what the row does to it.
struct BindingRow {
    std::string name;
    const DialogRules* dialog = nullptr;
    Action action = Action::Edit;
    BindingKind kind = BindingKind::Value;
    std::string parameter;
    int firstId = 0;
    int lastId = 0;
    int unitId = 0;
};

inline void PrintTo(const BindingRow& row, std::ostream* os) {
    *os << row.name;
}

struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& tested) const {
        return tested.param.name;
    }
};
struct DialogName {
    std::string operator()(const ::testing::TestParamInfo<DialogRules>& tested) const {
        std::string name = std::to_string(tested.param.templateId) + "_" + tested.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return std::isalnum(c) == 0; }, '_');
        return name;
    }
};

inline void PrepareEnvironment() {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
    qel::SetGUIDirectory("");
    qel::SetHelpFileOfGUI("");
}

// The reference axis, or a shape of it: its user parameters set (whatever their range) and the
// registers computed from them.
inline std::unique_ptr<CQel_Setup> ShapedAxis(const Shape* shape) {
    std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    if (!setup || shape == nullptr || shape->values.empty()) {
        return setup;
    }
    for (const auto& [name, value] : shape->values) {
        CQel_Parameter* parameter = setup->FindParameter(name);
        if (parameter == nullptr) {
            ADD_FAILURE() << shape->why << ": the reference axis has no " << name;
            return nullptr;
        }
        parameter->SetMinInBaseUnit(std::min(parameter->GetMinInBaseUnit(), value));
        parameter->SetMaxInBaseUnit(std::max(parameter->GetMaxInBaseUnit(), value));
        EXPECT_TRUE(parameter->SetValueInBaseUnit(value)) << name;
    }
    ComputeDriveRegisters(*setup);
    return setup;
}

// The reference axis first, then every shape of the dialog.
inline std::vector<const Shape*> States(const DialogRules& rules) {
    std::vector<const Shape*> states = {nullptr};
    for (const Shape& shape : rules.shapes) {
        states.push_back(&shape);
    }
    return states;
}

// The bindings of a dialog made on a setup; none (and a failure) when it is no bound dialog.
inline std::vector<BindingInfo> BindingsOf(CDialog& dialog) {
    const auto* bound = dynamic_cast<const CQel_EditSetupDlg*>(&dialog);
    if (bound == nullptr) {
        ADD_FAILURE() << "not a parameter-bound dialog";
        return {};
    }
    return bound->GetBindings();
}

// The rows of every bound control of the dialogs, from the bindings each dialog makes on the
// reference axis and on its shapes.
inline std::vector<BindingRow> BindingRows(const std::vector<DialogRules>& dialogs) {
    PrepareEnvironment();
    ui::headless::Session session;
    CollectedErrors errors;
    std::vector<BindingRow> rows;
    std::set<std::string> names;
    const auto add = [&](const DialogRules& rules, const BindingInfo& binding, Action action) {
        BindingRow row;
        row.dialog = &rules;
        row.action = action;
        row.kind = binding.kind;
        row.parameter = binding.name;
        row.firstId = binding.firstId;
        row.lastId = binding.lastId;
        row.unitId = binding.unitId;
        const int id = action == Action::Unit ? binding.unitId : binding.firstId;
        std::string name = std::to_string(rules.templateId) + "_" + ActionName(action) + "_" +
                           binding.name + "_" + std::to_string(id);
        std::replace_if(
            name.begin(), name.end(), [](char c) { return std::isalnum(c) == 0; }, '_');
        // One parameter bound the same way twice gives one row.
        if (names.insert(name).second) {
            row.name = name;
            rows.push_back(row);
        }
    };
    for (const DialogRules& rules : dialogs) {
        for (const Shape* shape : States(rules)) {
            std::unique_ptr<CQel_Setup> setup = ShapedAxis(shape);
            if (!setup) {
                continue;
            }
            std::unique_ptr<CDialog> dialog = rules.make(*setup);
            const auto* bound = dynamic_cast<const CQel_EditSetupDlg*>(dialog.get());
            if (bound == nullptr) {
                continue;  // the template check reports it
            }
            for (const BindingInfo& binding : bound->GetBindings()) {
                switch (binding.kind) {
                    case BindingKind::Value:
                        add(rules, binding, Action::Edit);
                        if (binding.unitId != 0) {
                            add(rules, binding, Action::Unit);
                        }
                        break;
                    case BindingKind::Check:
                        add(rules, binding, Action::Check);
                        break;
                    case BindingKind::Radio:
                        add(rules, binding, Action::Radio);
                        break;
                    case BindingKind::List:
                        add(rules, binding, Action::List);
                        break;
                    case BindingKind::Slider:
                        add(rules, binding, Action::Slider);
                        break;
                }
            }
        }
    }
    return rows;
}

inline bool LooksBindable(const ui::ControlTemplate& control) {
    switch (control.kind) {
        case ui::ControlKind::Edit:
            return !control.readOnly;
        case ui::ControlKind::Combo:
        case ui::ControlKind::Unit:
        case ui::ControlKind::Check:
        case ui::ControlKind::Radio:
        case ui::ControlKind::Slider:
            return true;
        default:
            return false;
    }
}

// The dialog's bindings on one state of the axis against its template; adds the names bound.
inline void CheckBindingsInState(const DialogRules& rules, const Shape* shape,
                                 std::set<std::string>& boundNames, std::set<int>& usedIds) {
    ui::headless::Session session;
    CollectedErrors errors;
    std::unique_ptr<CQel_Setup> setup = ShapedAxis(shape);
    ASSERT_TRUE(setup);
    std::unique_ptr<CDialog> dialog = rules.make(*setup);
    const std::vector<BindingInfo> bindings = BindingsOf(*dialog);
    for (const BindingInfo& binding : bindings) {
        boundNames.insert(binding.name);
    }
    const ui::TemplateLoad loaded = ui::LoadDialogTemplate(rules.templateId);
    ASSERT_TRUE(loaded.dialogTemplate) << loaded.problem;
    std::map<int, const ui::ControlTemplate*> controls;
    for (const ui::ControlTemplate& control : loaded.dialogTemplate->controls) {
        controls[control.id] = &control;
    }

    std::map<int, std::string> owner;  // control -> the parameter bound to it
    const auto use = [&](int id, ui::ControlKind wanted, const std::string& parameter) {
        const auto found = controls.find(id);
        if (found == controls.end()) {
            ADD_FAILURE() << parameter << " is bound to control " << id
                          << ", which the template lacks";
            return;
        }
        EXPECT_EQ(ui::ControlKindName(found->second->kind), ui::ControlKindName(wanted))
            << parameter << " is bound to control " << id << " of the wrong kind";
        const auto [known, first] = owner.emplace(id, parameter);
        if (!first && !qel::EqualsIgnoringCase(known->second, parameter)) {
            ADD_FAILURE() << "control " << id << " is bound to " << known->second << " and to "
                          << parameter;
        }
    };
    for (const BindingInfo& binding : bindings) {
        switch (binding.kind) {
            case BindingKind::Value:
                use(binding.firstId, ui::ControlKind::Edit, binding.name);
                if (binding.unitId != 0) {
                    use(binding.unitId, ui::ControlKind::Unit, binding.name);
                }
                break;
            case BindingKind::Check:
                use(binding.firstId, ui::ControlKind::Check, binding.name);
                break;
            case BindingKind::Radio:
                EXPECT_LT(binding.firstId, binding.lastId) << binding.name << ": radio run";
                for (int id = binding.firstId; id <= binding.lastId; ++id) {
                    use(id, ui::ControlKind::Radio, binding.name);
                }
                break;
            case BindingKind::List:
                use(binding.firstId, ui::ControlKind::Combo, binding.name);
                break;
            case BindingKind::Slider:
                use(binding.firstId, ui::ControlKind::Slider, binding.name);
                for (const int spin : {binding.fineSpinId, binding.coarseSpinId}) {
                    if (spin != 0) {
                        use(spin, ui::ControlKind::Spin, binding.name);
                    }
                }
                break;
        }
    }

    for (const auto& [id, parameter] : owner) {
        usedIds.insert(id);
    }
}

// The dialog's bindings against its template, on the reference axis and on every shape (see the
// top of this file); every name of the dialog's lists must be one it binds.
inline void CheckBindingsAgainstTemplate(const DialogRules& rules) {
    PrepareEnvironment();
    std::set<std::string> boundNames;
    std::set<int> used;  // bound on the reference axis or in a shape
    for (const Shape* shape : States(rules)) {
        SCOPED_TRACE(shape != nullptr ? shape->why : "on the reference axis");
        CheckBindingsInState(rules, shape, boundNames, used);
    }
    const ui::TemplateLoad loaded = ui::LoadDialogTemplate(rules.templateId);
    ASSERT_TRUE(loaded.dialogTemplate) << loaded.problem;
    const auto& controls = loaded.dialogTemplate->controls;
    std::set<int> handled;
    for (const HandledControl& entry : rules.handled) {
        EXPECT_TRUE(handled.insert(entry.id).second) << "handled twice: " << entry.id;
        EXPECT_TRUE(std::any_of(controls.begin(), controls.end(),
                                [&](const ui::ControlTemplate& c) { return c.id == entry.id; }))
            << "the handled control " << entry.id << " is not in the template";
        EXPECT_FALSE(used.contains(entry.id))
            << "the handled control " << entry.id << " is bound (" << entry.reason << ")";
    }
    for (const ui::ControlTemplate& control : controls) {
        if (LooksBindable(control) && !used.contains(control.id) && !handled.contains(control.id)) {
            ADD_FAILURE() << "the " << ui::ControlKindName(control.kind) << " " << control.id
                          << " \"" << control.caption
                          << "\" looks bindable, but no binding uses it nor is it listed as "
                             "handled by the dialog's code";
        }
    }
    for (const Display& entry : rules.displays) {
        EXPECT_TRUE(used.contains(entry.id)) << "the display " << entry.id << " is not bound";
    }
    const auto bound = [&](std::string_view name) {
        return std::any_of(boundNames.begin(), boundNames.end(), [&](const std::string& known) {
            return qel::EqualsIgnoringCase(known, name);
        });
    };
    for (const DerivedChange& entry : rules.derived) {
        EXPECT_TRUE(bound(entry.changed))
            << "the allow-list names " << entry.changed << ", which the dialog does not bind";
        EXPECT_NE(std::string_view(entry.reason), "") << entry.changed << " -> " << entry.derived;
    }
    for (const Quantised& entry : rules.quantised) {
        EXPECT_TRUE(bound(entry.name)) << "re-quantised but not bound: " << entry.name;
    }
    for (const Typed& entry : rules.typed) {
        EXPECT_TRUE(bound(entry.name)) << "typed but not bound: " << entry.name;
    }
}

// What the setup holds, parameter by parameter.
struct Held {
    double internal = 0.0;
    double base = 0.0;
    double grain = 0.0;  // the base value of one internal step, for an integer parameter
    double scale = 0.0;  // the base value of one internal unit
    std::string unit;
    std::string text;
};
using Snapshot = std::map<std::string, Held>;

inline double Grain(const CQel_Parameter& parameter) {
    if (parameter.GetValueType() != qel::ValueType::Integer) {
        return 0.0;
    }
    const double internal = parameter.GetValueInInternalUnit();
    return std::fabs(parameter.InternalToBase(internal + 1.0) - parameter.InternalToBase(internal));
}

inline Snapshot Take(const CQel_Setup& setup) {
    Snapshot snapshot;
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        const CQel_Parameter& parameter = setup.GetParameterAt(i);
        snapshot[parameter.GetName()] =
            Held{parameter.GetValueInInternalUnit(),
                 parameter.GetValueInBaseUnit(),
                 Grain(parameter),
                 parameter.InternalToBase(1.0) - parameter.InternalToBase(0.0),
                 parameter.GetUnitName(),
                 parameter.GetText()};
    }
    return snapshot;
}

inline std::string Describe(const Held& held) {
    std::ostringstream text;
    text.precision(12);
    text << held.base << " [" << held.unit << "] (" << held.internal << " IU)";
    if (!held.text.empty()) {
        text << " \"" << held.text << "\"";
    }
    return text.str();
}

// A value at the parameter's precision, as a user types it.
inline std::string AtPrecision(double value, int decimals) {
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(std::clamp(decimals, 0, 15));
    text << value;
    return text.str();
}

// Another value inside the parameter's range, in its display unit, at its precision: the first
// of a modest step up, a modest step down, the middle of the range and one last decimal either
// way that differs from the current value once rounded and stays inside the range.
inline std::optional<double> OtherValue(const CQel_Parameter& parameter) {
    const std::string unit = parameter.GetUnitName();
    const double offset = parameter.UnitToBase(0.0, unit);
    const double slope = parameter.UnitToBase(1.0, unit) - offset;
    if (!(slope != 0.0) || !std::isfinite(slope)) {
        return std::nullopt;
    }
    const double low_base = std::min(parameter.GetMinInBaseUnit(), parameter.GetMaxInBaseUnit());
    const double high_base = std::max(parameter.GetMinInBaseUnit(), parameter.GetMaxInBaseUnit());
    const double a = (low_base - offset) / slope;
    const double b = (high_base - offset) / slope;
    const double low = std::min(a, b);
    const double high = std::max(a, b);
    const double current = parameter.GetValue();
    const int decimals = std::clamp(parameter.GetPrecision(), 0, 15);
    const double quantum = std::pow(10.0, -decimals);
    const auto rounded = [&](double value) { return std::round(value / quantum) * quantum; };
    const double shown = rounded(current);
    const double magnitude = std::max(std::fabs(current), 1.0);
    for (const double candidate :
         {current + 0.1 * magnitude, current - 0.1 * magnitude, current + 1.0, current - 1.0,
          0.5 * (low + high), shown + quantum, shown - quantum}) {
        const double value = rounded(candidate);
        const double tolerance = 1e-9 * std::max(1.0, std::fabs(value));
        if (std::isfinite(value) && std::fabs(value - shown) > 0.5 * quantum &&
            value >= low - tolerance && value <= high + tolerance) {
            return value;
        }
    }
    return std::nullopt;
}

// Brings the page of the tab control that shows the control to the front.
inline void ShowPageOf(ui::headless::DialogDriver& d, int id, bool hasTabs) {
    if (d.IsVisible(id) || !hasTabs) {
        return;
    }
    const std::size_t pages = d.ItemTexts(kTabId).size();
    for (std::size_t page = 0; page < pages && !d.IsVisible(id); ++page) {
        d.SelectTab(kTabId, static_cast<int>(page));
    }
}

inline bool Near(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// Whether a parameter kept its value: the same unit and text, and either the same stored value
// (its base value may follow a unit scale that changed) or, when its unit scale changed, the same
// base value up to one stored step (a dialog may store it again in the changed scale).
inline bool Same(const Held& a, const Held& b) {
    if (a.unit != b.unit || a.text != b.text) {
        return false;
    }
    if (Near(a.internal, b.internal)) {
        return true;
    }
    const double grain = std::max(a.grain, b.grain);
    return !Near(a.scale, b.scale) && (Near(a.base, b.base) || std::fabs(a.base - b.base) <= grain);
}

// One attempt of a row on one shape of the axis: finds the row's control usable, changes it and
// compares the setup before and after.
class RowAttempt {
  public:
    RowAttempt(const BindingRow& row, CQel_Setup& setup, const CQel_EditSetupDlg& dialog,
               const CQel_Parameter* own, bool hasTabs)
        : row_(row), setup_(setup), dialog_(dialog), own_(own), hasTabs_(hasTabs) {}

    void operator()(ui::headless::DialogDriver& d, const Shape* shape) {
        came_ = true;
        if (row_.dialog->open) {
            row_.dialog->open(d);
        }
        if (shape != nullptr && shape->steps) {
            shape->steps(d);
        }
        reached_ = Reachable(d);
        if (reached_) {
            Act(d);
        } else if (shape == nullptr) {
            CheckDisplay(d);
        }
        if (d.IsOpen()) {
            d.End(IDCANCEL);
        }
    }
    bool Came() const { return came_; }
    bool Reached() const { return reached_; }
    bool DisplayChecked() const { return displayChecked_; }

  private:
    const CQel_Parameter* Parameter() const {
        return own_ != nullptr ? own_ : setup_.FindParameter(row_.parameter);
    }
    int Control() const { return row_.action == Action::Unit ? row_.unitId : row_.firstId; }

    bool Usable(ui::headless::DialogDriver& d, int id) const {
        ShowPageOf(d, id, hasTabs_);
        const bool editable = row_.action != Action::Edit || !d.IsReadOnly(id);
        return d.IsVisible(id) && d.IsEnabled(id) && editable;
    }
    int Current() const {
        const CQel_Parameter* parameter = Parameter();
        return parameter != nullptr
                   ? static_cast<int>(std::lround(parameter->GetValueInInternalUnit()))
                   : 0;
    }
    bool Reachable(ui::headless::DialogDriver& d) const {
        if (row_.action != Action::Radio) {
            return Usable(d, Control());
        }
        for (int k = 0; k <= row_.lastId - row_.firstId; ++k) {
            if (k != Current() && Usable(d, row_.firstId + k)) {
                return true;
            }
        }
        return false;
    }

    // A bound display on the reference axis shows its parameter's value.
    void CheckDisplay(ui::headless::DialogDriver& d) {
        const auto& displays = row_.dialog->displays;
        const bool listed =
            std::any_of(displays.begin(), displays.end(),
                        [&](const Display& entry) { return entry.id == Control(); });
        const CQel_Parameter* parameter = Parameter();
        if (!listed || parameter == nullptr) {
            return;
        }
        displayChecked_ = true;
        if (row_.action == Action::Edit) {
            const auto entry =
                std::find_if(displays.begin(), displays.end(),
                             [&](const Display& display) { return display.id == Control(); });
            EXPECT_EQ(d.Text(Control()),
                      entry->blank ? std::string() : dialog_.FormatParameterValue(*parameter))
                << "the display " << Control() << " of " << row_.parameter;
        } else if (row_.action == Action::Radio) {
            EXPECT_TRUE(d.IsChecked(row_.firstId + Current()))
                << "the display " << Control() << " of " << row_.parameter;
        } else {
            ADD_FAILURE() << "only edits and radio runs can be listed as displays";
        }
    }

    double Tolerance(double wanted_base) const {
        const CQel_Parameter* parameter = Parameter();
        double relative = 1e-9;
        for (const Quantised& entry : row_.dialog->quantised) {
            if (qel::EqualsIgnoringCase(row_.parameter, entry.name)) {
                relative = entry.relativeTolerance;
            }
        }
        // An integer parameter holds the nearest whole internal value.
        const double grain =
            parameter->GetValueType() == qel::ValueType::Integer
                ? std::fabs(parameter->InternalToBase(1.0) - parameter->InternalToBase(0.0))
                : 0.0;
        return grain + relative * std::max(1.0, std::fabs(wanted_base));
    }

    void Act(ui::headless::DialogDriver& d) {
        const CQel_Parameter* parameter = Parameter();
        ASSERT_NE(parameter, nullptr) << row_.parameter;
        const Snapshot before = Take(setup_);
        const double before_base = parameter->GetValueInBaseUnit();
        const double before_internal = parameter->GetValueInInternalUnit();
        const std::string before_unit = parameter->GetUnitName();
        switch (row_.action) {
            case Action::Edit: {
                std::optional<double> value = OtherValue(*parameter);
                for (const Typed& entry : row_.dialog->typed) {
                    if (qel::EqualsIgnoringCase(row_.parameter, entry.name)) {
                        const double offset = parameter->UnitToBase(0.0, before_unit);
                        const double slope = parameter->UnitToBase(1.0, before_unit) - offset;
                        value = (entry.base - offset) / slope;
                    }
                }
                ASSERT_TRUE(value) << "no other value inside the range of " << row_.parameter;
                const std::string typed = AtPrecision(*value, parameter->GetPrecision());
                SCOPED_TRACE("typed " + typed + " " + before_unit);
                ASSERT_TRUE(d.Type(row_.firstId, typed));
                const double wanted_base = parameter->UnitToBase(*value, before_unit);
                EXPECT_NEAR(parameter->GetValueInBaseUnit(), wanted_base, Tolerance(wanted_base))
                    << row_.parameter;
                break;
            }
            case Action::Unit: {
                const std::vector<std::string> units = d.ItemTexts(row_.unitId);
                const std::string shown = d.SelectedText(row_.unitId);
                EXPECT_EQ(shown, before_unit) << "the unit combo shows the parameter's unit";
                std::string other;
                for (const std::string& unit : units) {
                    if (unit != shown && (other.empty() || other == qel::kInternalUnitName)) {
                        other = unit;
                    }
                }
                ASSERT_FALSE(other.empty()) << "the unit combo offers one unit only";
                ASSERT_TRUE(d.Select(row_.unitId, other));
                EXPECT_EQ(parameter->GetUnitName(), other) << row_.parameter;
                EXPECT_DOUBLE_EQ(parameter->GetValueInInternalUnit(), before_internal)
                    << row_.parameter << ": a unit changes no stored value";
                break;
            }
            case Action::Check: {
                const bool checked = d.IsChecked(row_.firstId);
                EXPECT_EQ(checked, before_internal != 0.0) << "the check box shows the value";
                ASSERT_TRUE(d.SetCheck(row_.firstId, !checked));
                EXPECT_EQ(parameter->GetValueInInternalUnit(), checked ? 0.0 : 1.0)
                    << row_.parameter;
                break;
            }
            case Action::Radio: {
                const int current = Current();
                EXPECT_TRUE(d.IsChecked(row_.firstId + current)) << "the run shows the value";
                int chosen = -1;
                for (int k = 0; k <= row_.lastId - row_.firstId && chosen < 0; ++k) {
                    if (k != current && Usable(d, row_.firstId + k)) {
                        chosen = k;
                    }
                }
                ASSERT_GE(chosen, 0);
                ASSERT_TRUE(d.Click(row_.firstId + chosen));
                EXPECT_EQ(parameter->GetValueInInternalUnit(), static_cast<double>(chosen))
                    << row_.parameter;
                break;
            }
            case Action::List: {
                const std::vector<DWORD_PTR> data = d.ItemData(row_.firstId);
                const std::optional<DWORD_PTR> selected = d.SelectedData(row_.firstId);
                ASSERT_TRUE(selected) << "the combo shows no item for the value";
                EXPECT_EQ(static_cast<double>(static_cast<std::intptr_t>(*selected)),
                          before_internal)
                    << "the combo shows the value";
                const auto other = std::find_if(data.begin(), data.end(),
                                                [&](DWORD_PTR item) { return item != *selected; });
                ASSERT_NE(other, data.end()) << "the combo offers one item only";
                ASSERT_TRUE(d.SelectData(row_.firstId, *other));
                EXPECT_EQ(parameter->GetValueInInternalUnit(),
                          static_cast<double>(static_cast<std::intptr_t>(*other)))
                    << row_.parameter;
                break;
            }
            case Action::Slider: {
                constexpr int kMove = 10;
                const int position = d.Position(row_.firstId);
                const int moved = position <= CQel_EditSetupDlg::kSliderPositions / 2
                                      ? position + kMove
                                      : position - kMove;
                ASSERT_TRUE(d.MoveSlider(row_.firstId, moved));
                EXPECT_EQ(d.Position(row_.firstId), moved);
                EXPECT_NE(parameter->GetValueInBaseUnit(), before_base) << row_.parameter;
                break;
            }
        }
        if (row_.action != Action::Unit) {
            EXPECT_NE(parameter->GetValueInBaseUnit(), before_base)
                << row_.parameter << " did not change";
        }
        CompareWith(before);
    }

    bool Allowed(const std::string& name, const Held& before, const Held& after) const {
        if (own_ == nullptr && qel::EqualsIgnoringCase(name, row_.parameter)) {
            return true;
        }
        const CQel_Parameter* parameter = setup_.FindParameter(name);
        if (parameter != nullptr && parameter->GetUnitFamily().id == "register") {
            return true;
        }
        return std::any_of(
            row_.dialog->derived.begin(), row_.dialog->derived.end(),
            [&](const DerivedChange& entry) {
                const bool named = qel::EqualsIgnoringCase(name, entry.derived) ||
                                   std::string_view(entry.derived) == "*";
                if (!qel::EqualsIgnoringCase(row_.parameter, entry.changed) || !named) {
                    return false;
                }
                if (entry.unitOnly) {
                    return before.text == after.text && Near(before.internal, after.internal);
                }
                if (entry.relativeTolerance > 0.0) {
                    return before.unit == after.unit && before.text == after.text &&
                           std::fabs(after.base - before.base) <=
                               entry.relativeTolerance *
                                   std::max(std::fabs(before.base), std::fabs(after.base));
                }
                return std::string_view(entry.derived) != "*";
            });
    }

    void CompareWith(const Snapshot& before) {
        const Snapshot after = Take(setup_);
        for (const auto& [name, held] : after) {
            const auto old = before.find(name);
            if (old == before.end()) {
                ADD_FAILURE() << "changing " << row_.parameter << " added the parameter " << name;
                continue;
            }
            if (!Same(old->second, held) && !Allowed(name, old->second, held)) {
                ADD_FAILURE() << "changing " << row_.parameter << " (" << ActionName(row_.action)
                              << " " << Control() << ") also changed " << name << ": "
                              << Describe(old->second) << " -> " << Describe(held);
            }
        }
        for (const auto& [name, held] : before) {
            EXPECT_TRUE(after.contains(name))
                << "changing " << row_.parameter << " removed the parameter " << name;
        }
    }

    const BindingRow& row_;
    CQel_Setup& setup_;
    const CQel_EditSetupDlg& dialog_;
    const CQel_Parameter* own_;
    bool hasTabs_;
    bool came_ = false;
    bool reached_ = false;
    bool displayChecked_ = false;
};

// One attempt: the dialog made on the reference axis, or on a shape of it. Whether the row's
// control could be used.
inline bool RunAttempt(const BindingRow& row, const Shape* shape, bool* displayChecked = nullptr) {
    ui::headless::Session ui;
    CollectedErrors errors;
    std::unique_ptr<CQel_Setup> setup = ShapedAxis(shape);
    if (!setup) {
        return false;
    }
    std::unique_ptr<CDialog> dialog = row.dialog->make(*setup);
    const auto* bound = dynamic_cast<const CQel_EditSetupDlg*>(dialog.get());
    EXPECT_NE(bound, nullptr);
    if (bound == nullptr) {
        return false;
    }
    const std::vector<BindingInfo> bindings = bound->GetBindings();
    const auto binding = std::find_if(bindings.begin(), bindings.end(), [&](const BindingInfo& b) {
        return b.kind == row.kind && b.name == row.parameter && b.firstId == row.firstId;
    });
    if (binding == bindings.end()) {
        return false;  // a binding of another state of the axis
    }
    const ui::TemplateLoad loaded = ui::LoadDialogTemplate(row.dialog->templateId);
    EXPECT_TRUE(loaded.dialogTemplate) << loaded.problem;
    if (!loaded.dialogTemplate) {
        return false;
    }
    const auto& controls = loaded.dialogTemplate->controls;
    const bool hasTabs =
        std::any_of(controls.begin(), controls.end(), [](const ui::ControlTemplate& c) {
            return c.id == kTabId && c.kind == ui::ControlKind::Tab;
        });
    RowAttempt attempt(row, *setup, *bound, binding->own, hasTabs);
    ui->When(row.dialog->templateId, [&](ui::headless::DialogDriver& d) { attempt(d, shape); });
    dialog->DoModal();
    EXPECT_TRUE(attempt.Came()) << "the dialog never came up";
    EXPECT_EQ(ui->PendingSteps(), 0U);
    for (const std::string& failure : ui->Failures()) {
        ADD_FAILURE() << "script: " << failure;
    }
    for (const ui::headless::MessageBoxRecord& box : ui->MessageBoxes()) {
        ADD_FAILURE() << "message box: " << box.text;
    }
    if (displayChecked != nullptr) {
        *displayChecked = attempt.DisplayChecked();
    }
    return attempt.Reached();
}

// Opens the row's dialog on the reference axis (then on the dialog's shapes, until one lets the
// control be used), changes the row's control and checks that only its own parameter changed
// (see the top of this file). A listed display must show its value instead.
inline void RunBindingRow(const BindingRow& row) {
    PrepareEnvironment();
    bool displayChecked = false;
    {
        SCOPED_TRACE("on the reference axis");
        if (RunAttempt(row, nullptr, &displayChecked)) {
            EXPECT_FALSE(displayChecked) << "a control listed as a display can be used";
            return;
        }
    }
    for (const Shape& shape : row.dialog->shapes) {
        SCOPED_TRACE(shape.why);
        if (RunAttempt(row, &shape)) {
            return;
        }
    }
    const int id = row.action == Action::Unit ? row.unitId : row.firstId;
    const auto& displays = row.dialog->displays;
    const bool listed = std::any_of(displays.begin(), displays.end(),
                                    [&](const Display& entry) { return entry.id == id; });
    EXPECT_TRUE(listed) << "the control " << id << " of " << row.parameter
                        << " cannot be used on the reference axis nor in any shape of the dialog";
    EXPECT_EQ(displayChecked, listed) << "the display " << id << " shows its value";
}

}  // namespace binding_table
