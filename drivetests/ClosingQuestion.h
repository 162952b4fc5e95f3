#pragma once

// The question a test asks on closing when it found values that differ from the setup's: one
// line per parameter with its old and new value, and Yes, No and Cancel.

#include <string>
#include <string_view>

class CWnd;

class ClosingQuestion {
  public:
    enum class Answer { NotAsked, Yes, No, Cancel };

    // Adds the parameter's line.
    void AddLine(std::string_view label, const std::string& oldValue, const std::string& newValue);
    // Adds the parameter's line when the two formatted values differ.
    void AddIfDiffers(std::string_view label, const std::string& oldValue,
                      const std::string& newValue);
    // Asks when a line was added; NotAsked otherwise.
    Answer Ask(CWnd& dialog) const;
    const std::string& Lines() const { return lines_; }

  private:
    std::string lines_;
};

// A value as printf's "%g" and "%G" show it.
std::string FormatLowerG(double value);
std::string FormatG(double value);
