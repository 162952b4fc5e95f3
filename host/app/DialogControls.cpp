#include "host/app/DialogControls.h"

#include <charconv>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "dialogs/AdvancedDlg.h"
#include "dialogs/DriveInfoDlg.h"
#include "dialogs/DriveSetupDlg.h"
#include "dialogs/ExternalReferenceDlg.h"
#include "dialogs/FiltersDlg.h"
#include "dialogs/MotorInertiaDlg.h"
#include "dialogs/MotorSetupDlg.h"
#include "drivetests/DetectEncoderResolution.h"
#include "drivetests/DetectPolePairs.h"
#include "drivetests/TestAnalogueRef.h"
#include "drivetests/TestAngle.h"
#include "drivetests/TestCurrent.h"
#include "drivetests/TestEncoderConnections.h"
#include "drivetests/TestEncoderOffset.h"
#include "drivetests/TestPhaseConnections.h"
#include "drivetests/TestPositionTuning.h"
#include "drivetests/TestRL.h"
#include "drivetests/TestSpeedTuning.h"
#include "drivetests/TestVdcDetection.h"
#include "drivetests/TotalInertiaTest.h"
#include "host/app/Suggest.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/EditSetupDlg.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/headless/HeadlessBackend.h"

namespace {

using Maker = std::function<std::unique_ptr<CQel_EditSetupDlg>(CQel_Setup&)>;
using BindingInfo = CQel_EditSetupDlg::BindingInfo;

template <typename Dialog>
std::unique_ptr<CQel_EditSetupDlg> Make(CQel_Setup& setup) {
    return std::make_unique<Dialog>(&setup, nullptr);
}

// Every dialog of the module, by template, made as its opener makes it.
const std::map<int, Maker>& Dialogs() {
    static const std::map<int, Maker> dialogs = {
        {101, Make<CTestCurrent>},
        {102, Make<CTestSpeedTuning>},
        {103, Make<CTestPositionTuning>},
        {104, Make<CTestAnalogueRef>},
        {105, Make<CTestVdcDetection>},
        {106, Make<CDriveSetupDlg>},
        {108, Make<CMotorSetupDialog>},
        {110, Make<CAdvancedDialog>},
        {111, Make<CAnalogReferenceDlg>},
        {288, Make<CTestPhaseConnections>},
        {289, Make<CDetectPolePairs>},
        {290, Make<CTestRL>},
        {291, Make<CTestEncoderConnections>},
        {292, Make<CDetectEncoderResolution>},
        {295,
         [](CQel_Setup& setup) {
             return std::make_unique<CFiltersDialog>(&setup, false, nullptr);
         }},
        {3018, Make<CDriveInfo>},
        {3041, Make<CTotalInertiaTest>},
        {3056, Make<CInertiaQuestion>},
        {3057, Make<CTestAngle>},
        {3058, Make<CTestEncoderOffset>},
    };
    return dialogs;
}

std::optional<int> TemplateNumber(const std::string& text) {
    int number = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (status != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

// What each control id is bound to.
std::map<int, std::string> BoundParameters(const std::vector<BindingInfo>& bindings) {
    std::map<int, std::string> bound;
    const auto add = [&bound](int id, const std::string& text) {
        if (id != 0 && !bound.contains(id)) {
            bound[id] = text;
        }
    };
    for (const BindingInfo& binding : bindings) {
        switch (binding.kind) {
            case BindingInfo::Kind::Radio:
                for (int id = binding.firstId; id <= binding.lastId; ++id) {
                    add(id, binding.name + " = " + std::to_string(id - binding.firstId));
                }
                break;
            case BindingInfo::Kind::Check:
                add(binding.firstId, binding.name + " (1 on, 0 off)");
                break;
            case BindingInfo::Kind::List:
                add(binding.firstId, binding.name + " (the item's data)");
                break;
            case BindingInfo::Kind::Slider:
                add(binding.firstId, binding.name);
                add(binding.fineSpinId, binding.name + " (fine steps)");
                add(binding.coarseSpinId, binding.name + " (coarse steps)");
                break;
            case BindingInfo::Kind::Value:
                add(binding.firstId, binding.name);
                break;
        }
        add(binding.unitId, "unit of " + binding.name);
    }
    return bound;
}

}  // namespace

std::optional<DialogControls> ListDialogControls(CQel_Setup& setup, const std::string& dialog,
                                                 std::string& error) {
    const ui::headless::Session session;
    std::vector<std::string> captions;
    for (const auto& [templateId, make] : Dialogs()) {
        const ui::TemplateLoad loaded = ui::LoadDialogTemplate(templateId);
        if (!loaded.dialogTemplate) {
            error = loaded.problem;
            return std::nullopt;
        }
        const ui::DialogTemplate& found = *loaded.dialogTemplate;
        captions.push_back(found.caption);
        if (TemplateNumber(dialog) != templateId &&
            !qel::EqualsIgnoringCase(dialog, found.caption)) {
            continue;
        }
        const std::unique_ptr<CQel_EditSetupDlg> made = make(setup);
        const std::map<int, std::string> bound = BoundParameters(made->GetBindings());
        DialogControls listed{templateId, found.caption, {}};
        for (const ui::ControlTemplate& control : found.controls) {
            const auto binding = bound.find(control.id);
            listed.controls.push_back({control.id, std::string(ui::ControlKindName(control.kind)),
                                       control.caption,
                                       binding == bound.end() ? std::string() : binding->second});
        }
        return listed;
    }
    std::string known;
    for (const std::string& caption : captions) {
        known += (known.empty() ? "\"" : ", \"") + caption + "\"";
    }
    error = "no dialog is called \"" + dialog + "\"" + DidYouMean(dialog, captions) +
            "; the dialogs: " + known + " (or their template numbers)";
    return std::nullopt;
}

std::string FormatDialogControls(const DialogControls& listed) {
    constexpr std::size_t kIdColumn = 7;
    constexpr std::size_t kKindColumn = 10;
    constexpr std::size_t kCaptionColumn = 41;
    // The columns, each padded to its width (a longer text pushes the next one along); the
    // blanks after the last are not printed.
    const auto row = [&](const std::string& id, const std::string& kind, const std::string& caption,
                         const std::string& parameter) {
        std::string line;
        for (const auto& [text, width] : {std::pair{id, kIdColumn}, std::pair{kind, kKindColumn},
                                          std::pair{caption, kCaptionColumn}}) {
            line += text + std::string(text.size() < width ? width - text.size() : 1, ' ');
        }
        line += parameter;
        line.erase(line.find_last_not_of(' ') + 1);
        return line + "\n";
    };
    std::string text =
        "dialog \"" + listed.caption + "\" (template " + std::to_string(listed.templateId) + ")\n";
    text += row("ID", "KIND", "CAPTION", "PARAMETER");
    for (const DialogControl& control : listed.controls) {
        text +=
            row(std::to_string(control.id), control.kind,
                control.caption.empty() ? "" : "\"" + control.caption + "\"", control.parameter);
    }
    return text;
}
