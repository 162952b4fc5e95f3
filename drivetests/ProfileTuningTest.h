#pragma once

// What the speed and the position controller tuning tests share: two pages (the test's current
// limits and profile; the gains with their sliders, the run and its graph), "Tune" from a
// passband, a damping and the total inertia ("Identify" measures it), "Filters", and a run that
// first positions the rotor, then sends the six-segment profile to the drive's test program and
// runs it once or in cycles until Stop, the drive logging the reference, the load's response and
// two more variables, drawn after the run. While a run goes on, changed gains go to the drive at
// once. OK keeps the gains and makes the test's current limits the drive's.
//
// Each test describes itself (its parameters, controls, pictures and texts) and adds its own gain
// registers, design and launch details.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drivetests/LoggedCurves.h"
#include "drivetests/MyTestDlg.h"
#include "drivetests/TestProfile.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Comm.h"
#include "host/kernel/Graph.h"
#include "host/kernel/Loggers.h"
#include "host/kernel/Oscilloscope.h"

class CProfileTuningTest : public CMyTestDlg {
  public:
    // A slider with its edit, unit combo (0: none) and two spin buttons.
    struct SliderBinding {
        const char* name;
        int slider;
        int edit;
        int unit;
        int fineSpin;
        int coarseSpin;
    };
    // A drive register and the engine step that computes it.
    struct RegisterStep {
        const char* name;
        bool (*compute)(CQel_Setup&);
    };
    // A gain and the drive registers it is split into, in the order they are written; some are
    // recomputed only while the motor's inertia is known.
    struct GainRegisters {
        const char* gain;
        std::vector<RegisterStep> registers;
        bool needsKnownInertia = false;
    };
    // What one test is made of.
    struct Description {
        UINT templateId;
        DWORD_PTR helpTopic;
        // The parameters of the run: on-line plot and cycle switches, the reference type, the
        // profile's amplitude (with its edit and unit combo) and its four times.
        const char* onlinePlot;
        const char* multiCycle;
        const char* referenceType;
        const char* amplitude;
        int amplitudeEditId;
        int amplitudeUnitId;
        double (*amplitudeScale)(const CQel_Setup&);
        const char* rise;
        const char* hold;
        const char* back;
        const char* pause;
        profile::Loop loop;
        int identifyId;
        const char* limitsPicture;
        const char* procedure;
        std::vector<int> parametersPage;
        std::vector<int> testPage;
        std::vector<SliderBinding> sliders;
        std::vector<GainRegisters> gains;
        // The controls a run leaves alone unless the plot is on-line (0-terminated).
        const int* liveTuningIds;
        // The on-line plot: the setup option keeping the scope's settings, the name proposed for
        // its files, the statics showing the reference and the response while it runs.
        const char* scopeOption;
        const char* scopeFileName;
        int referenceValueId;
        int responseValueId;
    };

    // loggedVariables: the reference, the response and two more, in the logger's order.
    CProfileTuningTest(CQel_Setup* setup, const Description& description,
                       std::vector<std::string> loggedVariables, CWnd* parent);
    ~CProfileTuningTest() override;
    CProfileTuningTest(const CProfileTuningTest&) = delete;
    CProfileTuningTest& operator=(const CProfileTuningTest&) = delete;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnChangedParameterValue(std::string_view name) override;
    void OnChangedParameterUnit(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;
    void OnContextMenu(CWnd* pWnd, CPoint point) override;
    // A scale request of the scope graph (ui::kGraphScaleRequest) steps that channel's scale.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    static const char* const kProtectionBelowLimit;
    static const char* const kInertiaBelowMotor;
    // printf format: the time the start current is applied, in seconds.
    static const char* const kStartCurrentAboveNominal;
    static const char* const kCurrentProtectionTriggered;
    static const char* const kRunningUntilStop;

    const LoggedCurves& Curves() const { return curves_; }
    // The on-line plot's scope (null without "hasOscilloscope") and its graph, or the
    // oscilloscope fed by reads.
    const CQel_ScopeLogger* Scope() const { return scope_.get(); }
    const CGraphWindow& ScopeGraph() const { return scopeGraph_; }
    const CQel_Oscilloscope& Oscilloscope() const { return oscilloscope_; }

  protected:
    bool MayShowTestPage() override;
    // The test program to run.
    virtual std::string ProgramName() const = 0;
    // Designs the gains and recomputes their registers.
    virtual void DesignGains() = 0;
    // The gain registers Tune sends while a run goes on, in order.
    virtual std::vector<const char*> TunedRegisters() const = 0;
    // What the test sets before its program starts besides the profile; false when the test
    // has failed.
    virtual bool PrepareLaunch() = 0;
    // The test's own control rules, after the shared ones.
    virtual void UpdateOwnControls(bool testPage) = 0;
    // The third and fourth channels are speeds (the position test over a speed loop), else
    // currents.
    virtual bool ThirdChannelsAreSpeeds() const { return false; }

    bool SetupHas(const char* name) const;
    bool OnlinePlot() const;
    bool MultipleCycles() const;
    bool HasScope() const { return scope_ != nullptr; }
    CQel_CoffFormat& Program() { return program_; }

    // A run that succeeded leaves the rotor positioned: the next run on the test page starts
    // with the profile (entering the page again asks for a new positioning).
    bool positioningDone_ = false;

  private:
    void SnapAmplitude();
    void ShowProfilePicture();
    void Tune();
    void Identify();
    void OpenFilters();
    void AfterPositioning();
    void LaunchTest();
    void WaitForSingleRun();
    void WaitForCycles();
    void UploadAndConclude();
    // The program's verdict: true when it is a good one; otherwise the error text says why and,
    // with failNow, the test fails.
    bool TestFlagGood(bool failNow);
    void UpdateInertiaRatio();

    // The on-line plot.
    void InitOnlinePlot();
    void ApplyScopeDefaults();
    // The acquisition for the profile, and the channels' scales (nothing once the user has
    // customised the scope's settings).
    void ResetTimebase();
    void RescaleReferenceChannels();
    void RescaleCurrentChannels();
    void RescaleSpeedChannels();
    void Rescale(const char* parameter, double magnitude, bool centred, const std::string& first,
                 const std::string& second);
    // The scope's or the oscilloscope's part of the launch; the logger the program starts with.
    CQel_Logger* PrepareOnlineLaunch(std::int32_t amplitude);
    void RunWithScope();
    void RunWithReads();
    void BindScopeGraph();
    void OnScopeMenu(UINT id);
    void OnStartStop();
    void ConcludeOnline();
    int TakeScopeFrame(int byteCount, const std::uint8_t* data);
    template <int kTest>
    static int ReceiveUnsolicited(int byteCount, const std::uint8_t* data);
    int TestIndex() const;

    const Description& description_;
    std::vector<std::string> variables_;
    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    LoggedCurves curves_;
    std::unique_ptr<CQel_ScopeLogger> scope_;
    CGraphWindow scopeGraph_;
    CQel_Oscilloscope oscilloscope_;
    bool customised_ = false;
    bool frameReceived_ = false;
    bool paused_ = false;
    CQel_Comm::UnsolicitedMsgHandler previousHandler_ = nullptr;
    // The dialog of each test that has a scope, for the handler of the drive's messages.
    static CProfileTuningTest* scopeDialogs_[2];
    bool positioningRan_ = false;
    // What the positioning left for the test program.
    double reference_ = 0.0;
    double referenceIncrement_ = 0.0;
};
