#pragma once

#include <cstdint>
#include <optional>

#include "MotorModel.h"

namespace drive {

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
    std::int64_t Read(double shaftAngle_rad) const;

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

    EncoderData data_;
    bool linkBroken_ = false;
    std::optional<std::int64_t> storedOffset_;
    int interpolationBits_;
    std::int64_t countsPerTurn_;
    double countsPerRadian_;
};

}  // namespace drive
