#pragma once

// The controls of a dialog as a script of user actions names them (docs/edit-script.md): each
// control of the dialog's template with its id, kind and caption, and the setup parameter the
// dialog binds to it, as the dialog binds them on a setup.

#include <optional>
#include <string>
#include <vector>

class CQel_Setup;

struct DialogControl {
    int id = 0;
    std::string kind;     // as the template names it: edit, radio, check, button, unit, ...
    std::string caption;  // empty for a control without one
    // The binding: "NAME", "NAME = 2" (a radio button), "unit of NAME" (a unit box), empty for
    // a control the dialog binds to no parameter.
    std::string parameter;
};

struct DialogControls {
    int templateId = 0;
    std::string caption;
    std::vector<DialogControl> controls;  // in the template's tab order
};

// The controls of the dialog named by its caption (letter case aside) or template id, made on the
// setup; nothing (and why, in error) when no dialog of the module is so named.
std::optional<DialogControls> ListDialogControls(CQel_Setup& setup, const std::string& dialog,
                                                 std::string& error);

// One line a control: id, kind, caption in double quotes, parameter; a heading first.
std::string FormatDialogControls(const DialogControls& listed);
