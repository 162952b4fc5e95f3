#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/DriveLink.h"

class CQel_Setup;
class CQel_CoffFormat;

// What the drive's loggers share: the variables to log and the settings ExecuteCode hands to the
// drive with the program.
class CQel_Logger {
  public:
    CQel_Logger(CQel_Setup* setup, CQel_CoffFormat* program) : setup_(setup), program_(program) {}
    virtual ~CQel_Logger() = default;
    CQel_Logger(const CQel_Logger&) = delete;
    CQel_Logger& operator=(const CQel_Logger&) = delete;

    // Adds a drive variable to log; the flag asks for it to be shown on the logger's graph.
    // 0 (reported) when the setup has no such variable.
    int AddVariable(std::string_view name, int flag);
    std::size_t GetVariablesNo() const { return settings_.variables.size(); }
    const std::vector<int>& GetVariableFlags() const { return flags_; }
    int GetPointsNo() const { return settings_.points; }
    const qel::LogSettings& GetSettings() const { return settings_; }
    CQel_CoffFormat* GetProgram() const { return program_; }

    // ExecuteCode started a program with this logger: the drive logs afresh.
    virtual void OnProgramStarted() = 0;

  protected:
    void ClearVariables();

    CQel_Setup* setup_;
    CQel_CoffFormat* program_;
    qel::LogSettings settings_;
    std::vector<int> flags_;
};

// The drive's data logger as a test uses it: settings and variables before the program starts
// (ExecuteCode passes them to the drive), then the upload of the points once it has ended.
//
//   logger.ChangeSettings(400, 1, 1);
//   logger.AddVariable("IQ", 0);
//   CQel_CoffFormat::ExecuteCode("Ident_R_or_Rs", &program, &logger, nullptr, nullptr);
//   ... the program ends ...
//   logger.BeginUploadData();
//   double point[2];
//   while (logger.ReadPoint(point)) { use(point[1]); }   // point[0] is the time in seconds
class CQel_SingleAxisLogger : public CQel_Logger {
  public:
    // The logger of a setup's drive, for the program given (which may be null).
    explicit CQel_SingleAxisLogger(CQel_Setup* setup, CQel_CoffFormat* program = nullptr);

    // Forgets the variables and the uploaded points; the settings stay.
    void Reset();
    // Points per variable, log type (1 at the speed loop, 2 at the current loop) and the number
    // of loop periods between samples; 0 (reported) when one of them is out of range.
    int ChangeSettings(int points, int logType, int period);
    // Lowers the number of points so that every variable fits in the drive's logger memory;
    // returns the number kept.
    int CorrectPointsNo();

    // Takes the logged points from the drive; 0 when the upload failed (CQel_Comm says why).
    int BeginUploadData();
    // The next uploaded point: element 0 the time in seconds since the start, then one value per
    // variable in the order added, in internal units; 0 when every point has been read. The
    // buffer holds 1 + GetVariablesNo() elements.
    int ReadPoint(double* buffer);
    // Skips to the next point; 0 when every point has been read.
    int ReadPoint();
    bool IsUploading() const { return uploading_; }

    void OnProgramStarted() override;

  private:
    std::vector<qel::LoggedPoint> points_;
    std::size_t nextPoint_ = 0;
    bool uploading_ = false;
};

// The drive's scope: a triggered acquisition whose points arrive while it runs, as scope frames
// among the drive's unsolicited messages; the host hands each frame to OnFrameReceive and draws
// the points it names.
//
//   scope.ChangeSettings(0.5, 4, 1, "Speed_Reference", 100.0, 10);   // level in base units
//   CQel_CoffFormat::ExecuteCode("Speed_Controller_Tuning_Test", &program, &scope, nullptr,
//                                nullptr);
//   ... a frame of code 0xE900: scope.OnFrameReceive(bytes, data) > 0
//       scope.GetPointsToBeDrawn(first, count);  scope.GetPoint(index, buffer) ...
//   if (scope.DoGracefulStop()) { scope.EndUploadData(); }
class CQel_ScopeLogger : public CQel_Logger {
  public:
    explicit CQel_ScopeLogger(CQel_Setup* setup, CQel_CoffFormat* program = nullptr);

    // The acquisition: its duration, trigger mode (1 untriggered, 2 repeated, 4 single), slope
    // (1 rising, 0 falling), trigger variable, level in the variable's base unit and the share
    // of points before the trigger in percent. 0 (reported) when one of them is out of range or
    // a triggered mode names a variable the setup does not have.
    int ChangeSettings(double duration_s, int mode, int slope, std::string_view variable,
                       double level, int preTrigger_percent);
    // Keeps the points a frame carries; returns how many (0 for a frame with none), or -1 for a
    // frame that is not a scope frame of this acquisition's variables (nothing is kept).
    int OnFrameReceive(int byteCount, const std::uint8_t* data);
    // The points of the last frame taken: the first one's index and their number.
    void GetPointsToBeDrawn(int& first, int& count) const;
    // A point of the acquisition: element 0 its time in seconds from the trigger, then one value
    // per variable in internal units; 0 for an index outside the acquisition.
    int GetPoint(int index, double* buffer) const;
    // 1 once the acquisition has ended (the last frame of a single or untriggered acquisition
    // has arrived), else 0.
    int DoGracefulStop() const { return ended_ ? 1 : 0; }
    // The host takes no more frames.
    void EndUploadData() { uploading_ = false; }
    bool IsUploading() const { return uploading_; }

    void OnProgramStarted() override;

  private:
    std::vector<double> values_;  // points x variables
    int lastFirst_ = 0;
    int lastCount_ = 0;
    bool uploading_ = false;
    bool ended_ = false;
};
