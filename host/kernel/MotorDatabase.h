#pragma once

// Motor databases: named sets of motor data, as JSON files. The system database is read-only;
// the user database can be written (save, replace, delete). Choosing a motor writes its values
// into the setup's motor parameters (base units). The file format is in docs/motor-database.md.
//
//   qel::SetMotorDatabaseFiles("/opt/host/motors/system.json", "~/.local/brevan/user.json");
//   qel::MotorDatabaseLoad db = qel::LoadMotorDatabase(qel::MotorDatabaseKind::User);
//   qel::ApplyMotor(db.motors[0], setup);

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class CQel_Setup;

namespace qel {

enum class MotorDatabaseKind {
    System,
    User,
};

struct MotorRecord {
    std::string name;
    std::map<std::string, double> values;  // motor parameter name to base-unit value
};

struct MotorDatabaseLoad {
    std::vector<MotorRecord> motors;  // sorted by name
    std::string problem;              // empty when the file was read (or does not exist yet)
};

// The motor parameters a motor record holds (names as the setup spells them).
const std::vector<std::string>& MotorParameterNames();

void SetMotorDatabaseFiles(std::filesystem::path systemFile, std::filesystem::path userFile);
std::filesystem::path GetMotorDatabaseFile(MotorDatabaseKind kind);

// A database file that does not exist is an empty database.
MotorDatabaseLoad LoadMotorDatabase(MotorDatabaseKind kind);
MotorDatabaseLoad ParseMotorDatabase(std::string_view jsonText, std::string_view fileName);

// The motor data of the setup (the motor parameters it holds), under that name.
MotorRecord MotorFromSetup(const CQel_Setup& setup, std::string name);

// Writes the motor's values into the setup. Returns the names whose value the setup's range
// limited (the parameter then holds the nearest value its range admits).
std::vector<std::string> ApplyMotor(const MotorRecord& motor, CQel_Setup& setup);

// Adds the motor to the user database, replacing one of the same name (names compared without
// regard to letter case). Returns an empty text on success, else why it failed.
std::string SaveUserMotor(const MotorRecord& motor);
// Removes the motor of that name from the user database; the same result convention.
std::string DeleteUserMotor(std::string_view name);

}  // namespace qel
