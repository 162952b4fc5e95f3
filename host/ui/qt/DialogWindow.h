#pragma once

// The window of one dialog: a QDialog with a widget per control of the dialog's window state,
// placed from its template. It redraws what the layer says changed and feeds what the user does
// through UserInput.h (never changing the state itself); when the layer refuses an input, the
// widget shows the state again. Return, Escape and the other keys go through the layer's key
// handling (PreTranslateMessage first), the close box through its Close. The right mouse button
// goes to the layer's ContextMenu with the control under the mouse, or with the dialog itself
// when that control is disabled, hidden, a group box or a static text without an id (which the
// mouse passes through on the desktop the dialogs were written for); edit boxes keep their own
// menu.
//
//   auto* window = new ui::qt::DialogWindow(dialog, backend, parentWindow);
//   window->Refresh(1165);            // the control's state changed
//   QLineEdit* edit = window->findChild<QLineEdit*>("1165");

#include <QDialog>
#include <vector>

#include "host/ui/ControlState.h"
#include "host/ui/Dialog.h"
#include "host/ui/UserInput.h"

namespace ui::qt {

class QtBackend;

class DialogWindow : public QDialog {
  public:
    DialogWindow(CDialog& dialog, QtBackend& backend, QWidget* parent);

    CDialog& Dialog() const { return dialog_; }
    // Redraws the controls with that id; 0 redraws the caption and every control.
    void Refresh(int controlId);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The close box (and anything else that would reject the dialog) goes through the layer.
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    struct View {
        ControlState* control;
        QWidget* widget;
    };

    void Show(const View& view);
    void Connect(const View& view);
    // Feeds one input through the layer; a refused one leaves the widget showing the state.
    template <typename Input>
    void Deliver(const View& view, Input input);
    // The focus left an edit for another control of this window: the layer hears it once the
    // event that moved the focus is done.
    void LeaveFieldLater(int id);
    // The control a right click at the point (in this window's pixels) names; 0 for the dialog.
    int ContextMenuTarget(QPoint point) const;

    CDialog& dialog_;
    QtBackend& backend_;
    std::vector<View> views_;  // in tab order
};

}  // namespace ui::qt
