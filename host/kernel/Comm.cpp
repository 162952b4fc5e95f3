#include "host/kernel/Comm.h"

#include "host/kernel/Setup.h"

namespace {

constexpr const char* kNoDriveText = "No drive is connected.";

qel::DriveLink* g_activeLink = nullptr;
CQel_Comm::UnsolicitedMsgHandler g_unsolicitedHandler = nullptr;

}  // namespace

void CQel_Comm::Connect(CQel_Setup& setup, qel::DriveLink* link) {
    setup.SetDriveLink(link);
    g_activeLink = link;
}

void CQel_Comm::SetActiveLink(qel::DriveLink* link) {
    g_activeLink = link;
}

qel::DriveLink* CQel_Comm::GetActiveLink() {
    return g_activeLink;
}

std::string CQel_Comm::GetLastErrorText() {
    return g_activeLink == nullptr ? kNoDriveText : g_activeLink->LastError();
}

bool CQel_Comm::ReadValue(std::string_view name, double& internalValue) {
    return g_activeLink != nullptr && g_activeLink->ReadValue(name, internalValue);
}

bool CQel_Comm::WriteValue(std::string_view name, double internalValue) {
    return g_activeLink != nullptr && g_activeLink->WriteValue(name, internalValue);
}

bool CQel_Comm::GetAxisOn(int& on) {
    bool axisOn = false;
    if (g_activeLink == nullptr || !g_activeLink->ReadAxisOn(axisOn)) {
        return false;
    }
    on = axisOn ? 1 : 0;
    return true;
}

bool CQel_Comm::GetEndInit(int& done) {
    bool ended = false;
    if (g_activeLink == nullptr || !g_activeLink->ReadEndOfInitialisation(ended)) {
        return false;
    }
    done = ended ? 1 : 0;
    return true;
}

bool CQel_Comm::StopProgram() {
    return g_activeLink != nullptr && g_activeLink->StopProgram();
}

bool CQel_Comm::ResetActiveBoard() {
    return g_activeLink != nullptr && g_activeLink->ResetBoard();
}

CQel_Comm::UnsolicitedMsgHandler CQel_Comm::RegisterReceiveUnsolicitedMsgHandler(
    UnsolicitedMsgHandler handler) {
    const UnsolicitedMsgHandler previous = g_unsolicitedHandler;
    g_unsolicitedHandler = handler;
    return previous;
}

int CQel_Comm::CheckForUnrequestedMessages() {
    if (g_activeLink == nullptr) {
        return 0;
    }
    int handed = 0;
    for (const qel::UnsolicitedMessage& message : g_activeLink->TakeUnsolicitedMessages()) {
        if (g_unsolicitedHandler != nullptr) {
            g_unsolicitedHandler(static_cast<int>(message.size()), message.data());
            ++handed;
        }
    }
    return handed;
}
