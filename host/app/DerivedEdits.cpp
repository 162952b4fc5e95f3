#include "host/app/DerivedEdits.h"

#include <array>
#include <cstdio>
#include <utility>

#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/Parameter.h"

namespace {

// The dry runs below compute on copies of the setup: what they find missing is told by the run
// that counts, not by them.
class SilentReports {
  public:
    SilentReports()
        : saved_(qel::SetErrorReporter([](std::string_view) {})),
          showErrors_(std::exchange(g_bShowErrors, 0)) {}
    ~SilentReports() {
        qel::SetErrorReporter(std::move(saved_));
        g_bShowErrors = showErrors_;
    }
    SilentReports(const SilentReports&) = delete;
    SilentReports& operator=(const SilentReports&) = delete;

  private:
    qel::ErrorReporter saved_;
    int showErrors_;
};

bool SameParameter(const CQel_Parameter& a, const CQel_Parameter& b) {
    return a.GetValueInInternalUnit() == b.GetValueInInternalUnit() && a.GetText() == b.GetText();
}

// The edited setup with the parameter as it was loaded.
void Restore(CQel_Setup& setup, const CQel_Parameter& loaded) {
    CQel_Parameter* parameter = setup.FindParameter(loaded.GetName());
    if (parameter->GetValueType() == qel::ValueType::Text) {
        parameter->SetText(loaded.GetText());
    } else {
        parameter->SetValueInInternalUnit(loaded.GetValueInInternalUnit());
    }
}

bool IsValueEdit(const SetupEdit& edit) {
    return edit.kind == EditKind::SetBase || edit.kind == EditKind::SetInternal;
}

// An edit of a parameter that a later edit sets again is judged by that one.
bool SetAgainLater(const std::vector<SetupEdit>& edits, std::size_t edit) {
    for (std::size_t later = edit + 1; later < edits.size(); ++later) {
        if (IsValueEdit(edits[later]) &&
            qel::EqualsIgnoringCase(edits[later].name, edits[edit].name)) {
            return true;
        }
    }
    return false;
}

// Another value of the parameter within its range, stored; false when it has none.
bool Perturb(CQel_Parameter& parameter) {
    if (parameter.GetValueType() == qel::ValueType::Text) {
        return false;
    }
    constexpr double kLarger = 1.25;
    constexpr double kSmaller = 0.8;
    const double value = parameter.GetValueInBaseUnit();
    const double low = parameter.GetMinInBaseUnit();
    const double high = parameter.GetMaxInBaseUnit();
    const double internal = parameter.GetValueInInternalUnit();
    const std::array candidates = {
        value * kLarger, value * kSmaller, value + 1.0, value - 1.0, (low + high) / 2.0, low, high};
    for (const double candidate : candidates) {
        if (candidate >= low && candidate <= high && parameter.SetValueInBaseUnit(candidate) &&
            parameter.GetValueInInternalUnit() != internal) {
            return true;
        }
    }
    return false;
}

bool KeepsEditQuietly(const CommandContext& context, std::size_t edit,
                      const SetupComputation& compute) {
    const std::string& name = context.invocation.edits[edit].name;
    const CQel_Parameter* loaded = context.loaded.FindParameter(name);
    const CQel_Parameter* edited = context.setup.FindParameter(name);
    if (loaded == nullptr || edited == nullptr || SameParameter(*loaded, *edited) ||
        SetAgainLater(context.invocation.edits, edit)) {
        return true;
    }
    CQel_Setup with(context.setup);
    compute(with);
    if (SameParameter(*with.FindParameter(name), *edited)) {
        return true;
    }
    // The value computed may be the one given as the registers hold it: the edit counts when
    // another value given gives another value computed.
    CQel_Setup probe(context.setup);
    if (!Perturb(*probe.FindParameter(name))) {
        Restore(probe, *loaded);
    }
    compute(probe);
    return !SameParameter(*probe.FindParameter(name), *with.FindParameter(name));
}

}  // namespace

bool KeepsEdit(const CommandContext& context, std::size_t edit, const SetupComputation& compute) {
    const SilentReports silent;
    return KeepsEditQuietly(context, edit, compute);
}

std::optional<std::size_t> FirstLostEdit(const CommandContext& context,
                                         const SetupComputation& compute) {
    const SilentReports silent;
    const std::vector<SetupEdit>& edits = context.invocation.edits;
    for (std::size_t i = 0; i < edits.size(); ++i) {
        if (IsValueEdit(edits[i]) && !KeepsEditQuietly(context, i, compute)) {
            return i;
        }
    }
    return std::nullopt;
}

std::vector<std::string> SourcesOf(const CQel_Setup& setup, const std::string& name,
                                   const SetupComputation& compute) {
    const SilentReports silent;
    CQel_Setup computed(setup);
    compute(computed);
    const CQel_Parameter* target = computed.FindParameter(name);
    std::vector<std::string> sources;
    if (target == nullptr) {
        return sources;
    }
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        CQel_Setup changed(setup);
        CQel_Parameter& parameter = changed.GetParameterAt(i);
        if (parameter.GetName() == target->GetName() || !Perturb(parameter)) {
            continue;
        }
        compute(changed);
        if (!SameParameter(*changed.FindParameter(name), *target)) {
            sources.push_back(parameter.GetName());
        }
    }
    return sources;
}

std::string ListOfNames(const std::vector<std::string>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return list;
}

int RefuseLostEdit(const SetupEdit& edit, const std::string& why) {
    std::fprintf(stderr, "brevan: %s %s=%s: %s\n",
                 edit.kind == EditKind::SetBase ? "--set" : "--set-internal", edit.name.c_str(),
                 edit.value.c_str(), why.c_str());
    return kExitUsage;
}

int RefuseLostEdits(const CommandContext& context, const SetupComputation& compute,
                    const std::function<std::string(std::size_t edit)>& advice) {
    const std::optional<std::size_t> lost = FirstLostEdit(context, compute);
    if (!lost) {
        return kExitSuccess;
    }
    const SetupEdit& edit = context.invocation.edits[*lost];
    const std::string name = context.setup.FindParameter(edit.name)->GetName();
    const std::vector<std::string> sources = SourcesOf(context.setup, name, compute);
    std::string why = context.invocation.command + " derives " + name + " afresh";
    if (!sources.empty()) {
        why += " from " + ListOfNames(sources);
    }
    why += ", so the value given would be lost";
    const std::string more = advice ? advice(*lost) : std::string();
    if (!sources.empty()) {
        why += sources.size() == 1 ? "; set that instead" : "; set those instead";
        why += more.empty() ? "" : ", or " + more;
    } else if (!more.empty()) {
        why += "; " + more;
    }
    return RefuseLostEdit(edit, why);
}
