#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qel {

// A program as the host downloads it: its name, its entry point and its user variables (symbol
// name and the value the host set before the start).
struct ProgramImage {
    std::string name;
    std::string entry;
    std::vector<std::pair<std::string, double>> variables;
};

// How the drive's logger samples while a program runs: points per variable, the loop it samples
// at (LogType), every how many periods of that loop, and the drive variables by name.
enum class LogType : int {
    SpeedLoop = 1,    // one sample every period x speed-loop period
    CurrentLoop = 2,  // one sample every period x current-loop period
};

// The scope's acquisition: untriggered (it starts at once), repeated (it re-arms after each
// acquisition) or single.
enum class TriggerMode : int {
    Untriggered = 1,
    Repeated = 2,
    Single = 4,
};

// A scope acquisition: the points span the duration; the first pre-trigger percent of them lie
// before the moment the trigger variable crossed the level (internal units) on the slope.
struct ScopeTrigger {
    double duration_s = 0.0;
    TriggerMode mode = TriggerMode::Untriggered;
    bool rising = true;
    std::string variable;
    double level = 0.0;
    int preTrigger_percent = 0;
};

struct LogSettings {
    int points = 0;
    LogType type = LogType::SpeedLoop;
    int period = 1;
    std::vector<std::string> variables;
    // Set for a scope: it samples at duration / points, and sends its points as scope frames
    // while it acquires instead of keeping them for an upload.
    std::optional<ScopeTrigger> scope = std::nullopt;
};

// Scope frames are unsolicited messages, made of little-endian 16-bit words: a header of three
// words (the number of data words that follow it, the axis, the message code), then the data:
// flags, the index of the frame's first point in the acquisition, the number of points, and for
// each point one signed 32-bit value per variable (low word first), in internal units.
inline constexpr std::uint16_t kScopeFrameCode = 0xE900;
// The header: three 16-bit words.
inline constexpr std::size_t kScopeFrameHeaderBytes = 6;
// The data's own header: flags, first point, number of points.
inline constexpr std::size_t kScopeFrameDataHeaderWords = 3;
// Flag of the last frame of an acquisition.
inline constexpr std::uint16_t kScopeLastFrameFlag = 1;

// One logged point: its time since the program's start and one value per logged variable, in
// the drive's internal units.
struct LoggedPoint {
    double time_s = 0.0;
    std::vector<double> values;
};

// A message the drive sends on its own (scope data and the like), as the bytes it arrived in.
using UnsolicitedMessage = std::vector<std::uint8_t>;

// The host's connection to a drive: the simulated drive in-process, or a serial or CAN transport
// to a real one. Values travel in the drive's internal units. Every call answers false (with
// LastError) when the drive refused it or did not answer. A transport that only reads and writes
// values keeps the other calls as they are here: they answer false.
class DriveLink {
  public:
    virtual ~DriveLink() = default;

    // A register or variable of the drive, by name.
    virtual bool WriteValue(std::string_view name, double internalValue) = 0;
    virtual bool ReadValue(std::string_view name, double& internalValue) = 0;
    // What went wrong in the last failed call, for the user.
    virtual std::string LastError() const = 0;

    // Downloads a program with its variables and starts it; with log settings the drive's logger
    // samples from the start until it holds its points.
    virtual bool DownloadAndStart(const ProgramImage& /*image*/, const LogSettings* /*log*/) {
        return false;
    }
    // A user variable of the program last downloaded (the program is named so that a variable of
    // another program is never read by mistake).
    virtual bool WriteProgramVariable(std::string_view /*program*/, std::string_view /*name*/,
                                      double /*value*/) {
        return false;
    }
    virtual bool ReadProgramVariable(std::string_view /*program*/, std::string_view /*name*/,
                                     double& /*value*/) {
        return false;
    }

    // Stops the program running on the drive (a test the user stopped or closed).
    virtual bool StopProgram() { return false; }

    // Whether the power stage is on.
    virtual bool ReadAxisOn(bool& /*on*/) { return false; }
    // Whether the drive has finished its initialisation after its last reset.
    virtual bool ReadEndOfInitialisation(bool& /*done*/) { return false; }
    // Resets the drive's board: firmware afresh, power stage off, program stopped.
    virtual bool ResetBoard() { return false; }

    // The points the logger holds from the last logged program; fewer than asked while it is
    // still sampling.
    virtual bool UploadLog(std::vector<LoggedPoint>& /*points*/) { return false; }

    // The messages the drive sent on its own since the last call, oldest first.
    virtual std::vector<UnsolicitedMessage> TakeUnsolicitedMessages() { return {}; }
};

}  // namespace qel
