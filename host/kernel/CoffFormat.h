#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "host/kernel/DriveLink.h"

class CQel_Logger;

// A test program for the drive, read from its description file (our program image): the
// program's name, its entry point and the symbol table of its user variables with their initial
// values. The host sets input variables in the image before the start; once this image is the
// program running on the drive, its variables are read and written on the drive itself.
//
//   CQel_CoffFormat program;
//   program.SetFileName(CQel_CoffFormat::GetOutPathName("VDC_Detection_Test"));
//   program.ReadCoff();
//   program.SetUserVariableValue("In1", 100, error);
//   CQel_CoffFormat::ExecuteCode("VDC_Detection_Test", &program, nullptr, nullptr, nullptr);
class CQel_CoffFormat {
  public:
    using ProgressCallback = void (*)(int percentDone, void* data);

    CQel_CoffFormat() = default;
    ~CQel_CoffFormat();
    CQel_CoffFormat(const CQel_CoffFormat&) = delete;
    CQel_CoffFormat& operator=(const CQel_CoffFormat&) = delete;

    // The folder holding the program files, set by the host.
    static void SetProgramsDirectory(std::filesystem::path directory);
    static const std::filesystem::path& GetProgramsDirectory();
    // The full path of the program file of that name; empty when the folder has none.
    static std::string GetOutPathName(std::string_view programName);

    void SetFileName(std::string path) { fileName_ = std::move(path); }
    const std::string& GetFileName() const { return fileName_; }
    // Reads the file named; 1 on success, else 0 with the problem reported and kept.
    int ReadCoff();
    bool IsLoaded() const { return loaded_; }
    const qel::ProgramImage& GetImage() const { return image_; }
    const std::string& GetLastError() const { return lastError_; }

    // A user variable by its symbol name (letter case ignored); 0 on failure with the reason in
    // errorText.
    int SetUserVariableValue(std::string_view name, double value, std::string& errorText);
    int GetUserVariableValue(std::string_view name, double& value, std::string& errorText);

    // Downloads the program to the active drive and starts it, with the logger's settings when
    // one is given; the program object may be null for a program found by name alone. 0 on
    // failure (reported). The callback, when given, hears 100 once the program has started.
    static int ExecuteCode(std::string_view programName, CQel_CoffFormat* program,
                           CQel_Logger* logger, ProgressCallback callback, void* data);

  private:
    bool IsOnDrive() const;
    std::pair<std::string, double>* FindSymbol(std::string_view name);

    std::string fileName_;
    qel::ProgramImage image_;
    bool loaded_ = false;
    std::string lastError_;
};
