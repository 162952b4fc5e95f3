#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/kernel/DriveLink.h"

class CQel_Setup;

// The host's communication with the drive it is connected to: one active link for the process
// (the user-interface thread only), the last communication error and the dispatch of the
// messages the drive sends on its own.
//
//   drive::SimulatedDriveLink link(...);
//   CQel_Comm::Connect(setup, &link);      // the setup's variables now read and write the drive
//   if (!variable->ReadFromChip()) { show(CQel_Comm::GetLastErrorText()); }
class CQel_Comm {
  public:
    // A handler of unsolicited messages: the whole message's size in bytes and its bytes;
    // returns 0 when it took the message, else what it makes of it (the message's code when it
    // is not one the handler takes).
    using UnsolicitedMsgHandler = int (*)(int byteCount, const std::uint8_t* data);

    // Makes the link the active one and connects the setup's parameters and variables to it;
    // a null link disconnects.
    static void Connect(CQel_Setup& setup, qel::DriveLink* link);
    static void SetActiveLink(qel::DriveLink* link);
    static qel::DriveLink* GetActiveLink();

    // The text of the last failed communication, for the user.
    static std::string GetLastErrorText();

    // Values of the active drive in internal units; false (see GetLastErrorText) on failure.
    static bool ReadValue(std::string_view name, double& internalValue);
    static bool WriteValue(std::string_view name, double internalValue);
    static bool GetAxisOn(int& on);
    static bool GetEndInit(int& done);
    static bool ResetActiveBoard();
    static bool StopProgram();

    // Registers the handler of unsolicited messages and returns the one it replaces.
    static UnsolicitedMsgHandler RegisterReceiveUnsolicitedMsgHandler(
        UnsolicitedMsgHandler handler);
    // Takes every message the active drive sent since the last call and hands each, oldest
    // first, to the registered handler; returns how many were handed over (none without a
    // handler: the messages are dropped).
    static int CheckForUnrequestedMessages();
};
