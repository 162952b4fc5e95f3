// brevan edit as a person runs it, on a virtual X display: the Drive Setup window comes up with
// Motor Setup over it; xdotool clicks into the pole pairs field, types a new value and presses
// OK in Motor Setup, then OK in Drive Setup; the program ends with 0 and the saved file holds
// the new value. Xvfb picks a free display itself (-displayfd) and is always stopped.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/ui/DialogTemplate.h"
#include "host/ui/qt/DialogMetrics.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kMotorSetup = 108;
constexpr int kDriveSetup = 106;
constexpr int kPolePairsEdit = 1165;
// How long any one step may take before the test gives up on it.
constexpr int kStepTimeout_ms = 20000;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Qt needs a moment after a window is mapped before it takes input.
constexpr auto kSettle = std::chrono::milliseconds(300);
// The child closes the descriptors it inherits below this one (other than the one it keeps).
constexpr int kHighestInheritedFd = 256;
// The shell's status for a program that could not be started.
constexpr int kExecFailed = 127;

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
        const ui::TemplateLoad loaded = ui::LoadDialogTemplate(templateId);
        if (!loaded.dialogTemplate) {
            return false;
        }
        for (const ui::ControlTemplate& control : loaded.dialogTemplate->controls) {
            if (control.id == controlId) {
                const QPoint centre = metrics_.ToPixels(control.rect).center();
                return Xdotool({"mousemove", "--window", window, std::to_string(centre.x()),
                                std::to_string(centre.y()), "click", "1"})
                    .has_value();
            }
        }
        return false;
    }

    std::optional<fs::path> xvfb_;
    std::optional<fs::path> xdotool_;
    fs::path folder_;
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
    int displayPipe[2] = {-1, -1};
    ASSERT_EQ(::pipe(displayPipe), 0);
    Child xvfb({xvfb_->string(), "-displayfd", std::to_string(displayPipe[1]), "-screen", "0",
                "1600x1200x24", "-nolisten", "tcp"},
               DesktopEnvironment(""), folder_ / "xvfb.log", displayPipe[1]);
    ::close(displayPipe[1]);
    ASSERT_TRUE(xvfb.Started());
    std::string display;
    {
        QElapsedTimer clock;
        clock.start();
        char c = 0;
        while (clock.elapsed() < kStepTimeout_ms) {
            pollfd ready{displayPipe[0], POLLIN, 0};
            if (::poll(&ready, 1, 50) > 0 && ::read(displayPipe[0], &c, 1) == 1 && c != '\n') {
                display += c;
            } else if (!display.empty()) {
                break;
            }
        }
        ::close(displayPipe[0]);
    }
    ASSERT_FALSE(display.empty()) << "Xvfb gave no display";
    environment_ = DesktopEnvironment(":" + display);

    const fs::path saved = folder_ / "out.json";
    Child brevan({BREVAN_BINARY_DIR "/bin/brevan", "edit",
                  BREVAN_SOURCE_DIR "/examples/reference-axis.json", "-o", saved.string()},
                 environment_, folder_ / "brevan.log");
    ASSERT_TRUE(brevan.Started());
    const auto log = [this] {
        std::ifstream file(folder_ / "brevan.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    };

    const std::string driveSetup = WaitForWindow("^Drive Setup$");
    ASSERT_FALSE(driveSetup.empty()) << log();
    const std::string motorSetup = WaitForWindow("Motor Setup");
    ASSERT_FALSE(motorSetup.empty()) << log();

    ASSERT_TRUE(ClickControl(motorSetup, kMotorSetup, kPolePairsEdit));
    ASSERT_TRUE(Xdotool({"key", "ctrl+a"}));
    ASSERT_TRUE(Xdotool({"type", "5"}));
    ASSERT_TRUE(ClickControl(motorSetup, kMotorSetup, 1));
    ASSERT_TRUE(WaitUntilGone("Motor Setup")) << log();
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(ClickControl(driveSetup, kDriveSetup, 1));

    const std::optional<int> status = brevan.Wait(kStepTimeout_ms);
    ASSERT_TRUE(status) << "brevan edit did not end: " << log();
    EXPECT_EQ(*status, 0) << log();
    std::ifstream file(saved);
    ASSERT_TRUE(file) << log();
    const nlohmann::json setup = nlohmann::json::parse(file);
    EXPECT_EQ(SavedValue(setup, "pp"), 5.0);
}

}  // namespace
