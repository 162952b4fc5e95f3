#include "drivetests/TestPositionTuning.h"

#include <cmath>

#include "engine/BaseScales.h"
#include "engine/Derivation.h"
#include "engine/GainDesign.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 103;
constexpr DWORD_PTR kHelpTopic = 0x40103;

constexpr int kFilterEditId = 1513;
constexpr int kSpeedLimitEditId = 1043;
constexpr int kSpeedLimitUnitId = 1044;
// Position control type 1: the position loop acts on the speed loop.
constexpr double kOverSpeedLoop = 1.0;

const int kLiveTuningIds[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343, 1508,
                              1509, 1510, 1511, 1345, 1346, 1347, 1348, 1349, 1352,
                              1353, 1354, 1355, 1357, 1358, 1359, 1360, 0};
const int kSpeedLimitIds[] = {3407, 1101, 1043, 1044, 0};
const int kSpeedFeedForwardIds[] = {1351, 1352, 1353, 1354, 1355, 0};
const int kAccelerationFeedForwardIds[] = {1356, 1357, 1358, 1359, 1360, 0};
constexpr int kFeedForwardGroupId = 1350;
const int kLiveValueIds[] = {1517, 1518, 1519, 1520, 3331, 3332, 0};

const CProfileTuningTest::Description& PositionTest() {
    static const CProfileTuningTest::Description description{
        kTemplateId,
        kHelpTopic,
        "OnlinePlotP",
        "MultiCycleP",
        "PositionTestReferenceType",
        "TestPosition",
        1501,
        1502,
        ComputePositionScale,
        "TaPP",
        "TPP",
        "TaNP",
        "TNP",
        profile::Loop::Position,
        3305,
        "309",
        CTestPositionTuning::kProcedure,
        {10014, 10015, 1301, 3278, 3282, 3284, 3283, 3285, 3287, 3286, 3280, 3281, 3279, 1305,
         1323,  3528,  3529, 3530, 3407, 1101, 1043, 1044, 1312, 1500, 1501, 1502, 1326, 1327,
         1328,  1313,  1314, 1315, 1329, 1330, 1331, 1316, 1317, 1318, 1332, 1322, 1376, 1377},
        {1368, 1369, 3510, 1372, 1361,  1362,  1333, 1334,  1335, 1336,  1337,  1338,
         1339, 1340, 1341, 1342, 1343,  1507,  1508, 1509,  1510, 1511,  1512,  1513,
         1344, 1345, 1346, 1347, 1348,  1349,  1350, 1351,  1352, 1353,  1354,  1355,
         1356, 1357, 1358, 1359, 1360,  1389,  1378, 1379,  1380, 1381,  1382,  1383,
         1384, 1385, 1386, 1387, 1388,  3269,  3270, 3288,  3305, 1390,  3331,  1517,
         1518, 3332, 1519, 1520, 10016, 10017, 1374, 10001, 1375, 10004, 10002, 10000},
        {{"Kp_P_scl", 1337, 1335, 0, 1336, 1338},
         {"Ki_P_scl", 1342, 1340, 0, 1341, 1343},
         {"Kd_P_scl", 1510, 1508, 0, 1509, 1511},
         {"IPSatP", 1348, 1345, 1346, 1347, 1349},
         {"KFFS_scl", 1354, 1352, 0, 1353, 1355},
         {"KFFA_scl", 1359, 1357, 0, 1358, 1360},
         {"PB_P", 1382, 1379, 1380, 1381, 1383},
         {"Jload_over_J", 1387, 1385, 0, 1386, 1388}},
        {{"Kp_P_scl", {{"SFTKPP", compute::SFTKPP}, {"KPP", compute::KPP}}},
         {"Ki_P_scl", {{"SFTKIP", compute::SFTKIP}, {"KIP", compute::KIP}}},
         {"Kd_P_scl", {{"SFTKDP", compute::SFTKDP}, {"KDP", compute::KDP}}},
         {"filter_D", {{"KDFP", compute::KDFP}}},
         {"IPSatP", {{"IMAXP", compute::IMAXP}}},
         {"KFFS_scl",
          {{"SFTSFFW", compute::SFTSFFW}, {"KFFS", compute::KFFS}, {"KFFA", compute::KFFA}}},
         {"KFFA_scl",
          {{"SFTAFFW", compute::SFTAFFW}, {"SFTKFF", compute::SFTKFF}, {"KFFA", compute::KFFA}}}},
        kLiveTuningIds,
        "PositionTuningOscSettings",
        "PositionTuning",
        1518,
        1520};
    return description;
}

bool OverSpeedLoopIn(const CQel_Setup& setup) {
    return setup.GetParameterValueInInternalUnit("PositionControlType") == kOverSpeedLoop;
}

std::vector<std::string> LoggedFor(const CQel_Setup& setup) {
    if (OverSpeedLoopIn(setup)) {
        return {"Target_Position", "Load_Position", "Speed_Reference", "Load_Speed"};
    }
    return {"Target_Position", "Load_Position", "Current_Reference", "Motor_Current"};
}

}  // namespace

const char* const CTestPositionTuning::kProcedure =
    "1. Check/setup the test current limits and position profile below\r\n2. Go to the \"Test\" "
    "tab and press the \"Tune\" button\r\n3. Check/identify the total inertia, then set the "
    "desired passband and tune the controller\r\n4. Press the \"Start\" button\r\n5. Wait until "
    "the test begins and displays the results\r\n6. If needed, change the controller parameters "
    "during the test, until you get satisfactory results";

CTestPositionTuning::CTestPositionTuning(CQel_Setup* setup, CWnd* parent)
    : CProfileTuningTest(setup, PositionTest(), LoggedFor(*setup), parent) {
    AddParameterControls("filter_D", kFilterEditId, 0);
    if (OverSpeedLoop()) {
        AddParameterControls("Limit_Speed", kSpeedLimitEditId, kSpeedLimitUnitId);
    }
}

bool CTestPositionTuning::OverSpeedLoop() const {
    return OverSpeedLoopIn(*GetSetup());
}

std::string CTestPositionTuning::ProgramName() const {
    return OverSpeedLoop() ? "Position_Controller_Tuning_Test_with_SpdCtrl"
                           : "Position_Controller_Tuning_Test_without_SpdCtrl";
}

void CTestPositionTuning::DesignGains() {
    CQel_Setup& setup = *GetSetup();
    DesignPositionController(setup);
    for (auto step : {compute::SFTKPP, compute::KPP, compute::SFTKIP, compute::KIP, compute::SFTKDP,
                      compute::KDP}) {
        step(setup);
    }
    // The gains shown are the ones the registers hold.
    derive::Ki_P_scl(setup);
    derive::Kp_P_scl(setup);
    derive::Kd_P_scl(setup);
}

std::vector<const char*> CTestPositionTuning::TunedRegisters() const {
    return {"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"};
}

bool CTestPositionTuning::PrepareLaunch() {
    CQel_Setup& setup = *GetSetup();
    // The test's current limit is the drive's for the run.
    setup.SetParameterValueInBaseUnit("IlimPS",
                                      setup.GetParameterValueInBaseUnit("TestLimitCurrent"));
    if (OverSpeedLoop()) {
        // Over a speed loop the limit acts through the speed loop's saturations.
        compute::IMAXS(setup);
        compute::SATS(setup);
        compute::SATP(setup);
        return SetProgramVariable(Program(), "LimitSpeed_Test",
                                  std::trunc(setup.GetParameterValueInInternalUnit("Limit_Speed")));
    }
    return SetProgramVariable(Program(), "IlimPS_Test",
                              setup.GetParameterValueInInternalUnit("TestLimitCurrent"));
}

void CTestPositionTuning::UpdateOwnControls(bool testPage) {
    const CQel_Setup& setup = *GetSetup();
    QuietLookups quiet;
    const double controlMode = setup.GetParameterValueInInternalUnit("ControlMode");
    const double controlType = setup.GetParameterValueInInternalUnit("PositionControlType");
    const double fastLoop = setup.GetParameterValueInInternalUnit("PosSpd_in_FastLoop");
    const bool positionMode = controlMode == 0.0;
    EnableChildren(kSpeedLimitIds, positionMode && controlType == kOverSpeedLoop ? 1 : 0, 0);
    ShowChildren(kLiveValueIds, testPage && running_ && OnlinePlot() && !HasScope() ? 1 : 0);
    if (SetupHas("SpeedForward")) {
        const bool feedForward =
            fastLoop == 0.0 && positionMode && (controlType == 0.0 || controlType == 1.0);
        EnableChild(kFeedForwardGroupId, feedForward ? 1 : 0, 0);
        EnableChildren(kSpeedFeedForwardIds, feedForward ? 1 : 0, 0);
        EnableChildren(kAccelerationFeedForwardIds, feedForward ? 1 : 0, 0);
    } else {
        EnableChildren(kSpeedFeedForwardIds, positionMode && controlType == kOverSpeedLoop ? 1 : 0,
                       0);
        EnableChildren(kAccelerationFeedForwardIds,
                       positionMode && controlType != kOverSpeedLoop && fastLoop == 1.0 ? 0 : 1, 0);
    }
}

bool CTestPositionTuning::ThirdChannelsAreSpeeds() const {
    return OverSpeedLoop();
}
