#include <memory>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

// The six-segment reference as the speed reference.
std::unique_ptr<TestProgram> MakeSpeedTuningTest() {
    return std::make_unique<program_parts::ProfileProgram>("Speed_Controller_Tuning_Test",
                                                           LoopMode::Speed);
}

}  // namespace drive
