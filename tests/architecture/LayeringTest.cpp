#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

// The layers' direction, read from the includes. Every project include names its header by its
// path from the source root, so the folder a header belongs to is the start of that path.

namespace {

namespace fs = std::filesystem;

const fs::path kSourceRoot = BREVAN_SOURCE_DIR;

struct Include {
    fs::path file;
    int line = 0;
    std::string header;
};

bool IsSourceFile(const fs::path& path) {
    const std::string extension = path.extension().string();
    return extension == ".h" || extension == ".cpp";
}

// The quoted includes of one file, and the angle-bracket ones that name a project folder.
std::vector<Include> IncludesOf(const fs::path& file) {
    static const std::regex kInclude(R"(^\s*#\s*include\s*(["<])([^">]+)[">])");
    std::vector<Include> includes;
    std::ifstream in(file);
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        std::smatch match;
        if (!std::regex_search(text, match, kInclude)) {
            continue;
        }
        const std::string header = match[2];
        const bool quoted = match[1] == "\"";
        const fs::path first = *fs::path(header).begin();
        if (quoted || fs::is_directory(kSourceRoot / first)) {
            includes.push_back({file, line, header});
        }
    }
    return includes;
}

std::vector<Include> IncludesUnder(const std::string& folder) {
    std::vector<Include> includes;
    const fs::path root = kSourceRoot / folder;
    if (!fs::exists(root)) {
        return includes;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && IsSourceFile(entry.path())) {
            const std::vector<Include> found = IncludesOf(entry.path());
            includes.insert(includes.end(), found.begin(), found.end());
        }
    }
    return includes;
}

bool IsUnder(const std::string& header, const std::string& folder) {
    return header.compare(0, folder.size() + 1, folder + "/") == 0;
}

std::string Place(const Include& include) {
    return fs::relative(include.file, kSourceRoot).string() + ":" + std::to_string(include.line) +
           ": #include \"" + include.header + "\"";
}

// A folder and the folders its code may include from (its own is always allowed).
struct LayerRule {
    std::string folder;
    std::vector<std::string> allowed;
};

std::ostream& operator<<(std::ostream& out, const LayerRule& rule) {
    return out << rule.folder;
}

bool IsAllowed(const LayerRule& rule, const std::string& header) {
    return IsUnder(header, rule.folder) ||
           std::any_of(rule.allowed.begin(), rule.allowed.end(),
                       [&header](const std::string& folder) { return IsUnder(header, folder); });
}

class LayerDirection : public testing::TestWithParam<LayerRule> {};

TEST_P(LayerDirection, IncludesOnlyItsOwnAndTheLayersBelow) {
    const LayerRule& rule = GetParam();
    if (!fs::exists(kSourceRoot / rule.folder)) {
        GTEST_SKIP() << rule.folder << " does not exist yet";
    }
    const std::vector<Include> includes = IncludesUnder(rule.folder);
    ASSERT_FALSE(includes.empty()) << rule.folder << " has no includes to check";
    for (const Include& include : includes) {
        EXPECT_TRUE(IsAllowed(rule, include.header))
            << Place(include) << ": " << rule.folder << " may not use this folder";
    }
}

const std::string kKernel = "host/kernel";
const std::string kWindowing = "host/ui";

INSTANTIATE_TEST_SUITE_P(
    Tree, LayerDirection,
    testing::Values(
        // The windowing layer stands alone: the kernel builds its dialog base on it.
        LayerRule{kWindowing, {}},
        // The kernel may use the windowing layer, whose dialog base it provides.
        LayerRule{kKernel, {kWindowing}},
        // The engine is plain computation over the setup document: no UI, no drive.
        LayerRule{"engine", {kKernel}},
        // The simulated drive is the engine's check, never its mirror; it knows no dialog.
        LayerRule{"drive", {kKernel, kWindowing}},
        LayerRule{"dialogs", {"engine", kKernel, kWindowing}},
        // The drive tests reach the drive through the kernel's link, never the simulator.
        LayerRule{"drivetests", {"dialogs", "engine", kKernel, kWindowing}},
        LayerRule{"module", {"drivetests", "dialogs", "engine", kKernel, kWindowing}}),
    [](const testing::TestParamInfo<LayerRule>& rule) {
        std::string name = rule.param.folder;
        std::replace(name.begin(), name.end(), '/', '_');
        return name;
    });

// A bare "Setup.h" would hide which layer a header belongs to, and the direction check above
// would not see it.
TEST(IncludePaths, EveryProjectIncludeNamesAnExistingHeaderFromTheSourceRoot) {
    for (const std::string folder :
         {"module", "engine", "dialogs", "drivetests", "host", "drive", "tests", "bench"}) {
        for (const Include& include : IncludesUnder(folder)) {
            EXPECT_TRUE(fs::is_regular_file(kSourceRoot / include.header))
                << Place(include) << ": no such header under the source root";
        }
    }
}

TEST(IncludePaths, ReadsQuotedAndProjectAngleIncludesOnly) {
    const fs::path file =
        fs::temp_directory_path() /
        ("layering-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".cpp");
    {
        std::ofstream out(file);
        out << "#include <vector>\n"
               "  #  include \"engine/Derivation.h\"\n"
               "#include <host/kernel/Setup.h>\n"
               "// #include \"dialogs/X.h\" is a comment\n";
    }
    const std::vector<Include> includes = IncludesOf(file);
    fs::remove(file);
    ASSERT_EQ(includes.size(), 2u);
    EXPECT_EQ(includes[0].header, "engine/Derivation.h");
    EXPECT_EQ(includes[0].line, 2);
    EXPECT_EQ(includes[1].header, "host/kernel/Setup.h");
}

}  // namespace
