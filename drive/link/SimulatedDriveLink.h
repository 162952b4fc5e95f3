#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/SimulatedDrive.h"
#include "drive/programs/TestProgram.h"
#include "host/kernel/DriveLink.h"

namespace ui::headless {
class HeadlessBackend;
}

namespace drive {

// The calls of the link on which a communication error can be injected.
enum class LinkCall {
    WriteValue,
    ReadValue,
    DownloadAndStart,
    WriteProgramVariable,
    ReadProgramVariable,
    ReadAxisOn,
    ReadEndOfInitialisation,
    ResetBoard,
    UploadLog,
};

// Makes the program of a name; null for a name the drive has no program of.
using ProgramFactory = std::function<std::unique_ptr<TestProgram>(std::string_view name)>;

// The host's link to the simulated drive, in-process: drive variables by name (mapped to the
// firmware's values), registers by name, the programs by name with their user variables, the
// logger, the board's reset and the drive's own messages. The drive advances only when told:
// explicitly (Advance) or with the headless backend's virtual clock (AttachToClock).
//
// A drive variable is read, in this order, from the firmware, from the registers, from the
// user variables of the program last started (the values it leaves in the drive's memory, such
// as REFTST_V), and from the values the host wrote to the drive's memory before. The logger
// samples while the program says its values are meaningful (TestProgram::IsLogging); the scope
// samples from the start and sends its points as scope frames (see qel::kScopeFrameCode). A
// write goes to the firmware's commands (THTST, TINCTST, Target_Position, Speed_Reference), to a
// register, to the command variables the program last started watches (var_i2), or else to the
// drive's memory.
//
//   drive::SimulatedDriveLink link(axis);
//   CQel_Comm::Connect(setup, &link);
//   link.AttachToClock(session.Backend());
//   link.InjectError(drive::LinkCall::ReadValue, "Timeout on the serial line.", "MER");
//   link.BreakAt(drive::LinkCall::DownloadAndStart, "The drive does not answer.");
class SimulatedDriveLink : public qel::DriveLink {
  public:
    explicit SimulatedDriveLink(SimulatedDrive& drive, ProgramFactory factory = CreateTestProgram);
    ~SimulatedDriveLink() override;
    SimulatedDriveLink(const SimulatedDriveLink&) = delete;
    SimulatedDriveLink& operator=(const SimulatedDriveLink&) = delete;

    bool WriteValue(std::string_view name, double internalValue) override;
    bool ReadValue(std::string_view name, double& internalValue) override;
    std::string LastError() const override { return lastError_; }
    bool DownloadAndStart(const qel::ProgramImage& image, const qel::LogSettings* log) override;
    bool WriteProgramVariable(std::string_view program, std::string_view name,
                              double value) override;
    bool ReadProgramVariable(std::string_view program, std::string_view name,
                             double& value) override;
    bool StopProgram() override;
    bool ReadAxisOn(bool& on) override;
    bool ReadEndOfInitialisation(bool& done) override;
    bool ResetBoard() override;
    bool UploadLog(std::vector<qel::LoggedPoint>& points) override;
    std::vector<qel::UnsolicitedMessage> TakeUnsolicitedMessages() override;

    // Lets motor time pass.
    void Advance(double duration_s);
    // Advances with the backend's virtual clock from now on, until this link is destroyed.
    void AttachToClock(ui::headless::HeadlessBackend& backend);

    // The next call of that kind fails with the text; with a name, only a call on that variable,
    // register or program does.
    void InjectError(LinkCall call, std::string errorText, std::string name = {});
    // The link breaks at the next call of that kind (a cable pulled): that call and every call
    // after it, of any kind, fail with the text, and the drive's own messages no longer arrive.
    void BreakAt(LinkCall call, std::string errorText);
    bool IsBroken() const { return broken_; }
    // A message the drive sends on its own, delivered by the next TakeUnsolicitedMessages.
    void PostUnsolicitedMessage(qel::UnsolicitedMessage message);

    SimulatedDrive& Drive() { return drive_; }
    // The program last started; null before the first start and after a reset.
    TestProgram* Program() { return program_.get(); }

  private:
    class Logger;
    class Scope;
    struct InjectedError {
        LinkCall call;
        std::string name;
        std::string text;
    };

    // A drive variable's present value, without any error handling.
    std::optional<double> LookUp(std::string_view name) const;
    bool Fail(std::string text);
    bool InjectedFailure(LinkCall call, std::string_view name);
    void EndProgram();

    SimulatedDrive& drive_;
    ProgramFactory factory_;
    std::unique_ptr<TestProgram> program_;
    std::unique_ptr<Logger> logger_;
    std::unique_ptr<Scope> scope_;
    std::vector<std::pair<std::string, double>> memory_;
    std::vector<InjectedError> injected_;
    std::optional<InjectedError> breakAt_;
    bool broken_ = false;
    std::vector<qel::UnsolicitedMessage> messages_;
    std::string lastError_;
    double resetTime_s_;
    // Cleared by the destructor, so that the clock no longer reaches this link.
    std::shared_ptr<SimulatedDriveLink*> clockToken_;
};

}  // namespace drive
