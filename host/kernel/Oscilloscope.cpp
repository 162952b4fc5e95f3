#include "host/kernel/Oscilloscope.h"

#include <algorithm>
#include <string>

#include "host/kernel/DrawingSupport.h"
#include "host/kernel/ErrorReport.h"
#include "host/ui/Backend.h"

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kWindow_s =
    static_cast<double>(CQel_Oscilloscope::kWindow_ms) / kMillisecondsPerSecond;
constexpr const char* kTimeAxisTitle = "time [s]";
constexpr const char* kInternalUnit = "IU";
// The axes a graph control draws: left and right.
constexpr std::size_t kMaximumAxes = 2;

}  // namespace

CQel_Oscilloscope::CQel_Oscilloscope() {
    view_.xAxis.title = kTimeAxisTitle;
    view_.xAxis.maximum = kWindow_s;
    view_.yAxes.resize(1);
}

BOOL CQel_Oscilloscope::Initialize(std::string_view title, int channelCount, int options) {
    if (channelCount < 1) {
        qel::ReportError("The oscilloscope cannot show " + std::to_string(channelCount) +
                         " channels.");
        return FALSE;
    }
    channels_.assign(static_cast<std::size_t>(channelCount), CQel_OscilloscopeChannel{});
    view_.markers = (options & kMarkers) != 0;
    view_.curves.clear();
    for (int c = 0; c < channelCount; ++c) {
        ui::GraphCurve curve;
        curve.name = "Channel " + std::to_string(c + 1);
        curve.unit = kInternalUnit;
        curve.axis = std::min<std::size_t>(static_cast<std::size_t>(c), kMaximumAxes - 1);
        curve.serial = ++serial_;
        view_.curves.push_back(curve);
    }
    view_.yAxes.assign(std::min<std::size_t>(channels_.size(), kMaximumAxes),
                       ui::GraphAxis{kInternalUnit, 0.0, 1.0});
    view_.xAxis.minimum = 0.0;
    view_.xAxis.maximum = kWindow_s;
    start_ms_ = ui::CurrentBackend().Now_ms();
    if (GetControlState() != nullptr) {
        SetWindowText(title);
    }
    Publish();
    return TRUE;
}

CQel_OscilloscopeChannel* CQel_Oscilloscope::GetChannel(int index) {
    return index >= 0 && index < GetChannelsNo() ? &channels_[static_cast<std::size_t>(index)]
                                                 : nullptr;
}

void CQel_Oscilloscope::UpdateLastPoint() {
    const std::uint64_t elapsed_ms = ui::CurrentBackend().Now_ms() - start_ms_;
    const double now_s = static_cast<double>(elapsed_ms) / kMillisecondsPerSecond;
    // In whole milliseconds, so that a point at the window's start stays in it.
    const double oldest_s =
        static_cast<double>(elapsed_ms > kWindow_ms ? elapsed_ms - kWindow_ms : 0) /
        kMillisecondsPerSecond;
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        ui::GraphCurve& curve = view_.curves[c];
        curve.points.push_back({now_s, channels_[c].lastValue});
        const auto kept =
            std::find_if(curve.points.begin(), curve.points.end(),
                         [oldest_s](const ui::GraphPoint& point) { return point.x >= oldest_s; });
        if (kept != curve.points.begin()) {
            // The widget appends while the serial stays: points dropped at the front need a new
            // one so that it draws the curve anew.
            curve.points.erase(curve.points.begin(), kept);
            curve.serial = ++serial_;
        }
    }
    view_.xAxis.minimum = oldest_s;
    view_.xAxis.maximum = oldest_s + kWindow_s;
    Publish();
}

void CQel_Oscilloscope::Invalidate(BOOL /*erase*/) {
    Publish();
}

void CQel_Oscilloscope::Publish() {
    for (std::size_t a = 0; a < view_.yAxes.size(); ++a) {
        bool any = false;
        ui::GraphAxis& axis = view_.yAxes[a];
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            const CQel_OscilloscopeChannel& channel = channels_[c];
            view_.curves[c].colour = ToColorRef(channel.colour);
            if (view_.curves[c].axis != a) {
                continue;
            }
            const double low = std::min(channel.displayMinimum, channel.displayMaximum);
            const double high = std::max(channel.displayMinimum, channel.displayMaximum);
            axis.minimum = any ? std::min(axis.minimum, low) : low;
            axis.maximum = any ? std::max(axis.maximum, high) : high;
            any = true;
        }
    }
    view_.zoomed = true;
    ui::ControlState* control = GetControlState();
    if (control != nullptr && control->kind == ui::ControlKind::Graph) {
        control->graph = view_;
        Changed();
    }
}

void CQel_Oscilloscope::OnAttached() {
    if (qel::IsAttachedToKind(*this, ui::ControlKind::Graph)) {
        Publish();
    }
}
