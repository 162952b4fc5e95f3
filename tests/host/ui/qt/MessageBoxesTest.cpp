#include <gtest/gtest.h>

#include <QPushButton>
#include <ostream>
#include <string>
#include <vector>

#include "host/ui/Wnd.h"
#include "host/ui/qt/MessageBoxes.h"
#include "tests/host/ui/qt/QtTestSupport.h"

namespace {

// What happens to a box shown through the backend, and what the dialog code gets back.
struct AnswerRow {
    const char* name;
    UINT type;
    // The user's action on the box.
    std::function<void(QMessageBox&)> act;
    int result;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::size_t buttons = 1;
};

void PrintTo(const AnswerRow& row, std::ostream* os) {
    *os << row.name;
}

class MessageBoxAnswerTest : public QtBackendTest,
                             public ::testing::WithParamInterface<AnswerRow> {};

// Acts on the next message box once it is up.
void OnNextBox(QObject& context, std::function<void(QMessageBox&)> act, QMessageBox::Icon& icon,
               QString& text, QString& title, std::vector<QString>& buttons) {
    QTimer::singleShot(5, &context, [&context, act, &icon, &text, &title, &buttons] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            OnNextBox(context, act, icon, text, title, buttons);
            return;
        }
        icon = box->icon();
        text = box->text();
        title = box->windowTitle();
        for (QAbstractButton* button : box->buttons()) {
            buttons.push_back(button->text());
        }
        act(*box);
    });
}

TEST_P(MessageBoxAnswerTest, TheButtonPressedComesBackAsTheLayersResult) {
    const AnswerRow& row = GetParam();
    QObject context;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    QString title;
    std::vector<QString> buttons;
    OnNextBox(context, row.act, icon, text, title, buttons);
    SetApplicationTitle("brevan");
    EXPECT_EQ(AfxMessageBox("Motor at 90\xB0 C.", row.type), row.result);
    EXPECT_EQ(text, QString::fromUtf8("Motor at 90\xC2\xB0 C."));
    EXPECT_EQ(title, QStringLiteral("brevan"));
    EXPECT_EQ(icon, row.icon);
    EXPECT_EQ(buttons.size(), row.buttons);
}

void Press(QMessageBox::StandardButton button, QMessageBox& box) {
    QTest::mouseClick(box.button(button), Qt::LeftButton);
}
void PressEscapeThenYes(QMessageBox& box) {
    QTest::keyClick(&box, Qt::Key_Escape);
    QTest::keyClick(&box, Qt::Key_Escape);
    box.close();
    if (box.isVisible()) {
        Press(QMessageBox::Yes, box);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MessageBoxAnswerTest,
    ::testing::Values(AnswerRow{"Ok", MB_OK, [](QMessageBox& b) { Press(QMessageBox::Ok, b); },
                                IDOK},
                      AnswerRow{"OkCancelCancel", MB_OKCANCEL | MB_ICONWARNING,
                                [](QMessageBox& b) { Press(QMessageBox::Cancel, b); }, IDCANCEL,
                                QMessageBox::Warning, 2},
                      AnswerRow{"YesNoNo", MB_YESNO | MB_ICONQUESTION,
                                [](QMessageBox& b) { Press(QMessageBox::No, b); }, IDNO,
                                QMessageBox::Question, 2},
                      AnswerRow{"YesNoCancelYes", MB_YESNOCANCEL | MB_ICONINFORMATION,
                                [](QMessageBox& b) { Press(QMessageBox::Yes, b); }, IDYES,
                                QMessageBox::Information, 3},
                      AnswerRow{"RetryCancelRetry", MB_RETRYCANCEL | MB_ICONERROR,
                                [](QMessageBox& b) { Press(QMessageBox::Retry, b); }, IDRETRY,
                                QMessageBox::Critical, 2},
                      AnswerRow{"AbortRetryIgnoreIgnore", MB_ABORTRETRYIGNORE,
                                [](QMessageBox& b) { Press(QMessageBox::Ignore, b); }, IDIGNORE,
                                QMessageBox::NoIcon, 3},
                      AnswerRow{"EscapeAnswersCancel", MB_YESNOCANCEL,
                                [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); },
                                IDCANCEL, QMessageBox::NoIcon, 3},
                      AnswerRow{"EscapeAnswersTheOnlyOk", MB_OK,
                                [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, IDOK},
                      AnswerRow{"YesNoCannotBeEscaped", MB_YESNO, PressEscapeThenYes, IDYES,
                                QMessageBox::NoIcon, 2},
                      AnswerRow{"ReturnPressesTheSecondDefault", MB_YESNO | MB_DEFBUTTON2,
                                [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, IDNO,
                                QMessageBox::NoIcon, 2},
                      AnswerRow{"ReturnPressesTheThirdDefault", MB_ABORTRETRYIGNORE | MB_DEFBUTTON3,
                                [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); },
                                IDIGNORE, QMessageBox::NoIcon, 3}),
    [](const ::testing::TestParamInfo<AnswerRow>& row) { return std::string(row.param.name); });

}  // namespace
