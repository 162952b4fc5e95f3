// Reads a motor file's text as the simulated drive's loader does.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "drive/MotorFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    drive::ParseMotorFile(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
