#include "host/ui/qt/MessageBoxes.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>
#include <algorithm>

#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

// MB_DEFBUTTON2 is 0x100: the default button's index sits in the third hex digit.
constexpr unsigned kDefaultButtonShift = 8;

struct ResultButton {
    int result;
    QMessageBox::StandardButton button;
};
constexpr ResultButton kResultButtons[] = {
    {IDOK, QMessageBox::Ok},       {IDCANCEL, QMessageBox::Cancel}, {IDABORT, QMessageBox::Abort},
    {IDRETRY, QMessageBox::Retry}, {IDIGNORE, QMessageBox::Ignore}, {IDYES, QMessageBox::Yes},
    {IDNO, QMessageBox::No},
};

// Keeps Escape and the close box from answering a box that has no button for them (Qt would
// pick "No" of a Yes/No box).
class NoEscape : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

MessageBoxLayout LayoutOf(UINT type) {
    MessageBoxLayout layout;
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            layout.buttons = {IDOK, IDCANCEL};
            break;
        case MB_ABORTRETRYIGNORE:
            layout.buttons = {IDABORT, IDRETRY, IDIGNORE};
            break;
        case MB_YESNOCANCEL:
            layout.buttons = {IDYES, IDNO, IDCANCEL};
            break;
        case MB_YESNO:
            layout.buttons = {IDYES, IDNO};
            break;
        case MB_RETRYCANCEL:
            layout.buttons = {IDRETRY, IDCANCEL};
            break;
        default:
            layout.buttons = {IDOK};
            break;
    }
    const std::size_t index = (type & MB_DEFMASK) >> kDefaultButtonShift;
    layout.defaultButton = layout.buttons[std::min(index, layout.buttons.size() - 1)];
    if (std::ranges::find(layout.buttons, IDCANCEL) != layout.buttons.end()) {
        layout.escapeButton = IDCANCEL;
    } else if (layout.buttons.size() == 1) {
        layout.escapeButton = layout.buttons.front();
    }
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            layout.icon = QMessageBox::Critical;
            break;
        case MB_ICONQUESTION:
            layout.icon = QMessageBox::Question;
            break;
        case MB_ICONWARNING:
            layout.icon = QMessageBox::Warning;
            break;
        case MB_ICONINFORMATION:
            layout.icon = QMessageBox::Information;
            break;
        default:
            layout.icon = QMessageBox::NoIcon;
            break;
    }
    return layout;
}

QMessageBox::StandardButton StandardButtonOf(int result) {
    for (const ResultButton& pair : kResultButtons) {
        if (pair.result == result) {
            return pair.button;
        }
    }
    return QMessageBox::NoButton;
}

int ResultOf(QMessageBox::StandardButton button) {
    for (const ResultButton& pair : kResultButtons) {
        if (pair.button == button) {
            return pair.result;
        }
    }
    return IDCANCEL;
}

int RunMessageBox(QWidget* parent, const QFont& font, std::string_view text,
                  std::string_view caption, UINT type) {
    const MessageBoxLayout layout = LayoutOf(type);
    QMessageBox box(parent);
    box.setFont(font);
    box.setWindowTitle(ToQString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(text));
    box.setIcon(layout.icon);
    for (const int result : layout.buttons) {
        box.addButton(StandardButtonOf(result));
    }
    box.setDefaultButton(StandardButtonOf(layout.defaultButton));
    NoEscape noEscape;
    if (layout.escapeButton) {
        box.setEscapeButton(box.button(StandardButtonOf(*layout.escapeButton)));
    } else {
        box.installEventFilter(&noEscape);
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    return clicked != nullptr ? ResultOf(box.standardButton(clicked)) : layout.defaultButton;
}

}  // namespace ui::qt
