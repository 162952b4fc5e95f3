// The scope logger as the tuning tests use it: its graph document filled from the frames, the
// channels' display scales, and its settings kept in files and in the setup's options.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host/kernel/Graph.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Loggers.h"
#include "host/kernel/ScopeSettings.h"
#include "host/kernel/ScopeSettingsDlg.h"
#include "host/kernel/Setup.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/support/CollectedErrors.h"

namespace {

namespace fs = std::filesystem;

// The data of a scope frame (what follows the message's header): flags, first point, number of
// points, then each point's values, low word first.
std::vector<std::uint8_t> FrameData(int first, const std::vector<std::vector<std::int32_t>>& points,
                                    bool last = false) {
    std::vector<std::uint8_t> bytes;
    const auto word = [&bytes](std::uint32_t value) {
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    };
    word(last ? qel::kScopeLastFrameFlag : 0);
    word(static_cast<std::uint32_t>(first));
    word(static_cast<std::uint32_t>(points.size()));
    for (const std::vector<std::int32_t>& point : points) {
        for (const std::int32_t value : point) {
            const auto bits = static_cast<std::uint32_t>(value);
            word(bits & 0xFFFF);
            word(bits >> 16);
        }
    }
    return bytes;
}

// A scope on the reference axis logging the speed reference and the motor current, with a curve
// of each, over an acquisition of 0.5 s with 10 % before the trigger.
class ScopeLoggerTest : public ::testing::Test {
  protected:
    ScopeLoggerTest()
        : setup_(SetupForMotor(LoadExampleMotor("reference-axis-motor.json"))),
          scope_(std::make_unique<CQel_ScopeLogger>(setup_.get())),
          folder_(fs::temp_directory_path() / ("brevan-scope-" + std::to_string(::getpid()))) {
        fs::create_directories(folder_);
        Configure(*scope_);
        errors_.Clear();
    }
    ~ScopeLoggerTest() override { fs::remove_all(folder_); }

    static void Configure(CQel_ScopeLogger& scope) {
        EXPECT_EQ(scope.AddVariable("speed_reference", 1), 1);
        EXPECT_EQ(scope.AddVariable("Motor_Current", 1), 1);
        EXPECT_EQ(scope.AddCurve(0, 0, 1, RGB16(2)), 0);
        EXPECT_EQ(scope.AddCurve(0, 0, 2, RGB16(5)), 1);
        EXPECT_EQ(scope.ChangeSettings(0.5, 4, 1, "Speed_Reference", 10.0, 10), 1);
        EXPECT_EQ(scope.LocateItems(), 2);
    }

    // The frame handed to the scope as the tuning test's handler does.
    int Feed(int first, const std::vector<std::vector<std::int32_t>>& points, bool last = false) {
        const std::vector<std::uint8_t> data = FrameData(first, points, last);
        return scope_->OnFrameReceive(static_cast<int>(data.size()), data.data());
    }

    double Base(const char* variable, double internal) {
        return setup_->FindVariable(variable, 1)->InternalToBase(internal);
    }

    std::string SettingsJson() const {
        return qel::ScopeSettingsToJson(scope_->GetScopeSettings());
    }

    CollectedErrors errors_;
    std::unique_ptr<CQel_Setup> setup_;
    std::unique_ptr<CQel_ScopeLogger> scope_;
    fs::path folder_;
};

TEST_F(ScopeLoggerTest, FramesFillTheCurvesInBaseUnitsOverTheTimeFromTheTrigger) {
    scope_->OnProgramStarted();
    ASSERT_EQ(Feed(0, {{100, -5}, {200, 7}}), 2);
    ASSERT_EQ(Feed(2, {{300, 9}}), 1);
    const CGraphDocument& document = *scope_->GetGraphDocument();
    ASSERT_EQ(document.GetSize(), 2);
    const CXYCurve& speed = *document.GetAt(0);
    EXPECT_EQ(speed.GetName(), "Speed_Reference") << "LocateItems spells it as the setup does";
    EXPECT_EQ(speed.GetUnit(), setup_->FindVariable("Speed_Reference", 1)->GetBaseUnitName());
    EXPECT_EQ(speed.GetColour(), RGB16(2));
    ASSERT_EQ(speed.GetPointsNo(), 3);
    // 1000 points over 0.5 s, 100 of them before the trigger.
    const double period_s = 0.5 / scope_->GetPointsNo();
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(speed.GetPoint(i).x, (i - 100) * period_s, 1e-12);
        EXPECT_DOUBLE_EQ(speed.GetPoint(i).y, Base("Speed_Reference", 100.0 * (i + 1)));
    }
    EXPECT_DOUBLE_EQ(document.GetAt(1)->GetPoint(2).y, Base("Motor_Current", 9.0));
    EXPECT_TRUE(scope_->GetGraphFilter(0)->Shows(0));
    EXPECT_EQ(scope_->GetGraphFilter(1), nullptr);
}

TEST_F(ScopeLoggerTest, ANewAcquisitionReplacesTheCurvesAndTheGraphFollowsPointByPoint) {
    CGraphWindow graph(4, 0);
    graph.SetDocument(scope_->GetGraphDocument(), scope_->GetGraphFilter(0));
    scope_->OnProgramStarted();
    ASSERT_EQ(Feed(0, {{100, 1}, {200, 2}, {300, 3}}), 3);
    graph.UpdatePoint(2);
    ASSERT_EQ(graph.GetView().curves.size(), 2U);
    EXPECT_EQ(graph.GetView().curves[0].points.size(), 3U);

    // The repeated acquisition starts again at point 0.
    ASSERT_EQ(Feed(0, {{-400, 4}}), 1);
    graph.UpdatePoint(0);
    ASSERT_EQ(graph.GetView().curves[0].points.size(), 1U);
    EXPECT_DOUBLE_EQ(graph.GetView().curves[0].points[0].y, Base("Speed_Reference", -400.0));

    // A frame that skips points (one was lost) draws the acquisition from its start.
    ASSERT_EQ(Feed(3, {{700, 5}}), 1);
    graph.UpdatePoint(3);
    ASSERT_EQ(graph.GetView().curves[0].points.size(), 4U);
    EXPECT_DOUBLE_EQ(graph.GetView().curves[0].points[3].y, Base("Speed_Reference", 700.0));
}

struct ScaleStepCase {
    std::string label;
    double valuePerDivision;
    int step;
    double expected;
};

class ChannelScaleSteps : public ScopeLoggerTest,
                          public ::testing::WithParamInterface<ScaleStepCase> {};

TEST_P(ChannelScaleSteps, MoveAlongOneTwoFive) {
    ASSERT_EQ(scope_->RescaleVariable("Speed_Reference", "rpm", GetParam().valuePerDivision, 40.0),
              1);
    ASSERT_EQ(scope_->ChangeChannelScale(0, GetParam().step), 1);
    const std::optional<qel::ScopeChannel> channel = scope_->GetChannel(0);
    ASSERT_TRUE(channel);
    EXPECT_DOUBLE_EQ(channel->valuePerDivision, GetParam().expected);
    EXPECT_EQ(channel->centre, 40.0);
    EXPECT_EQ(channel->unit, "rpm");
}

INSTANTIATE_TEST_SUITE_P(Steps, ChannelScaleSteps,
                         ::testing::Values(ScaleStepCase{"FiveHundredUp", 500.0, 1, 1000.0},
                                           ScaleStepCase{"FiveHundredDown", 500.0, -1, 200.0},
                                           ScaleStepCase{"OneUpTwice", 1.0, 2, 5.0},
                                           ScaleStepCase{"TwoTenthsDownADecade", 0.2, -1, 0.1},
                                           ScaleStepCase{"FiveHundredthsDown", 0.05, -1, 0.02},
                                           ScaleStepCase{"BetweenGoesUpToTheNext", 300.0, 1, 500.0},
                                           ScaleStepCase{"BetweenGoesDownToTheLower", 300.0, -1,
                                                         200.0}),
                         ByLabel());

struct ScaleAtLeastCase {
    std::string label;
    double magnitude;
    double expected;
};

class ScaleAtLeast : public ::testing::TestWithParam<ScaleAtLeastCase> {};

// The module's 1-2-5 rule gives the same scales: 500 for 500, 10 for 7.5, 5 for 3.
TEST_P(ScaleAtLeast, IsTheSmallestOneTwoFiveValueNotBelowTheMagnitude) {
    EXPECT_DOUBLE_EQ(qel::ScopeScaleAtLeast(GetParam().magnitude), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Magnitudes, ScaleAtLeast,
                         ::testing::Values(ScaleAtLeastCase{"Exact", 500.0, 500.0},
                                           ScaleAtLeastCase{"SevenAndAHalf", 7.5, 10.0},
                                           ScaleAtLeastCase{"Three", 3.0, 5.0},
                                           ScaleAtLeastCase{"Small", 0.03, 0.05},
                                           ScaleAtLeastCase{"Zero", 0.0, 1.0}),
                         ByLabel());

struct RefusalCase {
    std::string label;
    std::function<int(CQel_ScopeLogger&)> act;
};

class ScopeRefusals : public ScopeLoggerTest, public ::testing::WithParamInterface<RefusalCase> {};

// A refused change is reported and leaves every setting as it was.
TEST_P(ScopeRefusals, ReportAndChangeNothing) {
    const std::string before = SettingsJson();
    const int curves = scope_->GetGraphDocument()->GetSize();
    EXPECT_LE(GetParam().act(*scope_), 0);
    EXPECT_EQ(errors_.Messages().size(), 1U);
    EXPECT_EQ(SettingsJson(), before);
    EXPECT_EQ(scope_->GetGraphDocument()->GetSize(), curves);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ScopeRefusals,
    ::testing::Values(
        RefusalCase{
            "RescaleOfAVariableNotLogged",
            [](CQel_ScopeLogger& s) { return s.RescaleVariable("Load_Speed", "rpm", 100.0, 0.0); }},
        RefusalCase{"RescaleInAForeignUnit",
                    [](CQel_ScopeLogger& s) {
                        return s.RescaleVariable("Speed_Reference", "A", 100.0, 0.0);
                    }},
        RefusalCase{"RescaleToNoScale",
                    [](CQel_ScopeLogger& s) {
                        return s.RescaleVariable("Speed_Reference", "rpm", 0.0, 0.0);
                    }},
        RefusalCase{"StepOfAChannelNotLogged",
                    [](CQel_ScopeLogger& s) { return s.ChangeChannelScale(2, 1); }},
        RefusalCase{"AutoscaleWithoutPoints", [](CQel_ScopeLogger& s) { return s.Autoscale(); }},
        RefusalCase{"CurveOfFilterOne",
                    [](CQel_ScopeLogger& s) { return s.AddCurve(1, 0, 1, RGB16(3)); }},
        RefusalCase{"CurveAgainstAVariable",
                    [](CQel_ScopeLogger& s) { return s.AddCurve(0, 1, 2, RGB16(3)); }},
        RefusalCase{"CurveOfAnItemNotLogged",
                    [](CQel_ScopeLogger& s) { return s.AddCurve(0, 0, 3, RGB16(3)); }}),
    ByLabel());

struct AutoscaleCase {
    std::string label;
    std::vector<std::int32_t> values;  // internal units, shown as such
    double valuePerDivision;
    double centre;
};

class Autoscale : public ScopeLoggerTest, public ::testing::WithParamInterface<AutoscaleCase> {};

// The grid is eight divisions high, its centre on a whole number of divisions.
TEST_P(Autoscale, ShowsEveryPointWithTheFinestScale) {
    ASSERT_EQ(scope_->RescaleVariable("Speed_Reference", "IU", 1.0, 0.0), 1);
    scope_->OnProgramStarted();
    std::vector<std::vector<std::int32_t>> points;
    for (const std::int32_t value : GetParam().values) {
        points.push_back({value, 0});
    }
    ASSERT_EQ(Feed(0, points), static_cast<int>(points.size()));
    ASSERT_EQ(scope_->Autoscale(), 1);
    const qel::ScopeChannel channel = *scope_->GetChannel(0);
    EXPECT_DOUBLE_EQ(channel.valuePerDivision, GetParam().valuePerDivision);
    EXPECT_DOUBLE_EQ(channel.centre, GetParam().centre);
    EXPECT_EQ(channel.unit, "IU");
}

INSTANTIATE_TEST_SUITE_P(
    Points, Autoscale,
    ::testing::Values(AutoscaleCase{"ZeroToAThousand", {0, 1000}, 200.0, 600.0},
                      AutoscaleCase{"Narrow", {100, 150}, 10.0, 130.0},
                      AutoscaleCase{"FillsTheGrid", {0, 790}, 100.0, 400.0},
                      // Centred on 400 at 100 per division, 801 would lie off the grid.
                      AutoscaleCase{"CentringNeedsACoarserScale", {1, 801}, 200.0, 400.0},
                      AutoscaleCase{"Negative", {-1000, -200}, 100.0, -600.0}),
    ByLabel());

TEST_F(ScopeLoggerTest, DefaultValuesForgetVariablesCurvesScalesAndPoints) {
    ASSERT_EQ(scope_->RescaleVariable("Motor_Current", "A", 2.0, 4.0), 1);
    scope_->OnProgramStarted();
    ASSERT_EQ(Feed(0, {{1, 2}}), 1);
    scope_->SetDefaultValues();
    EXPECT_EQ(scope_->GetVariablesNo(), 0U);
    EXPECT_EQ(scope_->GetGraphDocument()->GetSize(), 0);
    EXPECT_FALSE(scope_->GetChannel(0));
    int first = -1;
    int count = -1;
    scope_->GetPointsToBeDrawn(first, count);
    EXPECT_EQ(count, 0);
    // The old acquisition's points are gone: a frame before the next start is not taken.
    ASSERT_EQ(scope_->AddVariable("Load_Speed", 1), 1);
    EXPECT_EQ(Feed(0, {{5}}), -1);
    EXPECT_EQ(scope_->GetSettings().scope->mode, qel::TriggerMode::Untriggered);
    EXPECT_EQ(scope_->GetSettings().scope->duration_s, 1.0);
}

// What a user customised: the trigger, a rescaled channel and the curves' colours.
void Customise(CQel_ScopeLogger& scope) {
    ASSERT_EQ(scope.ChangeSettings(0.25, 2, 0, "Speed_Reference", -20.0, 30), 1);
    ASSERT_EQ(scope.RescaleVariable("Speed_Reference", "rpm", 50.0, -200.0), 1);
    ASSERT_EQ(scope.RescaleVariable("Motor_Current", "mA", 500.0, 1000.0), 1);
}

// How a channel comes to have a scale, and the scale its curve is then drawn at on the graph of
// the scope's document (channel 0, Speed_Reference; the other channel at its default scale),
// over the acquisition's time base (0.5 s, 10 % before the trigger, unless loaded).
struct GraphScaleCase {
    std::string label;
    std::function<void(CQel_ScopeLogger&, const fs::path& folder)> scale;
    std::string unit;
    double valuePerDivision;
    double centre;
    double start_s;
    double span_s;
};

class ScopeGraphScales : public ScopeLoggerTest,
                         public ::testing::WithParamInterface<GraphScaleCase> {};

TEST_P(ScopeGraphScales, ReachTheGraphViewInTheChannelsUnits) {
    CGraphWindow graph(4, 0);
    graph.SetDocument(scope_->GetGraphDocument(), scope_->GetGraphFilter(0));
    EXPECT_FALSE(graph.GetView().curves[0].scale) << "no channel scaled yet: fitted axes";
    EXPECT_FALSE(graph.GetView().timeBase);
    GetParam().scale(*scope_, folder_);
    graph.UpdateLastPoint();
    const ui::GraphState& view = graph.GetView();
    ASSERT_EQ(view.curves.size(), 2U);
    ASSERT_TRUE(view.curves[0].scale);
    const ui::GraphScale& speed = *view.curves[0].scale;
    EXPECT_EQ(speed.unit, GetParam().unit);
    EXPECT_DOUBLE_EQ(speed.valuePerDivision, GetParam().valuePerDivision);
    EXPECT_DOUBLE_EQ(speed.centre, GetParam().centre);
    // The curve holds base units; the scale reads them in its own.
    const CQel_Variable& reference = *setup_->FindVariable("Speed_Reference", 1);
    EXPECT_NEAR(ui::ScaledValue(speed, reference.UnitToBase(1000.0, GetParam().unit)), 1000.0,
                1e-9);
    ASSERT_TRUE(view.timeBase);
    EXPECT_NEAR(view.timeBase->start_s, GetParam().start_s, 1e-12);
    EXPECT_DOUBLE_EQ(view.timeBase->span_s, GetParam().span_s);
    EXPECT_NEAR(view.xAxis.maximum, GetParam().start_s + GetParam().span_s, 1e-12);
    const qel::ScopeChannel current = *scope_->GetChannel(1);
    ASSERT_TRUE(view.curves[1].scale);
    EXPECT_EQ(view.curves[1].scale->unit, current.unit);
    EXPECT_DOUBLE_EQ(view.curves[1].scale->valuePerDivision, current.valuePerDivision);
    EXPECT_TRUE(errors_.Messages().empty());

    scope_->SetDefaultValues();
    graph.UpdateLastPoint();
    EXPECT_TRUE(graph.GetView().curves.empty());
    EXPECT_FALSE(graph.GetView().timeBase) << "the defaults have no scales";
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ScopeGraphScales,
    ::testing::Values(
        GraphScaleCase{"Rescaled",
                       [](CQel_ScopeLogger& s, const fs::path&) {
                           ASSERT_EQ(s.RescaleVariable("Speed_Reference", "rpm", 500.0, 100.0), 1);
                       },
                       "rpm", 500.0, 100.0, -0.05, 0.5},
        GraphScaleCase{"SteppedCoarser",
                       [](CQel_ScopeLogger& s, const fs::path&) {
                           ASSERT_EQ(s.RescaleVariable("Speed_Reference", "rpm", 500.0, 0.0), 1);
                           ASSERT_EQ(s.ChangeChannelScale(0, 1), 1);
                       },
                       "rpm", 1000.0, 0.0, -0.05, 0.5},
        GraphScaleCase{"Autoscaled",
                       [](CQel_ScopeLogger& s, const fs::path&) {
                           ASSERT_EQ(s.RescaleVariable("Speed_Reference", "IU", 1.0, 0.0), 1);
                           s.OnProgramStarted();
                           const std::vector<std::uint8_t> data = FrameData(0, {{0, 0}, {1000, 0}});
                           ASSERT_EQ(s.OnFrameReceive(static_cast<int>(data.size()), data.data()),
                                     2);
                           ASSERT_EQ(s.Autoscale(), 1);
                       },
                       "IU", 200.0, 600.0, -0.05, 0.5},
        GraphScaleCase{"TriggerChangedAfterwards",
                       [](CQel_ScopeLogger& s, const fs::path&) {
                           ASSERT_EQ(s.RescaleVariable("Speed_Reference", "rpm", 20.0, 0.0), 1);
                           ASSERT_EQ(s.ChangeSettings(2.0, 1, 1, "", 0.0, 25), 1);
                       },
                       "rpm", 20.0, 0.0, -0.5, 2.0},
        GraphScaleCase{"Loaded",
                       [](CQel_ScopeLogger& s, const fs::path& folder) {
                           Customise(s);
                           ASSERT_EQ(s.Save(folder / "scales.json"), 1);
                           s.SetDefaultValues();
                           ASSERT_EQ(s.Load(folder / "scales.json"), 1);
                       },
                       "rpm", 50.0, -200.0, -0.075, 0.25}),
    ByLabel());

struct KeptCase {
    std::string label;
    std::function<int(CQel_ScopeLogger&, CQel_Setup&, const fs::path&)> save;
    std::function<int(CQel_ScopeLogger&, CQel_Setup&, const fs::path&)> load;
};

class KeptSettings : public ScopeLoggerTest, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(KeptSettings, LoadIntoANewScopeWhatWasSaved) {
    Customise(*scope_);
    const fs::path file = folder_ / "scope.json";
    ASSERT_EQ(GetParam().save(*scope_, *setup_, file), 1);
    CQel_ScopeLogger loaded(setup_.get());
    ASSERT_EQ(GetParam().load(loaded, *setup_, file), 1);
    EXPECT_EQ(qel::ScopeSettingsToJson(loaded.GetScopeSettings()), SettingsJson());
    const CQel_Variable& speed = *setup_->FindVariable("Speed_Reference", 1);
    // The drive compares whole numbers of its units.
    EXPECT_EQ(loaded.GetSettings().scope->level, std::round(speed.BaseToInternal(-20.0)));
    ASSERT_EQ(loaded.GetGraphDocument()->GetSize(), 2);
    EXPECT_EQ(loaded.GetGraphDocument()->GetAt(1)->GetColour(), RGB16(5));
    EXPECT_EQ(loaded.GetGraphDocument()->GetAt(1)->GetName(), "Motor_Current");
    EXPECT_TRUE(errors_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Places, KeptSettings,
    ::testing::Values(
        KeptCase{"File",
                 [](CQel_ScopeLogger& s, CQel_Setup&, const fs::path& f) { return s.Save(f); },
                 [](CQel_ScopeLogger& s, CQel_Setup&, const fs::path& f) { return s.Load(f); }},
        KeptCase{"SetupOption",
                 [](CQel_ScopeLogger& s, CQel_Setup&, const fs::path&) {
                     return s.SaveSettingsToSetupOption("SpeedTuningOscSettings");
                 },
                 [](CQel_ScopeLogger& s, CQel_Setup& setup, const fs::path&) {
                     EXPECT_FALSE(setup.GetOptionNoError("SpeedTuningOscSettings").empty());
                     return s.LoadSettingsFromSetupOption("SpeedTuningOscSettings");
                 }}),
    ByLabel());

TEST_F(ScopeLoggerTest, AnEmptyOrMissingOptionLoadsNothingSilently) {
    const std::string before = SettingsJson();
    EXPECT_EQ(scope_->LoadSettingsFromSetupOption("PositionTuningOscSettings"), 0);
    setup_->SetOption("PositionTuningOscSettings", "");
    EXPECT_EQ(scope_->LoadSettingsFromSetupOption("PositionTuningOscSettings"), 0);
    EXPECT_EQ(SettingsJson(), before);
    EXPECT_TRUE(errors_.Messages().empty());
}

TEST_F(ScopeLoggerTest, SavingReplacesTheFileWholeAndLeavesNoTemporaryBehind) {
    const fs::path file = folder_ / "scope.json";
    {
        std::ofstream old(file);
        old << "old settings";
    }
    Customise(*scope_);
    ASSERT_EQ(scope_->Save(file), 1);
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), SettingsJson());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
    EXPECT_EQ(scope_->Save(folder_ / "missing" / "scope.json"), 0);
    ASSERT_EQ(errors_.Messages().size(), 1U);
    EXPECT_NE(errors_.Messages()[0].find("The scope settings were not saved"), std::string::npos);
}

struct BadFileCase {
    std::string label;
    std::string text;     // the file's content; empty: no file at all
    std::string problem;  // a part of the report
};

class BadSettingsFile : public ScopeLoggerTest,
                        public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadSettingsFile, IsReportedAndChangesNothing) {
    const fs::path file = folder_ / "bad.json";
    if (!GetParam().text.empty()) {
        std::ofstream out(file);
        out << GetParam().text;
    }
    const std::string before = SettingsJson();
    EXPECT_EQ(scope_->Load(file), 0);
    ASSERT_FALSE(errors_.Messages().empty());
    EXPECT_NE(errors_.Messages().back().find(GetParam().problem), std::string::npos)
        << errors_.Messages().back();
    EXPECT_EQ(SettingsJson(), before);
}

constexpr const char* kAcquisition =
    R"("acquisition": {"duration_s": 0.5, "mode": 1, "slope": 1, "variable": "",
                       "level": 0, "preTrigger_percent": 0})";

std::string SettingsText(const std::string& acquisition, const std::string& channels,
                         const std::string& curves, int format = 1) {
    return "{\"format\": " + std::to_string(format) + ", " + acquisition +
           ", \"channels\": " + channels + ", \"curves\": " + curves + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadSettingsFile,
    ::testing::Values(
        BadFileCase{"Missing", "", "could not be read"},
        BadFileCase{"NotJson", "{\"format\": 1,", "not valid JSON"},
        BadFileCase{"OtherFormat", SettingsText(kAcquisition, "[]", "[]", 2), "format 2"},
        BadFileCase{"NoChannels", "{\"format\": 1, " + std::string(kAcquisition) + "}",
                    "channels is missing"},
        BadFileCase{"UnknownVariable",
                    SettingsText(kAcquisition,
                                 R"([{"variable": "Nowhere", "flag": 1, "unit": "rpm",
                                      "valuePerDivision": 1, "centre": 0}])",
                                 "[]"),
                    "no variable \"Nowhere\""},
        BadFileCase{"ForeignUnit",
                    SettingsText(kAcquisition,
                                 R"([{"variable": "Load_Speed", "flag": 1, "unit": "A",
                                      "valuePerDivision": 1, "centre": 0}])",
                                 "[]"),
                    "\"A\" is not a unit of \"Load_Speed\""},
        BadFileCase{"NoScale",
                    SettingsText(kAcquisition,
                                 R"([{"variable": "Load_Speed", "flag": 1, "unit": "rpm",
                                      "valuePerDivision": 0, "centre": 0}])",
                                 "[]"),
                    "valuePerDivision is not positive"},
        BadFileCase{"CurveOfNoChannel",
                    SettingsText(kAcquisition, "[]", R"([{"item": 1, "colour": [0, 0, 0]}])"),
                    "curves[0].item names no channel"},
        BadFileCase{"BadColour",
                    SettingsText(kAcquisition,
                                 R"([{"variable": "Load_Speed", "flag": 1, "unit": "rpm",
                                      "valuePerDivision": 1, "centre": 0}])",
                                 R"([{"item": 1, "colour": [0, 300, 0]}])"),
                    "outside 0 ... 255"},
        BadFileCase{"UnknownTriggerMode",
                    SettingsText(R"("acquisition": {"duration_s": 0.5, "mode": 3, "slope": 1,
                                     "variable": "", "level": 0, "preTrigger_percent": 0})",
                                 "[]", "[]"),
                    "acquisition is not one this drive makes"}),
    ByLabel());

// Saving and loading where the user says, the headless script answering the prompts.
class ScopePrompts : public ScopeLoggerTest {
  protected:
    ui::headless::Session ui_;
};

struct PromptCase {
    std::string label;
    int open;
    std::string title;
};

class ScopeSettingsPrompt : public ScopePrompts,
                            public ::testing::WithParamInterface<PromptCase> {};

TEST_P(ScopeSettingsPrompt, AsksForAJsonFileAndGivesItsPath) {
    const fs::path chosen = folder_ / "chosen.json";
    ui_->ExpectSavePrompt(chosen);
    fs::path path;
    EXPECT_EQ(DoPromptScopeLoggerFileName(GetParam().open, "SpeedTuning", path), 1);
    EXPECT_EQ(path, chosen);
    ASSERT_EQ(ui_->SavePrompts().size(), 1U);
    const ui::SaveFilePrompt& prompt = ui_->SavePrompts()[0].prompt;
    EXPECT_EQ(prompt.title, GetParam().title);
    EXPECT_EQ(prompt.defaultName, "SpeedTuning");
    EXPECT_EQ(prompt.opening, GetParam().open == 1);
    EXPECT_EQ(prompt.types, (std::vector<ui::FileType>{{"Scope settings", "json"}}));

    ui_->ExpectSavePromptCancelled();
    path = "untouched";
    EXPECT_EQ(DoPromptScopeLoggerFileName(GetParam().open, "SpeedTuning", path), 0);
    EXPECT_EQ(path, "untouched");
    EXPECT_TRUE(ui_->Failures().empty());
}

INSTANTIATE_TEST_SUITE_P(Directions, ScopeSettingsPrompt,
                         ::testing::Values(PromptCase{"Load", 1, "Load Scope Settings"},
                                           PromptCase{"Save", 0, "Save Scope Settings"}),
                         ByLabel());

// The settings dialog shows the scope's settings and OK applies what the user typed: the
// acquisition, and each channel's unit, scale and centre.
TEST_F(ScopePrompts, SettingsDialogShowsAndAppliesTheSettings) {
    using Dlg = CScopeSettingsDlg;
    const int current = Dlg::kChannelIdStep;
    ui_->When(std::string(Dlg::kCaption), [&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Text(Dlg::kDurationId), "0.5");
        EXPECT_EQ(d.SelectedText(Dlg::kModeId), "Single trigger");
        EXPECT_EQ(d.SelectedText(Dlg::kSlopeId), "Rising");
        EXPECT_EQ(d.SelectedText(Dlg::kTriggerVariableId), "Speed_Reference");
        EXPECT_EQ(d.Text(Dlg::kLevelUnitId), "rad/s");
        EXPECT_EQ(d.Text(Dlg::kPreTriggerId), "10");
        EXPECT_EQ(d.Text(Dlg::kChannelNameId + current), "Motor_Current");
        EXPECT_FALSE(d.IsVisible(Dlg::kChannelNameId + 2 * current));
        d.EnterText(Dlg::kDurationId, "0.2");
        d.Select(Dlg::kModeId, "Repeated trigger");
        d.Select(Dlg::kSlopeId, "Falling");
        d.Select(Dlg::kTriggerVariableId, "Motor_Current");
        EXPECT_EQ(d.Text(Dlg::kLevelUnitId), "A");
        d.EnterText(Dlg::kLevelId, " -1.5 ");
        d.EnterText(Dlg::kPreTriggerId, "25");
        d.Select(Dlg::kChannelUnitId, "rpm");
        d.EnterText(Dlg::kChannelScaleId, "200");
        d.EnterText(Dlg::kChannelCentreId, "400");
        d.EnterText(Dlg::kChannelScaleId + current, "0.5");
        d.Click(IDOK);
    });
    EXPECT_EQ(scope_->Edit(nullptr), TRUE);
    const qel::ScopeSettings settings = scope_->GetScopeSettings();
    EXPECT_DOUBLE_EQ(settings.acquisition.duration_s, 0.2);
    EXPECT_EQ(settings.acquisition.mode, static_cast<int>(qel::TriggerMode::Repeated));
    EXPECT_EQ(settings.acquisition.slope, 0);
    EXPECT_EQ(settings.acquisition.variable, "Motor_Current");
    EXPECT_NEAR(settings.acquisition.level, -1.5, 0.05);
    EXPECT_EQ(settings.acquisition.preTrigger_percent, 25);
    ASSERT_EQ(settings.channels.size(), 2U);
    EXPECT_EQ(settings.channels[0].unit, "rpm");
    EXPECT_DOUBLE_EQ(settings.channels[0].valuePerDivision, 200.0);
    EXPECT_DOUBLE_EQ(settings.channels[0].centre, 400.0);
    EXPECT_DOUBLE_EQ(settings.channels[1].valuePerDivision, 0.5);
    EXPECT_TRUE(ui_->Failures().empty());
}

struct SettingsEntryCase {
    std::string label;
    int id;
    std::string typed;
    std::string message;
    // Said by the logger, which checks the acquisition (reported), rather than by the dialog's own
    // message box.
    bool byTheLogger = false;
};

class SettingsDialogRefusals : public ScopePrompts,
                               public ::testing::WithParamInterface<SettingsEntryCase> {};

// An entry that cannot be a setting is said, the dialog stays open, and Cancel then leaves the
// scope as it was.
TEST_P(SettingsDialogRefusals, SayWhyAndChangeNothing) {
    const SettingsEntryCase& row = GetParam();
    const std::string before = SettingsJson();
    if (!row.byTheLogger) {
        ui_->ExpectMessageBox(row.message);
    }
    ui_->When(std::string(CScopeSettingsDlg::kCaption), [&row](ui::headless::DialogDriver& d) {
        d.EnterText(row.id, row.typed);
        d.Click(IDOK);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(scope_->Edit(nullptr), FALSE);
    EXPECT_EQ(SettingsJson(), before);
    EXPECT_EQ(ui_->PendingMessageBoxExpectations(), 0U);
    if (row.byTheLogger) {
        ASSERT_EQ(errors_.Messages().size(), 1U);
        EXPECT_NE(errors_.Messages()[0].find(row.message), std::string::npos)
            << errors_.Messages()[0];
    } else {
        EXPECT_TRUE(errors_.Messages().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SettingsDialogRefusals,
    ::testing::Values(
        SettingsEntryCase{"DurationNotANumber", CScopeSettingsDlg::kDurationId, "half a second",
                          "The duration \"half a second\" is not a number."},
        SettingsEntryCase{"NoDuration", CScopeSettingsDlg::kDurationId, "0",
                          "The scope cannot acquire over", true},
        SettingsEntryCase{"PreTriggerBeyondTheAcquisition", CScopeSettingsDlg::kPreTriggerId, "150",
                          "The scope cannot acquire over", true},
        SettingsEntryCase{"ScaleNotAbove0", CScopeSettingsDlg::kChannelScaleId, "-2",
                          "The value per division of Speed_Reference must be above 0."},
        SettingsEntryCase{"CentreNotANumber", CScopeSettingsDlg::kChannelCentreId, "1,5",
                          "The Speed_Reference centre \"1,5\" is not a number."}),
    ByLabel());

TEST_F(ScopePrompts, SaveGraphWritesTheScopeCurvesWhereTheUserSays) {
    scope_->OnProgramStarted();
    ASSERT_EQ(Feed(0, {{100, 1}, {200, 2}}), 2);
    const fs::path chosen = folder_ / "plots.csv";
    ui_->ExpectSavePrompt(chosen);
    EXPECT_EQ(scope_->SaveGraph("SpeedTuning"), TRUE);
    ASSERT_EQ(ui_->SavePrompts().size(), 1U);
    EXPECT_EQ(ui_->SavePrompts()[0].prompt.title, "Save Plots");
    EXPECT_EQ(ui_->SavePrompts()[0].prompt.defaultName, "SpeedTuning");
    std::ifstream in(chosen);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[0].rfind("time [s],Speed_Reference [", 0), 0U) << lines[0];
    EXPECT_NE(lines[0].find(",Motor_Current ["), std::string::npos) << lines[0];

    ui_->ExpectSavePromptCancelled();
    EXPECT_EQ(scope_->SaveGraph("SpeedTuning"), FALSE);
    EXPECT_TRUE(errors_.Messages().empty());
}

}  // namespace
