#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "host/app/EditScript.h"
#include "host/ui/headless/HeadlessBackend.h"

namespace {

struct BadScript {
    const char* text;
    int line;
    const char* fragment;
    friend std::ostream& operator<<(std::ostream& out, const BadScript& row) {
        return out << row.fragment;
    }
};

class EditScriptProblems : public ::testing::TestWithParam<BadScript> {};

// A script with a mistake is refused whole, with the line and what is wrong, and nothing of it
// reaches the scripted user.
TEST_P(EditScriptProblems, AreReportedWithTheirLine) {
    ui::headless::HeadlessBackend backend;
    std::vector<EditScriptProblem> problems;
    EXPECT_FALSE(LoadEditScript(GetParam().text, backend, problems));
    ASSERT_EQ(problems.size(), 1U);
    EXPECT_EQ(problems[0].line, GetParam().line);
    EXPECT_NE(problems[0].message.find(GetParam().fragment), std::string::npos)
        << problems[0].message;
    EXPECT_EQ(backend.PendingSteps(), 0U);
    EXPECT_EQ(backend.PendingMessageBoxExpectations(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, EditScriptProblems,
    ::testing::Values(
        BadScript{"click 1\n", 1, "must follow a \"dialog\" line"},
        BadScript{"dialog \"Drive Setup\"\n\nfrobnicate 3\n", 3, "unknown action \"frobnicate\""},
        BadScript{"dialog \"Drive Setup\n", 1, "not closed"},
        BadScript{"dialog \"Drive Setup\"\nclick OK\n", 2, "by its id or by its caption"},
        BadScript{"dialog 106\ntype 1159\n", 2, "expected: type|enter ID TEXT"},
        BadScript{"dialog 106\ncheck 3213 maybe\n", 2, "expected: check ID on|off"},
        BadScript{"dialog 106\nkey ctrl+F13\n", 2, "unknown key \"ctrl+F13\""},
        BadScript{"dialog 106\nwait -5\n", 2, "milliseconds"},
        BadScript{"answer \"current\" perhaps\n", 1, "ok, cancel, yes or no"},
        BadScript{"dialog Drive\n", 1, "caption in double quotes or its template number"}));

TEST(EditScript, StepsAndAnswersReachTheScriptedUser) {
    ui::headless::HeadlessBackend backend;
    std::vector<EditScriptProblem> problems;
    const char* script =
        "# two dialogs, one answer\n"
        "dialog \"Brushless Motor Setup\"\n"
        "type 1159 \"3.5\"   # a comment after an action\n"
        "click \"OK\"\n"
        "dialog 106\n"
        "key ctrl+shift+D\n"
        "wait 100\n"
        "click 1\n"
        "answer \"start current\" ok\n";
    EXPECT_TRUE(LoadEditScript(script, backend, problems));
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(backend.PendingSteps(), 2U);
    EXPECT_EQ(backend.PendingMessageBoxExpectations(), 1U);
}

}  // namespace
