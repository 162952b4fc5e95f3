#include "engine/PhaseConnection.h"

#include "engine/StepSupport.h"

namespace engine {

bool IsDeltaConnected(double connectionType) {
    return WholePart(connectionType) == kDeltaConnection;
}

double StarPhaseValue(double terminalValue, double connectionType) {
    return IsDeltaConnected(connectionType) ? terminalValue / kDeltaToStarRatio : terminalValue;
}

double TerminalValue(double starPhaseValue, double connectionType) {
    return IsDeltaConnected(connectionType) ? starPhaseValue * kDeltaToStarRatio : starPhaseValue;
}

}  // namespace engine
