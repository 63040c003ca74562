// The live charts against the dongle simulator: opened from the "View" menu and at
// start-up, plots that move while measures stream, pause, and the two exports.
#include <QAction>
#include <QChartView>
#include <QComboBox>
#include <QImage>
#include <QLineSeries>
#include <QListWidget>
#include <QSet>

#include "app/live_charts_window.h"
#include "gui_support.h"

namespace wct::test {
namespace {

class LiveChartsTest : public BenchTest {
protected:
    TLiveChartsWindow& Charts() { return Form().LiveCharts(); }
    void Stream() {
        Connect();
        Click("Start Measure");
    }
    // The points of the first console's series on `chart`.
    QList<QPointF> Plotted(const char* chart = "SpeedChart") {
        auto* view = Charts().findChild<QChartView*>(chart);
        const QList<QAbstractSeries*> series = view->chart()->series();
        if (series.isEmpty()) return {};
        return static_cast<QLineSeries*>(series.first())->points();
    }
    QPushButton& ChartButton(const char* name) { return *Charts().findChild<QPushButton*>(name); }

    TAnsweringFileDialog dialog;
    QTemporaryDir folder;
};

TEST_F(LiveChartsTest, OpenFromTheViewMenuAndPlotWhatStreamsUntilPaused) {
    StartBench();
    EXPECT_FALSE(Charts().isVisible());
    Form().findChild<QAction*>("LiveCharts")->trigger();
    ASSERT_TRUE(Charts().isVisible());
    EXPECT_EQ(Charts().windowTitle(), "Live Charts");

    Stream();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Plotted().size() >= 2; }, 5000));
    const QList<QPointF> before = Plotted();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Plotted() != before; }, 3000)) << "plots stand";
    // The simulator's riders turn the rolls, beat and pedal; no rider device: no power.
    EXPECT_GT(Plotted().last().y(), 0);
    EXPECT_GT(Plotted("HeartRateChart").last().y(), 0);
    EXPECT_GT(Plotted("CadenceChart").last().y(), 0);
    EXPECT_TRUE(Plotted("PowerChart").isEmpty());
    EXPECT_EQ(Charts().findChild<QChartView*>("PowerChart")->chart()->title(),
              "Power [W]: no rider device on these consoles");
    auto& consoles = *Charts().findChild<QListWidget*>("Consoles");
    EXPECT_TRUE(QTest::qWaitFor([&] { return consoles.count() == 3; }, 3000));
    consoles.item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(Charts().findChild<QChartView*>("SpeedChart")->chart()->series().size(), 2);
    Charts().findChild<QComboBox*>("Minutes")->setCurrentText("1");
    SaveScreenshot(Charts(), "live_charts");

    ChartButton("Pause").click();
    const QList<QPointF> paused = Plotted();
    EXPECT_FALSE(
        QTest::qWaitFor([&] { return Plotted() != paused; }, 3 * TLiveChartsWindow::kRefreshMs));
    ChartButton("Pause").click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Plotted() != paused; }, 3000));
    Click("Stop Measure");
}

TEST_F(LiveChartsTest, ChartsAtStartUpOpenBesideTheMainWindow) {
    EXPECT_TRUE(ParseAppOptions({"--charts"}).charts);
    TAppOptions options;
    options.charts = true;
    sim::TDongleOptions dongle;
    dongle.consoles.push_back(sim::DefaultConsole(1));
    dongle.consoles.back().joinedAtStart = true;
    StartBench(dongle, options);
    EXPECT_TRUE(Form().isVisible());
    EXPECT_TRUE(Charts().isVisible());
}

TEST_F(LiveChartsTest, ExportsSaveWhatIsShown) {
    StartBench();
    Form().ShowLiveCharts();
    Stream();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Plotted().size() >= 4; }, 5000));
    ChartButton("Pause").click();
    const QList<QPointF> shown = Plotted();

    dialog.answer = folder.filePath("shown.csv");
    ChartButton("ExportCsv").click();
    const QStringList rows = QString::fromStdString(ReadFile(dialog.answer.toStdString()))
                                 .split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(rows.size(), 2);
    EXPECT_EQ(rows[0], "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w");
    // One console ticked: every row is its own, its samples at least as many as plotted.
    // One console ticked: every row is its own, and every speed plotted is among them.
    const QString console = rows[1].section(',', 1, 1);
    QSet<QString> speeds;
    for (const QString& row : rows.mid(1)) {
        EXPECT_EQ(row.section(',', 1, 1), console) << row.toStdString();
        EXPECT_EQ(row.count(','), 5);
        speeds.insert(row.section(',', 2, 2));
    }
    for (const QPointF& point : shown)
        EXPECT_TRUE(speeds.contains(QString::number(point.y(), 'f', 2))) << point.y();

    dialog.answer = folder.filePath("shown.png");
    ChartButton("ExportPng").click();
    const QImage picture(dialog.answer);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), 400);
    EXPECT_GT(picture.height(), 400);
    EXPECT_EQ(dialog.suggested, (std::vector<QString>{"live-charts.csv", "live-charts.png"}));
    Click("Stop Measure");
}

}  // namespace
}  // namespace wct::test
