#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/link/SimulatedDriveLink.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Comm.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Loggers.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/drive/link/EchoProgram.h"
#include "tests/support/CollectedErrors.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kEchoImage = R"({
  "name": "Echo_Test", "entry": "main",
  "variables": [{"name": "STARTED", "initial": 0}, {"name": "In1", "initial": 0},
                {"name": "Out", "initial": 0}, {"name": "Periods", "initial": 10}]
})";

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
}

// The reference axis connected to its simulated drive through the kernel, with a programs
// folder holding the echo program.
class CommTest : public ::testing::Test {
  public:
    CommTest()
        : motor_(LoadExampleMotor("reference-axis-motor.json")),
          setup_(SetupForMotor(motor_)),
          axis_(DriveFromSetup(*setup_, motor_)),
          link_(*axis_, CreateProgramOrEcho),
          programs_(fs::temp_directory_path() /
                    ("brevan-comm-" + std::to_string(::getpid()) + "-" +
                     std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
        fs::create_directories(programs_);
        WriteFile(programs_ / "Echo_Test.json", kEchoImage);
        CQel_CoffFormat::SetProgramsDirectory(programs_);
        CQel_Comm::Connect(*setup_, &link_);
    }
    ~CommTest() override {
        CQel_Comm::Connect(*setup_, nullptr);
        fs::remove_all(programs_);
    }

    CQel_Variable& Variable(const std::string& name) {
        CQel_Variable* variable = setup_->FindVariable(name, 1);
        EXPECT_NE(variable, nullptr) << name;
        return *variable;
    }

    // Loads a program of the programs folder as a test dialog does.
    void Load(CQel_CoffFormat& program, const std::string& name) {
        program.SetFileName(CQel_CoffFormat::GetOutPathName(name));
        ASSERT_EQ(program.ReadCoff(), 1) << program.GetLastError();
    }

    drive::MotorData motor_;
    std::unique_ptr<CQel_Setup> setup_;
    std::unique_ptr<drive::SimulatedDrive> axis_;
    drive::SimulatedDriveLink link_;
    fs::path programs_;
    CollectedErrors errors_;
};

struct VariableCase {
    std::string label;
    std::string name;
    double internalWritten;
    std::int64_t firmwareHolds;  // what the firmware keeps of it
};

class DriveVariableRoundTrip : public CommTest,
                               public ::testing::WithParamInterface<VariableCase> {};

// Written through one variable in base units, read back through the drive by another setup.
TEST_P(DriveVariableRoundTrip, ReachesTheFirmwareInInternalUnitsAndReadsBackThroughTheScale) {
    CQel_Variable& variable = Variable(GetParam().name);
    ASSERT_TRUE(variable.SetValueInInternalUnit(GetParam().internalWritten));
    const double base = variable.GetValueInBaseUnit();
    ASSERT_TRUE(variable.WriteToChip());
    double onDrive = 0.0;
    ASSERT_TRUE(CQel_Comm::ReadValue(GetParam().name, onDrive)) << CQel_Comm::GetLastErrorText();
    EXPECT_EQ(onDrive, static_cast<double>(GetParam().firmwareHolds));

    ASSERT_TRUE(variable.SetValueInInternalUnit(0.0));
    ASSERT_TRUE(variable.ReadFromChip()) << CQel_Comm::GetLastErrorText();
    EXPECT_EQ(variable.GetValueInInternalUnit(), static_cast<double>(GetParam().firmwareHolds));
    const double expectedBase =
        variable.InternalToBase(static_cast<double>(GetParam().firmwareHolds));
    EXPECT_DOUBLE_EQ(variable.GetValueInBaseUnit(), expectedBase);
    if (GetParam().firmwareHolds == static_cast<std::int64_t>(GetParam().internalWritten)) {
        EXPECT_DOUBLE_EQ(variable.GetValueInBaseUnit(), base);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Variables, DriveVariableRoundTrip,
    ::testing::Values(VariableCase{"TargetPosition", "Target_Position", 40000, 40000},
                      VariableCase{"TestAngle", "THTST", 1234, 1234},
                      // The firmware keeps a signed 16-bit electrical angle.
                      VariableCase{"TestAngleWraps", "THTST", 70000, 70000 - 65536},
                      VariableCase{"TestAngleIncrement", "TINCTST", -300, -300}),
    ByLabel());

TEST_F(CommTest, ScaledVariableReadsTheFirmwareCurrentInAmperes) {
    axis_->AlignElectricAngleToRotor();
    axis_->Firmware().SetLoopMode(drive::LoopMode::Current);
    ASSERT_TRUE(axis_->SwitchOn());
    axis_->Firmware().SetCurrentReference(0, 1000);
    link_.Advance(0.01);
    CQel_Variable& iq = Variable("IQ");
    ASSERT_TRUE(iq.ReadFromChip());
    EXPECT_EQ(iq.GetValueInInternalUnit(), static_cast<double>(axis_->Firmware().CurrentQ()));
    // Converter counts: ADCmax / (2 ImaxPS) per ampere.
    const double countsPerAmpere =
        Compute_ADCMaxValue(*setup_) / (2.0 * setup_->GetParameterValueInBaseUnit("ImaxPS"));
    EXPECT_NEAR(iq.GetValueInBaseUnit(), iq.GetValueInInternalUnit() / countsPerAmpere, 1e-9);
}

TEST_F(CommTest, ParameterWritesItsRegisterToTheDrive) {
    CQel_Parameter* kpi = setup_->FindParameter("KPI");
    ASSERT_NE(kpi, nullptr);
    const double written = kpi->GetValueInInternalUnit() == 12345 ? 12000 : 12345;
    ASSERT_TRUE(kpi->SetValueInInternalUnit(written));
    ASSERT_TRUE(kpi->WriteToChip());
    EXPECT_EQ(axis_->Registers().KPI, static_cast<std::int64_t>(written));
    double read = 0.0;
    ASSERT_TRUE(CQel_Comm::ReadValue("kpi", read));
    EXPECT_EQ(read, written);
}

TEST_F(CommTest, ProgramStartedByNameReportsItsVariablesWhileAndAfterItRuns) {
    CQel_CoffFormat program;
    Load(program, "Echo_Test");
    std::string error;
    ASSERT_EQ(program.SetUserVariableValue("In1", 21, error), 1) << error;
    ASSERT_EQ(program.SetUserVariableValue("Periods", 40, error), 1) << error;
    ASSERT_EQ(CQel_CoffFormat::ExecuteCode("Echo_Test", &program, nullptr, nullptr, nullptr), 1)
        << link_.LastError();

    double started = -1.0;
    ASSERT_EQ(program.GetUserVariableValue("STARTED", started, error), 1) << error;
    EXPECT_EQ(started, 0.0);
    link_.Advance(5 * axis_->CurrentLoopPeriod_s());
    ASSERT_EQ(program.GetUserVariableValue("started", started, error), 1) << error;
    EXPECT_EQ(started, 1.0);
    double out = -1.0;
    ASSERT_EQ(program.GetUserVariableValue("Out", out, error), 1);
    EXPECT_EQ(out, 0.0);

    link_.Advance(40 * axis_->CurrentLoopPeriod_s());
    ASSERT_EQ(program.GetUserVariableValue("Out", out, error), 1) << error;
    EXPECT_EQ(out, 42.0);
    // A drive variable the program left behind reads through the setup.
    CQel_Variable& result = Variable("var_i1");
    ASSERT_TRUE(result.ReadFromChip()) << CQel_Comm::GetLastErrorText();
    EXPECT_EQ(result.GetValueInInternalUnit(), 21.0);
}

TEST_F(CommTest, VariableOfAProgramNotOnTheDriveReadsFromItsImage) {
    CQel_CoffFormat program;
    Load(program, "Echo_Test");
    std::string error;
    ASSERT_EQ(program.SetUserVariableValue("In1", 5, error), 1);
    double value = 0.0;
    ASSERT_EQ(program.GetUserVariableValue("In1", value, error), 1);
    EXPECT_EQ(value, 5.0);
    EXPECT_EQ(program.GetUserVariableValue("Missing", value, error), 0);
    EXPECT_EQ(error, "The program \"Echo_Test\" has no variable \"Missing\".");
}

TEST_F(CommTest, BundledProgramRunsThroughTheKernel) {
    CQel_CoffFormat::SetProgramsDirectory(fs::path(BREVAN_SOURCE_DIR) / "drive/programs/images");
    CQel_CoffFormat program;
    Load(program, "VDC_Detection_Test");
    ASSERT_EQ(
        CQel_CoffFormat::ExecuteCode("VDC_Detection_Test", &program, nullptr, nullptr, nullptr), 1);
    link_.Advance(1.0);
    std::string error;
    double started = 0.0;
    ASSERT_EQ(program.GetUserVariableValue("STARTED", started, error), 1) << error;
    EXPECT_NE(started, 0.0);
    int on = 1;
    ASSERT_TRUE(CQel_Comm::GetAxisOn(on));
    EXPECT_EQ(on, 0);
}

TEST_F(CommTest, ProgramFoundByNameAloneStarts) {
    ASSERT_EQ(CQel_CoffFormat::ExecuteCode("Echo_Test", nullptr, nullptr, nullptr, nullptr), 1);
    ASSERT_NE(link_.Program(), nullptr);
    EXPECT_EQ(link_.Program()->Name(), "Echo_Test");
}

TEST_F(CommTest, UnknownProgramIsNotStartedAndSaysWhere) {
    EXPECT_EQ(CQel_CoffFormat::GetOutPathName("No_Such_Test"), "");
    EXPECT_EQ(CQel_CoffFormat::GetOutPathName("../Echo_Test"), "");
    EXPECT_EQ(CQel_CoffFormat::ExecuteCode("No_Such_Test", nullptr, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(errors_.Messages().size(), 1u);
    EXPECT_EQ(errors_.Messages()[0],
              "There is no program \"No_Such_Test\" in \"" + programs_.string() + "\".");
    EXPECT_EQ(link_.Program(), nullptr);
}

struct BadImageCase {
    std::string label;
    std::string text;
    std::string problem;
};

class BadProgramFile : public CommTest, public ::testing::WithParamInterface<BadImageCase> {};

TEST_P(BadProgramFile, IsRefusedWithItsProblem) {
    WriteFile(programs_ / "Bad_Test.json", GetParam().text);
    CQel_CoffFormat program;
    program.SetFileName(CQel_CoffFormat::GetOutPathName("Bad_Test"));
    EXPECT_EQ(program.ReadCoff(), 0);
    EXPECT_FALSE(program.IsLoaded());
    EXPECT_EQ(program.GetLastError(), "Cannot read the program file \"" +
                                          (programs_ / "Bad_Test.json").string() +
                                          "\": " + GetParam().problem);
    EXPECT_EQ(CQel_CoffFormat::ExecuteCode("Bad_Test", &program, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(link_.Program(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadProgramFile,
    ::testing::Values(
        BadImageCase{"NotJson", "{", "it is not a JSON object."},
        BadImageCase{"NoName", R"({"entry": "main", "variables": []})",
                     "\"name\" must be a non-empty text."},
        BadImageCase{"EntryNotText", R"({"name": "B", "entry": 1, "variables": []})",
                     "\"entry\" must be a text."},
        BadImageCase{"VariablesNotList", R"({"name": "B", "entry": "m", "variables": 3})",
                     "\"variables\" must be a list."},
        BadImageCase{"VariableWithoutInitial",
                     R"({"name": "B", "entry": "m", "variables": [{"name": "In1"}]})",
                     "every variable needs a \"name\" text and an \"initial\" number."}),
    ByLabel());

TEST_F(CommTest, SingleAxisLoggerUploadsTheLoggedPointsInOrder) {
    CQel_CoffFormat program;
    Load(program, "Echo_Test");
    CQel_SingleAxisLogger logger(setup_.get(), &program);
    ASSERT_EQ(logger.ChangeSettings(4, static_cast<int>(qel::LogType::CurrentLoop), 3), 1);
    ASSERT_EQ(logger.AddVariable("THTST", 0), 1);
    ASSERT_EQ(logger.AddVariable("Target_Position", 0), 1);
    std::string error;
    ASSERT_EQ(program.SetUserVariableValue("Periods", 30, error), 1);
    ASSERT_EQ(CQel_CoffFormat::ExecuteCode("Echo_Test", &program, &logger, nullptr, nullptr), 1);
    link_.Advance(40 * axis_->CurrentLoopPeriod_s());

    ASSERT_EQ(logger.BeginUploadData(), 1);
    double point[3] = {};
    std::vector<double> angles;
    while (logger.ReadPoint(point) != 0) {
        angles.push_back(point[1]);
        EXPECT_EQ(point[2], 0.0);
        EXPECT_NEAR(point[0], (point[1] + 1) * axis_->CurrentLoopPeriod_s(), 1e-12);
    }
    // Every third period while the program logs, until the four points are taken.
    EXPECT_EQ(angles, (std::vector<double>{0, 3, 6, 9}));
    EXPECT_FALSE(logger.IsUploading());
}

TEST_F(CommTest, LoggerWithoutALoggedProgramFailsToUpload) {
    CQel_SingleAxisLogger logger(setup_.get());
    EXPECT_EQ(logger.BeginUploadData(), 0);
    EXPECT_EQ(CQel_Comm::GetLastErrorText(), "No program has been started with the logger.");
    EXPECT_EQ(logger.ReadPoint(), 0);
}

struct LoggerSettingsCase {
    std::string label;
    int points;
    int logType;
    int period;
    int variables;
    int accepted;
    int pointsKept;
};

class LoggerSettings : public CommTest, public ::testing::WithParamInterface<LoggerSettingsCase> {};

TEST_P(LoggerSettings, AreTakenWithinTheDrivesMemory) {
    CQel_SingleAxisLogger logger(setup_.get());
    ASSERT_EQ(logger.ChangeSettings(100, 1, 1), 1);
    EXPECT_EQ(logger.ChangeSettings(GetParam().points, GetParam().logType, GetParam().period),
              GetParam().accepted);
    for (int i = 0; i < GetParam().variables; ++i) {
        ASSERT_EQ(logger.AddVariable("IQ", 1), 1);
    }
    EXPECT_EQ(logger.CorrectPointsNo(), GetParam().pointsKept);
    EXPECT_EQ(errors_.Messages().size(), GetParam().accepted == 1 ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LoggerSettings,
    ::testing::Values(LoggerSettingsCase{"FitsAsAsked", 2000, 1, 1, 4, 1, 2000},
                      LoggerSettingsCase{"TooManyPointsAreCut", 4000, 2, 1, 3, 1, 2730},
                      LoggerSettingsCase{"ZeroPointsRefused", 0, 1, 1, 1, 0, 100},
                      LoggerSettingsCase{"UnknownLogTypeRefused", 10, 3, 1, 1, 0, 100},
                      LoggerSettingsCase{"ZeroPeriodRefused", 10, 2, 0, 1, 0, 100}),
    ByLabel());

TEST_F(CommTest, LoggerRefusesAVariableTheSetupDoesNotHave) {
    CQel_SingleAxisLogger logger(setup_.get());
    EXPECT_EQ(logger.AddVariable("No_Such_Variable", 0), 0);
    EXPECT_EQ(logger.GetVariablesNo(), 0u);
}

// A communication error injected on one call of the link, and the host call that meets it
// (false when it failed).
struct CommErrorCase {
    std::string label;
    drive::LinkCall call;
    std::function<bool(CommTest&)> hostCall;
};

class CommunicationError : public CommTest, public ::testing::WithParamInterface<CommErrorCase> {};

constexpr const char* kLineError = "No answer from the drive (checksum error).";

TEST_P(CommunicationError, FailsTheHostCallWithTheLinksText) {
    CQel_CoffFormat program;
    Load(program, "Echo_Test");
    CQel_SingleAxisLogger logger(setup_.get(), &program);
    ASSERT_EQ(logger.ChangeSettings(4, 2, 1), 1);
    ASSERT_EQ(logger.AddVariable("IQ", 0), 1);
    ASSERT_EQ(CQel_CoffFormat::ExecuteCode("Echo_Test", &program, &logger, nullptr, nullptr), 1);
    link_.InjectError(GetParam().call, kLineError);
    EXPECT_FALSE(GetParam().hostCall(*this));
    EXPECT_EQ(CQel_Comm::GetLastErrorText(), kLineError);
    // Only that call failed: the same call succeeds next time.
    EXPECT_TRUE(GetParam().hostCall(*this)) << CQel_Comm::GetLastErrorText();
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CommunicationError,
    ::testing::Values(
        CommErrorCase{"ReadVariable", drive::LinkCall::ReadValue,
                      [](CommTest& test) {
                          CQel_Variable& mer = test.Variable("MER");
                          EXPECT_TRUE(mer.SetValueInInternalUnit(7));
                          const bool read = mer.ReadFromChip();
                          EXPECT_EQ(mer.GetValueInInternalUnit(), read ? 0.0 : 7.0);
                          return read;
                      }},
        CommErrorCase{"WriteVariable", drive::LinkCall::WriteValue,
                      [](CommTest& test) { return test.Variable("THTST").WriteToChip(); }},
        CommErrorCase{"ReadProgramVariable", drive::LinkCall::ReadProgramVariable,
                      [](CommTest& test) {
                          CQel_CoffFormat program;
                          test.Load(program, "Echo_Test");
                          std::string error;
                          double value = 0.0;
                          EXPECT_EQ(CQel_CoffFormat::ExecuteCode("Echo_Test", &program, nullptr,
                                                                 nullptr, nullptr),
                                    1);
                          const bool read =
                              program.GetUserVariableValue("STARTED", value, error) == 1;
                          EXPECT_EQ(error, read ? "" : kLineError);
                          return read;
                      }},
        CommErrorCase{"AxisOn", drive::LinkCall::ReadAxisOn,
                      [](CommTest&) {
                          int on = 0;
                          return CQel_Comm::GetAxisOn(on);
                      }},
        CommErrorCase{"EndOfInitialisation", drive::LinkCall::ReadEndOfInitialisation,
                      [](CommTest&) {
                          int done = 0;
                          return CQel_Comm::GetEndInit(done);
                      }},
        CommErrorCase{"ResetBoard", drive::LinkCall::ResetBoard,
                      [](CommTest&) { return CQel_Comm::ResetActiveBoard(); }},
        CommErrorCase{"StartProgram", drive::LinkCall::DownloadAndStart,
                      [](CommTest&) {
                          return CQel_CoffFormat::ExecuteCode("Echo_Test", nullptr, nullptr,
                                                              nullptr, nullptr) == 1;
                      }},
        CommErrorCase{"UploadLog", drive::LinkCall::UploadLog,
                      [](CommTest& test) {
                          CQel_SingleAxisLogger logger(test.setup_.get());
                          EXPECT_EQ(logger.ChangeSettings(4, 2, 1), 1);
                          EXPECT_EQ(logger.AddVariable("IQ", 0), 1);
                          EXPECT_EQ(CQel_CoffFormat::ExecuteCode("Echo_Test", nullptr, &logger,
                                                                 nullptr, nullptr),
                                    1);
                          return logger.BeginUploadData() == 1;
                      }}),
    ByLabel());

TEST_F(CommTest, NoConnectedDriveIsTheLastError) {
    CQel_Comm::Connect(*setup_, nullptr);
    EXPECT_FALSE(Variable("MER").ReadFromChip());
    EXPECT_EQ(CQel_Comm::GetLastErrorText(), "No drive is connected.");
    int on = 0;
    EXPECT_FALSE(CQel_Comm::GetAxisOn(on));
}

std::vector<std::vector<std::uint8_t>> g_handled;

int RecordMessage(int byteCount, const std::uint8_t* data) {
    g_handled.emplace_back(data, data + byteCount);
    return 0;
}

TEST_F(CommTest, UnsolicitedMessagesReachTheRegisteredHandler) {
    g_handled.clear();
    const CQel_Comm::UnsolicitedMsgHandler previous =
        CQel_Comm::RegisterReceiveUnsolicitedMsgHandler(RecordMessage);
    link_.PostUnsolicitedMessage({2, 0, 0, 0, 0x00, 0xE9, 1, 2, 3, 4});
    link_.PostUnsolicitedMessage({9});
    EXPECT_EQ(CQel_Comm::CheckForUnrequestedMessages(), 2);
    EXPECT_EQ(CQel_Comm::CheckForUnrequestedMessages(), 0);
    EXPECT_EQ(CQel_Comm::RegisterReceiveUnsolicitedMsgHandler(previous), RecordMessage);
    ASSERT_EQ(g_handled.size(), 2u);
    EXPECT_EQ(g_handled[0], (std::vector<std::uint8_t>{2, 0, 0, 0, 0x00, 0xE9, 1, 2, 3, 4}));
    EXPECT_EQ(g_handled[1], (std::vector<std::uint8_t>{9}));
}

// The host's handler of scope frames, as a tuning test registers it.
CQel_ScopeLogger* g_scope = nullptr;
int g_frames = 0;

std::uint16_t WordAt(const std::uint8_t* message, std::size_t offset) {
    return static_cast<std::uint16_t>(message[offset] | (message[offset + 1] << 8));
}

int HandleScopeFrame(int byteCount, const std::uint8_t* message) {
    constexpr std::size_t kCodeOffset = 4;
    const auto size = static_cast<std::size_t>(byteCount);
    if (size < qel::kScopeFrameHeaderBytes ||
        WordAt(message, kCodeOffset) != qel::kScopeFrameCode) {
        return qel::kScopeFrameCode;
    }
    const int bytes = 2 * WordAt(message, 0);
    EXPECT_EQ(static_cast<std::size_t>(bytes) + qel::kScopeFrameHeaderBytes, size);
    const int taken = g_scope->OnFrameReceive(bytes, message + qel::kScopeFrameHeaderBytes);
    g_frames += taken > 0 ? 1 : 0;
    return taken > 0 ? 0 : taken;
}

struct ScopeCase {
    std::string label;
    int mode;
    int preTrigger_percent;
    double triggerAngle;  // internal units
    double firstPoint;    // the test angle at the acquisition's first point
    int ended;
};

class ScopeAcquisition : public CommTest, public ::testing::WithParamInterface<ScopeCase> {};

// The echo program counts the periods in THTST; the scope samples once a period.
TEST_P(ScopeAcquisition, DeliversItsPointsInFramesFromThePreTrigger) {
    CQel_CoffFormat program;
    Load(program, "Echo_Test");
    std::string error;
    ASSERT_EQ(program.SetUserVariableValue("Periods", 3000, error), 1);
    CQel_ScopeLogger scope(setup_.get(), &program);
    ASSERT_EQ(scope.AddVariable("THTST", 1), 1);
    ASSERT_EQ(scope.AddVariable("Target_Position", 1), 1);
    ASSERT_EQ(scope.AddCurve(0, 0, 1, RGB16(2)), 0);
    const double period_s = axis_->CurrentLoopPeriod_s();
    const double level = Variable("THTST").InternalToBase(GetParam().triggerAngle);
    ASSERT_EQ(scope.ChangeSettings(scope.GetPointsNo() * period_s, GetParam().mode, 1, "THTST",
                                   level, GetParam().preTrigger_percent),
              1);
    g_scope = &scope;
    g_frames = 0;
    const auto previous = CQel_Comm::RegisterReceiveUnsolicitedMsgHandler(HandleScopeFrame);
    ASSERT_EQ(CQel_CoffFormat::ExecuteCode("Echo_Test", &program, &scope, nullptr, nullptr), 1);
    EXPECT_TRUE(scope.IsUploading());
    for (int tick = 0; tick < 100; ++tick) {
        link_.Advance(20 * period_s);
        CQel_Comm::CheckForUnrequestedMessages();
    }
    CQel_Comm::RegisterReceiveUnsolicitedMsgHandler(previous);

    EXPECT_EQ(g_frames, 50);
    EXPECT_EQ(scope.DoGracefulStop(), GetParam().ended);
    const int beforeTrigger = scope.GetPointsNo() * GetParam().preTrigger_percent / 100;
    double point[3] = {};
    for (int index = 0; index < scope.GetPointsNo(); ++index) {
        ASSERT_EQ(scope.GetPoint(index, point), 1);
        ASSERT_EQ(point[1], GetParam().firstPoint + index) << index;
        ASSERT_EQ(point[2], 0.0);
        ASSERT_NEAR(point[0], (index - beforeTrigger) * period_s, 1e-12);
    }
    EXPECT_EQ(scope.GetPoint(scope.GetPointsNo(), point), 0);
    // The scope graph holds the acquisition in the test angle's base unit.
    const CXYCurve& angle = *scope.GetGraphDocument()->GetAt(0);
    ASSERT_EQ(angle.GetPointsNo(), scope.GetPointsNo());
    for (int index = 0; index < scope.GetPointsNo(); ++index) {
        ASSERT_EQ(angle.GetPoint(index).y,
                  Variable("THTST").InternalToBase(GetParam().firstPoint + index))
            << index;
        ASSERT_NEAR(angle.GetPoint(index).x, (index - beforeTrigger) * period_s, 1e-12);
    }
    int first = -1;
    int count = -1;
    scope.GetPointsToBeDrawn(first, count);
    EXPECT_EQ(first + count, scope.GetPointsNo());
    scope.EndUploadData();
    EXPECT_FALSE(scope.IsUploading());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ScopeAcquisition,
    ::testing::Values(ScopeCase{"Untriggered", 1, 0, 0.0, 0.0, 1},
                      ScopeCase{"SingleFromTenPercentBefore", 4, 10, 499.5, 400.0, 1},
                      // Repeated: ready for the next trigger, so never ended.
                      ScopeCase{"RepeatedWithoutPreTrigger", 2, 0, 699.5, 700.0, 0}),
    ByLabel());

struct ScopeSettingsCase {
    std::string label;
    double duration_s;
    int mode;
    int slope;
    std::string variable;
    int preTrigger_percent;
};

class ScopeSettingsRefused : public CommTest,
                             public ::testing::WithParamInterface<ScopeSettingsCase> {};

TEST_P(ScopeSettingsRefused, KeepsTheEarlierSettings) {
    CQel_ScopeLogger scope(setup_.get());
    ASSERT_EQ(scope.ChangeSettings(0.5, 4, 1, "THTST", 0.0, 10), 1);
    EXPECT_EQ(scope.ChangeSettings(GetParam().duration_s, GetParam().mode, GetParam().slope,
                                   GetParam().variable, 1.0, GetParam().preTrigger_percent),
              0);
    ASSERT_TRUE(scope.GetSettings().scope);
    EXPECT_EQ(scope.GetSettings().scope->duration_s, 0.5);
    EXPECT_EQ(scope.GetSettings().scope->mode, qel::TriggerMode::Single);
    EXPECT_EQ(errors_.Messages().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ScopeSettingsRefused,
    ::testing::Values(ScopeSettingsCase{"ZeroDuration", 0.0, 4, 1, "THTST", 10},
                      ScopeSettingsCase{"UnknownMode", 0.5, 3, 1, "THTST", 10},
                      ScopeSettingsCase{"UnknownSlope", 0.5, 4, 2, "THTST", 10},
                      ScopeSettingsCase{"PreTriggerAboveAll", 0.5, 4, 1, "THTST", 101},
                      ScopeSettingsCase{"UnknownTriggerVariable", 0.5, 2, 1, "Nothing", 10}),
    ByLabel());

TEST_F(CommTest, ScopeRefusesAFrameOfOtherVariables) {
    CQel_ScopeLogger scope(setup_.get());
    ASSERT_EQ(scope.AddVariable("IQ", 1), 1);
    scope.OnProgramStarted();
    // One point of two variables where the scope logs one.
    const std::uint8_t frame[] = {0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 2, 0, 0, 0};
    EXPECT_EQ(scope.OnFrameReceive(sizeof frame, frame), -1);
    EXPECT_EQ(scope.OnFrameReceive(4, frame), -1);
    // The same point for one variable is taken.
    EXPECT_EQ(scope.OnFrameReceive(10, frame), 1);
    double point[2] = {};
    ASSERT_EQ(scope.GetPoint(0, point), 1);
    EXPECT_EQ(point[1], 65537.0);
}

}  // namespace
