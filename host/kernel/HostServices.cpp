#include "host/kernel/HostServices.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "host/kernel/Setup.h"
#include "host/ui/Wnd.h"

namespace {

// The setup option naming a help file of its own for the setup's product.
constexpr std::string_view kHelpFileOption = "GUIHelpFile";
constexpr int kBitsPerKilobit = 1000;
constexpr int kBitsPerMegabit = 1000000;

std::string& GuiDirectorySetting() {
    static std::string directory;
    return directory;
}

std::string& HelpFileSetting() {
    static std::string fileName;
    return fileName;
}

const qel::IoPort* FindPort(const CQel_Setup* setup, int port) {
    if (setup == nullptr) {
        return nullptr;
    }
    const std::vector<qel::IoPort>& ports = setup->GetIoPorts();
    const auto found = std::find_if(ports.begin(), ports.end(),
                                    [port](const qel::IoPort& p) { return p.port == port; });
    return found != ports.end() ? &*found : nullptr;
}

}  // namespace

std::string GetGUIDirectory() {
    return GuiDirectorySetting();
}

std::string GetHelpFileOfGUI(const CQel_Setup* setup) {
    if (setup != nullptr) {
        std::string own = setup->GetOptionNoError(kHelpFileOption);
        if (!own.empty()) {
            return own;
        }
    }
    return HelpFileSetting();
}

namespace qel {

void SetGUIDirectory(std::string directory) {
    if (!directory.empty() && directory.back() != '/') {
        directory += '/';
    }
    GuiDirectorySetting() = std::move(directory);
}

void SetHelpFileOfGUI(std::string fileName) {
    HelpFileSetting() = std::move(fileName);
}

void ShowHelpTopic(const CQel_Setup& setup, DWORD_PTR topic) {
    const std::string helpFile = GetHelpFileOfGUI(&setup);
    if (helpFile.empty()) {
        return;
    }
    HtmlHelp(nullptr, GetGUIDirectory() + helpFile, HH_HELP_CONTEXT, topic);
}

std::optional<ui::Bitmap> GuiModule::LoadBitmap(int bitmapId) const {
    return ui::LoadBitmapResource(bitmapId);
}

std::optional<ui::Bitmap> GuiModule::LoadBitmap(std::string_view name) const {
    return ui::LoadBitmapResource(name);
}

const std::vector<int>& CanBaudRates() {
    static const std::vector<int> rates{10000,  20000,  50000,  125000,
                                        250000, 500000, 800000, 1000000};
    return rates;
}

std::string DescribeCanBaudRate(int baudRate) {
    if (baudRate >= kBitsPerMegabit && baudRate % kBitsPerMegabit == 0) {
        return std::to_string(baudRate / kBitsPerMegabit) + " Mbit/s";
    }
    if (baudRate % kBitsPerKilobit == 0) {
        return std::to_string(baudRate / kBitsPerKilobit) + " kbit/s";
    }
    return std::to_string(baudRate) + " bit/s";
}

}  // namespace qel

qel::GuiModule GetGuiModule(const CQel_Setup* /*setup*/) {
    return {};
}

int GetNumberOfBrakeOutputs(const CQel_Setup* setup) {
    if (setup == nullptr) {
        return 0;
    }
    const std::vector<qel::IoPort>& ports = setup->GetIoPorts();
    return static_cast<int>(
        std::count_if(ports.begin(), ports.end(), [](const qel::IoPort& p) { return p.brake; }));
}

void FillIOBrakeCombo(const CQel_Setup* setup, CComboBox& combo, int currentPort) {
    combo.ResetContent();
    if (setup == nullptr) {
        return;
    }
    std::vector<qel::IoPort> ports = setup->GetIoPorts();
    std::sort(ports.begin(), ports.end(),
              [](const qel::IoPort& a, const qel::IoPort& b) { return a.port < b.port; });
    for (const qel::IoPort& port : ports) {
        if (!port.brake) {
            continue;
        }
        const int index = combo.AddString("OUT" + std::to_string(port.port) + " (pin " +
                                          std::to_string(port.pin) + ")");
        combo.SetItemData(index, static_cast<DWORD_PTR>(port.port));
        if (port.port == currentPort) {
            combo.SetCurSel(index);
        }
    }
}

int IsIOQel3PortInverted(const CQel_Setup* setup, int port) {
    const qel::IoPort* found = FindPort(setup, port);
    return found != nullptr && found->inverted ? 1 : 0;
}

int IsBrakePortEnable(const CQel_Setup* setup, int port) {
    const qel::IoPort* found = FindPort(setup, port);
    if (found == nullptr) {
        return 0;
    }
    // The drive's digital outputs are open-collector (sink) stages.
    return (found->brake ? qel::kBrakePortUsable : 0) | qel::kOutputStageSink;
}

std::string GetLastErrorText() {
    const int error = errno;
    return error != 0 ? std::string(std::strerror(error))
                      : std::string("The system reported no error.");
}
