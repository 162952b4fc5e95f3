#include "tests/host/ui/qt/QtTestSupport.h"

// The test program's QApplication, made before the first test and destroyed after the last.
[[maybe_unused]] static ::testing::Environment* const kQtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);
