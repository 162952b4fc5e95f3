// The kernel's graphs: which curves a window shows and against which axis, the ranges it fits,
// how its view follows the document on a tick, and the CSV table and SVG picture it saves.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/kernel/Graph.h"
#include "host/kernel/GraphFiles.h"
#include "host/ui/Dialog.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/support/CollectedErrors.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kDrawnTemplate = 904;
constexpr int kGraph = 1043;

// A document of three curves: a current and a speed sampled together, and a second current.
class GraphTest : public ::testing::Test {
  protected:
    GraphTest() {
        document_.AddCurve(CXYCurve("IQ", "A", RGB16(12)));
        document_.AddCurve(CXYCurve("Speed", "rpm", RGB16(9)));
        document_.AddCurve(CXYCurve("ID", "A", RGB16(10)));
        for (int i = 0; i < 5; ++i) {
            const double t_s = 0.001 * i;
            document_.GetAt(0)->AddPoint(t_s, 0.5 * i);
            document_.GetAt(1)->AddPoint(t_s, 100.0 * i);
            document_.GetAt(2)->AddPoint(t_s, -0.25 * i);
        }
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + part.size())) {
            ++count;
        }
        return count;
    }

    CollectedErrors errors_;
    CGraphDocument document_;
    CGraphFilter filter_;
};

TEST_F(GraphTest, DocumentKeepsItsCurvesInPlace) {
    CXYCurve* first = document_.GetAt(0);
    document_.AddCurve(CXYCurve("Later", "V"));
    EXPECT_EQ(document_.GetAt(0), first) << "adding a curve moves none";
    EXPECT_EQ(document_.GetAt(4), nullptr);
    first->AddPoint(NAN, 1.0);
    EXPECT_EQ(first->GetPointsNo(), 5);
    EXPECT_EQ(errors_.Messages().size(), 1U);
}

struct AxesCase {
    const char* name;
    int axisCount;
    std::vector<int> filter;
    std::vector<std::size_t> curveAxes;
    std::vector<std::string> axisTitles;
    friend std::ostream& operator<<(std::ostream& out, const AxesCase& row) {
        return out << row.name;
    }
};

class GraphAxesTest : public GraphTest, public ::testing::WithParamInterface<AxesCase> {};

TEST_P(GraphAxesTest, GroupsTheShownCurvesByUnit) {
    for (const int index : GetParam().filter) {
        filter_.Add(index);
    }
    CGraphWindow window(GetParam().axisCount, 0);
    window.SetDocument(&document_, &filter_);
    std::vector<std::size_t> axes;
    for (const ui::GraphCurve& curve : window.GetView().curves) {
        axes.push_back(curve.axis);
    }
    std::vector<std::string> titles;
    for (const ui::GraphAxis& axis : window.GetView().yAxes) {
        titles.push_back(axis.title);
    }
    EXPECT_EQ(axes, GetParam().curveAxes);
    EXPECT_EQ(titles, GetParam().axisTitles);
    EXPECT_EQ(window.GetView().xAxis.title, "time [s]");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GraphAxesTest,
    ::testing::Values(AxesCase{"TwoAxesSplitTheUnits", 2, {}, {0, 1, 0}, {"A", "rpm"}},
                      AxesCase{"OneAxisTakesEveryUnit", 1, {}, {0, 0, 0}, {"A, rpm"}},
                      AxesCase{"FilterShowsTheNamedCurves", 2, {2, 0}, {0, 0}, {"A"}},
                      AxesCase{"FirstShownUnitTakesTheLeftAxis", 2, {1, 2}, {0, 1}, {"rpm", "A"}},
                      AxesCase{"CountsBelowOneAreOne", 0, {0, 1}, {0, 0}, {"A, rpm"}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(GraphTest, AxesAreFittedToWholeTickSteps) {
    CGraphWindow window(2, 0);
    window.SetDocument(&document_);
    const ui::GraphState& view = window.GetView();
    EXPECT_DOUBLE_EQ(view.xAxis.minimum, 0.0);
    EXPECT_DOUBLE_EQ(view.xAxis.maximum, 0.004);
    EXPECT_DOUBLE_EQ(view.yAxes[0].minimum, -1.0);  // -1 ... 2 A in steps of 0.5
    EXPECT_DOUBLE_EQ(view.yAxes[0].maximum, 2.0);
    EXPECT_DOUBLE_EQ(view.yAxes[1].minimum, 0.0);
    EXPECT_DOUBLE_EQ(view.yAxes[1].maximum, 400.0);
    CGraphDocument empty;
    window.SetDocument(&empty);
    EXPECT_DOUBLE_EQ(window.GetView().xAxis.maximum, 1.0);
    EXPECT_EQ(window.GetView().yAxes.size(), 1U);
}

TEST_F(GraphTest, ZoomShowsATimeSpanAndFitsTheValuesWithin) {
    CGraphWindow window(1, 0);
    filter_.Add(0);
    window.SetDocument(&document_, &filter_);
    window.ZoomTo(0.0, 0.0015);  // IQ 0 and 0.5 A within
    EXPECT_TRUE(window.GetView().zoomed);
    EXPECT_DOUBLE_EQ(window.GetView().xAxis.maximum, 0.0015);
    EXPECT_DOUBLE_EQ(window.GetView().yAxes[0].maximum, 0.5);
    window.ZoomTo(0.003, 0.001);
    EXPECT_EQ(errors_.Messages().size(), 1U) << "an empty span is refused";
    EXPECT_DOUBLE_EQ(window.GetView().xAxis.maximum, 0.0015);
    window.DoZoomOut();
    EXPECT_FALSE(window.GetView().zoomed);
    EXPECT_DOUBLE_EQ(window.GetView().xAxis.maximum, 0.004);
    EXPECT_DOUBLE_EQ(window.GetView().yAxes[0].maximum, 2.0);
}

TEST_F(GraphTest, UpdateLastPointFollowsTheDocument) {
    CGraphWindow window(2, CGraphWindow::kMarkers);
    window.SetDocument(&document_, &filter_);
    EXPECT_TRUE(window.GetView().markers);
    const std::uint64_t serial = window.GetView().curves[0].serial;
    document_.GetAt(0)->AddPoint(0.005, 3.0);
    window.UpdateLastPoint();
    ASSERT_EQ(window.GetView().curves[0].points.size(), 6U);
    EXPECT_DOUBLE_EQ(window.GetView().curves[0].points.back().y, 3.0);
    EXPECT_EQ(window.GetView().curves[0].serial, serial) << "appended, not copied anew";
    EXPECT_DOUBLE_EQ(window.GetView().yAxes[0].maximum, 3.0);

    document_.GetAt(0)->RemoveAllPoints();
    document_.GetAt(0)->AddPoint(0.0, 7.0);
    window.UpdateLastPoint();
    ASSERT_EQ(window.GetView().curves[0].points.size(), 1U);
    EXPECT_NE(window.GetView().curves[0].serial, serial);

    filter_.Add(1);
    window.UpdateLastPoint();
    ASSERT_EQ(window.GetView().curves.size(), 1U) << "a filter change shows the new choice";
    EXPECT_EQ(window.GetView().curves[0].name, "Speed");
    document_.GetAt(1)->SetUnit("rad/s");
    window.UpdateLastPoint();
    EXPECT_EQ(window.GetView().yAxes[0].title, "rad/s");
}

TEST_F(GraphTest, ViewReachesTheAttachedControl) {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/resources");
    ui::headless::Session ui;
    CGraphWindow window(2, 0);
    CDialog dialog(kDrawnTemplate, nullptr);
    window.SetDocument(&document_, &filter_);
    ui->When("Drawn", [&](DialogDriver& d) {
        window.SubclassDlgItem(kGraph, &d.Dialog());
        EXPECT_EQ(d.Graph(kGraph).curves.size(), 3U);
        document_.GetAt(2)->AddPoint(0.005, -2.0);
        window.UpdateLastPoint();
        const ui::GraphState& shown = d.Graph(kGraph);
        ASSERT_EQ(shown.curves[2].points.size(), 6U);
        EXPECT_DOUBLE_EQ(shown.curves[2].points.back().y, -2.0);
        EXPECT_DOUBLE_EQ(shown.xAxis.maximum, 0.005);
        EXPECT_DOUBLE_EQ(shown.yAxes[0].minimum, -2.0);
        EXPECT_EQ(shown.curves[1].colour, RGB(255, 0, 0));
        window.ZoomTo(0.001, 0.002);
        EXPECT_TRUE(d.Graph(kGraph).zoomed);
        d.Click(IDOK);
    });
    dialog.DoModal();
    EXPECT_TRUE(ui->Failures().empty()) << ui->Failures().front();
}

// A scope's scales travel with the document: the view (and the attached control) carries each
// curve's scale and the time base, which fixes the time axis; the value axes stay fitted to every
// point, as the saved pictures draw them.
TEST_F(GraphTest, ScalesAndTimeBaseOfTheDocumentReachTheViewAndFixTheTimeAxis) {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/resources");
    ui::headless::Session ui;
    CGraphWindow window(2, 0);
    CDialog dialog(kDrawnTemplate, nullptr);
    filter_.Add(1);
    filter_.Add(2);
    window.SetDocument(&document_, &filter_);
    const ui::GraphScale rpm{"rpm", 50.0, 100.0, 0.0, 1.0};
    const ui::GraphScale milliamperes{"mA", 200.0, 0.0, 0.0, 0.001};
    ui->When("Drawn", [&](DialogDriver& d) {
        window.SubclassDlgItem(kGraph, &d.Dialog());
        EXPECT_FALSE(d.Graph(kGraph).curves[0].scale) << "no scale: fitted";
        document_.GetAt(1)->SetScale(rpm);
        document_.GetAt(2)->SetScale(milliamperes);
        document_.SetTimeBase(ui::GraphTimeBase{-0.001, 0.01});
        window.UpdateLastPoint();
        const ui::GraphState& shown = d.Graph(kGraph);
        ASSERT_EQ(shown.curves.size(), 2U);
        EXPECT_EQ(shown.curves[0].scale, rpm);
        EXPECT_EQ(shown.curves[1].scale, milliamperes);
        EXPECT_EQ(shown.timeBase, (ui::GraphTimeBase{-0.001, 0.01}));
        EXPECT_DOUBLE_EQ(shown.xAxis.minimum, -0.001);
        EXPECT_DOUBLE_EQ(shown.xAxis.maximum, 0.009);
        EXPECT_DOUBLE_EQ(shown.yAxes[1].maximum, 0.0) << "ID's axis fitted to -1 ... 0 A";

        document_.GetAt(1)->SetScale(ui::GraphScale{"rpm", 100.0, 100.0, 0.0, 1.0});
        window.UpdateLastPoint();
        EXPECT_DOUBLE_EQ(d.Graph(kGraph).curves[0].scale->valuePerDivision, 100.0);
        window.ZoomTo(0.001, 0.002);
        EXPECT_DOUBLE_EQ(d.Graph(kGraph).xAxis.maximum, 0.002) << "a zoom overrides the base";
        window.DoZoomOut();
        document_.SetTimeBase(std::nullopt);
        document_.GetAt(1)->SetScale(std::nullopt);
        window.UpdateLastPoint();
        EXPECT_FALSE(d.Graph(kGraph).timeBase);
        EXPECT_FALSE(d.Graph(kGraph).curves[0].scale);
        EXPECT_DOUBLE_EQ(d.Graph(kGraph).xAxis.minimum, 0.0) << "fitted to the points again";
        EXPECT_DOUBLE_EQ(d.Graph(kGraph).xAxis.maximum, 0.004);
        d.Click(IDOK);
    });
    dialog.DoModal();
    EXPECT_TRUE(ui->Failures().empty()) << ui->Failures().front();
}

// A scope draws each point of a frame as it arrives; a new acquisition replaces the points.
TEST_F(GraphTest, UpdatePointCatchesUpOnlyWhenTheViewLacksThePoint) {
    CGraphWindow window(2, 0);
    window.SetDocument(&document_, &filter_);
    document_.GetAt(0)->AddPoint(0.005, 9.0);
    window.UpdatePoint(4);
    EXPECT_EQ(window.GetView().curves[0].points.size(), 5U) << "point 4 is shown already";
    window.UpdatePoint(5);
    EXPECT_EQ(window.GetView().curves[0].points.size(), 6U);
    document_.GetAt(1)->RemoveAllPoints();
    document_.GetAt(1)->AddPoint(0.0, 7.0);
    window.UpdatePoint(0);
    ASSERT_EQ(window.GetView().curves[1].points.size(), 1U);
    EXPECT_EQ(window.GetView().curves[1].points[0].y, 7.0);
    document_.AddCurve(CXYCurve("Later", "V"));
    window.UpdatePoint(0);
    EXPECT_EQ(window.GetView().curves.size(), 4U);
}

// --- files --------------------------------------------------------------------------------------

TEST_F(GraphTest, CsvHasATimeColumnThenOneColumnPerCurve) {
    CGraphWindow window(2, 0);
    filter_.Add(0);
    filter_.Add(1);
    window.SetDocument(&document_, &filter_);
    const std::vector<std::string> lines = Lines(qel::GraphCsv(window.GetView()));
    ASSERT_EQ(lines.size(), 6U);
    EXPECT_EQ(lines[0], "time [s],IQ [A],Speed [rpm]");
    EXPECT_EQ(lines[1], "0,0,0");
    EXPECT_EQ(lines[2], "0.001,0.5,100");
    EXPECT_EQ(lines[5], "0.004,2,400");
}

TEST_F(GraphTest, CsvOfCurvesAtDifferentTimesLeavesGapsEmpty) {
    CGraphDocument document;
    document.AddCurve(CXYCurve("Reference, filtered", ""));
    document.AddCurve(CXYCurve("Position", "rot"));
    document.GetAt(0)->AddPoint(0.002, 1.0);
    document.GetAt(0)->AddPoint(0.0, 0.1);
    document.GetAt(1)->AddPoint(0.001, -3.0);
    document.GetAt(1)->AddPoint(0.002, 1.0 / 3.0);
    CGraphWindow window(1, 0);
    window.SetDocument(&document);
    const std::vector<std::string> lines = Lines(qel::GraphCsv(window.GetView()));
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[0], "time [s],\"Reference, filtered\",Position [rot]");
    EXPECT_EQ(lines[1], "0,0.1,");
    EXPECT_EQ(lines[2], "0.001,,-3");
    EXPECT_EQ(lines[3], "0.002,1,0.3333333333333333");
}

TEST_F(GraphTest, SvgDrawsAxesWithUnitsCurvesAndLegend) {
    CGraphWindow window(2, 0);
    window.SetDocument(&document_);
    const std::string svg = qel::GraphSvg(window.GetView(), "Speed & current");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0U);
    EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_NE(svg.find(">Speed &amp; current</text>"), std::string::npos);
    EXPECT_EQ(Count(svg, "<polyline class=\"curve\""), 3U);
    EXPECT_NE(svg.find("stroke=\"#0000ff\" points=\""), std::string::npos) << "IQ in RGB16(12)";
    EXPECT_NE(svg.find("stroke=\"#ff0000\" points=\""), std::string::npos) << "Speed in RGB16(9)";
    for (const char* legend : {">IQ [A]</text>", ">Speed [rpm]</text>", ">ID [A]</text>"}) {
        EXPECT_NE(svg.find(legend), std::string::npos) << legend;
    }
    EXPECT_EQ(Count(svg, "class=\"axis-title\""), 3U);
    for (const char* title : {">time [s]</text>", ">A</text>", ">rpm</text>"}) {
        EXPECT_NE(svg.find(title), std::string::npos) << title;
    }
    // Time ticks every millisecond with the decimals the step needs; the speed axis in whole rpm.
    for (const char* tick : {">0.000</text>", ">0.002</text>", ">0.004</text>", ">400</text>",
                             ">-1.0</text>", ">1.5</text>"}) {
        EXPECT_NE(svg.find(tick), std::string::npos) << tick;
    }
    EXPECT_EQ(svg.find("<circle"), std::string::npos) << "no markers asked for";
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

TEST_F(GraphTest, SvgPlacesThePointsOnTheAxes) {
    CGraphDocument document;
    document.AddCurve(CXYCurve("Step", "A"));
    document.GetAt(0)->AddPoint(0.0, 0.0);
    document.GetAt(0)->AddPoint(1.0, 1.0);
    CGraphWindow window(1, CGraphWindow::kMarkers);
    window.SetDocument(&document);
    const std::string svg = qel::GraphSvg(window.GetView(), "");
    // The plot area spans x 72 ... 780 and y 20 ... 414 (the time band and one legend row
    // below it): the first point at its lower left corner, the last at its upper right.
    EXPECT_NE(svg.find("points=\"72.00,414.00 780.00,20.00\""), std::string::npos) << svg;
    EXPECT_EQ(Count(svg, "<circle"), 2U);
    EXPECT_EQ(svg.find("class=\"title\""), std::string::npos);
}

TEST_F(GraphTest, SaveGraphWritesByExtension) {
    CGraphWindow window(2, 0);
    window.SetDocument(&document_);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("brevan-graph-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto read = [](const std::filesystem::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(window.SaveGraph(folder / "run.csv"), TRUE);
    EXPECT_EQ(read(folder / "run.csv"), qel::GraphCsv(window.GetView()));
    EXPECT_EQ(window.SaveGraph(folder / "run.SVG"), TRUE);
    EXPECT_EQ(read(folder / "run.SVG"), qel::GraphSvg(window.GetView(), ""));
    EXPECT_EQ(window.SaveGraph(folder / "run.txt"), FALSE);
    EXPECT_EQ(window.SaveGraph(folder / "missing" / "run.csv"), FALSE);
    EXPECT_FALSE(std::filesystem::exists(folder / "run.txt"));
    EXPECT_EQ(errors_.Messages().size(), 2U);
    std::filesystem::remove_all(folder);
}

// Saving where the user says, in a headless run whose script answers the save prompt.
class GraphSaveTest : public GraphTest {
  protected:
    GraphSaveTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("brevan-graph-save-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(folder_);
        window_.SetDocument(&document_);
    }
    ~GraphSaveTest() override { std::filesystem::remove_all(folder_); }

    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool FolderIsEmpty() const { return std::filesystem::is_empty(folder_); }

    ui::headless::Session ui_;
    std::filesystem::path folder_;
    CGraphWindow window_{2, 0};
};

struct PromptedSaveCase {
    const char* name;
    const char* chosenFile;
    std::function<std::string(const ui::GraphState&)> content;
};

void PrintTo(const PromptedSaveCase& testCase, std::ostream* os) {
    *os << testCase.name;
}

class PromptedSaveTest : public GraphSaveTest,
                         public ::testing::WithParamInterface<PromptedSaveCase> {};

TEST_P(PromptedSaveTest, WritesTheChosenFileByItsExtension) {
    const std::filesystem::path chosen = folder_ / GetParam().chosenFile;
    ui_->ExpectSavePrompt(chosen);
    EXPECT_EQ(window_.SaveGraph({}, "step-response.svg"), TRUE);
    ASSERT_EQ(ui_->SavePrompts().size(), 1U);
    const ui::SaveFilePrompt& prompt = ui_->SavePrompts()[0].prompt;
    EXPECT_EQ(prompt.title, "Save Plots");
    EXPECT_EQ(prompt.defaultName, "step-response.svg");
    EXPECT_EQ(prompt.types, (std::vector<ui::FileType>{{"SVG picture", "svg"},
                                                       {"PNG picture", "png"},
                                                       {"Text, comma-separated", "csv"}}));
    EXPECT_EQ(Read(chosen), GetParam().content(window_.GetView()));
    EXPECT_TRUE(errors_.Messages().empty());
    EXPECT_TRUE(ui_->Failures().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, PromptedSaveTest,
                         ::testing::Values(PromptedSaveCase{"Picture", "chosen.svg",
                                                            [](const ui::GraphState& view) {
                                                                return qel::GraphSvg(view, "");
                                                            }},
                                           PromptedSaveCase{"Table", "chosen.CSV",
                                                            [](const ui::GraphState& view) {
                                                                return qel::GraphCsv(view);
                                                            }}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

struct AskedSaveCase {
    const char* name;
    std::function<BOOL(const CGraphWindow&)> save;
    const char* title;
    std::vector<ui::FileType> types;
    const char* chosenFile;
    std::function<std::string(const ui::GraphState&)> content;
};

void PrintTo(const AskedSaveCase& testCase, std::ostream* os) {
    *os << testCase.name;
}

class AskedSaveTest : public GraphSaveTest, public ::testing::WithParamInterface<AskedSaveCase> {};

// The picture and the table have prompts of their own, offering only their kinds.
TEST_P(AskedSaveTest, OffersItsKindsAndWritesTheChosenFile) {
    const std::filesystem::path chosen = folder_ / GetParam().chosenFile;
    ui_->ExpectSavePrompt(chosen);
    EXPECT_EQ(GetParam().save(window_), TRUE);
    ASSERT_EQ(ui_->SavePrompts().size(), 1U);
    const ui::SaveFilePrompt& prompt = ui_->SavePrompts()[0].prompt;
    EXPECT_EQ(prompt.title, GetParam().title);
    EXPECT_EQ(prompt.defaultName, "SpeedTuning");
    EXPECT_FALSE(prompt.opening);
    EXPECT_EQ(prompt.types, GetParam().types);
    EXPECT_EQ(Read(chosen), GetParam().content(window_.GetView()));

    ui_->ExpectSavePromptCancelled();
    EXPECT_EQ(GetParam().save(window_), FALSE);
    EXPECT_TRUE(errors_.Messages().empty());
    EXPECT_TRUE(ui_->Failures().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, AskedSaveTest,
    ::testing::Values(
        AskedSaveCase{"Picture",
                      [](const CGraphWindow& w) { return w.CreateWMF("SpeedTuning"); },
                      "Save Picture",
                      {{"SVG picture", "svg"}, {"PNG picture", "png"}},
                      "picture.svg",
                      [](const ui::GraphState& view) { return qel::GraphSvg(view, ""); }},
        AskedSaveCase{"Table",
                      [](const CGraphWindow& w) { return w.ExportToASCII("SpeedTuning"); },
                      "Export Data",
                      {{"Text, comma-separated", "csv"}},
                      "data.csv",
                      [](const ui::GraphState& view) { return qel::GraphCsv(view); }}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(GraphSaveTest, CancelledPromptWritesNothingAndReportsNothing) {
    ui_->ExpectSavePromptCancelled();
    EXPECT_EQ(window_.SaveGraph({}, "step-response.svg"), FALSE);
    EXPECT_EQ(ui_->SavePrompts().size(), 1U);
    EXPECT_TRUE(FolderIsEmpty());
    EXPECT_TRUE(errors_.Messages().empty());
}

TEST_F(GraphSaveTest, PngIsRefusedWithoutTheDesktop) {
    EXPECT_EQ(window_.SaveGraph(folder_ / "run.png"), FALSE);
    EXPECT_TRUE(FolderIsEmpty());
    EXPECT_TRUE(ui_->SavePrompts().empty()) << "a path given is not asked for";
    EXPECT_EQ(errors_.Messages(),
              (std::vector<std::string>{"The graph could not be saved as run.png: PNG pictures "
                                        "need the desktop. It can be saved as a picture (.svg) "
                                        "or a table (.csv)."}));
}

}  // namespace
