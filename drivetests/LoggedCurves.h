#pragma once

// A test's single-axis logger and the graph of what it logged. The curves are drawn in the base
// units of their drive variables (amperes, volts, radians per second), so that the graph's axes
// and its saved files read in physical units rather than in the drive's counts; a curve of a
// plain number stays in the drive's own numbers.
//
//   LoggedCurves curves(setup, {"Current_Reference", "Motor_Current"},
//                       {{1, RGB16(2)}, {2, RGB16(5)}});
//   curves.Attach(1361, this);                        // in OnInitDialog
//   curves.Apply(100, 2, 1);                          // before each start
//   Launch(kProgram, program, &curves.Logger());
//   ... program ended: Upload(curves.Logger()); curves.Draw([&] { return running_ != 0; });

#include <functional>
#include <string>
#include <vector>

#include "host/kernel/Graph.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Loggers.h"

class CQel_Setup;
class CWnd;

class LoggedCurves {
  public:
    // A curve of the graph: the logged variable it draws (1 for the first one logged) and its
    // colour.
    struct Curve {
        int item;
        QelColour colour;
    };

    // The variables logged, in the logger's order, and the curves drawn, in the graph's order.
    LoggedCurves(CQel_Setup* setup, std::vector<std::string> variables, std::vector<Curve> curves);

    // Shows the curves in the graph control of the dialog.
    void Attach(int graphId, CWnd* dialog);
    // The logger's settings for the next run (points per variable, log type, loop periods per
    // point), the variables added again and the points lowered to what the logger's memory
    // holds; the curves are emptied. False (reported) when the logger refused the settings or
    // a variable.
    bool Apply(int points, int logType, int period);
    // Reads the uploaded points into the curves, drawing each and letting the dialog answer its
    // messages in between; stops early, false, when keepGoing answers false (the user stopped
    // the test). The graph is zoomed out before and after.
    bool Draw(const std::function<bool()>& keepGoing);

    CQel_SingleAxisLogger& Logger() { return logger_; }
    CGraphWindow& Graph() { return graph_; }
    const CGraphDocument& Document() const { return document_; }

  private:
    CQel_Setup* setup_;
    std::vector<std::string> variables_;
    std::vector<Curve> curves_;
    CQel_SingleAxisLogger logger_;
    CGraphDocument document_;
    CGraphFilter shown_;
    CGraphWindow graph_;
};
