#pragma once

// What the Qt backend's tests share: one QApplication for the test program (Qt's offscreen
// platform unless QT_QPA_PLATFORM names another), a fresh Qt backend per test that records the
// problems it reports and the help pages it opens, and a scripted user that acts on the real
// windows as they come up.
//
//   class MyTest : public QtBackendTest {};
//   TEST_F(MyTest, ...) {
//       script_.When(108, [](ui::qt::DialogWindow& w) {
//           QTest::mouseClick(Control<QCheckBox>(w, 1178), Qt::LeftButton);
//           Click(w, IDOK);
//       });
//       script_.AnswerMessageBox("out of range", QMessageBox::Ok);
//       script_.WhenFileDialog([](QFileDialog& d) { d.reject(); });
//       EXPECT_EQ(dialog.DoModal(), IDOK);
//       ExpectScriptCompleted();
//   }

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/ui/qt/DialogWindow.h"
#include "host/ui/qt/QtBackend.h"
#include "host/ui/qt/TextConversion.h"

// One QApplication for the whole test program.
class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

  private:
    int argc_ = 1;
    char name_[8] = "brevan";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

// The widget of a control of a dialog window, or null.
template <typename Widget>
Widget* Control(QWidget& window, int id) {
    return window.findChild<Widget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

// A click on a push button (in its middle), check box or radio button (on its mark), as the
// mouse gives it.
inline void Click(QWidget& window, int id) {
    QAbstractButton* button = Control<QAbstractButton>(window, id);
    ASSERT_NE(button, nullptr) << "no button " << id;
    const bool hasMark = button->isCheckable();
    const QPoint mark(button->height() / 2, button->height() / 2);
    QTest::mouseClick(button, Qt::LeftButton, {}, hasMark ? mark : button->rect().center());
}

// Replaces the edit's text by typing (the whole text selected first) and stays in it.
inline void TypeInto(QWidget& window, int id, const QString& text) {
    QLineEdit* edit = Control<QLineEdit>(window, id);
    ASSERT_NE(edit, nullptr) << "no edit " << id;
    edit->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

// Types into the edit, then tabs out of it (the dialog takes the value over).
inline void Type(QWidget& window, int id, const QString& text) {
    TypeInto(window, id, text);
    QTest::keyClick(Control<QLineEdit>(window, id), Qt::Key_Tab);
    QCoreApplication::processEvents();
}

// A scripted user on the real windows. Steps run in order, each when the innermost modal window
// is its dialog; message boxes are answered by a fragment of their text (a box nothing expects
// is a failure and gets its escape or default button); file dialogs are acted on by their own
// steps, in order (one nothing expects is a failure and is cancelled). The script looks on fresh
// single-shot timers, so it keeps acting inside nested modal loops. When nothing happens for the
// wait budget it records a failure and closes what is open, so that a test never hangs.
class ModalScript {
  public:
    using Step = std::function<void(ui::qt::DialogWindow& window)>;
    using FileStep = std::function<void(QFileDialog& dialog)>;

    // The script starts looking at the windows with its first step or answer.
    void When(int templateId, Step step) {
        steps_.push_back({templateId, std::move(step)});
        Start();
    }
    void AnswerMessageBox(std::string fragment, QMessageBox::StandardButton answer) {
        answers_.push_back({std::move(fragment), answer});
        Start();
    }
    void WhenFileDialog(FileStep step) {
        fileSteps_.push_back(std::move(step));
        Start();
    }

    const std::vector<std::string>& MessageTexts() const { return messageTexts_; }
    const std::vector<std::string>& Failures() const { return failures_; }
    std::size_t PendingSteps() const { return steps_.size() + fileSteps_.size(); }
    std::size_t PendingAnswers() const { return answers_.size(); }

  private:
    struct PendingStep {
        int templateId;
        Step step;
    };
    struct Expectation {
        std::string fragment;
        QMessageBox::StandardButton button;
    };

    static constexpr int kPoll_ms = 5;
    static constexpr qint64 kWaitBudget_ms = 20000;

    void Start() {
        if (!waiting_.isValid()) {
            waiting_.start();
            Schedule();
        }
    }
    void Schedule() {
        QTimer::singleShot(kPoll_ms, &context_, [this] { Poll(); });
    }

    void Poll() {
        Schedule();
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            Answer(*box);
        } else if (auto* fileDialog = qobject_cast<QFileDialog*>(modal)) {
            RunFileStep(*fileDialog);
        } else if (auto* window = dynamic_cast<ui::qt::DialogWindow*>(modal)) {
            RunStep(*window);
        }
        if (waiting_.elapsed() > kWaitBudget_ms && modal != nullptr) {
            failures_.push_back("nothing happened for " + std::to_string(kWaitBudget_ms) +
                                " ms with \"" + modal->windowTitle().toStdString() +
                                "\" open; closed it");
            waiting_.restart();
            if (auto* window = dynamic_cast<ui::qt::DialogWindow*>(modal)) {
                window->Dialog().EndDialog(IDCANCEL);
            } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            }
        }
    }

    void Answer(QMessageBox& box) {
        constexpr const char* kAnswered = "answeredByScript";
        if (box.property(kAnswered).toBool()) {
            return;  // clicked already, the box is closing
        }
        box.setProperty(kAnswered, true);
        waiting_.restart();
        const std::string text = ui::qt::FromQString(box.text());
        messageTexts_.push_back(text);
        QAbstractButton* button = nullptr;
        const auto expected = std::find_if(
            answers_.begin(), answers_.end(),
            [&text](const auto& a) { return text.find(a.fragment) != std::string::npos; });
        if (expected != answers_.end()) {
            button = box.button(expected->button);
            answers_.erase(expected);
        }
        if (button == nullptr) {
            failures_.push_back(
                "a message box nothing expects (or without the expected "
                "button): " +
                text);
            button = box.escapeButton();
            if (button == nullptr) {
                button = box.defaultButton();
            }
        }
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void RunFileStep(QFileDialog& dialog) {
        constexpr const char* kActedOn = "actedOnByScript";
        if (dialog.property(kActedOn).toBool() || !dialog.isVisible()) {
            return;
        }
        dialog.setProperty(kActedOn, true);
        waiting_.restart();
        if (fileSteps_.empty()) {
            failures_.push_back("a file dialog nothing expects: " +
                                dialog.windowTitle().toStdString());
            dialog.reject();
            return;
        }
        const FileStep step = std::move(fileSteps_.front());
        fileSteps_.pop_front();
        step(dialog);
        waiting_.restart();
    }

    void RunStep(ui::qt::DialogWindow& window) {
        if (steps_.empty() || running_.contains(&window) ||
            steps_.front().templateId != static_cast<int>(window.Dialog().GetTemplateId())) {
            return;
        }
        if (!window.isActiveWindow()) {
            window.activateWindow();  // keys and the focus need the window active
            return;
        }
        waiting_.restart();
        const Step step = std::move(steps_.front().step);
        steps_.pop_front();
        running_.insert(&window);
        step(window);
        running_.erase(&window);
        waiting_.restart();
    }

    QObject context_;
    std::deque<PendingStep> steps_;
    std::deque<FileStep> fileSteps_;
    std::vector<Expectation> answers_;
    std::vector<std::string> messageTexts_;
    std::vector<std::string> failures_;
    std::set<const QWidget*> running_;
    QElapsedTimer waiting_;
};

// A test with a fresh Qt backend installed. Problems the backend reports and help pages it
// opens are recorded rather than shown.
class QtBackendTest : public ::testing::Test {
  protected:
    QtBackendTest() {
        backend_.SetProblemHandler(
            [this](std::string_view problem) { problems_.emplace_back(problem); });
        backend_.SetUrlOpener([this](const QUrl& url) {
            openedUrls_.push_back(url);
            return true;
        });
    }

    // Every step ran, every expected box came, nothing unexpected happened.
    void ExpectScriptCompleted() {
        EXPECT_EQ(script_.PendingSteps(), 0U);
        EXPECT_EQ(script_.PendingAnswers(), 0U);
        EXPECT_TRUE(script_.Failures().empty()) << script_.Failures().front();
        EXPECT_TRUE(problems_.empty()) << problems_.front();
    }

    ui::qt::QtBackend backend_;
    ui::qt::Installation installed_{backend_};
    std::vector<std::string> problems_;
    std::vector<QUrl> openedUrls_;
    ModalScript script_;
};
