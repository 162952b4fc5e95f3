#pragma once

#include <string>
#include <vector>

#include "host/kernel/ErrorReport.h"

// Collects what the kernel reports while it lives, instead of printing it, and restores the
// previous reporter and error-display flag afterwards.
class CollectedErrors {
  public:
    CollectedErrors()
        : previous_(qel::SetErrorReporter(
              [this](std::string_view message) { messages_.emplace_back(message); })),
          savedShowErrors_(g_bShowErrors) {}
    ~CollectedErrors() {
        qel::SetErrorReporter(previous_);
        g_bShowErrors = savedShowErrors_;
    }
    CollectedErrors(const CollectedErrors&) = delete;
    CollectedErrors& operator=(const CollectedErrors&) = delete;

    const std::vector<std::string>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }

  private:
    std::vector<std::string> messages_;
    qel::ErrorReporter previous_;
    int savedShowErrors_;
};
