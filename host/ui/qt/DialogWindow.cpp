#include "host/ui/qt/DialogWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>

#include "host/ui/qt/ControlWidgets.h"
#include "host/ui/qt/GraphWidget.h"
#include "host/ui/qt/Keys.h"
#include "host/ui/qt/QtBackend.h"
#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

// Text is drawn in this colour unless the dialog colours it.
constexpr COLORREF kDefaultTextColour = RGB(0, 0, 0);
// COLORREF is 0x00BBGGRR.
constexpr unsigned kGreenShift = 8;
constexpr unsigned kBlueShift = 16;
constexpr COLORREF kChannelMask = 0xFF;

QColor ToQColor(COLORREF colour) {
    return {static_cast<int>(colour & kChannelMask),
            static_cast<int>((colour >> kGreenShift) & kChannelMask),
            static_cast<int>((colour >> kBlueShift) & kChannelMask)};
}

bool IsEditWidget(const QWidget* widget) {
    return qobject_cast<const QLineEdit*>(widget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(widget) != nullptr;
}

}  // namespace

DialogWindow::DialogWindow(CDialog& dialog, QtBackend& backend, QWidget* parent)
    : QDialog(parent), dialog_(dialog), backend_(backend) {
    WindowState& window = *dialog.GetWindowState();
    const DialogMetrics& metrics = backend.Metrics();
    setObjectName(QString::number(window.GetTemplateId()));
    setFont(metrics.Font());
    setWindowTitle(ToQString(window.GetCaption()));
    setFixedSize(metrics.ToPixels(window.GetSize()).size());
    for (ControlState& control : window.Controls()) {
        const View view{&control, CreateControlWidget(control, *this, metrics, backend.Bitmaps())};
        views_.push_back(view);
        Show(view);
        Connect(view);
    }
}

void DialogWindow::Refresh(int controlId) {
    if (controlId == 0) {
        if (const WindowState* window = dialog_.GetWindowState()) {
            setWindowTitle(ToQString(window->GetCaption()));
        }
    }
    for (const View& view : views_) {
        if (controlId == 0 || view.control->id == controlId) {
            Show(view);
        }
    }
}

void DialogWindow::Show(const View& view) {
    const COLORREF colour = dialog_.OnCtlColor(view.control->id, kDefaultTextColour);
    ShowControlState(*view.control, *view.widget, ToQColor(colour), backend_.Bitmaps());
}

template <typename Input>
void DialogWindow::Deliver(const View& view, Input input) {
    const QPointer<DialogWindow> alive(this);
    const InputResult result = input();
    if (alive && !result && dialog_.GetWindowState() != nullptr) {
        Show(view);
    }
}

void DialogWindow::Connect(const View& view) {
    const int id = view.control->id;
    if (auto* button = qobject_cast<QAbstractButton*>(view.widget)) {
        connect(button, &QAbstractButton::clicked, this, [this, view, id] {
            Deliver(view, [this, id] { return input::Click(dialog_, id); });
        });
    } else if (auto* line = qobject_cast<QLineEdit*>(view.widget)) {
        connect(line, &QLineEdit::textEdited, this, [this, view, id](const QString& text) {
            Deliver(view,
                    [this, id, &text] { return input::EnterText(dialog_, id, FromQString(text)); });
        });
    } else if (auto* lines = qobject_cast<QPlainTextEdit*>(view.widget)) {
        connect(lines, &QPlainTextEdit::textChanged, this, [this, view, id, lines] {
            Deliver(view, [this, id, lines] {
                return input::EnterText(dialog_, id, FromQString(lines->toPlainText()));
            });
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(view.widget)) {
        connect(combo, &QComboBox::activated, this, [this, view, id](int index) {
            Deliver(view, [this, id, index] { return input::SelectIndex(dialog_, id, index); });
        });
    } else if (auto* list = qobject_cast<QListWidget*>(view.widget)) {
        connect(list, &QListWidget::currentRowChanged, this, [this, view, id](int row) {
            Deliver(view, [this, id, row] { return input::SelectIndex(dialog_, id, row); });
        });
    } else if (auto* slider = qobject_cast<QSlider*>(view.widget)) {
        // Drags, clicks beside the thumb, arrow and page keys all end in a new value.
        connect(slider, &QSlider::valueChanged, this, [this, view, id](int position) {
            Deliver(view,
                    [this, id, position] { return input::MoveSlider(dialog_, id, position); });
        });
    } else if (auto* arrows = qobject_cast<QScrollBar*>(view.widget)) {
        connect(arrows, &QScrollBar::actionTriggered, this, [this, view, id, arrows](int action) {
            // The thumb stays at rest; only the arrows mean something.
            arrows->setSliderPosition(arrows->value());
            if (action != QAbstractSlider::SliderSingleStepSub &&
                action != QAbstractSlider::SliderSingleStepAdd) {
                return;
            }
            const ControlState& control = *view.control;
            const int upward = control.rangeMax >= control.rangeMin ? 1 : -1;
            // A vertical scroll bar's upper arrow subtracts a step.
            const int delta = action == QAbstractSlider::SliderSingleStepSub ? upward : -upward;
            Deliver(view, [this, id, delta] { return input::Spin(dialog_, id, delta); });
        });
    } else if (auto* tabs = qobject_cast<QTabBar*>(view.widget)) {
        connect(tabs, &QTabBar::currentChanged, this, [this, view, id](int index) {
            Deliver(view, [this, id, index] { return input::SelectTab(dialog_, id, index); });
        });
    } else if (auto* graph = dynamic_cast<GraphWidget*>(view.widget)) {
        graph->SetScaleStepper([this, view, id](std::size_t curve, int step) {
            Deliver(view, [this, id, curve, step] {
                return input::StepGraphScale(dialog_, id, curve, step);
            });
        });
    }
    if (IsEditWidget(view.widget)) {
        view.widget->installEventFilter(this);
    }
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // Only a move to another control of this window leaves the field; a message box or a
        // dialog opening over this one takes the focus without the user leaving it.
        const QWidget* next = QApplication::focusWidget();
        if (next != nullptr && (next == this || isAncestorOf(next))) {
            LeaveFieldLater(watched->objectName().toInt());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void DialogWindow::LeaveFieldLater(int id) {
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            const WindowState* window = dialog_.GetWindowState();
            if (window != nullptr && window->GetFocusId() == id) {
                input::LeaveField(dialog_);
            }
        },
        Qt::QueuedConnection);
}

int DialogWindow::ContextMenuTarget(QPoint point) const {
    QWidget* widget = childAt(point);
    while (widget != nullptr && widget->parentWidget() != this) {
        widget = widget->parentWidget();
    }
    for (const View& view : views_) {
        if (view.widget == widget) {
            const ControlState& control = *view.control;
            const bool passesThrough = control.kind == ControlKind::Group ||
                                       (control.kind == ControlKind::Static && control.id < 0);
            return control.enabled && control.visible && !passesThrough ? control.id : 0;
        }
    }
    return 0;
}

void DialogWindow::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    const int id = ContextMenuTarget(event->pos());
    const QPoint screen = event->globalPos();
    input::ContextMenu(dialog_, id, CPoint{screen.x(), screen.y()});
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    const std::optional<UINT> key = VirtualKeyOf(event->key());
    if (!key) {
        event->ignore();
        return;
    }
    event->accept();
    backend_.DeliverKey(dialog_, *key, event->modifiers());
}

void DialogWindow::reject() {
    input::Close(dialog_);
}

}  // namespace ui::qt
