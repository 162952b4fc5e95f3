// The examples of docs/edit-script.md run as the document shows them: each script (a block fenced
// as `script`) through brevan edit on the reference axis, and each command of a `sh` block
// followed by a `text` block gives that text (lines "..." stand for lines left out).

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/CommandRun.h"

namespace {

namespace fs = std::filesystem;

const std::string kDocument = std::string(BREVAN_SOURCE_DIR) + "/docs/edit-script.md";

struct FencedBlock {
    std::string info;  // what follows the opening fence
    std::string text;
    int line = 0;  // of the opening fence
};

std::vector<FencedBlock> FencedBlocks(const std::string& path) {
    std::ifstream file(path);
    std::vector<FencedBlock> blocks;
    std::string line;
    bool inside = false;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        if (line.starts_with("```")) {
            if (!inside) {
                blocks.push_back({line.substr(3), {}, number});
            }
            inside = !inside;
        } else if (inside) {
            blocks.back().text += line + "\n";
        }
    }
    return blocks;
}

std::vector<FencedBlock> BlocksOf(const std::string& info) {
    std::vector<FencedBlock> chosen;
    for (const FencedBlock& block : FencedBlocks(kDocument)) {
        if (block.info == info) {
            chosen.push_back(block);
        }
    }
    return chosen;
}

// A command of a sh block, and the text block that follows it.
struct CommandOutput {
    std::string command;
    std::string text;
    int line = 0;
};

template <typename Example>
std::string LineName(const ::testing::TestParamInfo<Example>& example) {
    return "Line" + std::to_string(example.param.line);
}

template <typename Example>
class DocumentedExample : public ::testing::TestWithParam<Example> {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("brevan-doc-" + std::to_string(::getpid()) + "-" +
                                               std::to_string(this->GetParam().line));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

using DocumentedScript = DocumentedExample<FencedBlock>;

TEST_P(DocumentedScript, RunsThroughAndSaves) {
    const fs::path script = folder_ / "script.txt";
    std::ofstream(script) << GetParam().text;
    const fs::path out = folder_ / "edited.json";
    const RunResult result =
        RunBrevan({"edit", std::string(BREVAN_SOURCE_DIR) + "/examples/reference-axis.json",
                   "--script", script.string(), "-o", out.string()},
                  folder_);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err.find("script:"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(EditScript, DocumentedScript, ::testing::ValuesIn(BlocksOf("script")),
                         LineName<FencedBlock>);

// The words of a shell line, double quotes grouping; the program's own path dropped and paths
// under examples/ taken from the source tree.
std::vector<std::string> CommandWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool started = false;
    for (const char c : line + " ") {
        if (c == '"') {
            quoted = !quoted;
            started = true;
        } else if (c == ' ' && !quoted) {
            if (started) {
                words.push_back(word.starts_with("examples/")
                                    ? std::string(BREVAN_SOURCE_DIR) + "/" + word
                                    : word);
            }
            word.clear();
            started = false;
        } else {
            word += c;
            started = true;
        }
    }
    words.erase(words.begin());
    return words;
}

// The command of each sh block that a text block follows, with that text.
std::vector<CommandOutput> CommandsWithOutput() {
    const std::vector<FencedBlock> blocks = FencedBlocks(kDocument);
    std::vector<CommandOutput> commands;
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
        if (blocks[i].info == "sh" && blocks[i + 1].info == "text") {
            commands.push_back({blocks[i].text, blocks[i + 1].text, blocks[i].line});
        }
    }
    return commands;
}

using DocumentedOutput = DocumentedExample<CommandOutput>;

TEST_P(DocumentedOutput, IsWhatTheCommandPrints) {
    const std::string command = GetParam().command.substr(0, GetParam().command.find('\n'));
    const RunResult result = RunBrevan(CommandWords(command), folder_);
    ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
    std::vector<std::string> printed;
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
        printed.push_back(line);
    }
    std::istringstream shown(GetParam().text);
    auto at = printed.begin();
    for (std::string line; std::getline(shown, line);) {
        if (line == "...") {
            continue;
        }
        at = std::find(at, printed.end(), line);
        ASSERT_NE(at, printed.end()) << "not printed, or not in this order: " << line << "\n"
                                     << result.out;
        ++at;
    }
}

INSTANTIATE_TEST_SUITE_P(EditScript, DocumentedOutput, ::testing::ValuesIn(CommandsWithOutput()),
                         LineName<CommandOutput>);

TEST(EditScriptDocument, HasExamplesToRun) {
    EXPECT_FALSE(BlocksOf("script").empty());
    EXPECT_FALSE(CommandsWithOutput().empty());
}

}  // namespace
