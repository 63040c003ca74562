// SPDX-License-Identifier: Apache-2.0
// The live charts against the dongle simulator: opened from the "View" menu and at
// start-up, plots that move while measures stream, pause, and the two exports.
#include <QAction>
#include <QChartView>
#include <QComboBox>
#include <QImage>
#include <QLineSeries>
#include <QListWidget>
#include <QRegularExpression>
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
    // The lines of console 01 on `chart`, oldest first, each as drawn.
    std::vector<QList<QPointF>> Lines(const char* chart) {
        std::vector<QList<QPointF>> lines;
        for (QAbstractSeries* series : Charts().findChild<QChartView*>(chart)->chart()->series())
            if (series->name() == "Console 01")
                lines.push_back(static_cast<QLineSeries*>(series)->points());
        return lines;
    }
    QString ListedText(int row) {
        return Charts().findChild<QListWidget*>("Consoles")->item(row)->text();
    }

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
    ASSERT_TRUE(QTest::qWaitFor([&] { return Plotted().size() >= 2; }, kWaitMs));
    const QList<QPointF> before = Plotted();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Plotted() != before; }, kWaitMs)) << "plots stand";
    // The simulator's riders turn the rolls, beat and pedal; no rider device: no power.
    EXPECT_GT(Plotted().last().y(), 0);
    EXPECT_GT(Plotted("HeartRateChart").last().y(), 0);
    EXPECT_GT(Plotted("CadenceChart").last().y(), 0);
    EXPECT_TRUE(Plotted("PowerChart").isEmpty());
    EXPECT_EQ(Charts().findChild<QChartView*>("PowerChart")->chart()->title(),
              "Power [W]: no rider device on these consoles");
    auto& consoles = *Charts().findChild<QListWidget*>("Consoles");
    EXPECT_TRUE(QTest::qWaitFor([&] { return consoles.count() == 3; }, kWaitMs));
    consoles.item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(Charts().findChild<QChartView*>("SpeedChart")->chart()->series().size(), 2);
    Charts().findChild<QComboBox*>("Minutes")->setCurrentText("1");
    SaveScreenshot(Charts(), "live_charts");

    ChartButton("Pause").click();
    const QList<QPointF> paused = Plotted();
    EXPECT_FALSE(
        QTest::qWaitFor([&] { return Plotted() != paused; }, 3 * TLiveChartsWindow::kRefreshMs));
    ChartButton("Pause").click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Plotted() != paused; }, kWaitMs));
    Click("Stop Measure");
}

// A console that stops sending without leaving, then sends again: its lines break for the
// silence, on every chart, and the CSV says where it fell silent.
TEST_F(LiveChartsTest, ASilenceIsAGapInTheLinesAndARowOfNoValuesInTheCsv) {
    StartBench();
    Form().ShowLiveCharts();
    Charts().findChild<QComboBox*>("Minutes")->setCurrentText("1");
    Stream();
    auto& consoles = *Charts().findChild<QListWidget*>("Consoles");
    ASSERT_TRUE(QTest::qWaitFor([&] { return consoles.count() == 3; }, kWaitMs));
    consoles.item(0)->setCheckState(Qt::Checked);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !Lines("SpeedChart").empty() && Lines("SpeedChart")[0].size() >= 4; }, kWaitMs));
    EXPECT_EQ(ListedText(0), "Console 01");

    simulator->SetReporting(1, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ListedText(0) == "Console 01 (silent)"; }, kWaitMs));
    const uint32_t silentAt = GetTickCount();
    // Long enough to see on a minute's span.
    ASSERT_TRUE(QTest::qWaitFor([&] { return GetTickCount() - silentAt > 6000; }, kWaitMs));
    SaveScreenshot(Charts(), "live_charts_silent");
    simulator->SetReporting(1, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Lines("SpeedChart").size() == 2; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Lines("SpeedChart")[1].size() >= 4; }, kWaitMs));
    EXPECT_EQ(ListedText(0), "Console 01");
    const double bound = SilenceAfterMs((*Form().tmp().LastMeasure())[1]) / 1000.0;
    for (const char* chart : {"SpeedChart", "HeartRateChart", "CadenceChart"}) {
        const std::vector<QList<QPointF>> lines = Lines(chart);
        ASSERT_EQ(lines.size(), 2u) << chart;
        // Nothing drawn across: the line ends at the last measures and starts at the next.
        EXPECT_GT(lines[1].first().x() - lines[0].last().x(), bound + 6) << chart;
    }
    SaveScreenshot(Charts(), "live_charts_gap");

    ChartButton("Pause").click();
    dialog.answer = folder.filePath("gap.csv");
    ChartButton("ExportCsv").click();
    const QStringList rows = QString::fromStdString(ReadFile(dialog.answer.toStdString()))
                                 .split('\n', Qt::SkipEmptyParts);
    const qsizetype silent = rows.indexOf(QRegularExpression("^[0-9.]+,1,,,,$"));
    ASSERT_GT(silent, 1) << rows.join('\n').toStdString();
    ASSERT_LT(silent, rows.size() - 1);
    EXPECT_EQ(rows.filter(QRegularExpression(",,,,$")).size(), 1);
    const auto time = [&](qsizetype row) { return rows[row].section(',', 0, 0).toDouble(); };
    // Silent from the bound after the last measures; measures again past the silence.
    EXPECT_NEAR(time(silent) - time(silent - 1), bound, 0.002);
    EXPECT_GT(time(silent + 1) - time(silent - 1), bound + 6);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return Plotted().size() >= 4; }, kWaitMs));
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
