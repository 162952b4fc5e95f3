#include "drivetests/TestSpeedTuning.h"

#include "engine/BaseScales.h"
#include "engine/Derivation.h"
#include "engine/GainDesign.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 102;
constexpr DWORD_PTR kHelpTopic = 0x40102;

const int kLiveTuningIds[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343, 1345,
                              1346, 1347, 1348, 1349, 1357, 1358, 1359, 1360, 0};
const int kFeedForwardIds[] = {1350, 1351, 1352, 1353, 1354, 1355, 1356, 1357, 1358, 1359, 1360, 0};
const int kSpeedFeedForwardIds[] = {1351, 1352, 1353, 1354, 1355, 0};
const int kLiveValueIds[] = {1363, 1364, 1365, 1366, 3331, 3332, 0};

const CProfileTuningTest::Description& SpeedTest() {
    static const CProfileTuningTest::Description description{
        kTemplateId,
        kHelpTopic,
        "OnlinePlotS",
        "MultiCycleS",
        "SpeedTestReferenceType",
        "TestSpeed",
        1320,
        1321,
        ComputeSpeedScale,
        "TaPS",
        "TPS",
        "TaNS",
        "TNS",
        profile::Loop::Speed,
        3271,
        "308",
        CTestSpeedTuning::kProcedure,
        {10014, 10015, 1301, 3278, 3282, 3284, 3283, 3285, 3287, 3286, 3280, 3281, 3279,
         1305,  1323,  3528, 3529, 3530, 1312, 1319, 1320, 1321, 1326, 1327, 1328, 1313,
         1314,  1315,  1329, 1330, 1331, 1316, 1317, 1318, 1332, 1322, 1376, 1377},
        {1368, 1369, 3510, 1372, 1361, 1362,  1333,  1334, 1335,  1336, 1337,  1338,  1339,
         1340, 1341, 1342, 1343, 1344, 1345,  1346,  1347, 1348,  1349, 1350,  1351,  1352,
         1353, 1354, 1355, 1356, 1357, 1358,  1359,  1360, 1389,  1378, 1379,  1380,  1381,
         1382, 1383, 1384, 1385, 1386, 1387,  1388,  3269, 3270,  3288, 3271,  1390,  3331,
         1363, 1364, 3332, 1365, 1366, 10016, 10017, 1374, 10001, 1375, 10004, 10002, 10000},
        {{"Kp_S_scl", 1337, 1335, 0, 1336, 1338},
         {"Ki_S_scl", 1342, 1340, 0, 1341, 1343},
         {"IPSatS", 1348, 1345, 1346, 1347, 1349},
         {"KFFS_scl", 1354, 1352, 0, 1353, 1355},
         {"KFFA_scl", 1359, 1357, 0, 1358, 1360},
         {"PB_S", 1382, 1379, 1380, 1381, 1383},
         {"Jload_over_J", 1387, 1385, 0, 1386, 1388}},
        {{"Kp_S_scl", {{"SFTKPS", compute::SFTKPS}, {"KPS", compute::KPS}}},
         {"Ki_S_scl", {{"SFTKIS", compute::SFTKIS}, {"KIS", compute::KIS}}},
         {"IPSatS", {{"IMAXS", compute::IMAXS}}},
         {"KFFS_scl",
          {{"SFTSFFW", compute::SFTSFFW}, {"KFFS", compute::KFFS}, {"KFFA", compute::KFFA}}},
         {"KFFA_scl",
          {{"SFTAFFW", compute::SFTAFFW}, {"SFTKFF", compute::SFTKFF}, {"KFFA", compute::KFFA}},
          true}},
        kLiveTuningIds,
        "SpeedTuningOscSettings",
        "SpeedTuning",
        1364,
        1366};
    return description;
}

}  // namespace

const char* const CTestSpeedTuning::kProcedure =
    "1. Check/setup the test current limits and speed profile below\r\n2. Go to the \"Test\" tab "
    "and press the \"Tune\" button\r\n3. Check/identify the total inertia, then set the desired "
    "passband and tune the controller\r\n4. Press the \"Start\" button\r\n5. Wait until the test "
    "begins and displays the results\r\n6. If needed, change the controller parameters during the "
    "test, until you get satisfactory results";

CTestSpeedTuning::CTestSpeedTuning(CQel_Setup* setup, CWnd* parent)
    : CProfileTuningTest(setup, SpeedTest(),
                         {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"},
                         parent) {}

std::string CTestSpeedTuning::ProgramName() const {
    return "Speed_Controller_Tuning_Test";
}

void CTestSpeedTuning::DesignGains() {
    CQel_Setup& setup = *GetSetup();
    DesignSpeedController(setup);
    compute::SFTKPS(setup);
    compute::KPS(setup);
    compute::SFTKIS(setup);
    compute::KIS(setup);
    // The gains shown are the ones the registers hold.
    derive::Ki_S_scl(setup);
    derive::Kp_S_scl(setup);
}

std::vector<const char*> CTestSpeedTuning::TunedRegisters() const {
    return {"SFTKPS", "KPS", "SFTKIS", "KIS"};
}

bool CTestSpeedTuning::PrepareLaunch() {
    return SetProgramVariable(Program(), "IlimPS_Test",
                              GetSetup()->GetParameterValueInInternalUnit("TestLimitCurrent"));
}

void CTestSpeedTuning::UpdateOwnControls(bool testPage) {
    const CQel_Setup& setup = *GetSetup();
    if (GetWindowState() == nullptr) {
        return;
    }
    ShowChildren(kLiveValueIds, testPage && running_ && OnlinePlot() && !HasScope() ? 1 : 0);
    if (SetupHas("SpeedForward")) {
        QuietLookups quiet;
        const bool feedForward = setup.GetParameterValueInInternalUnit("ControlMode") == 1.0 &&
                                 setup.GetParameterValueInInternalUnit("PosSpd_in_FastLoop") == 0.0;
        EnableChildren(kFeedForwardIds, feedForward ? 1 : 0, 0);
    } else {
        ShowChildren(kFeedForwardIds, testPage ? 1 : 0);
        if (testPage) {
            EnableChildren(kSpeedFeedForwardIds, 0, 0);
        }
    }
}
