// brevan edit as a person runs it, on a virtual X display: the Drive Setup window comes up with
// Motor Setup over it; xdotool clicks into the pole pairs field, types a new value and presses
// OK in Motor Setup, then OK in Drive Setup; the program ends with 0 and the saved file holds
// the new value. On a simulated drive (--motor), the resistance and inductance test runs from
// Motor Setup on the wall clock and its values, kept with Yes, are saved; the speed controller's
// tuning test, opened from Drive Setup, designs the gains with Tune, runs, saves its plots through
// the save-file dialog and keeps the gains with OK. Xvfb picks a free display itself
// (-displayfd) and is always stopped; every wait is bounded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QStyle>
#include <QStyleFactory>
#include <QTabBar>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/ui/DialogTemplate.h"
#include "host/ui/qt/DialogMetrics.h"
#include "tests/host/ui/qt/WindowPixels.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kMotorSetup = 108;
constexpr int kDriveSetup = 106;
constexpr int kPolePairsEdit = 1165;
constexpr int kResistanceInductanceButton = 1177;
constexpr int kResistanceInductanceTest = 290;
constexpr int kTuneSpeedButton = 3178;
constexpr int kSpeedTuningTest = 102;
// The speed tuning test's pages (a tab strip), its design button and its plots' save button.
constexpr int kPageTabs = 1300;
constexpr int kTestPageIndex = 1;
constexpr int kTuneButton = 1390;
constexpr int kSavePlotsButton = 1372;
// The button that offers a failed run's details; shown only after a failure.
constexpr int kDetailsButton = 10003;
// The test dialogs' Start button and the line that says how the run ended.
constexpr int kStartButton = 10000;
constexpr int kResultText = 10002;
// How long any one step may take before the test gives up on it.
constexpr int kStepTimeout_ms = 20000;
// How long a test run on the wall clock may take before the test gives up on it.
constexpr int kRunTimeout_ms = 60000;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Qt needs a moment after a window is mapped before it takes input.
constexpr auto kSettle = std::chrono::milliseconds(300);
// The child closes the descriptors it inherits below this one (other than the one it keeps).
constexpr int kHighestInheritedFd = 256;
// The shell's status for a program that could not be started.
constexpr int kExecFailed = 127;
// The pixels at a control's edges that reading what it shows leaves out.
constexpr int kEdge_px = 3;
// The style the desktop backend gives every window.
constexpr const char* kBackendStyle = "Fusion";

std::optional<fs::path> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

// The environment of this process with the display changed: the child talks to X, not to Qt's
// offscreen platform.
std::vector<std::string> DesktopEnvironment(const std::string& display) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (!variable.starts_with("DISPLAY=") && !variable.starts_with("WAYLAND_DISPLAY=") &&
            !variable.starts_with("QT_QPA_PLATFORM=")) {
            variables.push_back(variable);
        }
    }
    variables.push_back("DISPLAY=" + display);
    return variables;
}

// A child process, stopped (if still running) when the object goes.
class Child {
  public:
    // Starts the program; its standard output goes into a pipe the caller reads (or a file), and
    // the descriptor keepOpen stays open in the child.
    Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
          const fs::path& output, int keepOpen = -1) {
        // Everything the child needs is made before the fork: after it, only system calls.
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& variable : environment) {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        envp.push_back(nullptr);
        int pipeFds[2] = {-1, -1};
        if (output.empty() && ::pipe(pipeFds) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = output.empty()
                                ? pipeFds[1]
                                : ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            if (!output.empty()) {
                ::dup2(out, STDERR_FILENO);
            }
            for (int fd = 3; fd < kHighestInheritedFd; ++fd) {
                if (fd != keepOpen) {
                    ::close(fd);
                }
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(kExecFailed);
        }
        if (output.empty()) {
            ::close(pipeFds[1]);
            output_ = pipeFds[0];
        }
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) {
            ::close(output_);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }

    // The exit status once the child has ended within the time, else nothing.
    std::optional<int> Wait(int timeout_ms) {
        QElapsedTimer clock;
        clock.start();
        while (!status_) {
            int status = 0;
            const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
            if (ended == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            } else if (clock.elapsed() > timeout_ms) {
                return std::nullopt;
            } else {
                std::this_thread::sleep_for(kPollInterval);
            }
        }
        return status_;
    }

    // What the child wrote until it ended (or the time ran out).
    std::string ReadAll(int timeout_ms) {
        std::string text;
        QElapsedTimer clock;
        clock.start();
        char buffer[256];
        while (clock.elapsed() < timeout_ms) {
            pollfd ready{output_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(kPollInterval.count())) <= 0) {
                continue;
            }
            const ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::optional<int> status_;
};

class DesktopEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        xvfb_ = FindProgram("Xvfb");
        xdotool_ = FindProgram("xdotool");
        if (!xvfb_ || !xdotool_) {
            GTEST_SKIP() << "Xvfb and xdotool are needed (scripts/install-deps installs them)";
        }
        folder_ = fs::temp_directory_path() / ("brevan-desktop-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
    }
    void TearDown() override {
        xvfbProcess_.reset();
        if (!folder_.empty()) {
            fs::remove_all(folder_);
        }
    }

    // Runs xdotool with the arguments on the display; its output, or nothing when it failed.
    std::optional<std::string> Xdotool(const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {xdotool_->string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        Child tool(command, environment_, {});
        const std::string output = tool.ReadAll(kStepTimeout_ms);
        const std::optional<int> status = tool.Wait(kStepTimeout_ms);
        if (!status || *status != 0) {
            return std::nullopt;
        }
        return output;
    }

    // The window with that title, once it is shown.
    std::string WaitForWindow(const std::string& title) {
        const std::optional<std::string> found =
            Xdotool({"search", "--sync", "--onlyvisible", "--name", title});
        std::this_thread::sleep_for(kSettle);
        return found ? found->substr(0, found->find('\n')) : std::string();
    }

    bool WaitUntilGone(const std::string& title) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kStepTimeout_ms) {
            if (!Xdotool({"search", "--onlyvisible", "--name", title})) {
                return true;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return false;
    }

    // A click in the middle of a control of a dialog's window, where the backend places it.
    bool ClickControl(const std::string& window, int templateId, int controlId) {
        const std::optional<QRect> area = ControlRect(templateId, controlId);
        if (!area) {
            return false;
        }
        const QPoint centre = area->center();
        return Xdotool({"mousemove", "--window", window, std::to_string(centre.x()),
                        std::to_string(centre.y()), "click", "1"})
            .has_value();
    }

    // A click on a tab of a dialog's tab strip. The strip lays its tabs out by their texts: a
    // strip like the backend's (its style and the dialog font, at the control's place) says
    // where the tab lies across; the click goes to the middle of the strip's height.
    bool ClickTab(const std::string& window, int templateId, int controlId,
                  const std::vector<QString>& texts, int index) {
        const std::optional<QRect> area = ControlRect(templateId, controlId);
        const std::unique_ptr<QStyle> style(QStyleFactory::create(kBackendStyle));
        if (!area || !style || index < 0 || index >= static_cast<int>(texts.size())) {
            return false;
        }
        QTabBar strip;
        strip.setStyle(style.get());
        strip.setFont(metrics_.Font());
        strip.setGeometry(*area);
        for (const QString& text : texts) {
            strip.addTab(text);
        }
        const QRect tab = strip.tabRect(index);
        if (tab.isEmpty()) {
            return false;
        }
        const int x = area->x() + tab.center().x();
        const int y = area->center().y();
        return Xdotool({"mousemove", "--window", window, std::to_string(x), std::to_string(y),
                        "click", "1"})
            .has_value();
    }

    // Starts Xvfb on a display it picks; the display's number, empty when none came up.
    std::string StartDisplay() {
        int displayPipe[2] = {-1, -1};
        if (::pipe(displayPipe) != 0) {
            return {};
        }
        xvfbProcess_ = std::make_unique<Child>(
            std::vector<std::string>{xvfb_->string(), "-displayfd", std::to_string(displayPipe[1]),
                                     "-screen", "0", "1600x1200x24", "-nolisten", "tcp"},
            DesktopEnvironment(""), folder_ / "xvfb.log", displayPipe[1]);
        ::close(displayPipe[1]);
        std::string display;
        QElapsedTimer clock;
        clock.start();
        char c = 0;
        while (xvfbProcess_->Started() && clock.elapsed() < kStepTimeout_ms) {
            pollfd ready{displayPipe[0], POLLIN, 0};
            if (::poll(&ready, 1, 50) > 0 && ::read(displayPipe[0], &c, 1) == 1 && c != '\n') {
                display += c;
            } else if (!display.empty()) {
                break;
            }
        }
        ::close(displayPipe[0]);
        if (!display.empty()) {
            display_ = ":" + display;
            environment_ = DesktopEnvironment(display_);
        }
        return display;
    }

    // brevan edit with the arguments on the display; its output goes to brevan.log.
    std::unique_ptr<Child> StartBrevanEdit(const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {BREVAN_BINARY_DIR "/bin/brevan", "edit"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return std::make_unique<Child>(command, environment_, folder_ / "brevan.log");
    }

    // What brevan (without a display) writes with the arguments, or nothing when it failed.
    std::optional<std::string> BrevanOutput(const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {BREVAN_BINARY_DIR "/bin/brevan"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        Child brevan(command, DesktopEnvironment(""), {});
        const std::string output = brevan.ReadAll(kStepTimeout_ms);
        const std::optional<int> status = brevan.Wait(kStepTimeout_ms);
        if (!status || *status != 0) {
            return std::nullopt;
        }
        return output;
    }

    std::string Log() const {
        std::ifstream file(folder_ / "brevan.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // The place of a control of a dialog's template in its window, as the backend places it.
    std::optional<QRect> ControlRect(int templateId, int controlId) const {
        const ui::TemplateLoad loaded = ui::LoadDialogTemplate(templateId);
        if (!loaded.dialogTemplate) {
            return std::nullopt;
        }
        for (const ui::ControlTemplate& control : loaded.dialogTemplate->controls) {
            if (control.id == controlId) {
                return metrics_.ToPixels(control.rect);
            }
        }
        return std::nullopt;
    }

    // Whether the control of the dialog's window shows something (a text, an icon) inside its
    // edges; nothing when the window cannot be read.
    std::optional<bool> ControlShows(const std::string& window, int templateId, int controlId) {
        const std::optional<QRect> area = ControlRect(templateId, controlId);
        if (!area || window.empty()) {
            return std::nullopt;
        }
        // The edges are left out: a control may touch the frame of the group around it.
        const QRect inside = area->adjusted(kEdge_px, kEdge_px, -kEdge_px, -kEdge_px);
        return AreaShowsDetail(display_, std::stoul(window), inside.x(), inside.y(), inside.width(),
                               inside.height());
    }

    // Waits until the control shows something; false when it still shows nothing after the time.
    bool WaitUntilControlShows(const std::string& window, int templateId, int controlId,
                               int timeout_ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeout_ms) {
            if (ControlShows(window, templateId, controlId).value_or(false)) {
                return true;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return false;
    }

    // A window with that title other than the one given, once it is shown.
    std::string WaitForOtherWindow(const std::string& title, const std::string& other) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kStepTimeout_ms) {
            if (const std::optional<std::string> found =
                    Xdotool({"search", "--onlyvisible", "--name", title})) {
                std::size_t start = 0;
                while (start < found->size()) {
                    const std::size_t end = std::min(found->find('\n', start), found->size());
                    const std::string window = found->substr(start, end - start);
                    if (!window.empty() && window != other) {
                        std::this_thread::sleep_for(kSettle);
                        return window;
                    }
                    start = end + 1;
                }
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return {};
    }

    std::optional<fs::path> xvfb_;
    std::optional<fs::path> xdotool_;
    fs::path folder_;
    std::unique_ptr<Child> xvfbProcess_;
    std::string display_;
    std::vector<std::string> environment_;
    ui::qt::DialogMetrics metrics_;
};

double SavedValue(const nlohmann::json& setup, const std::string& name) {
    for (const nlohmann::json& parameter : setup.at("parameters")) {
        if (parameter.value("name", "") == name) {
            return parameter.at("value").get<double>();
        }
    }
    return -1.0;
}

TEST_F(DesktopEditTest, ValueTypedInMotorSetupIsSavedAfterOkInBothDialogs) {
    ASSERT_FALSE(StartDisplay().empty()) << "Xvfb gave no display";
    const fs::path saved = folder_ / "out.json";
    const std::unique_ptr<Child> brevan =
        StartBrevanEdit({BREVAN_SOURCE_DIR "/examples/reference-axis.json", "-o", saved.string()});
    ASSERT_TRUE(brevan->Started());

    const std::string driveSetup = WaitForWindow("^Drive Setup$");
    ASSERT_FALSE(driveSetup.empty()) << Log();
    const std::string motorSetup = WaitForWindow("Motor Setup");
    ASSERT_FALSE(motorSetup.empty()) << Log();

    ASSERT_TRUE(ClickControl(motorSetup, kMotorSetup, kPolePairsEdit));
    ASSERT_TRUE(Xdotool({"key", "ctrl+a"}));
    ASSERT_TRUE(Xdotool({"type", "5"}));
    ASSERT_TRUE(ClickControl(motorSetup, kMotorSetup, IDOK));
    ASSERT_TRUE(WaitUntilGone("Motor Setup")) << Log();
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(ClickControl(driveSetup, kDriveSetup, IDOK));

    const std::optional<int> status = brevan->Wait(kStepTimeout_ms);
    ASSERT_TRUE(status) << "brevan edit did not end: " << Log();
    EXPECT_EQ(*status, 0) << Log();
    std::ifstream file(saved);
    ASSERT_TRUE(file) << Log();
    const nlohmann::json setup = nlohmann::json::parse(file);
    EXPECT_EQ(SavedValue(setup, "pp"), 5.0);
}

// The setup starts from guesses of R and L (twice and half the motor's); what the test measured
// on the simulated motor, kept with Yes, is what the saved setup holds.
TEST_F(DesktopEditTest, ResistanceAndInductanceMeasuredFromMotorSetupAreSaved) {
    constexpr double kTrueResistance_ohm = 1.2;
    constexpr double kTrueInductance_H = 0.0024;
    constexpr double kTolerance = 0.01;
    ASSERT_FALSE(StartDisplay().empty()) << "Xvfb gave no display";
    const fs::path saved = folder_ / "out.json";
    const std::unique_ptr<Child> brevan =
        StartBrevanEdit({BREVAN_SOURCE_DIR "/examples/reference-axis.json", "--motor",
                         BREVAN_SOURCE_DIR "/examples/motors/reference-axis-motor.json", "--set",
                         "R=" + std::to_string(2.0 * kTrueResistance_ohm), "--set",
                         "L=" + std::to_string(0.5 * kTrueInductance_H), "-o", saved.string()});
    ASSERT_TRUE(brevan->Started());

    const std::string driveSetup = WaitForWindow("^Drive Setup$");
    ASSERT_FALSE(driveSetup.empty()) << Log();
    const std::string motorSetup = WaitForWindow("Motor Setup");
    ASSERT_FALSE(motorSetup.empty()) << Log();

    ASSERT_TRUE(ClickControl(motorSetup, kMotorSetup, kResistanceInductanceButton));
    const std::string test = WaitForWindow("^Total Resistance and Inductance Identification Test$");
    ASSERT_FALSE(test.empty()) << Log();
    // Nothing has run yet: the result line is empty (so that it showing something later means
    // the run has ended).
    ASSERT_EQ(ControlShows(test, kResistanceInductanceTest, kResultText), std::optional(false));
    ASSERT_TRUE(ClickControl(test, kResistanceInductanceTest, kStartButton));
    ASSERT_TRUE(WaitUntilControlShows(test, kResistanceInductanceTest, kResultText, kRunTimeout_ms))
        << "the run did not end: " << Log();
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(ClickControl(test, kResistanceInductanceTest, IDCANCEL));

    // The closing question, under the application's title; Yes is its default button.
    const std::string question = WaitForOtherWindow("^brevan$", test);
    ASSERT_FALSE(question.empty()) << Log();
    ASSERT_TRUE(Xdotool({"windowfocus", "--sync", question}));
    ASSERT_TRUE(Xdotool({"key", "Return"}));
    ASSERT_TRUE(WaitUntilGone("^Total Resistance and Inductance Identification Test$")) << Log();
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(ClickControl(motorSetup, kMotorSetup, IDOK));
    ASSERT_TRUE(WaitUntilGone("Motor Setup")) << Log();
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(ClickControl(driveSetup, kDriveSetup, IDOK));

    const std::optional<int> status = brevan->Wait(kStepTimeout_ms);
    ASSERT_TRUE(status) << "brevan edit did not end: " << Log();
    EXPECT_EQ(*status, 0) << Log();
    std::ifstream file(saved);
    ASSERT_TRUE(file) << Log();
    const nlohmann::json setup = nlohmann::json::parse(file);
    EXPECT_NEAR(SavedValue(setup, "R"), kTrueResistance_ohm, kTolerance * kTrueResistance_ohm);
    EXPECT_NEAR(SavedValue(setup, "L"), kTrueInductance_H, kTolerance * kTrueInductance_H);
}

// The speed controller's passband is raised from the setup's; Tune designs the gains for it (as
// brevan design does), a run on the simulated motor ends, its plots are saved as SVG through the
// save-file dialog, and OK in the test and in Drive Setup saves the designed gains.
TEST_F(DesktopEditTest, SpeedGainsTunedInTheTuningTestAreSavedWithItsPlots) {
    const std::string passband = "PB_S=400";
    constexpr double kTolerance = 1e-6;
    const std::string setupFile = BREVAN_SOURCE_DIR "/examples/reference-axis.json";
    const std::optional<std::string> design =
        BrevanOutput({"design", setupFile, "speed", "--set", passband, "--json"});
    ASSERT_TRUE(design) << "brevan design failed";
    const nlohmann::json designed = nlohmann::json::parse(*design).at("gains");
    const double designedKp = designed.at("Kp_S_scl").at("held").get<double>();
    const double designedKi = designed.at("Ki_S_scl").at("held").get<double>();
    std::ifstream input(setupFile);
    ASSERT_TRUE(input);
    const double inputKp = SavedValue(nlohmann::json::parse(input), "Kp_S_scl");
    // The raised passband asks for other gains than the setup holds.
    ASSERT_GT(std::abs(designedKp - inputKp), 1.0);

    ASSERT_FALSE(StartDisplay().empty()) << "Xvfb gave no display";
    const fs::path saved = folder_ / "out.json";
    const fs::path plots = folder_ / "speed-plots.svg";
    const std::unique_ptr<Child> brevan = StartBrevanEdit(
        {setupFile, "--motor", BREVAN_SOURCE_DIR "/examples/motors/reference-axis-motor.json",
         "--set", passband, "-o", saved.string()});
    ASSERT_TRUE(brevan->Started());

    const std::string driveSetup = WaitForWindow("^Drive Setup$");
    ASSERT_FALSE(driveSetup.empty()) << Log();
    const std::string motorSetup = WaitForWindow("Motor Setup");
    ASSERT_FALSE(motorSetup.empty()) << Log();
    ASSERT_TRUE(ClickControl(motorSetup, kMotorSetup, IDOK));
    ASSERT_TRUE(WaitUntilGone("Motor Setup")) << Log();
    std::this_thread::sleep_for(kSettle);

    ASSERT_TRUE(ClickControl(driveSetup, kDriveSetup, kTuneSpeedButton));
    const std::string test = WaitForWindow("^Speed Controller Tuning Test$");
    ASSERT_FALSE(test.empty()) << Log();
    // The test opens on its parameters page: the Tune button, on the Test page, is not shown.
    ASSERT_EQ(ControlShows(test, kSpeedTuningTest, kTuneButton), std::optional(false));
    ASSERT_TRUE(
        ClickTab(test, kSpeedTuningTest, kPageTabs, {"Test Parameters", "Test"}, kTestPageIndex));
    ASSERT_TRUE(WaitUntilControlShows(test, kSpeedTuningTest, kTuneButton, kStepTimeout_ms))
        << "the Test page did not come up: " << Log();
    std::this_thread::sleep_for(kSettle);
    // Nothing has run yet: the result line is empty.
    ASSERT_EQ(ControlShows(test, kSpeedTuningTest, kResultText), std::optional(false));
    ASSERT_TRUE(ClickControl(test, kSpeedTuningTest, kTuneButton));
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(ClickControl(test, kSpeedTuningTest, kStartButton));
    ASSERT_TRUE(WaitUntilControlShows(test, kSpeedTuningTest, kResultText, kRunTimeout_ms))
        << "the run did not end: " << Log();
    std::this_thread::sleep_for(kSettle);
    // A failed run offers its details; this one passed.
    EXPECT_EQ(ControlShows(test, kSpeedTuningTest, kDetailsButton), std::optional(false));

    ASSERT_TRUE(ClickControl(test, kSpeedTuningTest, kSavePlotsButton));
    const std::string saveDialog = WaitForWindow("^Save Plots$");
    ASSERT_FALSE(saveDialog.empty()) << Log();
    // The file name field has the focus and proposes a name: it is replaced by the full path.
    ASSERT_TRUE(Xdotool({"windowfocus", "--sync", saveDialog}));
    ASSERT_TRUE(Xdotool({"key", "ctrl+a"}));
    ASSERT_TRUE(Xdotool({"type", plots.string()}));
    ASSERT_TRUE(Xdotool({"key", "Return"}));
    ASSERT_TRUE(WaitUntilGone("^Save Plots$")) << Log();
    std::this_thread::sleep_for(kSettle);

    ASSERT_TRUE(ClickControl(test, kSpeedTuningTest, IDOK));
    ASSERT_TRUE(WaitUntilGone("^Speed Controller Tuning Test$")) << Log();
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(ClickControl(driveSetup, kDriveSetup, IDOK));

    const std::optional<int> status = brevan->Wait(kStepTimeout_ms);
    ASSERT_TRUE(status) << "brevan edit did not end: " << Log();
    EXPECT_EQ(*status, 0) << Log();

    std::ifstream plotFile(plots);
    ASSERT_TRUE(plotFile) << "no plots at " << plots << ": " << Log();
    const std::string svg(std::istreambuf_iterator<char>(plotFile), {});
    EXPECT_TRUE(svg.starts_with("<?xml") || svg.starts_with("<svg")) << svg.substr(0, 80);
    EXPECT_NE(svg.find("Speed_Reference"), std::string::npos);
    EXPECT_NE(svg.find("Load_Speed"), std::string::npos);

    std::ifstream file(saved);
    ASSERT_TRUE(file) << Log();
    const nlohmann::json setup = nlohmann::json::parse(file);
    EXPECT_NE(SavedValue(setup, "Kp_S_scl"), inputKp);
    EXPECT_NEAR(SavedValue(setup, "Kp_S_scl"), designedKp, kTolerance * designedKp);
    EXPECT_NEAR(SavedValue(setup, "Ki_S_scl"), designedKi, kTolerance * designedKi);
}

}  // namespace
