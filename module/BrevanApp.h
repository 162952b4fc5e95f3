#pragma once

#include "host/kernel/KernelFunctions.h"
#include "host/ui/WinApp.h"

// The module's application object: a library with dialogs needs one. It adds nothing to the base.
class CBrevanApp : public CWinApp {
  public:
    CBrevanApp();
};

extern CBrevanApp theApp;

// The two channels of the tuning tests' on-line plot: reference and measured value.
extern const QelColour g_plotReferenceColour;
extern const QelColour g_plotMeasuredColour;
