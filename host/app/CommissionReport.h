#pragma once

// What brevan commission did, step by step, and the report it writes of it (--report DIR): a
// plain HTML page, DIR/index.html, with the loops' step responses as SVG pictures beside it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/app/SetupSnapshot.h"
#include "host/app/StepResponse.h"

enum class StepOutcome { Succeeded, Failed, Skipped };

const char* OutcomeName(StepOutcome outcome);

// One step of the commissioning as it went.
struct StepRecord {
    std::string name;
    StepOutcome outcome = StepOutcome::Succeeded;
    // Why the step failed, as the dialog said it, and what to check on the axis.
    std::optional<std::string> error;
    std::string hint;
    // Why the step was skipped.
    std::string note;
    // The values the step's dialog proposed (and the person accepted).
    std::vector<Proposal> proposed;
    // The current loop's gains designed with the step: before the first step that drives a
    // current, and again after the resistance and inductance are measured.
    std::vector<Proposal> currentLoopDesign;
    // What the dialog showed: its status lines and its message boxes.
    std::vector<std::string> statusLines;
    std::vector<std::string> messages;
    // A loop's step response: the design, the figures and the picture (its file name in the
    // report's folder, when one was written).
    bool isLoop = false;
    LoopFigures figures;
    std::optional<std::string> picture;
    double wallTime_s = 0.0;
};

struct CommissionRecord {
    std::filesystem::path setupFile;
    std::string setupDescription;
    std::filesystem::path motorFile;
    std::string motorName;
    double supply_V = 0.0;
    std::optional<std::string> fault;
    std::vector<StepRecord> steps;
    // Every parameter whose value differs between the setup loaded and the setup at the end.
    std::vector<Proposal> changes;
    // The setup file written; none when the commissioning failed (or it could not be saved).
    std::optional<std::filesystem::path> savedTo;
    double wallTime_s = 0.0;
};

// True when every step succeeded or was skipped.
bool Succeeded(const CommissionRecord& record);

// The file name of a loop's step-response picture in the report's folder.
std::string PictureName(const std::string& step);

// Writes DIR/index.html (atomically: a file beside it, renamed); the pictures are already in the
// folder. False (the reason printed) when it cannot be written.
bool WriteCommissionReport(const std::filesystem::path& folder, const CommissionRecord& record);
