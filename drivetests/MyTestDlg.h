#pragma once

// The base of every drive test of the module, over the kernel's test dialog: the motion and
// encoder error checks every wait step makes, and the help button.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "drivetests/TestProfile.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Loggers.h"
#include "host/kernel/TestDlg.h"

class CMyTestDlg : public CQel_TestDlg {
  public:
    // The openers pass flag 1 and no parent.
    CMyTestDlg(CQel_Setup* setup, UINT templateId, int flag, CWnd* parent);

    // Reads the drive's motion error register "MER" and looks for the errors the mask selects;
    // 1 when none is set. Otherwise (or when "MER" cannot be read) the error text says which,
    // the test fails when failNow is non-zero, and 0 is returned.
    int CheckMotionErrors(int failNow, std::uint16_t mask);
    // The same with the encoder error register "CER".
    int CheckEncoderErrors(int failNow, std::uint16_t mask);

    // A bit of an error register and the text that tells the user about it.
    struct ErrorBit {
        int bit;
        const char* text;
    };

    // Short circuit only, and short circuit with the ENABLE input.
    static constexpr std::uint16_t kShortCircuitMask = 0x0002;
    static constexpr std::uint16_t kShortCircuitAndEnableMask = 0x8002;
    // The id every help button has.
    static constexpr int kHelpButtonId = 10024;

    // The tuning tests' tab control and its two pages.
    static constexpr int kTabId = 1300;
    static constexpr int kParametersPage = 0;
    static constexpr int kTestPage = 1;

    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    void OnShowWindow(BOOL show, UINT status) override;

  protected:
    // The tuning tests' pages: "Test Parameters" (the test's settings) and "Test" (the gains, the
    // run and its graph). Showing a page shows its controls and hides the other page's. Set in
    // the constructor; InsertPages (in OnInitDialog) makes the tabs.
    void SetPages(std::vector<int> parametersPage, std::vector<int> testPage);
    void InsertPages();
    void ShowPage(int page);
    int GetPage() const { return page_; }
    // Whether the test page may come into view now; a test refuses with its own message box.
    virtual bool MayShowTestPage() { return true; }

    // One poll of a running program in a wait step. Running: it has not started yet or still
    // runs (the caller re-arms its timer); Ended: it has ended without a selected motion error
    // (the caller reads its results); Failed: the test has failed.
    enum class ProgramState { Running, Ended, Failed };
    ProgramState WaitForProgram(CQel_CoffFormat& program, std::uint16_t motionErrorMask);
    // The same poll for a step that only waits: true when the program has ended; while it runs
    // the timer is armed again.
    bool ProgramHasEnded(CQel_CoffFormat& program, std::uint16_t motionErrorMask);
    // Arms the step timer; a timer that cannot be made fails the test with the system's reason.
    void RearmTimer(UINT period_ms = kTickPeriod_ms);

    // The tests poll the drive every 20 ms.
    static constexpr UINT kTickPeriod_ms = 20;
    // The test current's edit box and unit list, where a test shows it.
    static constexpr int kTestCurrentEditId = 1005;
    static constexpr int kTestCurrentUnitId = 1017;

    // The program steps every test shares; each returns false when the test has failed (the error
    // text set as the failure needs).
    // Writes an input variable of the program.
    bool SetProgramVariable(CQel_CoffFormat& program, const char* name, double value);
    bool ReadProgramVariable(CQel_CoffFormat& program, const char* name, double& value);
    // Downloads and starts the program (with the logger, when given).
    bool Launch(const char* programName, CQel_CoffFormat& program,
                CQel_SingleAxisLogger* logger = nullptr);
    // Launches the initial positioning with that current (internal units).
    bool LaunchInitialPositioning(CQel_CoffFormat& program, int current);
    // Checks the current the initial positioning ended with: the program's failure mark or a
    // current of zero or less fail the test.
    bool CheckInitialPositioning(CQel_CoffFormat& program);
    // Takes the logged points from the drive.
    bool Upload(CQel_SingleAxisLogger& logger);
    // Sends registers of the setup to the drive in order, stopping at the first missing or
    // refused one; true when all were taken.
    bool WriteRegistersToDrive(std::initializer_list<const char*> names);
    // The same at the start of a run, whose failure fails the test with the drive's reason.
    bool SendRegisters(std::initializer_list<const char*> names);
    // Writes the reference profile into the test program ("a0" to "a5", "b0" to "b5"), segment
    // by segment; a segment the drive cannot take fails the test with the string table's reason
    // (the segments before it stay written).
    bool SendProfile(CQel_CoffFormat& program, const profile::Segments& segments);

    // The name of the initial positioning program, which several tests run first.
    static constexpr const char* kInitialPositioning = "Initial_Positioning_Test";

    // Opens the host's help file at the topic; nothing when the host has no help file.
    void ShowHelp(DWORD_PTR topic);
    // Reads a drive variable in base or internal units; on failure the error text is set and the
    // test has failed.
    bool ReadDriveVariable(const char* name, bool baseUnit, double& value);

  private:
    // The user picked a tab: the parameters page only while no test runs, either page only when
    // the controls' data are valid; the test page shows the last outcome again.
    void OnPageSelected();

    std::vector<int> pages_[2];
    int page_ = kParametersPage;

    // Reads the error register and looks for the first error of the table the mask selects.
    template <std::size_t N>
    int CheckErrorRegister(const char* registerName, const ErrorBit (&errors)[N], int failNow,
                           std::uint16_t mask);
};
