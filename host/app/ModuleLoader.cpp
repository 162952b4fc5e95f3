#include "host/app/ModuleLoader.h"

#include <dlfcn.h>

#include <cstdlib>

namespace {

template <typename Function>
Function FindExport(void* handle, const char* name, std::string& error) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        const char* reason = dlerror();
        error = std::string("the module has no export \"") + name + "\"" +
                (reason != nullptr ? std::string(" (") + reason + ")" : std::string());
        return nullptr;
    }
    return reinterpret_cast<Function>(symbol);
}

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Load(const std::filesystem::path& path,
                                                 std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load the module " + path.string() + ": " +
                (reason != nullptr ? reason : "unknown reason");
        return nullptr;
    }
    qel::ScaleFunctions scales;
    scales.factor = FindExport<qel::ScaleFactorFunction>(handle, "GetScaleFactor", error);
    scales.offset = FindExport<qel::ScaleOffsetFunction>(handle, "GetScaleOffset", error);
    const auto computeAllOptions =
        FindExport<ComputeAllOptionsFunction>(handle, "ComputeAllOptions", error);
    const auto editSetup = FindExport<EditSetupFunction>(handle, "EditSetup", error);
    if (scales.factor == nullptr || scales.offset == nullptr || computeAllOptions == nullptr ||
        editSetup == nullptr) {
        dlclose(handle);
        return nullptr;
    }
    return std::unique_ptr<LoadedModule>(
        new LoadedModule(handle, scales, computeAllOptions, editSetup));
}

LoadedModule::~LoadedModule() {
    dlclose(handle_);
}

std::filesystem::path DefaultModulePath() {
    if (const char* fromEnvironment = std::getenv("BREVAN_MODULE");
        fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    std::error_code ignored;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ignored);
    return program.parent_path() / "libbrevan.so";
}
