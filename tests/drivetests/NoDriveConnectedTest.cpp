#include <gtest/gtest.h>

#include <memory>

#include "drivetests/TestVdcDetection.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Comm.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/TestDlg.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

namespace {

using ui::headless::DialogDriver;

// A host with no drive behind it (brevan edit without --motor): Start fails at once and says why,
// and Close asks nothing and leaves the setup.
TEST(NoDriveConnected, StartFailsAtOnceWithTheCommunicationText) {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
    qel::SetGUIDirectory("");
    qel::SetHelpFileOfGUI("");
    CQel_CoffFormat::SetProgramsDirectory(BREVAN_SOURCE_DIR "/drive/programs/images");
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    CQel_Comm::Connect(*setup, nullptr);
    const CollectedErrors errors;
    ui::headless::Session ui;
    CTestVdcDetection test(setup.get(), nullptr);
    ui->When(105, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), "No drive is connected.");
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "No drive is connected.");
        EXPECT_TRUE(d.IsVisible(CQel_TestDlg::kDetailsId));
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Start");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui->MessageBoxes().empty());
    EXPECT_TRUE(ui->Failures().empty());
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 48.0);
}

}  // namespace
