#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "host/ui/Wnd.h"
#include "host/ui/qt/HelpPages.h"
#include "tests/host/ui/qt/QtTestSupport.h"
#include "tests/support/TestFolder.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kTopics = R"({"topics": [
  {"topic": "0x40106", "page": "drive-setup.html", "title": "Drive Setup"},
  {"topic": "262407", "page": "motor-setup.html", "title": "Motor Setup"},
  {"topic": 262419, "page": "advanced.html", "title": "Advanced"},
  {"topic": "0x40101", "page": "missing.html", "title": "External Reference Setup"}
]})";

// A help folder of its own for each test.
class HelpFolderTest : public QtBackendTest {
  protected:
    void SetUp() override {
        folder_ = TestFolder("brevan-help");
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        for (const char* page :
             {"index.html", "drive-setup.html", "motor-setup.html", "advanced.html"}) {
            std::ofstream(folder_ / page) << "<html></html>";
        }
        Write(kTopics);
    }
    void TearDown() override { fs::remove_all(folder_); }

    void Write(const std::string& topics) { std::ofstream(folder_ / "topics.json") << topics; }
    QUrl Page(const char* name) const {
        return QUrl::fromLocalFile(QString::fromStdString((folder_ / name).string()));
    }

    fs::path folder_;
};

struct TopicRow {
    const char* name;
    DWORD_PTR topic;
    const char* page;
};

void PrintTo(const TopicRow& row, std::ostream* os) {
    *os << row.name;
}

class HelpTopicTest : public HelpFolderTest, public ::testing::WithParamInterface<TopicRow> {};

TEST_P(HelpTopicTest, HelpRequestOpensTheTopicsPage) {
    ASSERT_TRUE(
        HtmlHelp(nullptr, (folder_ / "topics.json").string(), HH_HELP_CONTEXT, GetParam().topic));
    ASSERT_EQ(openedUrls_.size(), 1U);
    EXPECT_EQ(openedUrls_.front(), Page(GetParam().page));
    EXPECT_TRUE(problems_.empty()) << problems_.front();
}

INSTANTIATE_TEST_SUITE_P(
    Topics, HelpTopicTest,
    ::testing::Values(TopicRow{"HexadecimalTopic", 0x40106, "drive-setup.html"},
                      TopicRow{"DecimalTopic", 0x40107, "motor-setup.html"},
                      TopicRow{"NumberTopic", 0x40113, "advanced.html"},
                      TopicRow{"UnknownTopicOpensTheIndex", 0x40999, "index.html"}),
    [](const ::testing::TestParamInfo<TopicRow>& row) { return std::string(row.param.name); });

struct BrokenRow {
    const char* name;
    std::function<void(const fs::path& folder)> damage;
    DWORD_PTR topic;
    const char* problem;
};

void PrintTo(const BrokenRow& row, std::ostream* os) {
    *os << row.name;
}

class BrokenHelpTest : public HelpFolderTest, public ::testing::WithParamInterface<BrokenRow> {};

TEST_P(BrokenHelpTest, OpensNothingAndSaysWhy) {
    GetParam().damage(folder_);
    HtmlHelp(nullptr, (folder_ / "topics.json").string(), HH_HELP_CONTEXT, GetParam().topic);
    EXPECT_TRUE(openedUrls_.empty());
    ASSERT_EQ(problems_.size(), 1U);
    EXPECT_NE(problems_.front().find(GetParam().problem), std::string::npos) << problems_.front();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenHelpTest,
    ::testing::Values(
        BrokenRow{"NoHelpFile", [](const fs::path& f) { fs::remove(f / "topics.json"); }, 0x40106,
                  "topics.json does not exist or cannot be read"},
        BrokenRow{"NotJson",
                  [](const fs::path& f) { std::ofstream(f / "topics.json") << "topics: none"; },
                  0x40106, "is not a map of topics"},
        BrokenRow{"NoTopicList",
                  [](const fs::path& f) { std::ofstream(f / "topics.json") << R"({"pages": []})"; },
                  0x40106, "is not a map of topics"},
        BrokenRow{"PageMissing", [](const fs::path&) {}, 0x40101, "missing.html does not exist"},
        BrokenRow{"IndexMissing", [](const fs::path& f) { fs::remove(f / "index.html"); }, 0x40999,
                  "index.html does not exist"}),
    [](const ::testing::TestParamInfo<BrokenRow>& row) { return std::string(row.param.name); });

TEST_F(HelpFolderTest, BrowserThatDoesNotOpenIsReported) {
    backend_.SetUrlOpener([](const QUrl&) { return false; });
    HtmlHelp(nullptr, (folder_ / "topics.json").string(), HH_HELP_CONTEXT, 0x40106);
    ASSERT_EQ(problems_.size(), 1U);
    EXPECT_NE(problems_.front().find("drive-setup.html could not be opened"), std::string::npos)
        << problems_.front();
}

}  // namespace
