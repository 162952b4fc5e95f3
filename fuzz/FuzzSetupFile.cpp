// Reads a setup file's text as the brevan command does (with the module's unit scales), and saves
// and reads again what loaded: a loaded setup must save to a text that loads to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/kernel/ErrorReport.h"
#include "host/kernel/Setup.h"
#include "host/kernel/SetupFile.h"
#include "module/UnitScales.h"

namespace {

double Factor(CQel_Setup* setup, const char* unitName, const char* parameterName) {
    return setup == nullptr ? 1.0 : ScaleFactorFor(*setup, unitName, parameterName);
}

double Offset(CQel_Setup* setup, const char* unitName) {
    return setup == nullptr ? 0.0 : ScaleOffsetFor(*setup, unitName);
}

const qel::ScaleFunctions kScales{Factor, Offset};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // Every value brought into its range is reported; on standard error, thousands a second would
    // bury the fuzzer's own output.
    qel::SetErrorReporter([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qel::SetupLoadResult loaded = qel::ParseSetup(text, kScales);
    if (!loaded.setup) {
        return 0;
    }
    const std::string saved = qel::SerializeSetup(*loaded.setup);
    const qel::SetupLoadResult reloaded = qel::ParseSetup(saved, kScales);
    if (!reloaded.setup || qel::SerializeSetup(*reloaded.setup) != saved) {
        std::fprintf(stderr,
                     "a loaded setup saved to a text that does not load to the same text:\n%s",
                     saved.c_str());
        std::abort();
    }
    return 0;
}
