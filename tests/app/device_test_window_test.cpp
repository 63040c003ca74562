// SPDX-License-Identifier: Apache-2.0
// The device test window with the main window's rider device, riding a simulated console:
// connect, start, the row on every statistics step, the resistance loop reaching the
// console, slope typing, keys, pause, stop; and the window with no device at all.
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>

#include "gui_support.h"

namespace wct::test {
namespace {

constexpr uint8_t kConsole = 1;
// About 40 km/h on the 39.5 mm roll of a console that reports version 16.
constexpr uint16_t kRpm = 5400;

class DeviceTestWindowTest : public BenchTest {
protected:
    // Console 1 joins when registration opens; the bench is connected to the dongle.
    void StartConnected() {
        sim::TDongleOptions options;
        options.consoles.push_back(sim::DefaultConsole(kConsole));
        options.joinDelayMs = 100;
        StartBench(options);
        simulator->SetRider(kConsole, {kRpm, 120, 85});
        Connect();
        Click("VxDevicePanel");
        ASSERT_TRUE(Form2().isVisible());
    }

    TForm2& Form2() { return app->Form2(); }
    TVeloxDeviceW& Device() { return Form().VeloxDeviceW1(); }
    TStringGrid& Grid() { return Form2().Grid(); }
    QString Cell(int col) { return Grid().Cell(col, 1); }
    QPushButton& Form2Button(const char* name) {
        auto* button = Form2().findChild<QPushButton*>(name);
        if (button == nullptr) throw std::runtime_error(std::string("no button ") + name);
        return *button;
    }
    void Click2(const char* name) { QTest::mouseClick(&Form2Button(name), Qt::LeftButton); }
    bool Written(const QString& line) {
        return Form2().DebugMemo().toPlainText().split('\n').contains(line);
    }
    int StatsSteps() {
        return static_cast<int>(Form2().DebugMemo().toPlainText().split('\n').count("Stats id: 1"));
    }
    // A bound for a hang: a cut ends after five statistics steps of a second.
    bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 20000); }
    // Types `text` into the slope cell of row 1 the way an operator does.
    void TypeSlope(const QString& text) {
        QWidget* viewport = Grid().viewport();
        const QPoint at = Grid().visualRect(Grid().model()->index(0, 12)).center();
        // The mouse comes over the cell first (the offscreen platform moves no cursor).
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        auto* edit = Form2().findChild<QLineEdit*>("SlopeEdit");
        ASSERT_NE(edit, nullptr);
        ASSERT_TRUE(edit->isVisible());
        EXPECT_EQ(edit->pos(), at);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_FALSE(edit->isVisible());
        EXPECT_EQ(edit->text(), "");
    }
};

TEST_F(DeviceTestWindowTest, TheMainWindowsDeviceIsListedWithItsDesignValues) {
    StartBench();
    ASSERT_EQ(Form2().Devices().size(), 1u);
    EXPECT_EQ(Form2().Devices()[0], &Device());
    EXPECT_EQ(Form2().findChild<QPlainTextEdit*>("DeviceMemo")->toPlainText(), "VeloxDeviceW1");
    EXPECT_EQ(Device().WirelessUSB(), &Form().tmp());
    EXPECT_EQ(Device().ResistanceMap(), &Form().ResistanceMap1());
    EXPECT_FALSE(Device().TimerStatsEnabled());
    EXPECT_EQ(Device().TimerStatsInterval(), 1000u);
    EXPECT_EQ(Device().CadenceArrayLength(), 5);
    EXPECT_EQ(Device().HrArrayLength(), 0);
    EXPECT_DOUBLE_EQ(Device().RollDiameter(), 45);
    EXPECT_DOUBLE_EQ(Device().HighPowerReduceCoefficientMinimum(), 0.25);
    EXPECT_FALSE(Device().SecurityActive());
    EXPECT_TRUE(Device().VirtualSpeedEnabled());
    EXPECT_TRUE(Device().RecoverConnection());
    EXPECT_EQ(Device().RecoverConnectionTime(), 0);
    EXPECT_DOUBLE_EQ(Form().ResistanceMap1().VeloxVersion(), 4);
    // The map's table was built at creation: header plus one row per level.
    EXPECT_GT(Form().ResistanceMap1().RowCount(), 5);
    EXPECT_EQ(Grid().Cell(0, 0), "TObject");
    EXPECT_EQ(Grid().Cell(12, 0), "Slope");
    EXPECT_EQ(Grid().Cell(23, 0), "Virtual Sp");
    // The device name fits its cell.
    EXPECT_GT(Grid().columnWidth(0), Grid().fontMetrics().horizontalAdvance("VeloxDeviceW1"));
}

TEST_F(DeviceTestWindowTest, ARideFillsTheRowClosesTheResistanceLoopAndFollowsTheSlope) {
    StartConnected();
    Click2("Connect");
    EXPECT_TRUE(Written("VeloxDeviceW1 connected"));
    ASSERT_EQ(Device().IDConsole(), kConsole);
    Click2("Start");
    EXPECT_TRUE(Written("VeloxDeviceW1 Start"));
    EXPECT_EQ(Device().RecoverConnectionTime(), 60);

    // The row fills on the statistics steps; the speed settles at its window's end.
    ASSERT_TRUE(WaitFor([&] { return Cell(2).toDouble() > 39; })) << Cell(2).toStdString();
    EXPECT_EQ(Cell(0), "VeloxDeviceW1");
    EXPECT_EQ(Cell(1), "1");
    EXPECT_EQ(Cell(3), "85");
    EXPECT_EQ(Cell(6), "umKm");
    EXPECT_EQ(Cell(8), "csStarted");
    EXPECT_EQ(Cell(9), "True");
    EXPECT_TRUE(Written("Stats id: 1"));

    // The level looked up at the ride model's power reaches the console.
    ASSERT_TRUE(WaitFor([&] {
        return Device().VeloxResistance() > 0 &&
               simulator->Brake(kConsole) == Device().VeloxResistance();
    })) << Device().VeloxResistance();
    EXPECT_NE(simLog.Received().find("3E1000"), std::string::npos) << "no resistance frame";
    ASSERT_TRUE(WaitFor([&] { return Cell(14).toInt() == Device().VeloxResistance(); }));
    EXPECT_EQ(Cell(13).toInt(), Cell(18).toInt());  // the lookup set the power to show
    const int flatPower = Cell(13).toInt();
    const int flatLevel = Device().VeloxResistance();
    EXPECT_GT(flatPower, 200);

    // A 5 % slope: more power, a higher brake level.
    TypeSlope("5");
    EXPECT_EQ(Cell(12), "5");
    ASSERT_TRUE(WaitFor([&] { return Device().CurrentSlope() == 5; }));
    ASSERT_TRUE(WaitFor([&] { return Cell(13).toInt() > flatPower + 30; }))
        << Cell(13).toStdString();
    ASSERT_TRUE(WaitFor([&] { return simulator->Brake(kConsole) > flatLevel; }));
    // Calories: about 0.7 a step at 40 km/h on 5 %, against 0.3 on the flat.
    const int calories = Cell(10).toInt();
    const int steps = StatsSteps();
    ASSERT_TRUE(WaitFor([&] { return StatsSteps() >= steps + 8; }));
    EXPECT_GE(Cell(10).toInt() - calories, 4);
    // Speeds and the distance with one decimal, as the main grid shows speeds; every
    // filled column in view without scrolling.
    for (int col : {2, 5, 16, 22, 23})
        EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d$").match(Cell(col)).hasMatch())
            << col << ": " << Cell(col).toStdString();
    int filled = 0;
    for (int col = 0; col < 24; ++col) filled += Grid().columnWidth(col);
    EXPECT_LE(filled, Grid().viewport()->width());
    SaveScreenshot(Form2(), "device_test_window");

    // Console keys, each with its line. A key is held until a statistics step sees it:
    // the measures between two steps overwrite one another.
    const std::pair<uint8_t, const char*> keys[] = {{4, "+ "}, {1, "- "}, {8, "E"}, {2, "T"}};
    for (const auto& [bits, text] : keys) {
        ASSERT_TRUE(WaitFor([&] {
            simulator->PressKeys(kConsole, bits);
            return Cell(7) == text;
        })) << text;
        EXPECT_TRUE(Written(QString(text) + " Key Event -> VeloxDeviceW1"));
    }

    // Each button refreshes the row at once, with no statistics step between.
    Device().SetTimerStatsEnabled(false);
    Click2("Pause");
    EXPECT_TRUE(Written("VeloxDeviceW1 Pause"));
    EXPECT_EQ(Cell(8), "csPaused");
    Click2("Stop");
    EXPECT_TRUE(Written("VeloxDeviceW1 Stop"));
    EXPECT_EQ(Cell(8), "csStopped");
    Click2("Disconnect");
    EXPECT_TRUE(Written("VeloxDeviceW1 Disconnected"));
    EXPECT_FALSE(Device().Connected());
    EXPECT_EQ(Cell(9), "False");
}

// Two writers of the brake: the device window's resistance loop asks for the map's level on
// every step, and the main window's grid has a level typed for the same console. Above
// the maximum heart rate the console gets 0 all the same, and both windows say why.
TEST_F(DeviceTestWindowTest, AHeartAboveTheMaximumKeepsTheBrakeOffAndANewRideStartsAtZero) {
    StartConnected();
    simulator->SetRider(kConsole, {kRpm, 230, 85});
    Click2("Connect");
    Click2("Start");
    TStringGrid& resist = BenchTest::Grid("GridResist");
    resist.SetCell(1, kConsole, "C0");
    Click("SendRes");
    const int steps = StatsSteps();
    ASSERT_TRUE(WaitFor([&] { return StatsSteps() >= steps + 3; }));
    EXPECT_TRUE(Device().HeartCut());
    EXPECT_EQ(Cell(14), "0");
    EXPECT_FALSE(Grid().item(kConsole - 1, 14)->toolTip().isEmpty()) << "the level says why";
    const QString marked = Grid().item(kConsole - 1, 0)->toolTip();
    EXPECT_TRUE(marked.contains("above 220: brake held at 0")) << marked.toStdString();
    EXPECT_FALSE(resist.item(kConsole - 1, 0)->toolTip().isEmpty()) << "the grid's row says so";
    const auto resistanceFrames = [this] {
        const QStringList lines = Form().TraceMemo().Lines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const QString& l) { return l.contains("Send resistance"); });
    };
    const auto frames = resistanceFrames();
    ASSERT_TRUE(WaitFor([&] { return resistanceFrames() >= frames + 2; }));
    EXPECT_EQ(simulator->Brake(kConsole), 0) << "the grid's C0 does not reach the console";
    SaveScreenshot(Form(), "main_window_heart_cut");
    SaveScreenshot(Form2(), "device_test_window_heart_cut");

    simulator->SetRider(kConsole, {kRpm, 120, 85});
    ASSERT_TRUE(WaitFor([&] { return simulator->Brake(kConsole) > 0; }));
    ASSERT_TRUE(WaitFor([&] { return Cell(10).toInt() >= 1; }));

    Click2("Stop");
    Click2("Start");
    const int restart = StatsSteps();
    ASSERT_TRUE(WaitFor([&] { return StatsSteps() >= restart + 1; }));
    EXPECT_EQ(Cell(10), "0") << "no calories of the last ride";
    EXPECT_LT(Cell(5).toDouble(), 0.05);
}

// A resistance lookup that cannot answer during a ride (a map that never loaded): said once
// in the debug memo, the main window's trace and its status bar; the brake keeps the
// level it had, and the row goes on showing the ride.
TEST_F(DeviceTestWindowTest, ALookupThatCannotAnswerIsToldOnceAndTheBrakeKeepsItsLevel) {
    StartConnected();
    EXPECT_FALSE(Form().StepFailure().isVisible());
    Click2("Connect");
    Click2("Start");
    ASSERT_TRUE(WaitFor([&] {
        return Device().VeloxResistance() > 0 &&
               simulator->Brake(kConsole) == Device().VeloxResistance();
    }));
    const int level = Device().VeloxResistance();

    TResistanceMap unloaded;
    Device().SetResistanceMap(&unloaded);
    const int steps = StatsSteps();
    ASSERT_TRUE(WaitFor([&] { return StatsSteps() >= steps + 4; }));
    const QStringList memo = Form2().DebugMemo().toPlainText().split('\n');
    const QString told = "VeloxDeviceW1: statistics step failed, brake kept at level " +
                         QString::number(level) + ": the resistance map is not loaded (LoadMap)";
    EXPECT_EQ(memo.count(told), 1) << Form2().DebugMemo().toPlainText().toStdString();
    EXPECT_TRUE(Form().StepFailure().isVisible());
    EXPECT_TRUE(Form().StepFailure().text().endsWith(told))
        << Form().StepFailure().text().toStdString();
    EXPECT_TRUE(Traced(told.toStdString()));
    EXPECT_EQ(Device().VeloxResistance(), level);
    EXPECT_EQ(simulator->Brake(kConsole), level);
    EXPECT_EQ(Cell(8), "csStarted");
    const QString elapsed = Cell(17);
    ASSERT_TRUE(WaitFor([&] { return Cell(17) != elapsed; })) << "the row stood still";
    EXPECT_EQ(Form2().DebugMemo().toPlainText().split('\n').count(told), 1);
    SaveScreenshot(Form(), "main_window_step_failure");

    // The shipped map again: the loop follows the ride once more.
    Device().SetResistanceMap(&Form().ResistanceMap1());
    Device().SetCurrentSlope(8);
    ASSERT_TRUE(WaitFor([&] { return simulator->Brake(kConsole) > level; }));
    Click2("Stop");
}

TEST_F(DeviceTestWindowTest, ConnectLooksBusyWhileItSearchesAndEscGivesUpTheSearch) {
    StartBench(sim::TDongleOptions{});  // no console will join
    Connect();
    Click("VxDevicePanel");
    bool busy = false;
    uint32_t escapedAt = 0;
    QTimer::singleShot(100, [&] {
        busy = Form2Button("Connect").property("busy").toBool();
        escapedAt = GetTickCount();
        QTest::keyClick(&Form2(), Qt::Key_Escape);
    });
    Click2("Connect");
    EXPECT_TRUE(busy);
    // Given up at the Esc, not after the 20 s a console has to join.
    EXPECT_LT(GetTickCount() - escapedAt, 2000u);
    EXPECT_TRUE(Written("Wait ended by the operator"));
    EXPECT_TRUE(Written("VeloxDeviceW1 NOT connected"));
    EXPECT_FALSE(Form2Button("Connect").property("busy").toBool());
}

TEST_F(DeviceTestWindowTest, VirtualOnAlternatesItsCaptionAndTheDevicesVirtualSpeed) {
    StartBench();
    QPushButton& button = Form2Button("Virtual");
    EXPECT_EQ(button.text(), "Virtual ON");
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(button.text(), "Virtual OFF");
    EXPECT_TRUE(Device().VirtualSpeedEnabled());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(button.text(), "Virtual ON");
    EXPECT_FALSE(Device().VirtualSpeedEnabled());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(button.text(), "Virtual OFF");
}

TEST_F(DeviceTestWindowTest, WithItsTimerOffADeviceRowChangesOnlyThroughUpdate) {
    StartBench();
    EXPECT_EQ(Cell(0), "");
    QTest::qWait(50);
    EXPECT_EQ(Cell(0), "");
    QTest::mouseClick(&Form2Button("update"), Qt::LeftButton);
    EXPECT_EQ(Cell(0), "VeloxDeviceW1");
    EXPECT_EQ(Cell(8), "csStopped");
    EXPECT_EQ(Cell(9), "False");
    EXPECT_EQ(Cell(2), "0.0");
    EXPECT_TRUE(Written("Stats id: 0"));
}

// A slope that is not a number used to end the handler on every step, leaving the last
// six cells stale; now the slope in force stays, the operator is told, the rest is shown.
TEST_F(DeviceTestWindowTest, ASlopeThatIsNotANumberKeepsTheSlopeAndTheRowStillFills) {
    StartBench();
    Device().SetCurrentSlope(2);
    Grid().SetCell(12, 1, "abc");
    Grid().SetCell(23, 1, "stale");
    QTest::mouseClick(&Form2Button("update"), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(Device().CurrentSlope(), 2);
    EXPECT_EQ(Cell(23), "0.0");
    EXPECT_EQ(Cell(12), "abc");
    EXPECT_TRUE(Written("Slope 'abc' is not a number: VeloxDeviceW1 keeps 2 %"));
    EXPECT_TRUE(messages.exceptions.empty());
    // Corrected, it is taken at the next step.
    Grid().SetCell(12, 1, "-1.5");
    QTest::mouseClick(&Form2Button("update"), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(Device().CurrentSlope(), -1.5);
}

TEST(DeviceTestWindowAloneTest, WithNoDeviceOnlyVirtualOnDoesAnything) {
    TRecordingMessages messages;
    TComponent noDevices;
    TForm2 form(noDevices);
    form.show();
    auto* memo = form.findChild<QPlainTextEdit*>("DeviceMemo");
    ASSERT_NE(memo, nullptr);
    for (const char* name : {"Update", "Connect", "Disconnect", "Start", "Pause", "Stop", "update"})
        QTest::mouseClick(form.findChild<QPushButton*>(name), Qt::LeftButton);
    EXPECT_TRUE(form.Devices().empty());
    EXPECT_EQ(memo->toPlainText(), "");
    EXPECT_EQ(form.DebugMemo().toPlainText(), "");
    EXPECT_EQ(form.Grid().Cell(0, 1), "");
    auto* virtualButton = form.findChild<QPushButton*>("Virtual");
    QTest::mouseClick(virtualButton, Qt::LeftButton);
    EXPECT_EQ(virtualButton->text(), "Virtual OFF");
    EXPECT_TRUE(messages.exceptions.empty());
}

}  // namespace
}  // namespace wct::test
