#include "host/ui/qt/ControlWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <algorithm>

#include "host/ui/qt/DrawnWidgets.h"
#include "host/ui/qt/GraphWidget.h"
#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

// A static text of two or more lines' height wraps its words.
constexpr int kLineHeight_du = 8;
// QLineEdit's limit when the edit has none.
constexpr int kUnlimitedEditLength = 32767;
// Margin between a button's frame and its image, in pixels.
constexpr int kButtonImageMargin_px = 4;
// A multi-line edit's tab stops are 32 dialog units apart.
constexpr Rect kTabStop_du{0, 0, 32, 0};
// A spin button's scroll bar runs over -1, 0, 1 and rests at 0: each arrow always has room.
constexpr int kSpinRest = 0;
constexpr int kSpinReach = 1;

QWidget* MakeWidget(const ControlState& control, QWidget& parent, BitmapLibrary& bitmaps) {
    switch (control.kind) {
        case ControlKind::Static: {
            auto* label = new QLabel(&parent);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(control.rect.h >= 2 * kLineHeight_du);
            return label;
        }
        case ControlKind::Edit:
            if (control.multiline) {
                auto* edit = new QPlainTextEdit(&parent);
                edit->setTabChangesFocus(true);
                return edit;
            }
            return new QLineEdit(&parent);
        case ControlKind::Button: {
            auto* button = new QPushButton(&parent);
            // Return goes to the dialog, which sends it to its default button.
            button->setAutoDefault(false);
            return button;
        }
        case ControlKind::Check:
            return new QCheckBox(&parent);
        case ControlKind::Radio: {
            auto* radio = new QRadioButton(&parent);
            // The control state checks and unchecks the run; Qt's own exclusivity would span
            // every radio button of the dialog.
            radio->setAutoExclusive(false);
            return radio;
        }
        case ControlKind::Combo:
        case ControlKind::Unit:
            return new QComboBox(&parent);
        case ControlKind::List:
            return new QListWidget(&parent);
        case ControlKind::Group:
            return new QGroupBox(&parent);
        case ControlKind::Picture:
            return new PictureWidget(bitmaps, &parent);
        case ControlKind::Slider:
            return new QSlider(Qt::Horizontal, &parent);
        case ControlKind::Spin: {
            auto* arrows = new QScrollBar(Qt::Vertical, &parent);
            arrows->setRange(kSpinRest - kSpinReach, kSpinRest + kSpinReach);
            arrows->setValue(kSpinRest);
            return arrows;
        }
        case ControlKind::Tab:
            return new QTabBar(&parent);
        case ControlKind::BarGraph:
            return new BarGraphWidget(&parent);
        case ControlKind::Diagram:
            return new DiagramWidget(&parent);
        case ControlKind::Graph:
            return new GraphWidget(&parent);
    }
    return new QWidget(&parent);
}

QStringList ItemTexts(const ControlState& control) {
    QStringList texts;
    for (const ListItem& item : control.items) {
        texts.push_back(ToQString(item.text));
    }
    return texts;
}

void ShowItems(QComboBox& combo, const ControlState& control) {
    const QStringList texts = ItemTexts(control);
    QStringList shown;
    for (int i = 0; i < combo.count(); ++i) {
        shown.push_back(combo.itemText(i));
    }
    if (shown != texts) {
        combo.clear();
        combo.addItems(texts);
    }
    combo.setCurrentIndex(control.selection);
}

void ShowItems(QListWidget& list, const ControlState& control) {
    const QStringList texts = ItemTexts(control);
    QStringList shown;
    for (int i = 0; i < list.count(); ++i) {
        shown.push_back(list.item(i)->text());
    }
    if (shown != texts) {
        list.clear();
        list.addItems(texts);
    }
    list.setCurrentRow(control.selection);
}

void ShowItems(QTabBar& tabs, const ControlState& control) {
    const QStringList texts = ItemTexts(control);
    QStringList shown;
    for (int i = 0; i < tabs.count(); ++i) {
        shown.push_back(tabs.tabText(i));
    }
    if (shown != texts) {
        while (tabs.count() > 0) {
            tabs.removeTab(0);
        }
        for (const QString& text : texts) {
            tabs.addTab(text);
        }
    }
    tabs.setCurrentIndex(control.selection);
}

void ShowRange(QSlider& slider, const ControlState& control) {
    slider.setRange(std::min(control.rangeMin, control.rangeMax),
                    std::max(control.rangeMin, control.rangeMax));
    slider.setValue(control.position);
    slider.setTickInterval(control.ticFrequency);
    slider.setTickPosition(control.ticFrequency > 0 ? QSlider::TicksBelow : QSlider::NoTicks);
    slider.setPageStep(control.pageSize);
    slider.setSingleStep(control.lineSize);
}

// A button with a bitmap shows the drawing across its face (the drawings are made to the
// button's proportions); its caption becomes the tooltip and the name a screen reader says.
void ShowButtonImage(QPushButton& button, const ControlState& control, BitmapLibrary& bitmaps) {
    if (control.bitmap.empty()) {
        button.setIcon(QIcon());
        button.setToolTip(QString());
        return;
    }
    const QSize size = button.size() - QSize(2 * kButtonImageMargin_px, 2 * kButtonImageMargin_px);
    button.setText(QString());
    button.setToolTip(StaticText(control.text));
    button.setAccessibleName(StaticText(control.text));
    button.setIconSize(size);
    button.setIcon(QIcon(bitmaps.Render(control.bitmap, size, button.devicePixelRatioF())));
}

void ShowText(const ControlState& control, QWidget& widget) {
    const QString text = ToQString(control.text);
    if (auto* label = qobject_cast<QLabel*>(&widget)) {
        label->setText(StaticText(control.text));
    } else if (auto* line = qobject_cast<QLineEdit*>(&widget)) {
        // A new limit sets the text again with the cursor at its end: only when it changes.
        const int limit =
            control.limitText != 0 ? static_cast<int>(control.limitText) : kUnlimitedEditLength;
        if (line->maxLength() != limit) {
            line->setMaxLength(limit);
        }
        if (line->text() != text) {
            line->setText(text);
            line->setCursorPosition(0);  // a value too long for the box shows its start
        }
        line->setReadOnly(control.readOnly);
    } else if (auto* lines = qobject_cast<QPlainTextEdit*>(&widget)) {
        QString multiline = text;
        multiline.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (lines->toPlainText() != multiline) {
            lines->setPlainText(multiline);
        }
        lines->setReadOnly(control.readOnly);
    } else if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
        // Buttons take "&" as the mnemonic mark and "&&" as an ampersand, as the captions do.
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(&widget)) {
        group->setTitle(text);
    }
}

}  // namespace

QWidget* CreateControlWidget(const ControlState& control, QWidget& parent,
                             const DialogMetrics& metrics, BitmapLibrary& bitmaps) {
    QWidget* widget = MakeWidget(control, parent, bitmaps);
    widget->setObjectName(QString::number(control.id));
    widget->setGeometry(metrics.ControlRect(control));
    if (auto* lines = qobject_cast<QPlainTextEdit*>(widget)) {
        lines->setTabStopDistance(metrics.ToPixels(kTabStop_du).width());
    }
    if (control.kind != ControlKind::Edit) {
        // The right button over a control goes to the dialog (edits keep their own menu).
        widget->setContextMenuPolicy(Qt::NoContextMenu);
    }
    if (control.kind == ControlKind::Group) {
        widget->lower();  // a frame stays behind the controls it holds
    }
    return widget;
}

void ShowControlState(const ControlState& control, QWidget& widget, const QColor& textColour,
                      BitmapLibrary& bitmaps) {
    const QSignalBlocker quiet(&widget);
    ShowText(control, widget);
    if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
        if (control.kind == ControlKind::Check || control.kind == ControlKind::Radio) {
            button->setChecked(control.checked == BST_CHECKED);
        }
        if (auto* push = qobject_cast<QPushButton*>(button)) {
            push->setDefault(control.isDefault);
            ShowButtonImage(*push, control, bitmaps);
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(&widget)) {
        ShowItems(*combo, control);
    } else if (auto* list = qobject_cast<QListWidget*>(&widget)) {
        const QSignalBlocker quietSelection(list->selectionModel());
        ShowItems(*list, control);
    } else if (auto* tabs = qobject_cast<QTabBar*>(&widget)) {
        ShowItems(*tabs, control);
    } else if (auto* slider = qobject_cast<QSlider*>(&widget)) {
        ShowRange(*slider, control);
    } else if (auto* arrows = qobject_cast<QScrollBar*>(&widget)) {
        arrows->setValue(kSpinRest);
    } else if (auto* picture = dynamic_cast<PictureWidget*>(&widget)) {
        picture->SetBitmap(control.bitmap);
    } else if (auto* bar = dynamic_cast<BarGraphWidget*>(&widget)) {
        bar->Show(control.barGraph);
    } else if (auto* diagram = dynamic_cast<DiagramWidget*>(&widget)) {
        diagram->Show(control.diagram, StaticText(control.text));
    } else if (auto* graph = dynamic_cast<GraphWidget*>(&widget)) {
        graph->Show(control.graph, StaticText(control.text));
    }
    QPalette palette = widget.palette();
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, textColour);
        palette.setColor(QPalette::Inactive, role, textColour);
    }
    widget.setPalette(palette);
    widget.setEnabled(control.enabled);
    widget.setVisible(control.visible);
}

}  // namespace ui::qt
