// Reads an edit script into a fresh headless backend, as brevan edit --script does before it
// opens the dialogs (which are not opened here).

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "host/app/EditScript.h"
#include "host/ui/headless/HeadlessBackend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ui::headless::HeadlessBackend backend;
    std::vector<EditScriptProblem> problems;
    LoadEditScript(std::string_view(reinterpret_cast<const char*>(data), size), backend, problems);
    return 0;
}
