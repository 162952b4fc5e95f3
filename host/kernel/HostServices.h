#pragma once

// Services of the host application that dialogs use: the host's directory and help file, the
// help viewer, the host's resource module for bitmaps, the drive's brake outputs and the CAN
// baud rates.
//
//   std::string helpFile = GetHelpFileOfGUI(setup);
//   if (!helpFile.empty()) HtmlHelp(nullptr, GetGUIDirectory() + helpFile, HH_HELP_CONTEXT,
//   0x40106); qel::ShowHelpTopic(*setup, 0x40106);        // the same, in one call if (auto bitmap
//   = GetGuiModule(setup).LoadBitmap(3059)) picture.SetBitmap(*bitmap); FillIOBrakeCombo(setup,
//   combo, currentPort);

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/ui/AfxTypes.h"
#include "host/ui/DialogTemplate.h"

class CQel_Setup;
class CComboBox;

// The host's directory, ending with a path separator (empty until the host sets it).
std::string GetGUIDirectory();
// The host's help file for this setup, relative to GetGUIDirectory(): the setup's option
// "GUIHelpFile" when it is not empty, else the host-wide name; empty when there is none.
std::string GetHelpFileOfGUI(const CQel_Setup* setup);

namespace qel {

void SetGUIDirectory(std::string directory);
void SetHelpFileOfGUI(std::string fileName);

// Opens the host's help file at the topic; does nothing when there is no help file.
void ShowHelpTopic(const CQel_Setup& setup, DWORD_PTR topic);

// The host's module of user-interface resources.
class GuiModule {
  public:
    std::optional<ui::Bitmap> LoadBitmap(int bitmapId) const;
    std::optional<ui::Bitmap> LoadBitmap(std::string_view name) const;
};

// Output-stage bits of IsBrakePortEnable: the port can drive a brake, and the kind of output.
inline constexpr int kBrakePortUsable = 0x01;
inline constexpr int kOutputStageMask = 0x30;
inline constexpr int kOutputStageSink = 0x10;    // NPN: switches the load to ground
inline constexpr int kOutputStageSource = 0x20;  // PNP: switches the load to the logic supply

// The CAN bus bit rates a drive can be set to, in bit/s, and the option holding the chosen one.
const std::vector<int>& CanBaudRates();
inline constexpr std::string_view kCanBaudRateOption = "CANBaudRate";
inline constexpr int kDefaultCanBaudRate = 500000;
// "125 kbit/s", "1 Mbit/s".
std::string DescribeCanBaudRate(int baudRate);

}  // namespace qel

qel::GuiModule GetGuiModule(const CQel_Setup* setup);

// The drive's outputs that can drive a motor brake.
int GetNumberOfBrakeOutputs(const CQel_Setup* setup);
// Fills the combo with the brake outputs ("OUT2 (pin 27)", item data = port) and selects the
// current port (nothing selected when it is not one of them).
void FillIOBrakeCombo(const CQel_Setup* setup, CComboBox& combo, int currentPort);
// 1 when the port's output is active low, else 0 (also for a port the drive lacks).
int IsIOQel3PortInverted(const CQel_Setup* setup, int port);
// kBrakePortUsable when the port can drive a brake, or-ed with its output stage; 0 for a port
// the drive lacks.
int IsBrakePortEnable(const CQel_Setup* setup, int port);

// The last error the operating system reported to this thread, for the user (a window timer that
// could not be created, a file that could not be opened).
std::string GetLastErrorText();
