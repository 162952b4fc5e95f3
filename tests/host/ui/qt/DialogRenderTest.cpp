// Every setup dialog drawn offscreen to a PNG (build tree, screenshots/<id>-<name>.png), and its
// layout checked as drawn at the dialog font: each visible control inside the client area, no
// two overlapping unless they share the place by design (or one is a group box around the
// other), and every caption fitting its control.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "host/ui/UserInput.h"
#include "tests/host/ui/qt/SetupDialogSupport.h"

namespace {

using ui::qt::DialogWindow;

constexpr int kDriveSetup = 106;
constexpr int kMotorSetup = 108;

struct Placed {
    const ui::ControlState* control;
    QWidget* widget;
    std::string Name() const {
        std::ostringstream name;
        name << ui::ControlKindName(control->kind) << " " << control->id << " \""
             << ui::StripMnemonic(control->text) << "\"";
        return name.str();
    }
};

// The controls shown, each with its widget (widgets are named by their control's id; controls
// sharing an id, the unaddressed static texts, keep their order among themselves).
std::vector<Placed> VisibleControls(DialogWindow& window) {
    std::map<int, std::size_t> used;
    std::vector<Placed> placed;
    for (const ui::ControlState& control : window.Dialog().GetWindowState()->Controls()) {
        const QList<QWidget*> named =
            window.findChildren<QWidget*>(QString::number(control.id), Qt::FindDirectChildrenOnly);
        const std::size_t index = used[control.id]++;
        if (index < static_cast<std::size_t>(named.size())) {
            QWidget* widget = named[static_cast<qsizetype>(index)];
            if (widget->isVisibleTo(&window)) {
                placed.push_back({&control, widget});
            }
        }
    }
    return placed;
}

bool SharesPlace(const ui::ControlState& a, const ui::ControlState& b) {
    return std::find(a.sharesPlaceWith.begin(), a.sharesPlaceWith.end(), b.id) !=
           a.sharesPlaceWith.end();
}

// The width the caption needs and the width the control has for it.
struct CaptionRoom {
    int needed_px = 0;
    int available_px = 0;
    bool checked = false;
};

QString Plain(const QString& caption) {
    return QString::fromStdString(ui::StripMnemonic(caption.toStdString()));
}

CaptionRoom RoomFor(QWidget& widget, const ui::qt::DialogMetrics& metrics) {
    const QFontMetrics font(widget.font());
    CaptionRoom room;
    if (auto* label = qobject_cast<QLabel*>(&widget)) {
        if (label->text().isEmpty()) {
            return room;
        }
        room.checked = true;
        if (label->wordWrap()) {
            const QRect wrapped =
                font.boundingRect(label->contentsRect(), Qt::TextWordWrap, label->text());
            room.needed_px = wrapped.height();
            room.available_px = label->contentsRect().height();
        } else {
            room.needed_px = font.horizontalAdvance(label->text());
            room.available_px = label->contentsRect().width();
        }
    } else if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
        if (button->text().isEmpty()) {
            return room;
        }
        room.checked = true;
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        const QStyle::SubElement contents =
            qobject_cast<QCheckBox*>(button) != nullptr      ? QStyle::SE_CheckBoxContents
            : qobject_cast<QRadioButton*>(button) != nullptr ? QStyle::SE_RadioButtonContents
                                                             : QStyle::SE_PushButtonContents;
        room.available_px = button->style()->subElementRect(contents, &option, button).width();
        room.needed_px = font.horizontalAdvance(Plain(button->text()));
    } else if (auto* group = qobject_cast<QGroupBox*>(&widget)) {
        room.checked = !group->title().isEmpty();
        // The title stands a character in from either side of the frame.
        room.needed_px = font.horizontalAdvance(Plain(group->title()));
        room.available_px =
            group->width() - 2 * static_cast<int>(std::ceil(metrics.CharWidth_px()));
    }
    return room;
}

// The tab strip of the dialogs with pages.
constexpr int kPageTabsId = 1300;

class DialogRenderTest : public QtSetupTest, public ::testing::WithParamInterface<SetupDialogCase> {
  protected:
    static std::filesystem::path ScreenshotPath(const std::string& page) {
        const std::filesystem::path folder =
            std::filesystem::path(BREVAN_BINARY_DIR) / "screenshots";
        std::filesystem::create_directories(folder);
        return folder /
               (std::to_string(GetParam().templateId) + "-" + GetParam().name + page + ".png");
    }

    void Check(DialogWindow& window, const std::string& page = "") {
        const std::filesystem::path png = ScreenshotPath(page);
        EXPECT_TRUE(window.grab().save(QString::fromStdString(png.string())));
        const std::vector<Placed> placed = VisibleControls(window);
        ASSERT_FALSE(placed.empty());
        for (const Placed& p : placed) {
            EXPECT_TRUE(window.rect().contains(p.widget->geometry()))
                << p.Name() << " reaches out of the dialog";
            const CaptionRoom room = RoomFor(*p.widget, backend_.Metrics());
            if (room.checked) {
                EXPECT_LE(room.needed_px, room.available_px)
                    << p.Name() << " is clipped: its caption needs " << room.needed_px << " px of "
                    << room.available_px;
            }
        }
        for (std::size_t i = 0; i < placed.size(); ++i) {
            for (std::size_t j = i + 1; j < placed.size(); ++j) {
                const Placed& a = placed[i];
                const Placed& b = placed[j];
                const QRect ra = a.widget->geometry();
                const QRect rb = b.widget->geometry();
                if (!ra.intersects(rb) || SharesPlace(*a.control, *b.control)) {
                    continue;
                }
                const bool aHoldsB = a.control->kind == ui::ControlKind::Group && ra.contains(rb);
                const bool bHoldsA = b.control->kind == ui::ControlKind::Group && rb.contains(ra);
                EXPECT_TRUE(aHoldsB || bHoldsA) << a.Name() << " overlaps " << b.Name();
            }
        }
    }
};

TEST_P(DialogRenderTest, DrawnDialogKeepsEveryControlInsideUnclippedAndApart) {
    if (GetParam().templateId == kDriveSetup) {
        // Motor Setup comes up over Drive Setup by itself; let it go first.
        script_.When(kMotorSetup, [](DialogWindow& window) { Click(window, IDCANCEL); });
    }
    std::unique_ptr<CDialog> dialog = GetParam().make(*setup_);
    script_.When(GetParam().templateId, [this, &dialog](DialogWindow& window) {
        Check(window);
        // A dialog with pages is checked on its second page too.
        const ui::ControlState* tabs = dialog->GetWindowState()->Find(kPageTabsId);
        if (tabs != nullptr && tabs->kind == ui::ControlKind::Tab && tabs->items.size() > 1) {
            EXPECT_TRUE(ui::input::SelectTab(*dialog, kPageTabsId, 1));
            QCoreApplication::processEvents();
            EXPECT_EQ(dialog->GetWindowState()->Find(kPageTabsId)->selection, 1);
            Check(window, "-page1");
        }
        QTest::keyClick(&window, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog->DoModal(), IDCANCEL);
    ExpectScriptCompleted();
    EXPECT_TRUE(errors_.Messages().empty()) << errors_.Messages().front();
}

INSTANTIATE_TEST_SUITE_P(SetupDialogs, DialogRenderTest, ::testing::ValuesIn(SetupDialogs()),
                         [](const ::testing::TestParamInfo<SetupDialogCase>& row) {
                             return "Dialog" + std::to_string(row.param.templateId);
                         });

INSTANTIATE_TEST_SUITE_P(DriveTestDialogs, DialogRenderTest,
                         ::testing::ValuesIn(DriveTestDialogs()),
                         [](const ::testing::TestParamInfo<SetupDialogCase>& row) {
                             return "Dialog" + std::to_string(row.param.templateId);
                         });

}  // namespace
