#include "host/kernel/Resolution.h"

#include <array>
#include <cstdlib>

namespace {

constexpr std::array kStandardLines{
    16,   32,   50,   64,   100,  125,  128,  200,   250,   256,   360,   400,   500,
    512,  600,  720,  800,  1000, 1024, 1200, 1250,  1500,  1800,  2000,  2048,  2500,
    3000, 3600, 4000, 4096, 5000, 8000, 8192, 10000, 16384, 20000, 32768, 50000, 65536,
};

}  // namespace

int CResolution::FindBestResolution(int lines) {
    if (lines < 1) {
        return -1;
    }
    int best = 0;
    // Ascending order and a strict comparison keep the smaller of two equally near ones.
    for (int index = 1; index < GetCount(); ++index) {
        const long distance = std::labs(static_cast<long>(lines) - GetResolution(index));
        if (distance < std::labs(static_cast<long>(lines) - GetResolution(best))) {
            best = index;
        }
    }
    return best;
}

int CResolution::GetResolution(int index) {
    if (index < 0 || index >= GetCount()) {
        return 0;
    }
    return kStandardLines[static_cast<std::size_t>(index)];
}

int CResolution::GetCount() {
    return static_cast<int>(kStandardLines.size());
}
