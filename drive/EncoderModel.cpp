#include "drive/EncoderModel.h"

#include <algorithm>
#include <numbers>

namespace drive {

namespace {

// Quadrature: the edges of A and B give four counts per line.
constexpr std::int64_t kCountsPerLine = 4;
// More interpolation bits than this would push a 32-bit counter past a turn for the usual line
// counts; the interpolator setting is bounded to it.
constexpr int kMaxInterpolationBits = 16;

}  // namespace

EncoderModel::EncoderModel(const EncoderData& data, int interpolationBits)
    : data_(data),
      interpolationBits_(std::clamp(interpolationBits, 0, kMaxInterpolationBits)),
      countsPerTurn_(kCountsPerLine * std::max(data.lines, 1) *
                     (std::int64_t{1} << interpolationBits_)),
      countsPerRadian_(static_cast<double>(countsPerTurn_) / (2.0 * std::numbers::pi)) {}

void EncoderModel::SetChannelsSwapped(bool swapped, double shaftAngle_rad) {
    const std::int64_t now = Read(shaftAngle_rad);
    channelsSwapped_ = swapped;
    if (IsCounting()) {
        lostCounts_ = WiredCount(shaftAngle_rad) - now;
    }
}

void EncoderModel::SetChannelConnected(EncoderChannel channel, bool connected,
                                       double shaftAngle_rad) {
    const bool wasCounting = IsCounting();
    if (wasCounting) {
        heldCount_ = Read(shaftAngle_rad);
    }
    (channel == EncoderChannel::A ? channelAConnected_ : channelBConnected_) = connected;
    if (!wasCounting && IsCounting()) {
        lostCounts_ = WiredCount(shaftAngle_rad) - heldCount_;
    }
}

std::optional<std::int64_t> EncoderModel::ReadAbsolutePosition(double shaftAngle_rad) const {
    if (!LinkWorks()) {
        return std::nullopt;
    }
    // The serial link reports the encoder's own position, whatever the incremental channels do.
    const std::int64_t remainder = ShaftCount(shaftAngle_rad) % countsPerTurn_;
    return remainder < 0 ? remainder + countsPerTurn_ : remainder;
}

std::optional<std::int64_t> EncoderModel::ReadOffset() const {
    return LinkWorks() ? storedOffset_ : std::nullopt;
}

bool EncoderModel::WriteOffset(std::int64_t offset) {
    if (!LinkWorks()) {
        return false;
    }
    storedOffset_ = offset;
    return true;
}

std::optional<std::int64_t> EncoderModel::ReadAlarms() const {
    return LinkWorks() ? std::optional<std::int64_t>(0) : std::nullopt;
}

}  // namespace drive
