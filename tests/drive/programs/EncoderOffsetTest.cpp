#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <optional>
#include <ostream>

#include "tests/drive/CaseLabel.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/drive/programs/ProgramRun.h"

// The offset program aligns the rotor on phase A and stores the absolute encoder's position there;
// the module assembles the offset from the two 16-bit words.
namespace {

// The module's assembly of the offset from the words the program leaves.
std::int32_t AssembleOffset(double low, double high) {
    constexpr std::int64_t kWordMask = 0xFFFF;
    constexpr std::int64_t kWord = 65536;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(high) * kWord +
                                     (static_cast<std::int64_t>(low) & kWordMask));
}

// The counts between the offset found and the nearest true one: the encoder's position at a
// shaft angle where the rotor's d axis lies on phase A (one per pole pair).
std::int64_t CountsFromTrueOffset(const drive::SimulatedDrive& drive, int polePairs,
                                  std::int64_t offset) {
    const std::int64_t turn = drive.Encoder().CountsPerTurn();
    std::int64_t nearest = turn;
    for (int pair = 0; pair < polePairs; ++pair) {
        const double angle_rad = 2.0 * std::numbers::pi * pair / polePairs;
        const std::int64_t truth = *drive.Encoder().ReadAbsolutePosition(angle_rad);
        const std::int64_t apart = ((offset - truth) % turn + turn) % turn;
        nearest = std::min({nearest, apart, turn - apart});
    }
    return nearest;
}

struct OffsetCase {
    const char* label;
    const char* motorFile;
    bool linkBroken;
    double startAngle_rad;
    friend std::ostream& operator<<(std::ostream& out, const OffsetCase& row) {
        return out << row.label;
    }
};

class EncoderOffset : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(EncoderOffset, StoredOffsetIsThePositionOfPhaseAWithinACount) {
    const OffsetCase& row = GetParam();
    drive::MotorData motor = LoadExampleMotor(row.motorFile);
    motor.encoder.absolute = true;
    // Coulomb friction stops the rotor anywhere within its band around phase A: the count is
    // exact only without it.
    motor.coulombFriction_Nm = 0.0;
    motor.viscousFriction_Nms_rad = 0.0;
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = DriveFromSetup(*setup, motor);
    drive->SetEncoderLinkBroken(row.linkBroken);
    drive->Motor().SetShaftState(row.startAngle_rad, 0.0);
    const auto current = std::trunc(setup->GetParameterValueInInternalUnit("TestCurrent"));

    const ProgramRun positioning =
        RunProgram(*drive, "Initial_Positioning_Test", {{"In1", current}});
    const ProgramRun run =
        RunProgram(*drive, "Encoder_Offset_Zero_And_A_Detection_Test",
                   {{"RefTest", *positioning.program->GetDriveVariable("REFTST_V")},
                    {"RIncTest", *positioning.program->GetDriveVariable("RINCTST_V")}});

    const std::int32_t offset = AssembleOffset(*run.program->GetDriveVariable("ENDAT_DATA1"),
                                               *run.program->GetDriveVariable("ENDAT_DATA2"));
    const bool writeFailed =
        (drive->Firmware().EncoderErrors() & (1u << drive::cer::kOffsetWriteBit)) != 0;
    EXPECT_EQ(writeFailed, row.linkBroken);
    if (row.linkBroken) {
        EXPECT_EQ(offset, 0);
        return;
    }
    EXPECT_LE(CountsFromTrueOffset(*drive, motor.polePairs, offset), 1);
    EXPECT_EQ(drive->ReadEncoderOffset(), std::optional<std::int64_t>(offset));
}

INSTANTIATE_TEST_SUITE_P(
    ExampleMotors, EncoderOffset,
    ::testing::Values(OffsetCase{"ReferenceMotor", "reference-axis-motor.json", false, 1.0},
                      OffsetCase{"LargeMotor", "large-motor.json", false, -2.1},
                      OffsetCase{"SmallDeltaMotor", "small-delta-motor.json", false, 0.3},
                      OffsetCase{"BrokenLink", "reference-axis-motor.json", true, 1.0}),
    ByLabel{});

}  // namespace
