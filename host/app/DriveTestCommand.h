#pragma once

// What the drive-test commands (brevan test, brevan tune) share: the simulated axis they run on,
// what they print while the scripted person runs the dialog, how they tell a failed run and how
// they save the setup a dialog ended with OK.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/app/CommandLine.h"
#include "host/app/DriveTestRun.h"
#include "host/app/SimulatedAxis.h"

class CQel_Setup;

// Prints the message to standard error and returns the status.
int Fail(int status, const std::string& message);

// A fault of the simulated drive, as --fault names it.
struct SimulatedFault {
    const char* name;
    void (*inject)(SimulatedAxis& axis);
};

// The faults' names, as --fault takes them.
std::vector<std::string> FaultNames();

// Reads --fault: the fault it names, null when it is not given; false (the reason printed) for a
// name that is not a fault.
bool ReadFaultOption(const Invocation& invocation, const SimulatedFault*& fault);

// Recomputes the setup as the opening setup dialog does (registers, then the parameters derived
// back), makes the simulated axis of --motor and --bus from it and points the windowing layer
// and the kernel at the dialog templates and the test programs. Nothing when the motor file has
// problems (they are printed). The fault, when given, is injected into the axis.
std::optional<SimulatedAxis> PrepareDriveTestRun(const Invocation& invocation, CQel_Setup& setup,
                                                 std::optional<double> supply_V,
                                                 const SimulatedFault* fault);

// Prints each status line the dialog shows as "step: ..." on standard output (unless json) and
// keeps it in steps (when given), and the progress of a long run on standard error.
RunObserver ReportingObserver(const std::string& test, bool json, std::vector<std::string>* steps);

// Why the run failed, as the user reads it; nothing when the test succeeded.
std::optional<std::string> ErrorOf(const RunRecord& record, double patience_s);

// Lists on standard error every message box the run showed and what the person could not do.
void ReportWhatTheRunShowed(const DriveTestRun& run);

// What each test's opening setup dialog does first: the registers computed from the user
// parameters, then the parameters derived back from the registers.
void RecomputeAsTheOpenerDoes(CQel_Setup& setup);

// Recomputes the setup a dialog ended with OK as the opening setup dialog does and saves it
// (atomically) to -o OUT, or over SETUP; the file written, or nothing (the reason printed).
std::optional<std::filesystem::path> SaveRecomputedSetup(CQel_Setup& setup,
                                                         const Invocation& invocation);
