// SPDX-License-Identifier: Apache-2.0
// Start-up as a whole: the log file across runs, when it cannot be written where it
// belongs and when it is moved away, and --simulate driving the bench without hardware.
#include <QComboBox>
#include <QFile>
#include <QSpinBox>
#include <cstdlib>

#include "gui_support.h"

namespace wct::test {
namespace {

TAppOptions Options(bool simulate, const std::string& port) {
    TAppOptions options;
    options.simulate = simulate;
    options.port = port;
    return options;
}

class AppStartTest : public BenchTest {};

TEST_F(AppStartTest, EveryTraceLineReachesTheLogFileAppendedAcrossRuns) {
    StartBench();
    Connect();
    Click("Num Console");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().NumberOfConsole() > 0; }, kWaitMs));
    const QStringList first = Form().TraceMemo().Lines();
    app.reset();

    app = std::make_unique<TBenchApp>(TAppOptions{});
    const QStringList second = Form().TraceMemo().Lines();
    std::string expected = "Program Create\r\n";
    for (const QString& line : first) expected += line.toStdString() + "\r\n";
    expected += "Program Create\r\n";
    for (const QString& line : second) expected += line.toStdString() + "\r\n";
    EXPECT_EQ(LogText(), expected);
}

TEST_F(AppStartTest, ALogThatCannotBeWrittenBesideTheProgramMovesToTheStateDirectory) {
    QTemporaryDir state;
    const char* previous = std::getenv("XDG_STATE_HOME");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("XDG_STATE_HOME", state.path().toStdString().c_str(), 1);
    SetExecutableDirectory("/proc");  // no one may create files there, root included

    app = std::make_unique<TBenchApp>(TAppOptions{});
    const std::string moved = state.filePath("WirelessConsoleTest/VxWireless.log").toStdString();
    const QStringList trace = Form().TraceMemo().Lines();
    ASSERT_GE(trace.size(), 2);
    EXPECT_EQ(trace[0].toStdString(),
              "Cannot write the log file /proc/VxWireless.log: No such file or directory; "
              "the trace is logged to " +
                  moved);
    const std::string log = ReadFile(moved);
    EXPECT_EQ(log.substr(0, 16), "Program Create\r\n");
    EXPECT_NE(log.find(trace[1].toStdString()), std::string::npos);
    EXPECT_EQ(Form().LogFile().LogFileName(), moved);

    if (previous != nullptr)
        setenv("XDG_STATE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

TEST_F(AppStartTest, ALogFileMovedOrDeletedWhileMeasuresStreamIsMadeAgainLosingNoLine) {
    StartBench();
    Connect();
    Click("Start Measure");
    const QString log = logDir.filePath("VxWireless.log");
    ASSERT_TRUE(QFile::rename(log, log + ".1"));  // as log rotation does
    ASSERT_TRUE(QTest::qWaitFor([&] { return LogText().size() > 200; }, kWaitMs));
    // The moved file and the new one hold every line, in order.
    const std::string logged = ReadFile((log + ".1").toStdString()) + LogText();
    std::string traced = "Program Create\r\n";
    for (const QString& line : Form().TraceMemo().Lines()) traced += line.toStdString() + "\r\n";
    EXPECT_EQ(traced.substr(0, logged.size()), logged);

    ASSERT_TRUE(QFile::remove(log));
    EXPECT_TRUE(QTest::qWaitFor([&] { return LogText().size() > 200; }, kWaitMs));
    Click("Stop Measure");
}

TEST_F(AppStartTest, SimulateListsTheSimulatorsPortAndTheBenchWorksOnIt) {
    app = std::make_unique<TBenchApp>(Options(true, ""));
    ASSERT_NE(app->Simulator(), nullptr);
    const std::string port = app->Simulator()->PortPath();
    EXPECT_EQ(Control<QComboBox>("ComboBox1").currentText().toStdString(), port);
    EXPECT_EQ(Form().ComPort1().Port(), port);
    Form().show();
    Connect();
    EXPECT_TRUE(Traced("Connection done " + port));
    Click("Open");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().IsConsoleConnected(6); }, kWaitMs));
    EXPECT_TRUE(Traced("Console Add ID=5"));
    Click("Close");
    Click("Start Measure");
    TStringGrid& grid = Grid("GridDati");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int row = 2; row <= 7; ++row)
                if (grid.Cell(1, row).isEmpty()) return false;
            return true;
        },
        5000));
    for (int id = 1; id <= 6; ++id) {
        Control<QSpinBox>("txtSNid").setValue(id);
        Click("Serial Request");
        Control<QSpinBox>("txtVNid").setValue(id);
        Click("Version Number");
        Click("FW Ver");
    }
    Grid("GridResist").SetCell(1, 1, "20");
    Grid("GridResist").SetCell(1, 2, "28");
    QTest::qWait(300);  // let the answers and a few more measures in before the picture
    Click("Update");
    Form().TraceMemo().Lines();
    SaveScreenshot(Form(), "main_window");
    Click("Stop Measure");
}

TEST_F(AppStartTest, PortSelectsAPortNoListHoldsAndTheBenchConnectsThroughIt) {
    EXPECT_EQ(ParseAppOptions({"--port", "/dev/ttyUSB3", "--simulate"}).port, "/dev/ttyUSB3");
    EXPECT_THROW(ParseAppOptions({"--port"}), std::invalid_argument);
    sim::TSimSettings settings;  // its port is not among the listed ones
    simulator = std::make_unique<sim::TDongleSimulator>(sim::TDongleOptions{}, settings);
    simulator->Start();
    const std::string port = simulator->PortPath();
    ASSERT_EQ(ListPortsSorted(), std::vector<std::string>{});

    app = std::make_unique<TBenchApp>(Options(false, port));
    EXPECT_EQ(Control<QComboBox>("ComboBox1").currentText().toStdString(), port);
    EXPECT_EQ(Form().ComPort1().Port(), port);
    Form().show();
    Connect();
    EXPECT_TRUE(Traced("Connection done " + port));
}

}  // namespace
}  // namespace wct::test
