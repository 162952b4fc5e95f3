#include "drivetests/LoggedCurves.h"

#include <utility>

#include "host/kernel/Setup.h"
#include "host/kernel/Units.h"
#include "host/kernel/Variable.h"
#include "host/ui/Wnd.h"

namespace {

// The graph's value axes: the curves of the first unit on the left, the others on the right.
constexpr int kValueAxes = 2;

}  // namespace

LoggedCurves::LoggedCurves(CQel_Setup* setup, std::vector<std::string> variables,
                           std::vector<Curve> curves)
    : setup_(setup),
      variables_(std::move(variables)),
      curves_(std::move(curves)),
      logger_(setup),
      graph_(kValueAxes, 0) {
    for (const Curve& curve : curves_) {
        const std::string& name = variables_.at(static_cast<std::size_t>(curve.item - 1));
        const CQel_Variable* variable = setup_->FindVariable(name, 0);
        const std::string unit =
            variable != nullptr ? variable->GetUnitFamily().BaseUnit().name : std::string();
        document_.AddCurve(CXYCurve(name, unit == "-" ? "" : unit, curve.colour));
    }
}

void LoggedCurves::Attach(int graphId, CWnd* dialog) {
    graph_.SubclassDlgItem(static_cast<UINT>(graphId), dialog);
    graph_.SetDocument(&document_, &shown_);
    graph_.RefreshGraph();
}

bool LoggedCurves::Apply(int points, int logType, int period) {
    logger_.Reset();
    bool accepted = logger_.ChangeSettings(points, logType, period) != 0;
    for (const std::string& name : variables_) {
        accepted = logger_.AddVariable(name, 1) != 0 && accepted;
    }
    logger_.CorrectPointsNo();
    for (int curve = 0; curve < document_.GetSize(); ++curve) {
        document_.GetAt(curve)->RemoveAllPoints();
    }
    graph_.RefreshGraph();
    return accepted;
}

bool LoggedCurves::Draw(const std::function<bool()>& keepGoing) {
    std::vector<const CQel_Variable*> variables;
    for (const std::string& name : variables_) {
        variables.push_back(setup_->FindVariable(name, 0));
    }
    graph_.DoZoomOut();
    std::vector<double> point(1 + variables_.size());
    bool complete = true;
    while (logger_.ReadPoint(point.data())) {
        for (std::size_t curve = 0; curve < curves_.size(); ++curve) {
            const auto item = static_cast<std::size_t>(curves_[curve].item);
            const CQel_Variable* variable = variables[item - 1];
            const double value =
                variable != nullptr ? variable->InternalToBase(point[item]) : point[item];
            document_.GetAt(static_cast<int>(curve))->AddPoint(point[0], value);
        }
        graph_.UpdateLastPoint();
        PumpWaitingMessages();
        if (!keepGoing()) {
            complete = false;
            break;
        }
    }
    graph_.DoZoomOut();
    return complete;
}
