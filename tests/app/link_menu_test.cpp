// SPDX-License-Identifier: Apache-2.0
// The main window's "Link" menu against the dongle simulator: recording the wire traffic
// to a file or a capture, and the link statistics view.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>

#include "app/link_stats_view.h"
#include "common/wire_recording.h"
#include "gui_support.h"
#include "testbench/bench_recording.h"

namespace wct::test {
namespace {

class LinkMenuTest : public BenchTest {
protected:
    QAction& Action(const char* name) {
        auto* action = Form().findChild<QAction*>(name);
        if (action == nullptr) throw std::runtime_error(std::string("no action ") + name);
        return *action;
    }
    bool Recording() { return Form().tmp().WireTap() != nullptr; }
    // Starts a recording to `path` from the menu.
    void Record(const QString& path) {
        dialog.answer = path;
        Action("Record").trigger();
    }
    std::vector<TWireChunk> Recorded() { return ReadWireRecording(recording.toStdString()); }
    static bool Holds(const std::vector<TWireChunk>& chunks, TWireDirection direction,
                      const std::string& frame) {
        std::string bytes;
        for (const TWireChunk& chunk : chunks)
            if (chunk.direction == direction) bytes += chunk.bytes;
        return bytes.find(frame) != std::string::npos;
    }
    // The statistics view's row of `console`, -1 when it has none.
    int RowOf(int console) {
        QTableWidget& grid = Form().LinkStatsView().Grid();
        for (int r = 0; r < grid.rowCount(); ++r)
            if (grid.item(r, 0) != nullptr && grid.item(r, 0)->text() == QString::number(console))
                return r;
        return -1;
    }
    QString StatsCell(int row, int col) {
        QTableWidgetItem* item = Form().LinkStatsView().Grid().item(row, col);
        return item != nullptr ? item->text() : QString();
    }

    TAnsweringFileDialog dialog;
    QTemporaryDir folder;
    const QString recording = folder.filePath("session.rec");
};

TEST_F(LinkMenuTest, RecordWritesBothDirectionsUntilStopRecording) {
    StartBench();
    EXPECT_TRUE(Action("Record").isEnabled());
    EXPECT_FALSE(Action("StopRecording").isEnabled());
    Record(recording);
    ASSERT_TRUE(Recording());
    ASSERT_EQ(dialog.suggested.size(), 1u);
    EXPECT_TRUE(dialog.suggested[0].endsWith(".rec"));
    EXPECT_FALSE(Action("Record").isEnabled());
    EXPECT_TRUE(Action("StopRecording").isEnabled());
    QLabel& label = Control<QLabel>("RecordingLabel");
    EXPECT_EQ(label.text(), "Recording to session.rec");
    // Whole, at the right end of the menu bar.
    EXPECT_TRUE(label.isVisible());
    EXPECT_GE(label.width(), label.sizeHint().width());
    EXPECT_LE(label.mapTo(&Form(), QPoint(label.width(), 0)).x(), Form().width());

    Connect();
    Click("Num Console");
    const std::string reply = Frame(mcNumberOfConsoles, 0, {3});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Holds(Recorded(), TWireDirection::wdFromDevice, reply); }, kWaitMs))
        << ReadFile(recording.toStdString());
    EXPECT_TRUE(Holds(Recorded(), TWireDirection::wdToDevice, Frame(mcNumberOfConsoles, 0)));

    Action("StopRecording").trigger();
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(Form().Recording().Recording());
    EXPECT_TRUE(Action("Record").isEnabled());
    EXPECT_FALSE(Action("StopRecording").isEnabled());
    EXPECT_FALSE(Control<QLabel>("RecordingLabel").isVisible());
    EXPECT_TRUE(messages.shown.empty());

    // Traffic after the stop stays out of the file.
    const std::string stopped = ReadFile(recording.toStdString());
    Click("Serial Request");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().Consoles()[0].Serial != 0; }, kWaitMs));
    EXPECT_EQ(ReadFile(recording.toStdString()), stopped);
}

TEST_F(LinkMenuTest, ARecordingNamedPcapngIsACaptureOfBothDirections) {
    StartBench();
    const QString capture = folder.filePath("session.pcapng");
    Record(capture);
    ASSERT_TRUE(Recording());
    EXPECT_EQ(Control<QLabel>("RecordingLabel").text(), "Recording to session.pcapng");
    Connect();
    Click("Num Console");
    const std::string reply = Frame(mcNumberOfConsoles, 0, {3});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ReadFile(capture.toStdString()).find(reply) != std::string::npos; },
        kWaitMs));
    Action("StopRecording").trigger();
    EXPECT_FALSE(Recording());
    EXPECT_TRUE(messages.shown.empty());
    const std::string bytes = ReadFile(capture.toStdString());
    // A section header block first, then the frames each way in packet blocks.
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x0A\x0D\x0D\x0A", 4));
    EXPECT_NE(bytes.find(Frame(mcNumberOfConsoles, 0)), std::string::npos);
    EXPECT_NE(bytes.find("wirelessconsoletest"), std::string::npos);  // the writer, named
}

TEST_F(LinkMenuTest, FramesSentByHandAreRecordedBesideTheirReplies) {
    StartBench();
    Connect();
    Record(recording);
    SetText("hexSt", "3E0400000021");
    Click("Send Single Command HEX");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Holds(Recorded(), TWireDirection::wdFromDevice,
                         Frame(mcNumberOfConsoles, 0, {3}));
        },
        3000));
    EXPECT_TRUE(Holds(Recorded(), TWireDirection::wdToDevice, HexToBytes("3E0400000021")));
    Action("StopRecording").trigger();
}

TEST_F(LinkMenuTest, AnUnwritableFileIsNamedInAMessageAndNothingRecords) {
    StartBench();
    const QString path = folder.filePath("no-such-folder/session.rec");
    Record(path);
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(Form().Recording().Recording());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text,
              "Cannot write the recording " + path.toStdString() + ": No such file or directory");
    EXPECT_EQ(messages.shown[0].type, TMsgDlgType::mtError);
    EXPECT_TRUE(Action("Record").isEnabled());
    EXPECT_FALSE(Action("StopRecording").isEnabled());
    EXPECT_FALSE(Control<QLabel>("RecordingLabel").isVisible());

    // A cancelled dialog starts nothing and says nothing.
    Record("");
    EXPECT_FALSE(Recording());
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(LinkMenuTest, AWriteFailureStopsTheRecordingAndIsShown) {
    // A pipe whose reader goes away: the recorder's next write fails.
    const QString pipe = folder.filePath("pipe.rec");
    ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const int reader = ::open(pipe.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    StartBench();
    Record(pipe);
    ASSERT_TRUE(Recording());
    ::close(reader);
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.shown.empty(); }, kWaitMs));
    EXPECT_EQ(messages.shown[0].text,
              "Writing the recording " + pipe.toStdString() + " failed: Broken pipe");
    EXPECT_FALSE(Recording());
    EXPECT_TRUE(Action("Record").isEnabled());
    EXPECT_FALSE(Action("StopRecording").isEnabled());
    EXPECT_FALSE(Control<QLabel>("RecordingLabel").isVisible());
    // The link itself goes on.
    EXPECT_TRUE(Form().tmp().Connected());
}

TEST_F(LinkMenuTest, ClosingTheWindowEndsTheRecordingWithWholeLines) {
    StartBench();
    Record(recording);
    Connect();
    Click("Start Measure");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Grid("GridDati").Cell(1, 2).isEmpty(); }, kWaitMs));
    SaveScreenshot(Form(), "main_window_recording");
    Form().close();
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(Form().Recording().Recording());
    const std::string text = ReadFile(recording.toStdString());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NO_THROW(Recorded());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(LinkMenuTest, TheLinkMenuOffersRecordingStatisticsAndPublishing) {
    app = std::make_unique<TBenchApp>(TAppOptions{});
    Form().show();
    QMenu* menu = Form().menuBar()->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), "&Link");
    QStringList captions;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) captions << action->text();
    EXPECT_EQ(captions, QStringList({"&Record...", "&Stop Recording", "Link S&tatistics",
                                     "&Publish to Broker..."}));
    // The menu bar sits above the controls, not over them.
    QWidget& connect = Button("Connect");
    EXPECT_GE(connect.mapTo(&Form(), QPoint(0, 0)).y(), Form().menuBar()->geometry().bottom());
    menu->popup(Form().mapToGlobal(QPoint(0, Form().menuBar()->height())));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    SaveScreenshot(*menu, "main_window_link_menu");
    menu->hide();
    SaveScreenshot(Form(), "main_window_menu");
}

class LinkStatsViewTest : public LinkMenuTest {};

TEST_F(LinkStatsViewTest, ShowsEveryMeasuringConsoleRefreshedWhileOpenAndClearEmptiesIt) {
    StartBench();
    TLinkStatsView& view = Form().LinkStatsView();
    EXPECT_FALSE(view.isVisible());
    EXPECT_FALSE(view.RefreshTimer().isActive());
    Action("LinkStatistics").trigger();
    ASSERT_TRUE(view.isVisible());
    EXPECT_TRUE(view.RefreshTimer().isActive());
    EXPECT_EQ(view.windowTitle(), "Link Statistics");
    EXPECT_EQ(view.Grid().horizontalHeaderItem(1)->text(), "Frames");

    Connect();
    Click("Version Number");  // a request with a reply to time
    Click("Start Measure");
    // Only the timer refreshes the view here.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int console : {1, 2, 3}) {
                const int row = RowOf(console);
                if (row < 0 || StatsCell(row, 1).toInt() < 3) return false;
            }
            return true;
        },
        5000));
    for (int console : {1, 2, 3}) {
        const int row = RowOf(console);
        EXPECT_GT(StatsCell(row, 2).toDouble(), 0) << "frames/s of " << console;
        // Lost frames are judged from the gaps the PC saw: a busy PC that reads late sees
        // some, so only that the column counts, and fewer than came in.
        bool counted = false;
        EXPECT_LT(StatsCell(row, 4).toInt(&counted), StatsCell(row, 1).toInt()) << console;
        EXPECT_TRUE(counted) << "lost of " << console;
        EXPECT_EQ(StatsCell(row, 7), "0") << "NACKs of " << console;
    }
    // The dongle answered the version request: its latency is listed by command.
    ASSERT_GE(RowOf(0), 0);
    EXPECT_TRUE(StatsCell(RowOf(0), 9).contains("0A:")) << StatsCell(RowOf(0), 9).toStdString();
    EXPECT_TRUE(view.Totals().text().startsWith("Malformed frames: 0    Discarded bytes: 0"))
        << view.Totals().text().toStdString();
    // Every column whole: the figures on one line, the latency list, one entry for each
    // command timed, wrapped in its row.
    for (const char* request : {"Serial Request", "FW Ver", "Num Console", "Req Total Rolls"})
        Click(request);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().Consoles()[0].Serial != 0; }, kWaitMs));
    view.Refresh();
    QTableWidget& grid = view.Grid();
    const int last = grid.columnCount() - 1;
    EXPECT_LE(grid.horizontalHeader()->length(), grid.viewport()->width());
    for (int r = 0; r < grid.rowCount(); ++r) {
        for (int c = 0; c < last; ++c)
            EXPECT_LT(grid.fontMetrics().horizontalAdvance(grid.item(r, c)->text()),
                      grid.columnWidth(c))
                << "row " << r << " column " << c;
        const QRect latencies = grid.fontMetrics().boundingRect(
            QRect(0, 0, grid.columnWidth(last) - 8, 10000), Qt::TextWordWrap,
            grid.item(r, last)->text());
        EXPECT_LE(latencies.height(), grid.rowHeight(r)) << "row " << r;
    }
    SaveScreenshot(view, "link_statistics");

    QTest::mouseClick(view.findChild<QPushButton*>("Clear"), Qt::LeftButton);
    EXPECT_EQ(view.Grid().rowCount(), 0);
    EXPECT_TRUE(view.Totals().text().contains("Seconds counted: 0.0"))
        << view.Totals().text().toStdString();

    view.close();
    EXPECT_FALSE(view.RefreshTimer().isActive());
    Click("Stop Measure");
}

TEST_F(LinkStatsViewTest, ClosingTheMainWindowClosesTheView) {
    app = std::make_unique<TBenchApp>(TAppOptions{});
    Form().show();
    Action("LinkStatistics").trigger();
    ASSERT_TRUE(Form().LinkStatsView().isVisible());
    Form().close();
    EXPECT_FALSE(Form().LinkStatsView().isVisible());
}

}  // namespace
}  // namespace wct::test
