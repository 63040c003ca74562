// SPDX-License-Identifier: Apache-2.0
// The bench as a new operator meets it: no dead ends (closing the main window, a dongle
// back under its name), and waits that show what they wait for and can be ended.
#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <cstdlib>

#include "app/link_stats_view.h"
#include "gui_support.h"

namespace wct::test {
namespace {

class OperatorTest : public BenchTest {
protected:
    QString WaitState() { return Control<QLabel>("WaitState").text(); }
};

TEST_F(OperatorTest, ClosingTheMainWindowClosesEveryOtherWindowAndStopsTheLink) {
    StartBench();
    Connect();
    Click("Num Console");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().NumberOfConsole() > 0; }, kWaitMs));
    Click("SendRes");
    Click("VxDevicePanel");
    Form().LinkStatsView().show();

    // The program's event loop, ended by Qt once no window is left open; a window still
    // open after 5 s fails the test.
    QTimer stillOpen;
    stillOpen.setSingleShot(true);
    QObject::connect(&stillOpen, &QTimer::timeout, [] { QApplication::exit(1); });
    stillOpen.start(5000);
    QTimer::singleShot(0, [&] { Form().close(); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(app->Form2().isVisible());
    EXPECT_FALSE(Form().LinkStatsView().isVisible());
    // Nothing is left to write to the closed port: no resistance tick, no device frame.
    EXPECT_FALSE(Form().tmp().ResistanceTimer().Enabled());
    EXPECT_FALSE(Form().tmp().Connected());
    EXPECT_FALSE(Form().tmp().Port()->Connected());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(OperatorTest, ConnectAfterTheDongleCameBackUnderItsNameConnectsAgain) {
    QTemporaryDir links;
    sim::TSimSettings settings;
    settings.log = simLog.Sink();
    settings.linkPath = links.filePath("dongle").toStdString();
    sim::TDongleOptions options;
    options.consoles.push_back(sim::DefaultConsole(1));
    options.consoles.back().joinedAtStart = true;
    simulator = std::make_unique<sim::TDongleSimulator>(options, settings);
    simulator->Start();
    TAppOptions linked;
    linked.port = settings.linkPath;
    app = std::make_unique<TBenchApp>(linked);
    Form().show();
    Connect();

    simulator->Vanish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shown("Dongle disconnesso!"); }, kWaitMs));
    EXPECT_FALSE(Form().tmp().Port()->Connected());
    simulator->Return();
    Click("Connect");
    EXPECT_TRUE(Form().tmp().Port()->Connected());
    EXPECT_EQ(Form().tmp().Port()->Port(), settings.linkPath);
    Click("Num Console");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Traced("Number of Console : 1"); }, kWaitMs));
    EXPECT_FALSE(Traced("Error in port writing"));
}

TEST_F(OperatorTest, AWaitingConsoleTestLooksBusySaysWhatItWaitsForAndEscEndsIt) {
    StartBench();
    Connect();
    Control<QSpinBox>("txtIdTotalRolls").setValue(9);  // not in reach
    Form().tmp().SetReplyTimeOut(20000);
    QPushButton& button = Button("TestKeys");
    bool busy = false;
    QString waiting;
    uint32_t escapedAt = 0;
    QTimer::singleShot(50, [&] {
        busy = button.property("busy").toBool();
        waiting = WaitState();
        SaveScreenshot(Form(), "main_window_waiting");
        escapedAt = GetTickCount();
        QTest::keyClick(&Form(), Qt::Key_Escape);
    });
    Click("TestKeys");
    EXPECT_TRUE(busy);
    EXPECT_EQ(waiting.toStdString(),
              "Waiting for console 09 to answer TestKeys; Esc or Disconnect ends the wait");
    // Ended by the Esc, not after the 20 s the console had.
    EXPECT_LT(GetTickCount() - escapedAt, 2000u);
    EXPECT_TRUE(Shown("keys error!!"));
    EXPECT_TRUE(Traced("Wait ended by the operator: console 09 to answer TestKeys"));
    EXPECT_FALSE(button.property("busy").toBool());
    EXPECT_TRUE(WaitState().isEmpty());
    // The next test waits again as usual.
    Control<QSpinBox>("txtIdTotalRolls").setValue(1);
    Click("TestKeys");
    EXPECT_TRUE(Shown("keys ok!"));
}

TEST_F(OperatorTest, TheStatusBarSaysWhereTheTraceIsLoggedOrInRedThatItIsNotAndWhy) {
    app = std::make_unique<TBenchApp>(TAppOptions{});
    QLabel& state = Control<QLabel>("LogState");
    EXPECT_EQ(state.text(), "Trace logged to " + logDir.filePath("VxWireless.log"));
    EXPECT_TRUE(state.styleSheet().isEmpty());
    app.reset();

    const char* previous = std::getenv("XDG_STATE_HOME");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("XDG_STATE_HOME", "/proc/no-state", 1);  // no one may create it, root included
    SetExecutableDirectory("/proc");
    app = std::make_unique<TBenchApp>(TAppOptions{});
    Form().show();
    QLabel& lost = Control<QLabel>("LogState");
    EXPECT_TRUE(lost.text().startsWith("Cannot write the log file /proc/VxWireless.log"))
        << lost.text().toStdString();
    EXPECT_TRUE(lost.text().endsWith("the trace is not logged")) << lost.text().toStdString();
    EXPECT_TRUE(lost.styleSheet().contains("#c00000"));
    EXPECT_TRUE(lost.isVisible());
    SaveScreenshot(*Form().statusBar(), "status_bar_log_lost");
    if (previous != nullptr)
        setenv("XDG_STATE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace wct::test
