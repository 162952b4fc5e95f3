#include "host/kernel/Loggers.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "host/kernel/AtomicFile.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/Comm.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/ScopeSettingsDlg.h"
#include "host/kernel/Setup.h"

namespace {

// The drive's logger memory, in values: every variable's points share it.
constexpr int kLoggerMemoryValues = 8192;
// Points of one scope acquisition.
constexpr int kScopePoints = 1000;
constexpr int kPercent = 100;

std::uint16_t Word(const std::uint8_t* data, std::size_t word) {
    return static_cast<std::uint16_t>(data[2 * word] | (data[2 * word + 1] << 8));
}

// Publishes the scope's channel scales to its graph view: each curve of the scope graph at its
// channel's scale, over the acquisition's time base (ui::GraphScale, ui::GraphTimeBase), once a
// channel has a scale of its own (rescaled, stepped, autoscaled or loaded: scaled); before that
// the curves carry none and a graph window fits its axes to the points. Every change of the
// scales, the acquisition or the curves publishes them again; a window showing the document
// takes them on its next UpdateLastPoint.
void ShowChannelScales(CQel_ScopeLogger& scope, const CQel_Setup* setup, bool scaled) {
    CGraphDocument& document = *scope.GetGraphDocument();
    if (!scaled) {
        document.SetTimeBase(std::nullopt);
        for (int c = 0; c < document.GetSize(); ++c) {
            document.GetAt(c)->SetScale(std::nullopt);
        }
        return;
    }
    const qel::ScopeSettings settings = scope.GetScopeSettings();
    const int beforeTrigger =
        scope.GetPointsNo() * settings.acquisition.preTrigger_percent / kPercent;
    const double period_s = settings.acquisition.duration_s / scope.GetPointsNo();
    document.SetTimeBase(
        ui::GraphTimeBase{-beforeTrigger * period_s, settings.acquisition.duration_s});
    for (std::size_t c = 0; c < settings.curves.size(); ++c) {
        const int channelIndex = settings.curves[c].item - 1;
        const qel::ScopeChannel& channel =
            settings.channels[static_cast<std::size_t>(channelIndex)];
        const CQel_Variable* variable =
            setup != nullptr ? setup->FindVariable(channel.variable, 0) : nullptr;
        // The channel's unit is the curve's base unit scaled and shifted.
        const double zero = variable != nullptr ? variable->UnitToBase(0.0, channel.unit) : 0.0;
        const double perUnit =
            variable != nullptr ? variable->UnitToBase(1.0, channel.unit) - zero : 1.0;
        document.GetAt(static_cast<int>(c))
            ->SetScale(ui::GraphScale{channel.unit, channel.valuePerDivision, channel.centre, zero,
                                      perUnit, channelIndex});
    }
}

}  // namespace

int CQel_Logger::AddVariable(std::string_view name, int flag) {
    if (setup_ != nullptr && setup_->FindVariable(name, 1) == nullptr) {
        return 0;
    }
    settings_.variables.emplace_back(name);
    flags_.push_back(flag);
    return 1;
}

void CQel_Logger::ClearVariables() {
    settings_.variables.clear();
    flags_.clear();
}

CQel_SingleAxisLogger::CQel_SingleAxisLogger(CQel_Setup* setup, CQel_CoffFormat* program)
    : CQel_Logger(setup, program) {}

void CQel_SingleAxisLogger::Reset() {
    ClearVariables();
    points_.clear();
    nextPoint_ = 0;
    uploading_ = false;
}

int CQel_SingleAxisLogger::ChangeSettings(int points, int logType, int period) {
    if (points < 1 || period < 1 ||
        (logType != static_cast<int>(qel::LogType::SpeedLoop) &&
         logType != static_cast<int>(qel::LogType::CurrentLoop))) {
        qel::ReportError("The logger cannot take " + std::to_string(points) +
                         " points of log type " + std::to_string(logType) + " every " +
                         std::to_string(period) + " periods.");
        return 0;
    }
    settings_.points = points;
    settings_.type = static_cast<qel::LogType>(logType);
    settings_.period = period;
    return 1;
}

int CQel_SingleAxisLogger::CorrectPointsNo() {
    const int variables = static_cast<int>(settings_.variables.size());
    if (variables > 0 && settings_.points * variables > kLoggerMemoryValues) {
        settings_.points = kLoggerMemoryValues / variables;
    }
    return settings_.points;
}

void CQel_SingleAxisLogger::OnProgramStarted() {
    points_.clear();
    nextPoint_ = 0;
    uploading_ = false;
}

int CQel_SingleAxisLogger::BeginUploadData() {
    points_.clear();
    nextPoint_ = 0;
    uploading_ = false;
    qel::DriveLink* link = CQel_Comm::GetActiveLink();
    if (link == nullptr || !link->UploadLog(points_)) {
        points_.clear();
        return 0;
    }
    uploading_ = true;
    return 1;
}

int CQel_SingleAxisLogger::ReadPoint(double* buffer) {
    if (!uploading_ || nextPoint_ >= points_.size()) {
        uploading_ = false;
        return 0;
    }
    const qel::LoggedPoint& point = points_[nextPoint_++];
    buffer[0] = point.time_s;
    for (std::size_t i = 0; i < point.values.size(); ++i) {
        buffer[i + 1] = point.values[i];
    }
    return 1;
}

int CQel_SingleAxisLogger::ReadPoint() {
    if (!uploading_ || nextPoint_ >= points_.size()) {
        uploading_ = false;
        return 0;
    }
    ++nextPoint_;
    return 1;
}

CQel_ScopeLogger::CQel_ScopeLogger(CQel_Setup* setup, CQel_CoffFormat* program)
    : CQel_Logger(setup, program) {
    SetDefaultValues();
}

void CQel_ScopeLogger::SetDefaultValues() {
    ClearVariables();
    channels_.clear();
    document_.RemoveAll();
    filter_.RemoveAll();
    curveItems_.clear();
    values_.clear();
    lastFirst_ = 0;
    lastCount_ = 0;
    settings_.points = kScopePoints;
    const qel::ScopeAcquisition defaults;
    settings_.scope =
        qel::ScopeTrigger{defaults.duration_s, static_cast<qel::TriggerMode>(defaults.mode),
                          defaults.slope == 1, defaults.variable,
                          defaults.level,      defaults.preTrigger_percent};
    ShowChannelScales(*this, setup_, false);
}

int CQel_ScopeLogger::ChangeSettings(double duration_s, int mode, int slope,
                                     std::string_view variable, double level,
                                     int preTrigger_percent) {
    const bool knownMode = mode == static_cast<int>(qel::TriggerMode::Untriggered) ||
                           mode == static_cast<int>(qel::TriggerMode::Repeated) ||
                           mode == static_cast<int>(qel::TriggerMode::Single);
    if (!(duration_s > 0.0) || !std::isfinite(duration_s) || !knownMode ||
        (slope != 0 && slope != 1) || preTrigger_percent < 0 || preTrigger_percent > kPercent ||
        !std::isfinite(level)) {
        qel::ReportError("The scope cannot acquire over " + std::to_string(duration_s) +
                         " s in trigger mode " + std::to_string(mode) + " with slope " +
                         std::to_string(slope) + " and " + std::to_string(preTrigger_percent) +
                         " % before the trigger.");
        return 0;
    }
    qel::ScopeTrigger trigger{
        duration_s, static_cast<qel::TriggerMode>(mode), slope == 1, {}, 0.0, preTrigger_percent};
    if (trigger.mode != qel::TriggerMode::Untriggered) {
        const CQel_Variable* triggerVariable =
            setup_ == nullptr ? nullptr : setup_->FindVariable(variable, 1);
        if (triggerVariable == nullptr) {
            return 0;
        }
        trigger.variable = triggerVariable->GetName();
        // The drive compares whole numbers of its units: a level the conversion leaves a hair
        // above a value the reference reaches exactly must still be crossed.
        trigger.level = std::round(triggerVariable->BaseToInternal(level));
    }
    settings_.scope = trigger;
    ShowChannelScales(*this, setup_, !channels_.empty());
    return 1;
}

const CQel_Variable* CQel_ScopeLogger::ItemVariable(int item) const {
    if (setup_ == nullptr || item < 1 || item > static_cast<int>(settings_.variables.size())) {
        return nullptr;
    }
    return setup_->FindVariable(settings_.variables[static_cast<std::size_t>(item - 1)], 0);
}

int CQel_ScopeLogger::LocateItems() {
    int located = 0;
    for (std::string& name : settings_.variables) {
        const CQel_Variable* variable = setup_ == nullptr ? nullptr : setup_->FindVariable(name, 1);
        if (variable != nullptr) {
            name = variable->GetName();
            ++located;
        }
    }
    for (std::size_t c = 0; c < curveItems_.size(); ++c) {
        if (const CQel_Variable* variable = ItemVariable(curveItems_[c])) {
            CXYCurve& curve = *document_.GetAt(static_cast<int>(c));
            curve.SetName(variable->GetName());
            curve.SetUnit(variable->GetBaseUnitName());
        }
    }
    return located == static_cast<int>(settings_.variables.size()) ? located : 0;
}

CGraphFilter* CQel_ScopeLogger::GetGraphFilter(int index) {
    return index == 0 ? &filter_ : nullptr;
}

int CQel_ScopeLogger::AddCurve(int filterIndex, int xItem, int yItem, QelColour colour) {
    const int items = static_cast<int>(settings_.variables.size());
    if (filterIndex != 0 || xItem != 0 || yItem < 1 || yItem > items) {
        qel::ReportError("The scope graph cannot show item " + std::to_string(yItem) +
                         " against item " + std::to_string(xItem) + " in filter " +
                         std::to_string(filterIndex) + ": it shows the " + std::to_string(items) +
                         " logged items (1 the first) against the time (item 0) in filter 0.");
        return -1;
    }
    const CQel_Variable* variable = ItemVariable(yItem);
    const int index = document_.AddCurve(
        CXYCurve(settings_.variables[static_cast<std::size_t>(yItem - 1)],
                 variable != nullptr ? variable->GetBaseUnitName() : std::string(), colour));
    curveItems_.push_back(yItem);
    filter_.Add(index);
    ShowChannelScales(*this, setup_, !channels_.empty());
    return index;
}

qel::ScopeChannel CQel_ScopeLogger::DefaultChannel(int channel) const {
    const auto index = static_cast<std::size_t>(channel);
    const CQel_Variable* variable = ItemVariable(channel + 1);
    qel::ScopeChannel made;
    made.variable = settings_.variables[index];
    made.flag = flags_[index];
    made.unit = variable != nullptr ? variable->GetBaseUnitName() : std::string();
    return made;
}

qel::ScopeChannel& CQel_ScopeLogger::MutableChannel(int channel) {
    while (static_cast<int>(channels_.size()) <= channel) {
        channels_.push_back(DefaultChannel(static_cast<int>(channels_.size())));
    }
    return channels_[static_cast<std::size_t>(channel)];
}

std::optional<qel::ScopeChannel> CQel_ScopeLogger::GetChannel(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(settings_.variables.size())) {
        return std::nullopt;
    }
    return channel < static_cast<int>(channels_.size())
               ? channels_[static_cast<std::size_t>(channel)]
               : DefaultChannel(channel);
}

int CQel_ScopeLogger::RescaleVariable(std::string_view variable, std::string_view unitName,
                                      double valuePerDivision, double centre) {
    const auto logged = std::find_if(
        settings_.variables.begin(), settings_.variables.end(),
        [variable](const std::string& name) { return qel::EqualsIgnoringCase(name, variable); });
    if (logged == settings_.variables.end()) {
        qel::ReportError("The scope cannot rescale \"" + std::string(variable) +
                         "\": it does not log it.");
        return 0;
    }
    const int channel = static_cast<int>(logged - settings_.variables.begin());
    const CQel_Variable* found = ItemVariable(channel + 1);
    if (found == nullptr || std::isnan(found->UnitToBase(0.0, unitName)) ||
        !(valuePerDivision > 0.0) || !std::isfinite(valuePerDivision) || !std::isfinite(centre)) {
        qel::ReportError("The scope cannot show \"" + std::string(variable) + "\" at " +
                         std::to_string(valuePerDivision) + " " + std::string(unitName) +
                         " per division centred on " + std::to_string(centre) + ".");
        return 0;
    }
    qel::ScopeChannel& scale = MutableChannel(channel);
    scale.unit = std::string(unitName);
    scale.valuePerDivision = valuePerDivision;
    scale.centre = centre;
    ShowChannelScales(*this, setup_, true);
    return 1;
}

int CQel_ScopeLogger::ChangeChannelScale(int channel, int step) {
    if (channel < 0 || channel >= static_cast<int>(settings_.variables.size()) || step == 0) {
        qel::ReportError("The scope cannot step the scale of channel " + std::to_string(channel) +
                         " by " + std::to_string(step) + ": it logs " +
                         std::to_string(settings_.variables.size()) + " channels.");
        return 0;
    }
    qel::ScopeChannel& scale = MutableChannel(channel);
    scale.valuePerDivision = qel::StepScopeScale(scale.valuePerDivision, step);
    ShowChannelScales(*this, setup_, true);
    return 1;
}

int CQel_ScopeLogger::Autoscale() {
    int scaled = 0;
    for (std::size_t c = 0; c < curveItems_.size(); ++c) {
        const CXYCurve& curve = *document_.GetAt(static_cast<int>(c));
        const CQel_Variable* variable = ItemVariable(curveItems_[c]);
        if (curve.GetPointsNo() == 0 || variable == nullptr) {
            continue;
        }
        qel::ScopeChannel& channel = MutableChannel(curveItems_[c] - 1);
        // The channel's unit is the base unit scaled and shifted: its value of a base value b is
        // (b - zero) / perUnit.
        const double zero = variable->UnitToBase(0.0, channel.unit);
        const double perUnit = variable->UnitToBase(1.0, channel.unit) - zero;
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -lowest;
        for (const ui::GraphPoint& point : curve.GetPoints()) {
            const double value = (point.y - zero) / perUnit;
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
        constexpr double kHalfGrid = qel::kScopeDivisions / 2.0;
        double valuePerDivision = qel::ScopeScaleAtLeast((highest - lowest) / qel::kScopeDivisions);
        double centre = 0.0;
        // Centring on a whole number of divisions can push an edge out: then one scale coarser.
        for (;;) {
            centre = std::round((highest + lowest) / 2.0 / valuePerDivision) * valuePerDivision;
            if (highest <= centre + kHalfGrid * valuePerDivision &&
                lowest >= centre - kHalfGrid * valuePerDivision) {
                break;
            }
            valuePerDivision = qel::StepScopeScale(valuePerDivision, 1);
        }
        channel.valuePerDivision = valuePerDivision;
        channel.centre = centre;
        ++scaled;
    }
    if (scaled == 0) {
        qel::ReportError("The scope has no points to scale its channels from.");
        return 0;
    }
    ShowChannelScales(*this, setup_, true);
    return 1;
}

qel::ScopeSettings CQel_ScopeLogger::GetScopeSettings() const {
    qel::ScopeSettings settings;
    const qel::ScopeTrigger& trigger = *settings_.scope;
    const CQel_Variable* triggerVariable = setup_ == nullptr || trigger.variable.empty()
                                               ? nullptr
                                               : setup_->FindVariable(trigger.variable, 0);
    settings.acquisition = {
        trigger.duration_s,
        static_cast<int>(trigger.mode),
        trigger.rising ? 1 : 0,
        trigger.variable,
        triggerVariable != nullptr ? triggerVariable->InternalToBase(trigger.level) : trigger.level,
        trigger.preTrigger_percent};
    for (int c = 0; c < static_cast<int>(settings_.variables.size()); ++c) {
        settings.channels.push_back(*GetChannel(c));
    }
    for (std::size_t c = 0; c < curveItems_.size(); ++c) {
        settings.curves.push_back(
            {curveItems_[c], document_.GetAt(static_cast<int>(c))->GetColour()});
    }
    return settings;
}

int CQel_ScopeLogger::Apply(const qel::ScopeSettings& settings, std::string_view origin) {
    const auto refuse = [origin](const std::string& why) {
        qel::ReportError("The scope settings of " + std::string(origin) +
                         " cannot be used: " + why + ".");
        return 0;
    };
    if (setup_ == nullptr) {
        return refuse("the scope belongs to no setup");
    }
    for (const qel::ScopeChannel& channel : settings.channels) {
        const CQel_Variable* variable = setup_->FindVariable(channel.variable, 0);
        if (variable == nullptr) {
            return refuse("the setup has no variable \"" + channel.variable + "\"");
        }
        if (std::isnan(variable->UnitToBase(0.0, channel.unit))) {
            return refuse("\"" + channel.unit + "\" is not a unit of \"" + channel.variable + "\"");
        }
    }
    const qel::ScopeAcquisition& acquisition = settings.acquisition;
    if (ChangeSettings(acquisition.duration_s, acquisition.mode, acquisition.slope,
                       acquisition.variable, acquisition.level,
                       acquisition.preTrigger_percent) == 0) {
        return refuse("its acquisition is not one this drive makes");
    }
    const qel::ScopeTrigger trigger = *settings_.scope;
    SetDefaultValues();
    settings_.scope = trigger;
    for (const qel::ScopeChannel& channel : settings.channels) {
        AddVariable(channel.variable, channel.flag);
        channels_.push_back(channel);
    }
    LocateItems();
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        channels_[c].variable = settings_.variables[c];
    }
    for (const qel::ScopeCurve& curve : settings.curves) {
        AddCurve(0, 0, curve.item, curve.colour);
    }
    ShowChannelScales(*this, setup_, !channels_.empty());
    return 1;
}

BOOL CQel_ScopeLogger::Edit(CWnd* parent) {
    CScopeSettingsDlg dialog(*this, setup_, parent);
    return dialog.DoModal() == IDOK ? TRUE : FALSE;
}

int CQel_ScopeLogger::Save(const std::filesystem::path& path) const {
    const std::string problem =
        qel::WriteFileAtomically(path, qel::ScopeSettingsToJson(GetScopeSettings()));
    if (!problem.empty()) {
        qel::ReportError("The scope settings were not saved: " + problem + ".");
        return 0;
    }
    return 1;
}

int CQel_ScopeLogger::Load(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        qel::ReportError("The scope settings could not be read from " + path.string() + ".");
        return 0;
    }
    std::string problem;
    const std::optional<qel::ScopeSettings> settings = qel::ParseScopeSettings(text.str(), problem);
    if (!settings) {
        qel::ReportError("The scope settings of " + path.string() + " cannot be used: " + problem +
                         ".");
        return 0;
    }
    return Apply(*settings, path.string());
}

int CQel_ScopeLogger::SaveSettingsToSetupOption(std::string_view option) const {
    if (setup_ == nullptr) {
        qel::ReportError("The scope settings cannot be kept: the scope belongs to no setup.");
        return 0;
    }
    setup_->SetOption(option, qel::ScopeSettingsToJson(GetScopeSettings()));
    return 1;
}

int CQel_ScopeLogger::LoadSettingsFromSetupOption(std::string_view option) {
    const std::string text = setup_ == nullptr ? std::string() : setup_->GetOptionNoError(option);
    if (text.empty()) {
        return 0;
    }
    std::string problem;
    const std::optional<qel::ScopeSettings> settings = qel::ParseScopeSettings(text, problem);
    if (!settings) {
        qel::ReportError("The scope settings of the setup's option \"" + std::string(option) +
                         "\" cannot be used: " + problem + ".");
        return 0;
    }
    return Apply(*settings, "the setup's option \"" + std::string(option) + "\"");
}

BOOL CQel_ScopeLogger::SaveGraph(std::string_view proposedName) const {
    CGraphWindow graph(2, 0);
    graph.SetDocument(const_cast<CGraphDocument*>(&document_), const_cast<CGraphFilter*>(&filter_));
    return graph.SaveGraph({}, proposedName);
}

void CQel_ScopeLogger::OnProgramStarted() {
    values_.assign(static_cast<std::size_t>(settings_.points) * settings_.variables.size(), 0.0);
    for (int c = 0; c < document_.GetSize(); ++c) {
        document_.GetAt(c)->RemoveAllPoints();
    }
    lastFirst_ = 0;
    lastCount_ = 0;
    uploading_ = true;
    ended_ = false;
}

int CQel_ScopeLogger::OnFrameReceive(int byteCount, const std::uint8_t* data) {
    constexpr std::size_t kWordsPerValue = 2;
    const std::size_t variables = settings_.variables.size();
    if (byteCount < 0 || data == nullptr ||
        static_cast<std::size_t>(byteCount) < 2 * qel::kScopeFrameDataHeaderWords) {
        return -1;
    }
    const std::size_t words = static_cast<std::size_t>(byteCount) / 2;
    const std::uint16_t flags = Word(data, 0);
    const int first = Word(data, 1);
    const int count = Word(data, 2);
    const std::size_t valueWords = static_cast<std::size_t>(count) * variables * kWordsPerValue;
    if (words != qel::kScopeFrameDataHeaderWords + valueWords || first + count > settings_.points ||
        values_.size() != static_cast<std::size_t>(settings_.points) * variables) {
        return -1;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(count) * variables; ++i) {
        const std::size_t word = qel::kScopeFrameDataHeaderWords + kWordsPerValue * i;
        const auto value =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(Word(data, word)) |
                                      (static_cast<std::uint32_t>(Word(data, word + 1)) << 16));
        values_[static_cast<std::size_t>(first) * variables + i] = value;
    }
    // A frame that does not continue a curve (a new acquisition starts at point 0) redraws it
    // from the acquisition's start.
    for (std::size_t c = 0; c < curveItems_.size(); ++c) {
        CXYCurve& curve = *document_.GetAt(static_cast<int>(c));
        const CQel_Variable* variable = ItemVariable(curveItems_[c]);
        const auto item = static_cast<std::size_t>(curveItems_[c] - 1);
        int from = first;
        if (curve.GetPointsNo() != first) {
            curve.RemoveAllPoints();
            from = 0;
        }
        for (int index = from; index < first + count; ++index) {
            const double internal = values_[static_cast<std::size_t>(index) * variables + item];
            curve.AddPoint(PointTime_s(index),
                           variable != nullptr ? variable->InternalToBase(internal) : internal);
        }
    }
    lastFirst_ = first;
    lastCount_ = count;
    if ((flags & qel::kScopeLastFrameFlag) != 0 &&
        settings_.scope->mode != qel::TriggerMode::Repeated) {
        ended_ = true;
    }
    return count;
}

void CQel_ScopeLogger::GetPointsToBeDrawn(int& first, int& count) const {
    first = lastFirst_;
    count = lastCount_;
}

double CQel_ScopeLogger::PointTime_s(int index) const {
    const double period_s = settings_.scope->duration_s / settings_.points;
    const int beforeTrigger = settings_.points * settings_.scope->preTrigger_percent / kPercent;
    return (index - beforeTrigger) * period_s;
}

int CQel_ScopeLogger::GetPoint(int index, double* buffer) const {
    const std::size_t variables = settings_.variables.size();
    if (index < 0 || index >= settings_.points ||
        values_.size() != static_cast<std::size_t>(settings_.points) * variables) {
        return 0;
    }
    buffer[0] = PointTime_s(index);
    for (std::size_t i = 0; i < variables; ++i) {
        buffer[i + 1] = values_[static_cast<std::size_t>(index) * variables + i];
    }
    return 1;
}
