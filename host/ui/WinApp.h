#pragma once

#include <string>

// The application object of a library with dialogs: one global instance per loaded library.
class CWinApp {
  public:
    explicit CWinApp(const char* appName = nullptr) : appName_(appName != nullptr ? appName : "") {}
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    const std::string& GetAppName() const { return appName_; }

  private:
    std::string appName_;
};
