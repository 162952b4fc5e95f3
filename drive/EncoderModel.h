#pragma once

#include <cstdint>
#include <optional>

#include "drive/MotorModel.h"
#include "drive/WholeNumbers.h"

namespace drive {

// The encoder's incremental signal pairs: channel A (sine) and channel B (cosine).
enum class EncoderChannel { A, B };

// The sine-cosine encoder as the drive reads it: the quadrature of the A and B channels gives
// four counts per line, and the interpolator of the sine and cosine signals divides each count
// into 2^interpolationBits, so one turn is 4 x lines x 2^bits counts.
class EncoderModel {
  public:
    EncoderModel(const EncoderData& data, int interpolationBits);

    std::int64_t CountsPerTurn() const { return countsPerTurn_; }
    int InterpolationBits() const { return interpolationBits_; }

    // The count the interpolator reads at this shaft angle: counted from the encoder's zero, in
    // the direction the channels' wiring gives, truncated toward minus infinity like a counter
    // that has passed whole counts only.
    // While a channel is missing the count holds (see SetChannelConnected).
    std::int64_t Read(double shaftAngle_rad) const {
        return IsCounting() ? WiredCount(shaftAngle_rad) - lostCounts_ : heldCount_;
    }

    // A channel's signals reach the drive or not (a broken wire), the shaft being at this angle.
    // Without one channel the quadrature counter sees only the other's edges, each undoing the
    // last, and the interpolator rejects the signal pair for its amplitude: the count holds at
    // its value when the channel was lost. Once both are back the count follows the shaft again
    // from there, the turn made meanwhile lost to it.
    void SetChannelConnected(EncoderChannel channel, bool connected, double shaftAngle_rad);
    bool IsCounting() const { return channelAConnected_ && channelBConnected_; }
    // Channels A and B exchanged in the wiring, from this shaft angle on: the count runs the
    // other way from where it is.
    void SetChannelsSwapped(bool swapped, double shaftAngle_rad);

    // The serial link of an absolute encoder. Each operation fails (nothing) when the encoder is
    // not absolute or the link is broken; reading the offset also fails while none is stored.
    bool IsAbsolute() const { return data_.absolute; }
    void SetLinkBroken(bool broken) { linkBroken_ = broken; }
    // The count within a turn, 0 ... CountsPerTurn() - 1.
    std::optional<std::int64_t> ReadAbsolutePosition(double shaftAngle_rad) const;
    std::optional<std::int64_t> ReadOffset() const;
    bool WriteOffset(std::int64_t offset);
    // The encoder's alarm word (no alarm is modelled: 0 when the link works) and its reset.
    std::optional<std::int64_t> ReadAlarms() const;
    bool ResetAlarms() const { return LinkWorks(); }

  private:
    bool LinkWorks() const { return data_.absolute && !linkBroken_; }
    // The count of a sound encoder at this angle, without what the counter lost.
    std::int64_t ShaftCount(double shaftAngle_rad) const {
        const double direction = data_.reversed ? -1.0 : 1.0;
        const double counts = direction * (shaftAngle_rad - data_.zeroAngle_rad) * countsPerRadian_;
        return static_cast<std::int64_t>(whole::Floor(counts));
    }
    // What the counter would read, the shaft at this angle, as the channels are wired now.
    std::int64_t WiredCount(double shaftAngle_rad) const {
        return channelsSwapped_ ? -ShaftCount(shaftAngle_rad) : ShaftCount(shaftAngle_rad);
    }

    EncoderData data_;
    bool linkBroken_ = false;
    std::optional<std::int64_t> storedOffset_;
    bool channelAConnected_ = true;
    bool channelBConnected_ = true;
    bool channelsSwapped_ = false;
    // The count held while a channel is missing, and what the counter lags the wired count by.
    std::int64_t heldCount_ = 0;
    std::int64_t lostCounts_ = 0;
    int interpolationBits_;
    std::int64_t countsPerTurn_;
    double countsPerRadian_;
};

}  // namespace drive
