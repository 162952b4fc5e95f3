#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/kernel/Setup.h"

// The drive module, loaded the way the host loads it: dlopen, then its plain-named exports by
// dlsym. Unloaded when the object goes.
class LoadedModule {
  public:
    // Null with the reason in error when the library or one of its exports cannot be found.
    static std::unique_ptr<LoadedModule> Load(const std::filesystem::path& path,
                                              std::string& error);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    using ComputeAllOptionsFunction = void (*)(CQel_Setup* setup);
    using EditSetupFunction = int (*)(CQel_Setup* setup);

    const qel::ScaleFunctions& GetScaleFunctions() const { return scales_; }
    ComputeAllOptionsFunction GetComputeAllOptions() const { return computeAllOptions_; }
    EditSetupFunction GetEditSetup() const { return editSetup_; }

  private:
    LoadedModule(void* handle, qel::ScaleFunctions scales,
                 ComputeAllOptionsFunction computeAllOptions, EditSetupFunction editSetup)
        : handle_(handle),
          scales_(scales),
          computeAllOptions_(computeAllOptions),
          editSetup_(editSetup) {}

    void* handle_;
    qel::ScaleFunctions scales_;
    ComputeAllOptionsFunction computeAllOptions_;
    EditSetupFunction editSetup_;
};

// Where the module is looked for: the BREVAN_MODULE environment variable, else libbrevan.so
// beside the running program.
std::filesystem::path DefaultModulePath();
