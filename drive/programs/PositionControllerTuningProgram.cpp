#include <memory>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

// The six-segment reference as the position reference, from where the rotor stands; the two
// programs differ by their name only, the firmware's ACR deciding whether a speed loop runs
// under the position loop.
std::unique_ptr<TestProgram> MakePositionTuningTest(bool withSpeedLoop) {
    return std::make_unique<program_parts::ProfileProgram>(
        withSpeedLoop ? "Position_Controller_Tuning_Test_with_SpdCtrl"
                      : "Position_Controller_Tuning_Test_without_SpdCtrl",
        LoopMode::Position);
}

}  // namespace drive
