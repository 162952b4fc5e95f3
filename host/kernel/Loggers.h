#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/DriveLink.h"
#include "host/kernel/Graph.h"
#include "host/kernel/ScopeSettings.h"

class CQel_Setup;
class CQel_CoffFormat;
class CQel_Variable;

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
// the points it names. The logger keeps a graph document of its own: the curves added with
// AddCurve, which OnFrameReceive fills (time in seconds from the trigger, values in the
// variables' base units), shown through graph filter 0. Each logged variable is a channel with a
// display scale (value per division and the value on the centre line, in a unit of its own),
// kept with the settings: Save, Load and the setup's options carry them as JSON (ScopeSettings.h).
//
//   scope.AddVariable("Speed_Reference", 1);
//   scope.AddCurve(0, 0, 1, RGB16(2));                                // item 1 against the time
//   scope.ChangeSettings(0.5, 4, 1, "Speed_Reference", 100.0, 10);   // level in base units
//   scope.RescaleVariable("Speed_Reference", "rpm", 500.0, 0.0);
//   graph.SetDocument(scope.GetGraphDocument(), scope.GetGraphFilter(0));
//   CQel_CoffFormat::ExecuteCode("Speed_Controller_Tuning_Test", &program, &scope, nullptr,
//                                nullptr);
//   ... a frame of code 0xE900: scope.OnFrameReceive(bytes, data) > 0
//       scope.GetPointsToBeDrawn(first, count);  graph.UpdatePoint(index) ...
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
    // Finds the logged variables in the setup and names them, and their curves, as the setup
    // does; returns how many were found, 0 (each missing one reported) when one is missing.
    int LocateItems();
    // Back to the settings of a new logger: no variables, curves or channel scales, an
    // untriggered acquisition of one second. The points of a past acquisition are forgotten.
    void SetDefaultValues();

    // The scope graph: its document and filter 0, which shows the curves added (null for
    // another filter).
    CGraphDocument* GetGraphDocument() { return &document_; }
    CGraphFilter* GetGraphFilter(int index);
    // Adds to filter 0 a curve of logged item yItem (1 the first variable added) against item
    // xItem, which must be 0 (the time), in the colour; returns the curve's index in the
    // document, -1 (reported) for another filter or an item that is not logged.
    int AddCurve(int filterIndex, int xItem, int yItem, QelColour colour);

    // Shows a logged variable in the unit named (of the variable's family) at valuePerDivision
    // per division of the grid with centre on its centre line, both in that unit. 0 (reported)
    // when the variable is not logged, the unit not of its family or the scale not positive.
    int RescaleVariable(std::string_view variable, std::string_view unitName,
                        double valuePerDivision, double centre);
    // Steps a channel's scale (0 the first variable added) along 1, 2, 5, 10, ... per division:
    // +1 one value coarser, -1 one finer. 0 (reported) for a channel not logged or no step.
    int ChangeChannelScale(int channel, int step);
    // Scales every channel from the points the curves hold: the finest scale of the sequence
    // that shows them within the grid's divisions, centred on a whole number of divisions. 0
    // (reported) when no curve holds a point.
    int Autoscale();
    // The display scale of a channel, its defaults (base unit, 1 per division, centre 0) before
    // a rescale; std::nullopt for a channel not logged.
    std::optional<qel::ScopeChannel> GetChannel(int channel) const;
    // The settings as ScopeSettings.h describes them.
    qel::ScopeSettings GetScopeSettings() const;

    // The settings in a dialog of their own (CScopeSettingsDlg): TRUE when the user changed them
    // with OK, FALSE on Cancel.
    BOOL Edit(CWnd* parent);
    // The settings in a JSON file, written atomically; 0 (reported) when it cannot be written.
    int Save(const std::filesystem::path& path) const;
    // The settings of a JSON file; 0 (reported, the settings unchanged) when the file cannot be
    // read, is not scope settings or names what this setup does not have.
    int Load(const std::filesystem::path& path);
    // The settings in a text option of the setup, and back; an empty or missing option loads
    // nothing and answers 0, as does one that cannot be used (reported).
    int SaveSettingsToSetupOption(std::string_view option) const;
    int LoadSettingsFromSetupOption(std::string_view option);
    // Asks where to save the scope graph ("Save Plots": SVG, PNG or CSV) with the name proposed
    // and saves it; FALSE when the user cancels or the file cannot be written (reported).
    BOOL SaveGraph(std::string_view proposedName) const;

    // Keeps the points a frame carries and adds them to the curves; returns how many (0 for a
    // frame with none), or -1 for a frame that is not a scope frame of this acquisition's
    // variables (nothing is kept).
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
    double PointTime_s(int index) const;
    // The variable logged as item (1 the first), null when the setup has none.
    const CQel_Variable* ItemVariable(int item) const;
    // Applies settings checked against the setup; 0 (reported, nothing changed) when they name
    // what the setup lacks.
    int Apply(const qel::ScopeSettings& settings, std::string_view origin);
    // A channel's scale before any rescale: its variable's base unit, 1 per division, centre 0.
    qel::ScopeChannel DefaultChannel(int channel) const;
    // The channel's scale, made with its defaults when it was never rescaled.
    qel::ScopeChannel& MutableChannel(int channel);

    std::vector<double> values_;               // points x variables
    std::vector<qel::ScopeChannel> channels_;  // the first variables', made by MutableChannel
    CGraphDocument document_;
    CGraphFilter filter_;
    std::vector<int> curveItems_;  // the logged item of each curve of the document
    int lastFirst_ = 0;
    int lastCount_ = 0;
    bool uploading_ = false;
    bool ended_ = false;
};
