#include "host/kernel/Loggers.h"

#include <cmath>

#include "host/kernel/Comm.h"
#include "host/kernel/ErrorReport.h"
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
    settings_.points = kScopePoints;
    settings_.scope = qel::ScopeTrigger{};
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
        trigger.level = triggerVariable->BaseToInternal(level);
    }
    settings_.scope = trigger;
    return 1;
}

void CQel_ScopeLogger::OnProgramStarted() {
    values_.assign(static_cast<std::size_t>(settings_.points) * settings_.variables.size(), 0.0);
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

int CQel_ScopeLogger::GetPoint(int index, double* buffer) const {
    const std::size_t variables = settings_.variables.size();
    if (index < 0 || index >= settings_.points ||
        values_.size() != static_cast<std::size_t>(settings_.points) * variables) {
        return 0;
    }
    const double period_s = settings_.scope->duration_s / settings_.points;
    const int beforeTrigger = settings_.points * settings_.scope->preTrigger_percent / kPercent;
    buffer[0] = (index - beforeTrigger) * period_s;
    for (std::size_t i = 0; i < variables; ++i) {
        buffer[i + 1] = values_[static_cast<std::size_t>(index) * variables + i];
    }
    return 1;
}
