#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "drive/MotorModel.h"
#include "host/kernel/MotorDatabase.h"
#include "host/kernel/Setup.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/support/Examples.h"

namespace {

namespace fs = std::filesystem;

const fs::path kShippedDatabase =
    fs::path(BREVAN_SOURCE_DIR) / "resources" / "motors" / "system-motors.json";

// The shipped database, read as the motor editor reads the system database.
qel::MotorDatabaseLoad LoadShippedDatabase() {
    qel::SetMotorDatabaseFiles(kShippedDatabase,
                               fs::path(BREVAN_BINARY_DIR) / "motor-database-test-user.json");
    return qel::LoadMotorDatabase(qel::MotorDatabaseKind::System);
}

// The name the motor of a motor file has in the database: its file name in words,
// "reference-axis-motor.json" as "Reference axis motor".
std::string RecordName(const std::string& fileName) {
    std::string name = fs::path(fileName).stem().string();
    std::replace(name.begin(), name.end(), '-', ' ');
    if (!name.empty()) {
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    }
    return name;
}

// What the motor's data sheet gives a user to type into Motor Setup, in base units and as the
// simulated axes' setups hold it: resistance and inductance of one phase of the motor's own
// connection, the rated and peak currents.
std::map<std::string, double> DataSheetValues(const drive::MotorData& motor) {
    return {
        {"In", motor.ratedCurrent_A},
        {"ImaxM", motor.peakCurrent_A},
        {"MotorPhaseConnectionType", motor.connection == drive::PhaseConnection::Delta ? 1 : 0},
        {"R", motor.phaseResistance_ohm},
        {"L", motor.phaseInductance_H},
        {"K", motor.torqueConstant_Nm_A},
        {"pp", motor.polePairs},
        {"Jm", motor.rotorInertia_kgm2},
        {"No_encoder_lines", motor.encoder.lines},
    };
}

const qel::MotorRecord* FindRecord(const qel::MotorDatabaseLoad& database,
                                   const std::string& name) {
    const auto found =
        std::find_if(database.motors.begin(), database.motors.end(),
                     [&name](const qel::MotorRecord& motor) { return motor.name == name; });
    return found != database.motors.end() ? &*found : nullptr;
}

TEST(SystemMotorDatabase, LoadsWithOneMotorForEachExampleMotorFile) {
    const qel::MotorDatabaseLoad database = LoadShippedDatabase();
    EXPECT_EQ(database.problem, "");
    EXPECT_EQ(database.motors.size(), kExampleMotorFiles.size());
    for (const qel::MotorRecord& motor : database.motors) {
        const bool fromAFile = std::any_of(
            kExampleMotorFiles.begin(), kExampleMotorFiles.end(),
            [&motor](const char* fileName) { return RecordName(fileName) == motor.name; });
        EXPECT_TRUE(fromAFile) << motor.name << " has no motor file in examples/motors";
    }
}

class ShippedMotor : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        motor_ = LoadExampleMotor(GetParam());
        database_ = LoadShippedDatabase();
        ASSERT_EQ(database_.problem, "");
        record_ = FindRecord(database_, RecordName(GetParam()));
        ASSERT_NE(record_, nullptr) << "no motor \"" << RecordName(GetParam()) << "\"";
    }

    drive::MotorData motor_;
    qel::MotorDatabaseLoad database_;
    const qel::MotorRecord* record_ = nullptr;
};

TEST_P(ShippedMotor, HoldsTheDataSheetOfItsMotorFile) {
    EXPECT_EQ(record_->values, DataSheetValues(motor_));
}

// Choosing the motor in Motor Setup gives the reference axis the motor data that the simulated
// axis running this motor is set up with.
TEST_P(ShippedMotor, ChosenOnTheReferenceAxisGivesTheSimulatedAxisMotorData) {
    std::unique_ptr<CQel_Setup> chosen = LoadExample("reference-axis.json");
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(qel::ApplyMotor(*record_, *chosen), std::vector<std::string>{});

    const std::unique_ptr<CQel_Setup> simulated = SetupForMotor(motor_);
    ASSERT_NE(simulated, nullptr);
    // The simulated axes keep the reference axis's currents (their protections are the setup's):
    // the chosen motor's are its data sheet's.
    std::map<std::string, double> chosenValues = qel::MotorFromSetup(*chosen, "").values;
    std::map<std::string, double> simulatedValues = qel::MotorFromSetup(*simulated, "").values;
    for (const char* current : {"In", "ImaxM"}) {
        EXPECT_EQ(chosenValues.at(current), record_->values.at(current)) << current;
        chosenValues.erase(current);
        simulatedValues.erase(current);
    }
    EXPECT_EQ(chosenValues, simulatedValues);
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, ShippedMotor, ::testing::ValuesIn(kExampleMotorFiles),
                         [](const ::testing::TestParamInfo<const char*>& file) {
                             std::string name = fs::path(file.param).stem().string();
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
