#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "drive/SimulatedDrive.h"
#include "drive/programs/TestProgram.h"

// How often the host's logger samples: every current-loop period, or every speed-loop period.
enum class LogRate { CurrentLoop, SpeedLoop };

// Samples the firmware's d and q currents while the program says its log is meaningful, as the
// host's logger does.
class CurrentLog : public drive::DriveRoutine {
  public:
    CurrentLog(const drive::TestProgram& program, LogRate rate) : program_(program), rate_(rate) {}
    void OnPeriodStart(drive::SimulatedDrive&, bool speedLoopDue) override {
        due_ = rate_ == LogRate::CurrentLoop || speedLoopDue;
    }
    void OnPeriodEnd(const drive::SimulatedDrive& drive) override {
        if (due_ && program_.IsLogging()) {
            d_.push_back(static_cast<double>(drive.Firmware().CurrentD()));
            q_.push_back(static_cast<double>(drive.Firmware().CurrentQ()));
            referenceQ_.push_back(static_cast<double>(drive.Firmware().CurrentReferenceQ()));
            phaseA_A_.push_back(drive.Motor().PhaseCurrentA_A());
        }
    }
    const std::vector<double>& D() const { return d_; }
    const std::vector<double>& Q() const { return q_; }
    const std::vector<double>& ReferenceQ() const { return referenceQ_; }
    const std::vector<double>& PhaseA_A() const { return phaseA_A_; }

  private:
    const drive::TestProgram& program_;
    LogRate rate_;
    bool due_ = false;
    std::vector<double> d_, q_, referenceQ_;
    // The true current of phase A, amperes.
    std::vector<double> phaseA_A_;
};

// The host's mean of logged points: the first point sets it, the points after it are averaged.
inline double HostMean(const std::vector<double>& points) {
    double mean = 0.0;
    for (std::size_t index = 0; index < points.size(); ++index) {
        const auto n = static_cast<double>(index);
        mean = index == 0 ? points[0] : ((n - 1.0) * mean + points[index]) / n;
    }
    return mean;
}

// Where the shaft rests before a test: away from every alignment, so that the positioning has
// work to do.
constexpr double kStartShaftAngle_rad = 1.0;

// The longest a program may run before the run counts as hung.
constexpr double kLongestRun_s = 5.0;
constexpr double kPollPeriod_s = 0.02;

// Runs a program to its end as the host does: inputs, start, polls of STARTED and the power
// stage every 20 ms. Fails the test when it never starts or never ends.
struct ProgramRun {
    std::unique_ptr<drive::TestProgram> program;
    std::vector<double> d, q, referenceQ;
    // The true current of phase A over the logged periods, amperes.
    std::vector<double> phaseA_A;
};

inline ProgramRun RunProgram(drive::SimulatedDrive& drive, const std::string& name,
                             std::initializer_list<std::pair<const char*, double>> inputs,
                             LogRate rate = LogRate::CurrentLoop) {
    ProgramRun run{drive::CreateTestProgram(name), {}, {}, {}, {}};
    EXPECT_NE(run.program, nullptr) << name;
    if (!run.program) {
        return run;
    }
    for (const auto& [variable, value] : inputs) {
        EXPECT_TRUE(run.program->SetVariable(variable, value)) << variable;
    }
    CurrentLog log(*run.program, rate);
    drive.AddRoutine(&log);
    run.program->Start(drive);
    bool ended = false;
    for (double elapsed_s = 0.0; elapsed_s < kLongestRun_s && !ended; elapsed_s += kPollPeriod_s) {
        drive.Advance(kPollPeriod_s);
        ended = run.program->GetVariable("STARTED").value_or(0.0) != 0.0 && !drive.IsOn();
    }
    EXPECT_TRUE(ended) << name << " did not end";
    run.program->Stop(drive);
    drive.RemoveRoutine(&log);
    run.d = log.D();
    run.q = log.Q();
    run.referenceQ = log.ReferenceQ();
    run.phaseA_A = log.PhaseA_A();
    return run;
}
