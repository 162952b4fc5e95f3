#include "host/app/EditScript.h"

#include <charconv>
#include <functional>
#include <optional>
#include <utility>

#include "host/ui/headless/HeadlessBackend.h"

namespace {

using ui::headless::DialogDriver;
using Action = std::function<void(DialogDriver&)>;

// A control is named by its id or, in double quotes, by its caption.
struct ControlName {
    std::optional<int> id;
    std::string caption;
};

std::optional<long long> ParseInteger(std::string_view text) {
    long long value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Splits a line into words; a word in double quotes may hold blanks, and \" stands for a quote.
// A '#' outside quotes starts a comment.
bool SplitWords(std::string_view line, std::vector<std::string>& words, std::vector<bool>& quoted,
                std::string& error) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        if (line[i] == '#') {
            break;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
                    word += '"';
                    i += 2;
                } else if (line[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    word += line[i++];
                }
            }
            if (!closed) {
                error = "a quoted text is not closed";
                return false;
            }
            quoted.push_back(true);
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
                word += line[i++];
            }
            quoted.push_back(false);
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::optional<int> ParseAnswer(std::string_view word) {
    if (word == "ok") {
        return IDOK;
    }
    if (word == "cancel") {
        return IDCANCEL;
    }
    if (word == "yes") {
        return IDYES;
    }
    if (word == "no") {
        return IDNO;
    }
    return std::nullopt;
}

std::optional<UINT> ParseKey(std::string_view key, ui::Modifiers& modifiers) {
    while (true) {
        if (key.starts_with("ctrl+")) {
            modifiers.control = true;
            key.remove_prefix(5);
        } else if (key.starts_with("alt+")) {
            modifiers.alt = true;
            key.remove_prefix(4);
        } else if (key.starts_with("shift+")) {
            modifiers.shift = true;
            key.remove_prefix(6);
        } else {
            break;
        }
    }
    if (key.size() == 1 && ((key[0] >= 'A' && key[0] <= 'Z') || (key[0] >= '0' && key[0] <= '9'))) {
        return static_cast<UINT>(key[0]);  // letters and digits are their own key codes
    }
    if (key == "enter") {
        return VK_RETURN;
    }
    if (key == "escape") {
        return VK_ESCAPE;
    }
    if (key == "tab") {
        return VK_TAB;
    }
    constexpr int kFunctionKeys = 12;
    if (key.size() >= 2 && key[0] == 'F') {
        const auto number = ParseInteger(key.substr(1));
        if (number && *number >= 1 && *number <= kFunctionKeys) {
            return static_cast<UINT>(VK_F1 + *number - 1);
        }
    }
    return std::nullopt;
}

class ScriptReader {
  public:
    ScriptReader(ui::headless::HeadlessBackend& backend, std::vector<EditScriptProblem>& problems)
        : backend_(backend), problems_(problems) {}

    void ReadLine(int lineNumber, std::string_view line) {
        line_ = lineNumber;
        std::vector<std::string> words;
        std::vector<bool> quoted;
        std::string error;
        if (!SplitWords(line, words, quoted, error)) {
            Problem(error);
            return;
        }
        if (words.empty()) {
            return;
        }
        const std::string& verb = words[0];
        if (verb == "dialog") {
            StartStep(words, quoted);
        } else if (verb == "answer") {
            ReadAnswer(words);
        } else if (!stepOpen_) {
            Problem("\"" + verb + "\" must follow a \"dialog\" line naming the dialog it acts in");
        } else {
            ReadAction(words, quoted);
        }
    }

    void Finish() {
        if (problems_.empty()) {
            CloseStep();
            for (auto& [fragment, answer] : answers_) {
                backend_.ExpectMessageBox(fragment, answer);
            }
        }
    }

  private:
    void Problem(std::string message) { problems_.push_back({line_, std::move(message)}); }

    bool Expect(const std::vector<std::string>& words, std::size_t count, const char* usage) {
        if (words.size() != count) {
            Problem(std::string("expected: ") + usage);
            return false;
        }
        return true;
    }

    std::optional<ControlName> Control(const std::string& word, bool isQuoted) {
        if (isQuoted) {
            return ControlName{std::nullopt, word};
        }
        const auto id = ParseInteger(word);
        if (!id) {
            Problem("a control is named by its id or by its caption in double quotes, not \"" +
                    word + "\"");
            return std::nullopt;
        }
        return ControlName{static_cast<int>(*id), {}};
    }

    void StartStep(const std::vector<std::string>& words, const std::vector<bool>& quoted) {
        if (!Expect(words, 2, "dialog \"CAPTION\" or dialog TEMPLATE-ID")) {
            return;
        }
        CloseStep();
        stepOpen_ = true;
        if (quoted[1]) {
            caption_ = words[1];
            templateId_.reset();
        } else if (const auto id = ParseInteger(words[1])) {
            templateId_ = static_cast<int>(*id);
            caption_.clear();
        } else {
            Problem("a dialog is named by its caption in double quotes or its template number");
        }
    }

    void CloseStep() {
        if (!stepOpen_) {
            return;
        }
        auto actions = std::move(actions_);
        actions_.clear();
        auto run = [actions](DialogDriver& driver) {
            for (const Action& action : actions) {
                if (!driver.IsOpen()) {
                    return;
                }
                action(driver);
            }
        };
        if (templateId_) {
            backend_.When(*templateId_, run);
        } else {
            backend_.When(caption_, run);
        }
        stepOpen_ = false;
    }

    void ReadAnswer(const std::vector<std::string>& words) {
        if (!Expect(words, 3, "answer \"TEXT FRAGMENT\" ok|cancel|yes|no")) {
            return;
        }
        const auto answer = ParseAnswer(words[2]);
        if (!answer) {
            Problem("a message box is answered ok, cancel, yes or no, not \"" + words[2] + "\"");
            return;
        }
        answers_.emplace_back(words[1], *answer);
    }

    void ReadAction(const std::vector<std::string>& words, const std::vector<bool>& quoted) {
        const std::string& verb = words[0];
        if (verb == "click") {
            if (!Expect(words, 2, "click ID|\"CAPTION\"")) {
                return;
            }
            if (const auto control = Control(words[1], quoted[1])) {
                actions_.push_back([control = *control](DialogDriver& driver) {
                    control.id ? driver.Click(*control.id) : driver.Click(control.caption);
                });
            }
        } else if (verb == "check") {
            ReadCheck(words);
        } else if (verb == "type" || verb == "enter") {
            ReadText(words, verb == "type");
        } else if (verb == "select" || verb == "unit") {
            ReadSelect(words);
        } else if (verb == "select-data") {
            ReadSelectData(words);
        } else if (verb == "key") {
            ReadKey(words);
        } else if (verb == "wait") {
            ReadWait(words);
        } else if (verb == "close") {
            if (Expect(words, 1, "close")) {
                actions_.push_back([](DialogDriver& driver) { driver.Close(); });
            }
        } else {
            Problem("unknown action \"" + verb + "\"");
        }
    }

    std::optional<int> ControlId(const std::string& word) {
        const auto id = ParseInteger(word);
        if (!id) {
            Problem("expected a control id, not \"" + word + "\"");
            return std::nullopt;
        }
        return static_cast<int>(*id);
    }

    void ReadCheck(const std::vector<std::string>& words) {
        if (!Expect(words, 3, "check ID on|off")) {
            return;
        }
        const auto id = ControlId(words[1]);
        if (!id || (words[2] != "on" && words[2] != "off")) {
            Problem("expected: check ID on|off");
            return;
        }
        const bool on = words[2] == "on";
        actions_.push_back([id = *id, on](DialogDriver& driver) { driver.SetCheck(id, on); });
    }

    void ReadText(const std::vector<std::string>& words, bool leaveField) {
        if (!Expect(words, 3, "type|enter ID TEXT")) {
            return;
        }
        if (const auto id = ControlId(words[1])) {
            actions_.push_back([id = *id, text = words[2], leaveField](DialogDriver& driver) {
                leaveField ? driver.Type(id, text) : driver.EnterText(id, text);
            });
        }
    }

    void ReadSelect(const std::vector<std::string>& words) {
        if (!Expect(words, 3, "select|unit ID ITEM")) {
            return;
        }
        if (const auto id = ControlId(words[1])) {
            actions_.push_back(
                [id = *id, item = words[2]](DialogDriver& driver) { driver.Select(id, item); });
        }
    }

    void ReadSelectData(const std::vector<std::string>& words) {
        if (!Expect(words, 3, "select-data ID NUMBER")) {
            return;
        }
        const auto id = ControlId(words[1]);
        const auto data = ParseInteger(words[2]);
        if (!id || !data || *data < 0) {
            Problem("expected: select-data ID NUMBER");
            return;
        }
        actions_.push_back([id = *id, data = static_cast<DWORD_PTR>(*data)](DialogDriver& driver) {
            driver.SelectData(id, data);
        });
    }

    void ReadKey(const std::vector<std::string>& words) {
        if (!Expect(words, 2, "key [ctrl+][alt+][shift+]KEY")) {
            return;
        }
        ui::Modifiers modifiers;
        const auto key = ParseKey(words[1], modifiers);
        if (!key) {
            Problem("unknown key \"" + words[1] + "\" (A-Z, 0-9, F1-F12, enter, escape, tab)");
            return;
        }
        actions_.push_back(
            [key = *key, modifiers](DialogDriver& driver) { driver.PressKey(key, modifiers); });
    }

    void ReadWait(const std::vector<std::string>& words) {
        if (!Expect(words, 2, "wait MILLISECONDS")) {
            return;
        }
        const auto duration = ParseInteger(words[1]);
        if (!duration || *duration < 0) {
            Problem("expected a number of milliseconds, not \"" + words[1] + "\"");
            return;
        }
        actions_.push_back([duration_ms = static_cast<std::uint64_t>(*duration)](
                               DialogDriver& driver) { driver.AdvanceTime(duration_ms); });
    }

    ui::headless::HeadlessBackend& backend_;
    std::vector<EditScriptProblem>& problems_;
    int line_ = 0;
    bool stepOpen_ = false;
    std::string caption_;
    std::optional<int> templateId_;
    std::vector<Action> actions_;
    std::vector<std::pair<std::string, int>> answers_;
};

}  // namespace

bool LoadEditScript(std::string_view text, ui::headless::HeadlessBackend& backend,
                    std::vector<EditScriptProblem>& problems) {
    ScriptReader reader(backend, problems);
    int lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        reader.ReadLine(++lineNumber, text.substr(start, end - start));
        start = end + 1;
    }
    reader.Finish();
    return problems.empty();
}
