#include "host/ui/Utf8Text.h"

#include <array>
#include <cstdint>

namespace ui {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five bytes it leaves undefined keep
// their C1 code points, as the system's own conversion does.
constexpr std::uint8_t kFirstSpecialByte = 0x80;
constexpr std::array<char32_t, 32> kSpecialCodePoints = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

// UTF-8 lead bytes: 110xxxxx starts two bytes, 1110xxxx three, 11110xxx four; 10xxxxxx
// continues. The x bits carry the code point.
constexpr char32_t kContinuationMask = 0xC0;
constexpr char32_t kContinuationBits = 0x80;
constexpr char32_t kContinuationPayload = 0x3F;
constexpr char32_t kTwoByteMask = 0xE0;
constexpr char32_t kTwoByteBits = 0xC0;
constexpr char32_t kTwoBytePayload = 0x1F;
constexpr char32_t kThreeByteMask = 0xF0;
constexpr char32_t kThreeByteBits = 0xE0;
constexpr char32_t kThreeBytePayload = 0x0F;
constexpr char32_t kFourByteMask = 0xF8;
constexpr char32_t kFourByteBits = 0xF0;
constexpr char32_t kFourBytePayload = 0x07;
constexpr unsigned kBitsPerContinuation = 6;
// The smallest code point each length may encode (shorter forms are overlong) and the limits of
// Unicode.
constexpr char32_t kSmallestTwoByte = 0x80;
constexpr char32_t kSmallestThreeByte = 0x800;
constexpr char32_t kSmallestFourByte = 0x10000;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kLastOneByte = 0x7F;
constexpr char32_t kLastTwoByte = 0x7FF;
constexpr char32_t kLastThreeByte = 0xFFFF;

void AppendUtf8(std::string& out, char32_t codePoint) {
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    const auto continuation = [&byte](char32_t bits) {
        return byte(kContinuationBits | (bits & kContinuationPayload));
    };
    if (codePoint <= kLastOneByte) {
        out += byte(codePoint);
    } else if (codePoint <= kLastTwoByte) {
        out += byte(kTwoByteBits | (codePoint >> kBitsPerContinuation));
        out += continuation(codePoint);
    } else if (codePoint <= kLastThreeByte) {
        out += byte(kThreeByteBits | (codePoint >> (2 * kBitsPerContinuation)));
        out += continuation(codePoint >> kBitsPerContinuation);
        out += continuation(codePoint);
    } else {
        out += byte(kFourByteBits | (codePoint >> (3 * kBitsPerContinuation)));
        out += continuation(codePoint >> (2 * kBitsPerContinuation));
        out += continuation(codePoint >> kBitsPerContinuation);
        out += continuation(codePoint);
    }
}

}  // namespace

bool IsWellFormedUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = 1;
        char32_t codePoint = lead;
        char32_t smallest = 0;
        if ((lead & kTwoByteMask) == kTwoByteBits) {
            length = 2;
            codePoint = lead & kTwoBytePayload;
            smallest = kSmallestTwoByte;
        } else if ((lead & kThreeByteMask) == kThreeByteBits) {
            length = 3;
            codePoint = lead & kThreeBytePayload;
            smallest = kSmallestThreeByte;
        } else if ((lead & kFourByteMask) == kFourByteBits) {
            length = 4;
            codePoint = lead & kFourBytePayload;
            smallest = kSmallestFourByte;
        } else if (lead > kLastOneByte) {
            return false;  // a continuation byte without a lead, or no UTF-8 lead at all
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const char32_t next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & kContinuationMask) != kContinuationBits) {
                return false;
            }
            codePoint = (codePoint << kBitsPerContinuation) | (next & kContinuationPayload);
        }
        if (codePoint < smallest || codePoint > kLastCodePoint ||
            (codePoint >= kFirstSurrogate && codePoint <= kLastSurrogate)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string DisplayUtf8(std::string_view text) {
    if (IsWellFormedUtf8(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        const bool special =
            byte >= kFirstSpecialByte && byte < kFirstSpecialByte + kSpecialCodePoints.size();
        AppendUtf8(out, special ? kSpecialCodePoints[byte - kFirstSpecialByte] : char32_t{byte});
    }
    return out;
}

}  // namespace ui
