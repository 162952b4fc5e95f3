// The module's setup dialogs in real windows: the same user actions as the headless tests, by
// mouse and keyboard on the widgets, with the same outcome.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <filesystem>
#include <fstream>

#include "engine/StepSupport.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "module/Exports.h"
#include "tests/host/ui/qt/SetupDialogSupport.h"

namespace {

using ui::qt::DialogWindow;

constexpr int kDriveSetup = 106;
constexpr int kMotorSetup = 108;
constexpr int kHelpButton = 10024;

const char* const kTransmissionWarningText =
    "When there is only a position sensor on the motor and the load moves in opposite direction "
    "(i.e. transmission is negative), the h/w limit switches connections need to be reversed. "
    "\n\nConnect positive limit switch sensor to drive's LSN input and negative limit switch "
    "sensor to drive's LSP input.";

class SetupDialogsTest : public QtSetupTest {
  protected:
    // Runs the dialog with one step; cancels it if the step left it open.
    INT_PTR Run(CDialog& dialog, const std::function<void(DialogWindow&)>& step) {
        script_.When(static_cast<int>(dialog.GetTemplateId()), [&step](DialogWindow& window) {
            step(window);
            if (!window.Dialog().HasEnded()) {
                Click(window, IDCANCEL);
            }
        });
        return dialog.DoModal();
    }
    static bool Enabled(QWidget& window, int id) {
        return Control<QWidget>(window, id)->isEnabled();
    }
    static bool Shown(QWidget& window, int id) { return !Control<QWidget>(window, id)->isHidden(); }
};

TEST_F(SetupDialogsTest, EditSetupBringsMotorSetupOverDriveSetupAndOkKeepsTheSpeedMode) {
    script_.When(kMotorSetup, [](DialogWindow& window) {
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Brushless Motor Setup"));
        EXPECT_EQ(window.parentWidget()->windowTitle(), QStringLiteral("Drive Setup"));
        Click(window, IDOK);
    });
    script_.When(kDriveSetup, [](DialogWindow& window) {
        Click(window, 1060);
        TypeInto(window, 3179, "20");
        QTest::keyClick(Control<QLineEdit>(window, 3179), Qt::Key_Return);
    });

    EXPECT_EQ(EditSetup(setup_.get()), 1);

    ExpectScriptCompleted();
    EXPECT_EQ(Base("ControlMode"), 1.0);
    EXPECT_TRUE(engine::IsBitSet(Base("ACR"), 9)) << "speed control";
    EXPECT_EQ(setup_->GetOptionNoError("IsClosedSpeed"), "1");
    const double held = engine::GainFromRegisters(Base("KPS"), Base("SFTKPS"));
    EXPECT_NEAR(held, 20.0, 0.5 * std::exp2(Base("SFTKPS")) / 32767.0);
}

TEST_F(SetupDialogsTest, CancelInDriveSetupLeavesEditSetupWithZero) {
    script_.When(kMotorSetup,
                 [](DialogWindow& window) { QTest::keyClick(&window, Qt::Key_Escape); });
    script_.When(kDriveSetup, [](DialogWindow& window) { window.close(); });
    EXPECT_EQ(EditSetup(setup_.get()), 0);
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, InertiaUnknownDisablesTheInertiaFieldsAtOnce) {
    Force("isMotorInertiaUnknown", 0);
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    EXPECT_EQ(Run(dialog,
                  [](DialogWindow& window) {
                      for (const int id : {1172, 1173, 3267}) {
                          EXPECT_TRUE(Enabled(window, id)) << id;
                      }
                      Click(window, 1178);
                      EXPECT_TRUE(Control<QCheckBox>(window, 1178)->isChecked());
                      for (const int id : {1172, 1173, 3267}) {
                          EXPECT_FALSE(Enabled(window, id)) << id;
                      }
                      Click(window, IDOK);
                  }),
              IDOK);
    EXPECT_EQ(Base("isMotorInertiaUnknown"), 1.0);
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, NegativeLoadShowsTheWarningButtonThatExplainsTheWiring) {
    setup_->SetOption("hasNegTransmission", "0");
    script_.AnswerMessageBox("limit switches connections", QMessageBox::Ok);
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    Run(dialog, [](DialogWindow& window) {
        EXPECT_FALSE(Shown(window, 3408));
        Type(window, 1174, "-1");
        ASSERT_TRUE(Shown(window, 3408));
        EXPECT_FALSE(Control<QPushButton>(window, 3408)->icon().isNull());
        Click(window, 3408);
        EXPECT_FALSE(window.Dialog().HasEnded());
    });
    EXPECT_EQ(script_.MessageTexts(), std::vector<std::string>{kTransmissionWarningText});
    EXPECT_DOUBLE_EQ(Base("Load_transmission"), -6.283185307179586);
    ExpectScriptCompleted();
}

// The out-of-range answer of the kernel, the same through both backends.
TEST_F(SetupDialogsTest, OutOfRangeValueIsRefusedWithTheHeadlessMessage) {
    constexpr int kNominalCurrent = 1159;
    std::vector<std::string> headlessTexts;
    std::string headlessShown;
    {
        auto headlessSetup = LoadExample("reference-axis.json");
        ui::headless::Session headless;
        headless->When(kMotorSetup, [&headlessShown](ui::headless::DialogDriver& d) {
            d.Type(kNominalCurrent, "5000");
            headlessShown = d.Text(kNominalCurrent);
            d.Click(IDCANCEL);
        });
        CMotorSetupDialog dialog(headlessSetup.get(), nullptr);
        dialog.DoModal();
        for (const auto& box : headless->MessageBoxes()) {
            headlessTexts.push_back(box.text);
        }
    }
    ASSERT_EQ(headlessTexts.size(), 1U);
    EXPECT_NE(headlessTexts.front().find("is out of range"), std::string::npos);

    script_.AnswerMessageBox("is out of range", QMessageBox::Ok);
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    Run(dialog, [&headlessShown](DialogWindow& window) {
        Type(window, kNominalCurrent, "5000");
        EXPECT_EQ(Control<QLineEdit>(window, kNominalCurrent)->text().toStdString(), headlessShown);
    });
    EXPECT_EQ(script_.MessageTexts(), headlessTexts);
    EXPECT_EQ(Base("In"), 3.5);
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, AdvancedSchemeChoiceSwapsTheControlSchemePicture) {
    Force("ControlMode", 0);
    Force("PositionControlType", 1);
    CAdvancedDialog dialog(setup_.get(), nullptr);
    Run(dialog, [](DialogWindow& window) {
        auto* picture = dynamic_cast<ui::qt::PictureWidget*>(Control<QWidget>(window, 3280));
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->Bitmap(), "3016");
        EXPECT_TRUE(Enabled(window, 3374));
        Click(window, 3344);
        EXPECT_EQ(picture->Bitmap(), "3017");
        EXPECT_FALSE(Enabled(window, 3374));
    });
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, AdvancedLoopLabelsTurnRedWhileThePeriodIsTooShort) {
    Force("Ts_C_min", 100e-6);
    CAdvancedDialog dialog(setup_.get(), nullptr);
    Run(dialog, [](DialogWindow& window) {
        const auto colour = [&window](int id) {
            return Control<QLabel>(window, id)->palette().color(QPalette::WindowText);
        };
        EXPECT_EQ(colour(1131), QColor(Qt::black));
        Type(window, 1132, "2");
        Type(window, 1132, "1");
        EXPECT_EQ(colour(1131), QColor(Qt::red));
        EXPECT_EQ(colour(1140), QColor(Qt::red));
    });
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, ExternalReferenceFilterCheckShowsAndHidesTheBandwidthRow) {
    Force("isAnalogueReference", 1);
    Force("UseFilter", 1);
    CAnalogReferenceDlg dialog(setup_.get(), nullptr);
    Run(dialog, [](DialogWindow& window) {
        Click(window, 1001);
        for (const int id : {1002, 1003, 1004}) {
            EXPECT_FALSE(Shown(window, id)) << id;
        }
        Click(window, 1001);
        for (const int id : {1002, 1003, 1004}) {
            EXPECT_TRUE(Shown(window, id)) << id;
        }
        Click(window, 1001);
        Click(window, IDOK);
    });
    EXPECT_EQ(Base("UseFilter"), 0.0);
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, SwitchingAFilterOnEnablesItsControls) {
    CFiltersDialog dialog(setup_.get(), false, nullptr);
    Run(dialog, [](DialogWindow& window) {
        EXPECT_FALSE(Enabled(window, 3519));
        Click(window, 3518);
        EXPECT_EQ(Control<QCheckBox>(window, 3518)->text(), QStringLiteral("On"));
        EXPECT_TRUE(Enabled(window, 3519));
        EXPECT_TRUE(Enabled(window, 3526));
        Click(window, IDOK);
    });
    EXPECT_EQ(Base("BQFilter3"), 1.0);
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, DriveInfoServiceKeyChordTogglesDriveDataEditing) {
    CDriveInfo dialog(setup_.get(), nullptr);
    Run(dialog, [&dialog](DialogWindow& window) {
        const Qt::KeyboardModifiers chord =
            Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
        EXPECT_FALSE(Enabled(window, 1159));
        QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_FALSE(Enabled(window, 1159)) << "the chord needs all three modifiers";
        QTest::keyClick(&window, Qt::Key_E, chord);
        EXPECT_TRUE(Enabled(window, 1159));
        EXPECT_TRUE(dialog.IsInEditMode());
        QTest::keyClick(&window, Qt::Key_E, chord);
        EXPECT_FALSE(Enabled(window, 1159));
    });
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, InertiaQuestionEscapeLeavesTheSetupUnchanged) {
    Force("Jm", 2e-4);
    Force("Jt", 1e-4);
    CInertiaQuestion question(setup_.get(), nullptr);
    script_.When(3056, [](DialogWindow& window) {
        Click(window, 3334);
        QTest::keyClick(&window, Qt::Key_Escape);
    });
    EXPECT_EQ(question.DoModal(), IDCANCEL);
    EXPECT_DOUBLE_EQ(Base("Jt"), 1e-4);
    ExpectScriptCompleted();
}

TEST_F(SetupDialogsTest, HelpButtonOpensTheDialogsTopicPage) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("brevan-qt-help-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "topics.json")
        << R"({"topics": [{"topic": "0x40106", "page": "drive-setup.html", "title": "Drive Setup"},
                          {"topic": "0x40107", "page": "motor-setup.html", "title": "Motor"}]})";
    for (const char* page : {"index.html", "drive-setup.html", "motor-setup.html"}) {
        std::ofstream(folder / page) << "<html></html>";
    }
    qel::SetGUIDirectory(folder.string());
    qel::SetHelpFileOfGUI("topics.json");
    script_.When(kMotorSetup, [](DialogWindow& window) {
        Click(window, kHelpButton);
        Click(window, IDOK);
    });
    script_.When(kDriveSetup, [](DialogWindow& window) {
        Click(window, kHelpButton);
        Click(window, IDCANCEL);
    });
    CDriveSetupDlg dialog(setup_.get(), nullptr);
    dialog.DoModal();
    const auto page = [&folder](const char* name) {
        return QUrl::fromLocalFile(QString::fromStdString((folder / name).string()));
    };
    EXPECT_EQ(openedUrls_, (std::vector<QUrl>{page("motor-setup.html"), page("drive-setup.html")}));
    ExpectScriptCompleted();
    std::filesystem::remove_all(folder);
}

}  // namespace
