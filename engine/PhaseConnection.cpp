#include "engine/PhaseConnection.h"

#include "engine/StepSupport.h"

namespace engine {

bool IsDeltaConnected(double connectionType) {
    return WholePart(connectionType) == kDeltaConnection;
}

double StarPhaseValue(double terminalValue, double connectionType) {
    return IsDeltaConnected(connectionType) ? terminalValue / kDeltaToStarRatio : terminalValue;
}

}  // namespace engine
