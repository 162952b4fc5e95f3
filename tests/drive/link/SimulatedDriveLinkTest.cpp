#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "drive/link/SimulatedDriveLink.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/drive/link/EchoProgram.h"

namespace {

// The reference axis with its own motor, its registers computed from its parameters, and a
// referenced angle.
class SimulatedDriveLinkTest : public ::testing::Test {
  protected:
    SimulatedDriveLinkTest()
        : motor_(LoadExampleMotor("reference-axis-motor.json")),
          setup_(SetupForMotor(motor_)),
          axis_(DriveFromSetup(*setup_, motor_)),
          link_(*axis_, CreateProgramOrEcho) {
        axis_->AlignElectricAngleToRotor();
    }

    double Read(const std::string& name) {
        double value = 0.0;
        EXPECT_TRUE(link_.ReadValue(name, value)) << name << ": " << link_.LastError();
        return value;
    }

    drive::MotorData motor_;
    std::unique_ptr<CQel_Setup> setup_;
    std::unique_ptr<drive::SimulatedDrive> axis_;
    drive::SimulatedDriveLink link_;
};

struct MappedCase {
    std::string label;
    std::string name;
    std::function<double(const drive::DriveFirmware&)> firmwareValue;
};

double AsDouble(std::int64_t value) {
    return static_cast<double>(value);
}

class DriveVariableMapping : public SimulatedDriveLinkTest,
                             public ::testing::WithParamInterface<MappedCase> {};

// A current loop that is running with a reference, so that currents, voltages, positions and
// angles are all non-zero and distinct.
TEST_P(DriveVariableMapping, ReadsTheFirmwareValueOfItsName) {
    axis_->Firmware().SetLoopMode(drive::LoopMode::Current);
    ASSERT_TRUE(axis_->SwitchOn());
    axis_->Firmware().SetCurrentReference(-150, 900);
    axis_->Firmware().SetTestAngle(1234);
    axis_->Firmware().SetTestAngleIncrement(17);
    axis_->Firmware().SetPositionReference(4321);
    axis_->Advance(0.01);
    EXPECT_EQ(Read(GetParam().name), GetParam().firmwareValue(axis_->Firmware()));
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, DriveVariableMapping,
    ::testing::Values(MappedCase{"IQ", "IQ", [](const auto& f) { return AsDouble(f.CurrentQ()); }},
                      MappedCase{"ID", "ID", [](const auto& f) { return AsDouble(f.CurrentD()); }},
                      MappedCase{"MotorCurrent", "Motor_Current",
                                 [](const auto& f) { return AsDouble(f.CurrentQ()); }},
                      MappedCase{"CurrentReference", "Current_Reference",
                                 [](const auto& f) { return AsDouble(f.CurrentReferenceQ()); }},
                      MappedCase{"VoltageReference", "Voltage_Reference",
                                 [](const auto& f) { return AsDouble(f.VoltageQ()); }},
                      MappedCase{"LoadPosition", "Load_Position",
                                 [](const auto& f) { return AsDouble(f.MotorPosition()); }},
                      MappedCase{"APOSLetterCase", "apos",
                                 [](const auto& f) { return AsDouble(f.MotorPosition()); }},
                      MappedCase{"LoadSpeed", "Load_Speed",
                                 [](const auto& f) { return AsDouble(f.MotorSpeed()); }},
                      MappedCase{"TargetPosition", "Target_Position",
                                 [](const auto& f) { return AsDouble(f.PositionReference()); }},
                      MappedCase{"THTST", "THTST",
                                 [](const auto& f) { return AsDouble(f.TestAngle()); }},
                      MappedCase{"TINCTST", "TINCTST",
                                 [](const auto& f) { return AsDouble(f.TestAngleIncrement()); }},
                      MappedCase{"ElectricAngle", "Electric_Angle",
                                 [](const auto& f) { return AsDouble(f.ElectricAngle()); }},
                      MappedCase{"PWMPERRegister", "PWMPER",
                                 [](const auto& f) { return AsDouble(f.Registers().PWMPER); }}),
    ByLabel());

TEST_F(SimulatedDriveLinkTest, MotionErrorRegisterShowsTheInactiveEnableInput) {
    axis_->SetEnableInput(false);
    axis_->Advance(axis_->CurrentLoopPeriod_s());
    EXPECT_EQ(Read("MER"), 1 << drive::mer::kEnableInputBit);
}

TEST_F(SimulatedDriveLinkTest, WritesCommandsAndRegistersToTheFirmware) {
    ASSERT_TRUE(link_.WriteValue("THTST", 70000));
    ASSERT_TRUE(link_.WriteValue("Target_Position", 2500));
    ASSERT_TRUE(link_.WriteValue("SLPER", 5));
    // The test angle is a signed 16-bit electrical angle.
    EXPECT_EQ(axis_->Firmware().TestAngle(), 70000 - 65536);
    EXPECT_EQ(axis_->Firmware().PositionReference(), 2500);
    axis_->Advance(0.001);
    EXPECT_EQ(axis_->Registers().SLPER, 5);
}

TEST_F(SimulatedDriveLinkTest, ReadsWhatTheHostWroteToTheDrivesMemory) {
    ASSERT_TRUE(link_.WriteValue("var_i2", 77));
    EXPECT_EQ(Read("VAR_I2"), 77);
}

// The pole-pair detection is driven by "var_i2": 0 turns the field one electrical turn (the
// test angle stops one unit past the holding angle), 1 ends the program with the count of moves.
TEST_F(SimulatedDriveLinkTest, CommandsReachTheProgramThatWatchesThem) {
    constexpr double kMoveEndMarker = -16383.0;
    const qel::ProgramImage image{
        "Motor_Pole_Pairs_Detection_Test", "main", {{"RefTest", 3000}, {"RIncTest", 100}}};
    ASSERT_TRUE(link_.DownloadAndStart(image, nullptr)) << link_.LastError();
    link_.Advance(0.05);
    ASSERT_TRUE(axis_->IsOn());
    ASSERT_TRUE(link_.WriteValue("var_i2", 0));
    // A host polling every period sees the marker only once the turn is done.
    constexpr double kTurn_s = 0.4;
    double moved_s = 0.0;
    while (Read("THTST") != kMoveEndMarker && moved_s < 1.0) {
        link_.Advance(axis_->CurrentLoopPeriod_s());
        moved_s += axis_->CurrentLoopPeriod_s();
    }
    EXPECT_NEAR(moved_s, kTurn_s, 0.01);
    ASSERT_TRUE(link_.WriteValue("VAR_I2", 1));
    link_.Advance(0.01);
    EXPECT_FALSE(axis_->IsOn());
    EXPECT_EQ(Read("var_i2"), 1.0);
}

TEST_F(SimulatedDriveLinkTest, ReadingAnUnknownVariableFailsWithItsName) {
    double value = 5.0;
    EXPECT_FALSE(link_.ReadValue("NoSuchVariable", value));
    EXPECT_EQ(link_.LastError(), "The drive has no variable \"NoSuchVariable\".");
    EXPECT_EQ(value, 5.0);
}

TEST_F(SimulatedDriveLinkTest, ProgramRunsWithItsVariablesAndLeavesItsDriveVariables) {
    ASSERT_TRUE(link_.WriteValue("var_i1", -1));
    const qel::ProgramImage image{"Echo_Test", "main", {{"In1", 21}, {"Periods", 4}}};
    ASSERT_TRUE(link_.DownloadAndStart(image, nullptr)) << link_.LastError();
    double started = -1.0;
    ASSERT_TRUE(link_.ReadProgramVariable("Echo_Test", "STARTED", started));
    EXPECT_EQ(started, 0.0);
    link_.Advance(10 * axis_->CurrentLoopPeriod_s());
    double out = 0.0;
    ASSERT_TRUE(link_.ReadProgramVariable("echo_test", "out", out));
    EXPECT_EQ(out, 42.0);
    // What the program left in the drive's memory hides what the host wrote before.
    EXPECT_EQ(Read("var_i1"), 21.0);
}

TEST_F(SimulatedDriveLinkTest, LoggerSamplesEveryPeriodWhileTheProgramLogs) {
    const qel::ProgramImage image{"Echo_Test", "main", {{"Periods", 10}}};
    const qel::LogSettings log{20, qel::LogType::CurrentLoop, 2, {"THTST", "STARTED_NOT"}};
    EXPECT_FALSE(link_.DownloadAndStart(image, &log));
    EXPECT_EQ(link_.LastError(), "The drive cannot log \"STARTED_NOT\": it has no such variable.");

    const qel::LogSettings good{20, qel::LogType::CurrentLoop, 2, {"THTST"}};
    ASSERT_TRUE(link_.DownloadAndStart(image, &good)) << link_.LastError();
    link_.Advance(20 * axis_->CurrentLoopPeriod_s());
    std::vector<qel::LoggedPoint> points;
    ASSERT_TRUE(link_.UploadLog(points));
    // Periods 0 to 8 log (the tenth ends the program); every second one is sampled.
    ASSERT_EQ(points.size(), 5u);
    for (std::size_t i = 0; i < points.size(); ++i) {
        ASSERT_EQ(points[i].values.size(), 1u);
        EXPECT_EQ(points[i].values[0], 2.0 * static_cast<double>(i));
        EXPECT_NEAR(points[i].time_s,
                    (2.0 * static_cast<double>(i) + 1) * axis_->CurrentLoopPeriod_s(), 1e-12);
    }
}

struct StartFailureCase {
    std::string label;
    qel::ProgramImage image;
    std::string error;
};

class ProgramStartFailure : public SimulatedDriveLinkTest,
                            public ::testing::WithParamInterface<StartFailureCase> {};

TEST_P(ProgramStartFailure, KeepsTheRunningProgramAndSaysWhy) {
    ASSERT_TRUE(link_.DownloadAndStart({"Echo_Test", "main", {{"Periods", 1000}}}, nullptr));
    EXPECT_FALSE(link_.DownloadAndStart(GetParam().image, nullptr));
    EXPECT_EQ(link_.LastError(), GetParam().error);
    ASSERT_NE(link_.Program(), nullptr);
    EXPECT_TRUE(link_.Program()->IsRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Images, ProgramStartFailure,
    ::testing::Values(StartFailureCase{"UnknownProgram",
                                       {"No_Such_Test", "main", {}},
                                       "The drive has no program \"No_Such_Test\"."},
                      StartFailureCase{
                          "UnknownVariable",
                          {"Echo_Test", "main", {{"Speed", 1}}},
                          "The program \"Echo_Test\" on the drive has no variable \"Speed\"."}),
    ByLabel());

TEST_F(SimulatedDriveLinkTest, InjectedErrorFailsOnceAndOnlyOnTheNamedVariable) {
    link_.InjectError(drive::LinkCall::ReadValue, "Timeout on the serial line.", "MER");
    double value = 0.0;
    EXPECT_TRUE(link_.ReadValue("CER", value));
    EXPECT_FALSE(link_.ReadValue("mer", value));
    EXPECT_EQ(link_.LastError(), "Timeout on the serial line.");
    EXPECT_TRUE(link_.ReadValue("MER", value));
}

// A cable pulled at the first download: what went before works, that download and everything
// after it fails with the same text, and the program never started.
TEST_F(SimulatedDriveLinkTest, BrokenLinkFailsFromItsBreakOnWithOneText) {
    const std::string broken = "The drive does not answer.";
    link_.BreakAt(drive::LinkCall::DownloadAndStart, broken);
    EXPECT_EQ(Read("MER"), 0.0);
    EXPECT_FALSE(link_.IsBroken());
    EXPECT_FALSE(link_.DownloadAndStart({"Echo_Test", "main", {}}, nullptr));
    EXPECT_EQ(link_.Program(), nullptr);
    EXPECT_TRUE(link_.IsBroken());
    link_.PostUnsolicitedMessage({1});
    double value = 0.0;
    bool on = false;
    const std::vector<std::function<bool()>> calls = {
        [&] { return link_.ReadValue("MER", value); },
        [&] { return link_.WriteValue("THTST", 1); },
        [&] { return link_.ReadProgramVariable("Echo_Test", "STARTED", value); },
        [&] { return link_.ReadAxisOn(on); },
        [&] { return link_.ResetBoard(); },
        [&] { return link_.StopProgram(); },
        [&] {
            return link_.DownloadAndStart({"Echo_Test", "main", {}}, nullptr);
        },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_FALSE(calls[i]()) << "call " << i;
        EXPECT_EQ(link_.LastError(), broken) << "call " << i;
    }
    EXPECT_TRUE(link_.TakeUnsolicitedMessages().empty());
}

TEST_F(SimulatedDriveLinkTest, ResetStopsTheProgramAndInitialisesForAWhile) {
    ASSERT_TRUE(link_.DownloadAndStart({"Echo_Test", "main", {{"Periods", 1000}}}, nullptr));
    link_.Advance(0.001);
    bool done = false;
    ASSERT_TRUE(link_.ReadEndOfInitialisation(done));
    EXPECT_TRUE(done);
    ASSERT_TRUE(link_.ResetBoard());
    EXPECT_EQ(link_.Program(), nullptr);
    ASSERT_TRUE(link_.ReadEndOfInitialisation(done));
    EXPECT_FALSE(done);
    link_.Advance(0.06);
    ASSERT_TRUE(link_.ReadEndOfInitialisation(done));
    EXPECT_TRUE(done);
    double value = 0.0;
    EXPECT_FALSE(link_.ReadProgramVariable("Echo_Test", "STARTED", value));
    EXPECT_EQ(link_.LastError(), "The program \"Echo_Test\" is not on the drive.");
}

TEST_F(SimulatedDriveLinkTest, AdvancesWithTheVirtualClockUntilDestroyed) {
    ui::headless::Session session;
    auto other = std::make_unique<drive::SimulatedDriveLink>(*axis_);
    other->AttachToClock(session.Backend());
    link_.AttachToClock(session.Backend());
    other.reset();
    session->AdvanceTime(20);
    // Only the living link advanced the drive, once.
    EXPECT_NEAR(axis_->Time_s(), 0.02, axis_->CurrentLoopPeriod_s());
}

// The analogue reference dialog's view: the program started by name, "AD5" and "MER" read every
// 20 ms while the user turns the potentiometer, and the dialog's own formulas: the voltage over the
// +-10 V input's 20 V and the command over the position span the setup gives, which the
// firmware's own reference agrees with (no dead band, no filter).
TEST_F(SimulatedDriveLinkTest, AnalogueReferenceTestShowsThePotentiometerAsTheDialogReadsIt) {
    ASSERT_TRUE(link_.WriteValue("E_LEVEL_AD5", 0));
    ASSERT_TRUE(link_.WriteValue("FILTER1", 32767));
    ASSERT_TRUE(link_.DownloadAndStart({"Analogue_Reference_Test", "main", {}}, nullptr));
    const double adcMax = 65472.0;
    const double commandMin = setup_->GetParameterValueInInternalUnit("POS_min");
    const double commandMax = setup_->GetParameterValueInInternalUnit("POS_max");
    for (const double input_V : {-10.0, -3.3, 0.0, 4.7, 10.0}) {
        axis_->SetAnalogueInput(input_V);
        link_.Advance(0.02);
        EXPECT_EQ(Read("MER"), 0.0);
        const double ad5 = Read("AD5");
        const double voltage_V = 20.0 * ad5 / adcMax - 10.0;
        // One converter step: 20 V / 1023.
        EXPECT_NEAR(voltage_V, input_V, 20.0 / 1023.0) << input_V << " V";
        const double command = (commandMax - commandMin) * ad5 / adcMax + commandMin;
        EXPECT_NEAR(command, static_cast<double>(axis_->Firmware().AnalogueReference()), 1.0)
            << input_V << " V";
    }
    EXPECT_FALSE(axis_->IsOn());
    EXPECT_TRUE(link_.Program()->IsRunning());
}

// The angle tuning dialog's logger (current-loop periods, every 20th, its two variables) over a
// search with gains the reference motor settles with: the current ramps up to the test current
// and back, and the electric angle starts a quarter turn from its goal and ends on it.
TEST_F(SimulatedDriveLinkTest, AngleTuningLogsTheCurrentAndTheAngleOverTheSearch) {
    ASSERT_TRUE(link_.WriteValue("KPTHT", 29554));  // 230.9: 29554 x 2^8 / 32767
    ASSERT_TRUE(link_.WriteValue("SFTKPTHT", 8));
    ASSERT_TRUE(link_.WriteValue("KITHT", 19455));  // 19: 19455 x 2^5 / 32767
    ASSERT_TRUE(link_.WriteValue("SFTKITHT", 5));
    const double testCurrent = setup_->GetParameterValueInInternalUnit("MAX_CURRENT");
    const qel::ProgramImage image{
        "Angle_Controller_Tuning_Test",
        "main",
        {{"In1", testCurrent}, {"ReferenceIncrement", 40}, {"TimeLimit", 400}}};
    const qel::LogSettings log{
        2000, qel::LogType::CurrentLoop, 20, {"Motor_Current", "Electric_Angle"}};
    ASSERT_TRUE(link_.DownloadAndStart(image, &log)) << link_.LastError();
    link_.Advance(3.0);
    double verdict = 0.0;
    ASSERT_TRUE(link_.ReadProgramVariable("Angle_Controller_Tuning_Test", "test_flag", verdict));
    EXPECT_EQ(verdict, 1.0);
    std::vector<qel::LoggedPoint> points;
    ASSERT_TRUE(link_.UploadLog(points));
    ASSERT_GT(points.size(), 10u);
    EXPECT_NEAR(points.front().values[0], 0.0, testCurrent / 10.0);
    EXPECT_NEAR(points.front().values[1], 0.0, 1820.0);
    double largest = 0.0;
    for (const qel::LoggedPoint& point : points) {
        largest = std::max(largest, point.values[0]);
    }
    EXPECT_NEAR(largest, testCurrent, 64.0);
    EXPECT_NEAR(points.back().values[0], 0.0, testCurrent / 10.0);
    EXPECT_NEAR(points.back().values[1], -16384.0, 1820.0);
}

TEST_F(SimulatedDriveLinkTest, DeliversItsOwnMessagesOnceInOrder) {
    link_.PostUnsolicitedMessage({1, 2});
    link_.PostUnsolicitedMessage({3});
    const std::vector<qel::UnsolicitedMessage> messages = link_.TakeUnsolicitedMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], (qel::UnsolicitedMessage{1, 2}));
    EXPECT_EQ(messages[1], (qel::UnsolicitedMessage{3}));
    EXPECT_TRUE(link_.TakeUnsolicitedMessages().empty());
}

}  // namespace
