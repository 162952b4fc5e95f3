#pragma once

// The kernel's test dialog: a parameter-bound dialog that runs a test program on the drive. The
// test's own class sets the step count in its constructor, starts its program in BeginTest and
// drives its steps from window timer 1; the kernel gives it the program calls, the status and
// result display, Start/Stop, and keeps or drops what the test wrote to the setup.
//
//   void CTestVdcDetection::BeginTest() {
//       running_ = 1; result_ = -1; currentStep_ = 0;
//       SetInfoText(kSteps[0]);
//       if (!ExecuteCode("VDC_Detection_Test", &program_, nullptr, nullptr, nullptr)) {
//           errorText_ = msc_pszErrInternal;
//           TestFailed(1);
//           return;
//       }
//       SetInfoText(kSteps[1]);
//       SetTimer(1, 20);
//   }
//
// Start (10000) calls BeginTest when no test runs. While one runs the button reads "Stop": with
// the continuous-run flag 0 it ends the run at once (the program on the drive is stopped and the
// ticks that follow do nothing); with the flag 1 it only sets the stop request, and the test
// concludes itself. Close ends a running test the same way before the dialog closes.
//
// What the dialog run keeps: when DoModal ends with IDOK the setup keeps every value the test
// wrote; when it ends otherwise every parameter is put back as it was when the dialog opened.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/CoffFormat.h"
#include "host/kernel/EditSetupDlg.h"

class CQel_Logger;

class CQel_TestDlg : public CQel_EditSetupDlg {
  public:
    CQel_TestDlg(CQel_Setup* setup, UINT templateId, int flag, CWnd* parent);
    ~CQel_TestDlg() override;

    // A launch, a program variable or a drive variable that failed where nothing else explains
    // it, and a preliminary test that found no usable current.
    static const char* const msc_pszErrInternal;
    static const char* const msc_pszErrInZero;

    // The controls every test dialog's template has.
    static constexpr int kStartStopId = 10000;
    static constexpr int kStatusTextId = 10001;
    static constexpr int kResultTextId = 10002;
    static constexpr int kDetailsId = 10003;
    static constexpr int kResultIconId = 10004;
    // The timer the tests step on.
    static constexpr UINT_PTR kTestTimerId = 1;
    // The bitmaps kResultIconId shows after a run that succeeded or failed.
    static constexpr std::string_view kPassedIcon = "TEST_PASSED";
    static constexpr std::string_view kFailedIcon = "TEST_FAILED";

    // Starts the test; called by Start. The base only marks the run as started.
    virtual void BeginTest();
    // The Start/Stop button's handling.
    void OnBtnStartStop();

    // Shows the status text and counts one step more.
    void SetInfoText(std::string_view text);
    // Concludes the run: no longer running; succeeded sets the result state to 1, failed to 0.
    // The result line and icon say how it ended (a failure: the error text, with the Details
    // button for the whole story). show non-zero announces a run that has just ended (a failed
    // one also stops its program on the drive); 0 shows the last outcome again, as a dialog does
    // when the page holding the result comes back into view.
    void TestSucceeded(int show);
    void TestFailed(int show);

    // The program calls of a test; 0 on failure. The variable calls write the reason into
    // errorText; the others leave the reason to CQel_Comm::GetLastErrorText.
    static std::string GetOutPathName(std::string_view programName);
    int SetUserVariableValue(CQel_CoffFormat& program, std::string_view name, double value,
                             std::string& errorText);
    int GetUserVariableValue(CQel_CoffFormat& program, std::string_view name, double& value,
                             std::string& errorText);
    int ExecuteCode(std::string_view programName, CQel_CoffFormat* program, CQel_Logger* logger,
                    CQel_CoffFormat::ProgressCallback callback, void* data);
    int GetAxisOn(int& on);
    int GetEndInit(int& done);
    // Resets the drive's board.
    int Reset();

    INT_PTR DoModal() override;

    // The state of the run, for the test classes and for tests of them.
    int IsRunning() const { return running_; }
    int GetResultState() const { return result_; }
    const std::string& GetErrorText() const { return errorText_; }
    std::uint16_t GetCurrentStep() const { return currentStep_; }

  protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;
    // The ordinary close: ends a running test, then closes with IDCANCEL.
    void OnCancel() override;

    int running_ = 0;
    int result_ = -1;
    std::string errorText_;
    std::uint16_t stepCount_ = 0;
    std::uint16_t currentStep_ = 0;
    int continuousRun_ = 0;
    int stopRequest_ = 0;

  private:
    // Ends a run the user stopped: the timer, the program on the drive, the display.
    void EndRunByUser();
    void ShowRunning(bool running);
    // The picture kResultIconId shows the outcome; an empty name clears it.
    void ShowResultIcon(std::string_view bitmapName);

    void ShowDetails();

    std::string lastStatus_;
};
