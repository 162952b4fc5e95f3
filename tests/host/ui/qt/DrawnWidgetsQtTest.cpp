// The drawn controls on real widgets, offscreen: the bar graph's bar where its value puts it, the
// diagrams' pointer moving with the angle and gone when disabled, the graph's series, axes and
// legend following the kernel's graph window, and its SVG picture as Qt's renderer reads it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractAxis>
#include <QChart>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QSvgRenderer>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>

#include "host/kernel/BarGraph.h"
#include "host/kernel/Diagrams.h"
#include "host/kernel/Graph.h"
#include "host/ui/qt/GraphWidget.h"
#include "tests/host/ui/qt/QtTestSupport.h"

namespace {

using ui::qt::DialogWindow;

constexpr int kDrawn = 922;
constexpr int kBar = 1040;
constexpr int kEncoder = 1041;
constexpr int kPhases = 1042;
constexpr int kGraph = 1043;
constexpr double kPi = std::numbers::pi;
// The diagram's circle leaves this much room for its labels (DrawnWidgets.cpp).
constexpr double kLabelRoom_px = 12.0;

class DrawnDialog : public CDialog {
  public:
    DrawnDialog() : CDialog(kDrawn, nullptr) {}
    std::function<void(DrawnDialog&)> onInit;
    // The program's own messages the dialog received: message, wParam, lParam.
    std::vector<std::array<std::intptr_t, 3>> messages;
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) {
            onInit(*this);
        }
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back(
            {static_cast<std::intptr_t>(message), static_cast<std::intptr_t>(wParam), lParam});
        return 0;
    }
};

bool IsPointerRed(QRgb pixel) {
    return qRed(pixel) > 150 && qGreen(pixel) < 100 && qBlue(pixel) < 100;
}

bool IsBlue(QRgb pixel) {
    return qBlue(pixel) > 180 && qRed(pixel) < 100 && qGreen(pixel) < 100;
}

// Whether a pixel within two pixels of the point has the pointer's colour.
bool PointerNear(const QImage& image, QPointF point) {
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            const QPoint at(static_cast<int>(std::lround(point.x())) + dx,
                            static_cast<int>(std::lround(point.y())) + dy);
            if (image.rect().contains(at) && IsPointerRed(image.pixel(at))) {
                return true;
            }
        }
    }
    return false;
}

// Whether a pixel within three pixels of the point matches.
bool ColourNear(const QImage& image, QPointF point, bool (*matches)(QRgb)) {
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            const QPoint at(static_cast<int>(std::lround(point.x())) + dx,
                            static_cast<int>(std::lround(point.y())) + dy);
            if (image.rect().contains(at) && matches(image.pixel(at))) {
                return true;
            }
        }
    }
    return false;
}

int CountPixels(const QImage& image, bool (*matches)(QRgb)) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += matches(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

// A point of a diagram widget at the angle, a share of the radius from the centre, laid out as
// the widget lays out its circle under the caption.
QPointF OnDiagram(const QWidget& widget, bool captioned, double angle_rad, double share) {
    const double caption_px = captioned ? widget.fontMetrics().height() : 0.0;
    const QRectF area(0, caption_px, widget.width(), widget.height() - caption_px);
    const double radius_px = std::min(area.width(), area.height()) / 2.0 - kLabelRoom_px;
    return {area.center().x() + share * radius_px * std::cos(angle_rad),
            area.center().y() - share * radius_px * std::sin(angle_rad)};
}

// A speed step as a tuning test logs it: the reference, the speed overshooting and settling, the
// current decaying (the speed in blue).
void AddStepResponse(CGraphDocument& document) {
    constexpr double kSettling_s = 0.02;
    constexpr double kRinging_Hz = 15.0;
    document.AddCurve(CXYCurve("Speed_Reference", "rpm", RGB16(9)));
    document.AddCurve(CXYCurve("Speed", "rpm", RGB16(12)));
    document.AddCurve(CXYCurve("IQ", "A", RGB16(2)));
    for (int i = 0; i <= 300; ++i) {
        const double t_s = 0.0005 * i;
        const double decay = std::exp(-t_s / kSettling_s);
        document.GetAt(0)->AddPoint(t_s, 1000.0);
        document.GetAt(1)->AddPoint(t_s,
                                    1000.0 * (1.0 - decay * std::cos(2 * kPi * kRinging_Hz * t_s)));
        document.GetAt(2)->AddPoint(t_s, 3.0 * decay);
    }
}

class DrawnWidgetsQtTest : public QtBackendTest {
  protected:
    void SetUp() override {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/qt/resources");
    }

    void Run(const std::function<void(DialogWindow&)>& step) {
        script_.When(kDrawn, [&step](DialogWindow& window) {
            step(window);
            Click(window, IDCANCEL);
        });
        dialog_.DoModal();
        ExpectScriptCompleted();
    }

    static QImage Grab(DialogWindow& window, int id) {
        QWidget* widget = Control<QWidget>(window, id);
        EXPECT_NE(widget, nullptr) << "no widget " << id;
        return widget != nullptr ? widget->grab().toImage() : QImage();
    }

    DrawnDialog dialog_;
};

TEST_F(DrawnWidgetsQtTest, BarGraphFillsFromTheReferenceToTheValue) {
    CBarGraph bar;
    dialog_.onInit = [&bar](DrawnDialog& dialog) {
        bar.SubclassDlgItem(kBar, &dialog);
        bar.SetLimits(-10.0, 10.0);
        bar.SetDrawingReference(0.0);
        bar.SetBarColour(RGB(0, 0, 255));
        bar.SetCurrentValue(5.0);
    };
    Run([&bar](DialogWindow& window) {
        const auto at = [](const QImage& image, double fraction) {
            return image.pixel(static_cast<int>(fraction * image.width()), image.height() / 2);
        };
        QImage image = Grab(window, kBar);
        EXPECT_TRUE(IsBlue(at(image, 0.65)));
        EXPECT_FALSE(IsBlue(at(image, 0.35)));
        EXPECT_FALSE(IsBlue(at(image, 0.85)));
        bar.SetCurrentValue(-5.0);
        image = Grab(window, kBar);
        EXPECT_TRUE(IsBlue(at(image, 0.35)));
        EXPECT_FALSE(IsBlue(at(image, 0.65)));
    });
}

TEST_F(DrawnWidgetsQtTest, DiagramPointerFollowsTheAngleAndGoesWhenDisabled) {
    CEncoderDiagram encoder;
    CPhaseDiagram phases;
    dialog_.onInit = [&](DrawnDialog& dialog) {
        encoder.SubclassDlgItem(kEncoder, &dialog);
        phases.SubclassDlgItem(kPhases, &dialog);
        phases.SetTheta(2 * kPi / 3);
    };
    Run([&](DialogWindow& window) {
        QWidget& dial = *Control<QWidget>(window, kEncoder);
        QImage image = Grab(window, kEncoder);
        EXPECT_TRUE(PointerNear(image, OnDiagram(dial, true, 0.0, 0.6)));
        EXPECT_FALSE(PointerNear(image, OnDiagram(dial, true, kPi / 2, 0.6)));
        encoder.SetTheta(kPi / 2);
        image = Grab(window, kEncoder);
        EXPECT_TRUE(PointerNear(image, OnDiagram(dial, true, kPi / 2, 0.6)));
        EXPECT_FALSE(PointerNear(image, OnDiagram(dial, true, 0.0, 0.6)));
        encoder.EnableDiagram(FALSE);
        EXPECT_EQ(CountPixels(Grab(window, kEncoder), IsPointerRed), 0);

        QWidget& axes = *Control<QWidget>(window, kPhases);
        image = Grab(window, kPhases);
        EXPECT_TRUE(PointerNear(image, OnDiagram(axes, true, 2 * kPi / 3, 0.6)));
        EXPECT_FALSE(PointerNear(image, OnDiagram(axes, true, 4 * kPi / 3, 0.6)));
    });
}

TEST_F(DrawnWidgetsQtTest, GraphShowsTheCurvesWithUnitsAndLegendAndFollowsNewPoints) {
    CGraphDocument document;
    AddStepResponse(document);
    constexpr int kPoints = 301;
    CGraphWindow graph(2, 0);
    graph.SetDocument(&document);
    dialog_.onInit = [&graph](DrawnDialog& dialog) { graph.SubclassDlgItem(kGraph, &dialog); };
    Run([&](DialogWindow& window) {
        auto* view = dynamic_cast<ui::qt::GraphWidget*>(Control<QChartView>(window, kGraph));
        ASSERT_NE(view, nullptr);
        QChart& chart = *view->chart();
        EXPECT_EQ(chart.title(), QStringLiteral("Run"));
        ASSERT_EQ(chart.series().size(), 3);
        EXPECT_EQ(view->Series(1)->name(), QStringLiteral("Speed [rpm]"));
        EXPECT_EQ(view->Series(2)->name(), QStringLiteral("IQ [A]"));
        EXPECT_EQ(view->Series(1)->count(), kPoints);
        EXPECT_TRUE(chart.legend()->isVisible());
        EXPECT_EQ(chart.legend()->markers().size(), 3);
        QStringList titles;
        for (QAbstractAxis* axis : chart.axes()) {
            if (axis->isVisible()) {
                titles.push_back(axis->titleText());
            }
        }
        titles.sort();
        EXPECT_EQ(titles, (QStringList{"A", "rpm", "time [s]"}));
        EXPECT_GT(CountPixels(Grab(window, kGraph), IsBlue), 50) << "the speed curve is drawn";

        document.GetAt(1)->AddPoint(0.2, 1000.0);
        graph.UpdateLastPoint();
        EXPECT_EQ(view->Series(1)->count(), kPoints + 1);
        EXPECT_EQ(view->Series(1)->at(kPoints), QPointF(0.2, 1000.0));
        document.GetAt(2)->RemoveAllPoints();
        graph.UpdateLastPoint();
        EXPECT_EQ(view->Series(2)->count(), 0);
    });
}

// Curves at fixed scales, as the scope logger publishes them: one grid of 8 divisions, each curve
// against its own scale (in the scale's unit), the legend naming the scales, 10 divisions of time.
TEST_F(DrawnWidgetsQtTest, ScaledCurvesShareAScopeGridEachAgainstItsOwnScale) {
    CGraphDocument document;
    AddStepResponse(document);
    constexpr double kRpmPerRadPerSecond = 60.0 / (2.0 * kPi);
    document.GetAt(0)->SetScale(ui::GraphScale{"rpm", 500.0, 0.0, 0.0, 1.0});
    document.GetAt(1)->SetScale(ui::GraphScale{"rad/s", 50.0, 100.0, 0.0, kRpmPerRadPerSecond});
    document.GetAt(2)->SetScale(ui::GraphScale{"A", 2.0, 0.0, 0.0, 1.0});
    document.SetTimeBase(ui::GraphTimeBase{0.0, 0.2});
    CGraphWindow graph(2, 0);
    graph.SetDocument(&document);
    dialog_.onInit = [&graph](DrawnDialog& dialog) { graph.SubclassDlgItem(kGraph, &dialog); };
    Run([&](DialogWindow& window) {
        auto* view = dynamic_cast<ui::qt::GraphWidget*>(Control<QChartView>(window, kGraph));
        ASSERT_NE(view, nullptr);
        QChart& chart = *view->chart();
        QStringList legend;
        for (QLegendMarker* marker : chart.legend()->markers()) {
            legend.push_back(marker->label());
        }
        EXPECT_EQ(legend,
                  (QStringList{"Speed_Reference 500 rpm/div", "Speed 50 rad/s/div", "IQ 2 A/div"}));
        // Eight divisions about each centre, a tick on every division.
        const std::array<std::array<double, 3>, 3> ranges{
            {{-2000.0, 2000.0, 500.0}, {-100.0, 300.0, 50.0}, {-8.0, 8.0, 2.0}}};
        for (std::size_t c = 0; c < ranges.size(); ++c) {
            const QValueAxis* axis = view->ValueAxis(c);
            ASSERT_NE(axis, nullptr);
            EXPECT_DOUBLE_EQ(axis->min(), ranges[c][0]) << "curve " << c;
            EXPECT_DOUBLE_EQ(axis->max(), ranges[c][1]) << "curve " << c;
            EXPECT_DOUBLE_EQ(axis->tickInterval(), ranges[c][2]) << "curve " << c;
        }
        EXPECT_FALSE(view->ValueAxis(2)->isVisible()) << "a third scale is read from the legend";
        QStringList titles;
        for (QAbstractAxis* axis : chart.axes()) {
            if (axis->isVisible()) {
                titles.push_back(axis->titleText());
            }
        }
        titles.sort();
        EXPECT_EQ(titles, (QStringList{"Speed [rad/s]", "Speed_Reference [rpm]", "time [s]"}));
        const auto* time = qobject_cast<QValueAxis*>(chart.axes(Qt::Horizontal).front());
        EXPECT_DOUBLE_EQ(time->max(), 0.2);
        EXPECT_DOUBLE_EQ(time->tickInterval(), 0.02);

        // The reference (1000 rpm) two divisions above the centre line, the current's start
        // (3 A) one and a half; the speed's last point in rad/s.
        const QRectF plot = chart.plotArea();
        EXPECT_NEAR(chart.mapToPosition(QPointF(0.1, 1000.0), view->Series(0)).y(),
                    plot.top() + plot.height() * 2.0 / 8.0, 0.5);
        EXPECT_NEAR(chart.mapToPosition(QPointF(0.0, 3.0), view->Series(2)).y(),
                    plot.top() + plot.height() * 2.5 / 8.0, 0.5);
        const QLineSeries& speed = *view->Series(1);
        EXPECT_NEAR(speed.at(speed.count() - 1).y(),
                    document.GetAt(1)->GetPoints().back().y / kRpmPerRadPerSecond, 1e-9);
        // Drawn there: the settled speed (about 104.7 rad/s) in blue near the centre line.
        const QImage image = Grab(window, kGraph);
        const auto onWidget = [&](double t_s, double value) {
            return QPointF(view->mapFromScene(
                chart.mapToScene(chart.mapToPosition(QPointF(t_s, value), view->Series(1)))));
        };
        EXPECT_TRUE(ColourNear(image, onWidget(0.14, 1000.0 / kRpmPerRadPerSecond), IsBlue));
        EXPECT_FALSE(ColourNear(image, onWidget(0.14, 200.0), IsBlue));
    });
}

// The wheel beside a scaled curve's axis asks the dialog to step that curve's channel: away from
// the user one scale finer, toward one coarser; over the plot itself it asks nothing.
TEST_F(DrawnWidgetsQtTest, WheelBesideAScaleAxisAsksTheDialogToStepItsChannel) {
    CGraphDocument document;
    AddStepResponse(document);
    document.GetAt(0)->SetScale(ui::GraphScale{"rpm", 500.0, 0.0, 0.0, 1.0, 3});
    document.GetAt(1)->SetScale(ui::GraphScale{"rpm", 500.0, 0.0, 0.0, 1.0, 5});
    document.GetAt(2)->SetScale(ui::GraphScale{"A", 2.0, 0.0, 0.0, 1.0, 6});
    CGraphWindow graph(2, 0);
    graph.SetDocument(&document);
    dialog_.onInit = [&graph](DrawnDialog& dialog) { graph.SubclassDlgItem(kGraph, &dialog); };
    Run([&](DialogWindow& window) {
        auto* view = dynamic_cast<ui::qt::GraphWidget*>(Control<QChartView>(window, kGraph));
        ASSERT_NE(view, nullptr);
        const QRectF plot = view->chart()->plotArea();
        const auto turn = [view](QPointF inChart, int angle) {
            const QPointF at = view->mapFromScene(view->chart()->mapToScene(inChart));
            QWheelEvent wheel(at, view->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, angle),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view->viewport(), &wheel);
        };
        turn(QPointF(plot.left() - 10.0, plot.center().y()), 120);
        turn(QPointF(plot.right() + 10.0, plot.center().y()), -120);
        turn(plot.center(), 120);
        const std::vector<std::array<std::intptr_t, 3>> expected{
            {ui::kGraphScaleRequest, kGraph, MAKELPARAM(3, static_cast<std::uint16_t>(-1))},
            {ui::kGraphScaleRequest, kGraph, MAKELPARAM(5, 1)}};
        EXPECT_EQ(dialog_.messages, expected);
    });
}

// A long on-line curve: the series holds a few points per column of pixels, every peak kept, and
// takes the points that come later.
TEST_F(DrawnWidgetsQtTest, LongCurveIsGatheredPerPixelColumnKeepingItsPeaks) {
    constexpr int kPoints = 10000;
    CGraphDocument document;
    document.AddCurve(CXYCurve("Speed", "rpm", RGB16(12)));
    CXYCurve& curve = *document.GetAt(0);
    for (int i = 0; i < kPoints; ++i) {
        const double spike = i == 6001 ? 5000.0 : (i == 6002 ? -3000.0 : 0.0);
        curve.AddPoint(0.001 * i, spike + 100.0 * std::sin(0.01 * i));
    }
    CGraphWindow graph(2, 0);
    graph.SetDocument(&document);
    dialog_.onInit = [&graph](DrawnDialog& dialog) { graph.SubclassDlgItem(kGraph, &dialog); };
    Run([&](DialogWindow& window) {
        auto* view = dynamic_cast<ui::qt::GraphWidget*>(Control<QChartView>(window, kGraph));
        ASSERT_NE(view, nullptr);
        const auto lowestAndHighest = [view] {
            const QList<QPointF> points = view->Series(0)->points();
            const auto [low, high] = std::minmax_element(
                points.begin(), points.end(),
                [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
            EXPECT_TRUE(
                std::is_sorted(points.begin(), points.end(),
                               [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); }));
            return std::pair{low->y(), high->y()};
        };
        const QLineSeries& series = *view->Series(0);
        EXPECT_LE(series.count(), 4 * view->width());
        EXPECT_EQ(series.at(0), QPointF(0.0, 0.0));
        EXPECT_EQ(series.at(series.count() - 1),
                  QPointF(curve.GetPoints().back().x, curve.GetPoints().back().y));
        EXPECT_EQ(lowestAndHighest(), (std::pair{curve.GetPoint(6002).y, curve.GetPoint(6001).y}));

        curve.AddPoint(10.0, 7000.0);
        curve.AddPoint(10.001, 0.0);
        graph.UpdateLastPoint();
        EXPECT_EQ(lowestAndHighest().second, 7000.0);
        EXPECT_EQ(series.at(series.count() - 1), QPointF(10.001, 0.0));
    });
}

// Every drawn control in use at once, saved as the dialog's screenshot (build tree,
// screenshots/922-drawn.png) for a person to look at.
TEST_F(DrawnWidgetsQtTest, EveryDrawnControlDrawsInOneDialog) {
    CBarGraph bar;
    CEncoderDiagram encoder;
    CPhaseDiagram phases;
    CGraphDocument document;
    AddStepResponse(document);
    CGraphWindow graph(2, 0);
    graph.SetDocument(&document);
    dialog_.onInit = [&](DrawnDialog& dialog) {
        bar.SubclassDlgItem(kBar, &dialog);
        bar.SetLimits(-10.0, 10.0);
        bar.SetDrawingReference(0.0);
        bar.SetBarColour(RGB16(10));
        bar.SetValueFormat("%.2f A");
        bar.SetCurrentValue(6.25);
        encoder.SubclassDlgItem(kEncoder, &dialog);
        encoder.SetTheta(0.8);
        phases.SubclassDlgItem(kPhases, &dialog);
        phases.SetTheta(4.0);
        graph.SubclassDlgItem(kGraph, &dialog);
    };
    Run([](DialogWindow& window) {
        for (const int id : {kBar, kEncoder, kPhases, kGraph}) {
            const QImage image = Grab(window, id);
            const int dark = CountPixels(image, [](QRgb pixel) { return qGray(pixel) < 100; });
            EXPECT_GT(dark, 40) << "control " << id << " draws little";
        }
        const std::filesystem::path folder =
            std::filesystem::path(BREVAN_BINARY_DIR) / "screenshots";
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(
            window.grab().save(QString::fromStdString((folder / "922-drawn.png").string())));
    });
}

TEST_F(DrawnWidgetsQtTest, SavedSvgIsAPictureQtCanDraw) {
    CGraphDocument document;
    AddStepResponse(document);
    CGraphWindow graph(2, 0);
    graph.SetDocument(&document);
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("brevan-graph-" + std::to_string(::getpid()) + ".svg");
    ASSERT_EQ(graph.SaveGraph(path), TRUE);
    QSvgRenderer renderer(QString::fromStdString(path.string()));
    std::filesystem::remove(path);
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.defaultSize(), QSize(800, 480));
    QImage image(renderer.defaultSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    EXPECT_GT(CountPixels(image, IsBlue), 300) << "the speed curve";
    EXPECT_GT(CountPixels(image, [](QRgb pixel) { return qGray(pixel) < 60; }), 500)
        << "the axes, ticks and texts";
    const std::filesystem::path folder = std::filesystem::path(BREVAN_BINARY_DIR) / "screenshots";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(image.save(QString::fromStdString((folder / "graph-picture.png").string())));
}

TEST_F(DrawnWidgetsQtTest, SavedPngIsTheGraphPictureDrawn) {
    CGraphDocument document;
    AddStepResponse(document);
    CGraphWindow graph(2, 0);
    graph.SetDocument(&document);
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("brevan-graph-" + std::to_string(::getpid()) + ".png");
    ASSERT_EQ(graph.SaveGraph(path), TRUE);
    std::ifstream in(path, std::ios::binary);
    std::string signature(8, '\0');
    in.read(signature.data(), static_cast<std::streamsize>(signature.size()));
    in.close();
    const QImage image(QString::fromStdString(path.string()));
    std::filesystem::remove(path);
    EXPECT_EQ(signature, std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(image.size(), QSize(800, 480));
    EXPECT_GT(CountPixels(image, IsBlue), 300) << "the speed curve";
    EXPECT_GT(CountPixels(image, [](QRgb pixel) { return qGray(pixel) < 60; }), 500)
        << "the axes, ticks and texts";
}

}  // namespace
