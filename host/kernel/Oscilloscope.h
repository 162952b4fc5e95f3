#pragma once

// The kernel's oscilloscope: a few channels whose last values the host sets and appends, at the
// time of the loop, to curves that roll through a window of kWindow_ms. It draws in a
// "graph" control of a dialog's template (the graph state of DrawnControls.h), so both backends
// show it with their graph widget.
//
//   CQel_Oscilloscope scope_;
//   scope_.SubclassDlgItem(1362, this);
//   scope_.Initialize("", 2, 0);
//   scope_.GetChannel(0)->displayMaximum = 1200.0;  scope_.GetChannel(0)->displayMinimum = -200.0;
//   scope_.GetChannel(0)->colour = RGB16(2);
//   ... each reading: scope_.GetChannel(0)->lastValue = reference; scope_.UpdateLastPoint();
//
// The curves' time is in seconds since Initialize. Channel 0 is drawn against the left axis,
// every other channel against the right one; each axis spans its channels' display ranges.

#include <cstdint>
#include <string_view>
#include <vector>

#include "host/kernel/KernelFunctions.h"
#include "host/ui/DrawnControls.h"
#include "host/ui/Wnd.h"

struct CQel_OscilloscopeChannel {
    double displayMaximum = 1.0;
    double displayMinimum = 0.0;
    QelColour colour;
    double lastValue = 0.0;  // internal units
};

class CQel_Oscilloscope : public CWnd {
  public:
    // The options: draw each point as a dot too.
    static constexpr int kMarkers = 1;
    // The time the curves show, the newest point at its right end.
    static constexpr std::uint64_t kWindow_ms = 5000;

    CQel_Oscilloscope();

    // Starts afresh with that many channels (at least 1), their curves empty and the time at 0;
    // the title is the control's caption. FALSE (reported) for no channel.
    BOOL Initialize(std::string_view title, int channelCount, int options);
    // The channel of that index, null outside the oscilloscope.
    CQel_OscilloscopeChannel* GetChannel(int index);
    int GetChannelsNo() const { return static_cast<int>(channels_.size()); }

    // Appends every channel's last value at the loop's present time and drops the points that
    // left the window.
    void UpdateLastPoint();
    // Shows the channels' present display ranges and colours.
    void Invalidate(BOOL erase = TRUE);

    // What the oscilloscope shows; kept also while no dialog window is attached.
    const ui::GraphState& GetView() const { return view_; }

  protected:
    void OnAttached() override;

  private:
    // Takes the channels' ranges and colours into the view and hands it to the control.
    void Publish();

    std::vector<CQel_OscilloscopeChannel> channels_;
    ui::GraphState view_;
    std::uint64_t start_ms_ = 0;
    std::uint64_t serial_ = 0;
};
