#include "host/ui/Backend.h"

#include "host/ui/headless/HeadlessBackend.h"

namespace ui {
namespace {

// The backend of a process that installed none: headless, printing what it records, so that a
// command-line run shows its message boxes and problems.
headless::HeadlessBackend& DefaultBackend() {
    static headless::HeadlessBackend backend;
    static const bool echoing = [] {
        backend.SetEcho(true);
        return true;
    }();
    static_cast<void>(echoing);
    return backend;
}

Backend*& InstalledBackend() {
    static Backend* installed = nullptr;
    return installed;
}

}  // namespace

Backend& CurrentBackend() {
    Backend* installed = InstalledBackend();
    return installed != nullptr ? *installed : DefaultBackend();
}

Backend* InstallBackend(Backend* backend) {
    Backend* previous = &CurrentBackend();
    InstalledBackend() = backend;
    return previous;
}

}  // namespace ui
