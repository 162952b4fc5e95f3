#include "module/BrevanApp.h"

namespace {

// Palette codes of the on-line plot's channels: green for the reference, purple for the
// measured value.
constexpr int kReferencePaletteCode = 2;
constexpr int kMeasuredPaletteCode = 5;

}  // namespace

CBrevanApp::CBrevanApp() : CWinApp(nullptr) {}

CBrevanApp theApp;

const QelColour g_plotReferenceColour = RGB16(kReferencePaletteCode);
const QelColour g_plotMeasuredColour = RGB16(kMeasuredPaletteCode);
