#include "dialogs/DriveTestRunners.h"

#include <map>

namespace {

std::map<DriveTest, DriveTestRunner>& Runners() {
    static std::map<DriveTest, DriveTestRunner> runners;
    return runners;
}

}  // namespace

void RegisterDriveTest(DriveTest test, DriveTestRunner runner) {
    Runners()[test] = std::move(runner);
}

const DriveTestRunner& FindDriveTest(DriveTest test) {
    static const DriveTestRunner kNone;
    const auto found = Runners().find(test);
    return found != Runners().end() ? found->second : kNone;
}

namespace {

ResolutionTestRunner& ResolutionRunner() {
    static ResolutionTestRunner runner;
    return runner;
}

}  // namespace

void RegisterResolutionTest(ResolutionTestRunner runner) {
    ResolutionRunner() = std::move(runner);
}

const ResolutionTestRunner& FindResolutionTest() {
    return ResolutionRunner();
}
