// SPDX-License-Identifier: Apache-2.0
// The main window against the dongle simulator over a pseudo-terminal: every control
// clicked as an operator would, the frames checked on the simulator's side.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimer>
#include <set>

#include "gui_support.h"

namespace wct::test {
namespace {

sim::TDongleOptions Consoles123() {
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 3; ++id) {
        options.consoles.push_back(sim::DefaultConsole(id));
        options.consoles.back().joinedAtStart = true;
    }
    options.consoles[0].memory.resize(2048);  // a whole page
    options.consoles[0].memory[0x10] = 0xAA;
    options.consoles[0].memory[0x11] = 0x55;
    options.consoles[1].testAnswers = {{mcTriggerClock, sim::TTestAnswer::Nack},
                                       {mcTestSignals, sim::TTestAnswer::Nack},
                                       {mcTestKeys, sim::TTestAnswer::Nack},
                                       {mcTestCardio, sim::TTestAnswer::Nack}};
    options.consoles[2].testAnswers = {{mcTestKeys, sim::TTestAnswer::None}};
    return options;
}

std::string SpeedText(int rpm) {
    char text[32];
    std::snprintf(text, sizeof text, "%3.1f", rpm * 2700 * 3.14 / 1000000);
    return text;
}

class MainWindowTest : public BenchTest {
protected:
    void StartAndConnect() {
        StartBench(Consoles123());
        Connect();
    }
    void SetForConsole(int value) { Control<QSpinBox>("txtIdTotalRolls").setValue(value); }
    bool Received(const std::string& frame, int times = 1) {
        return QTest::qWaitFor([&] { return simLog.Count(frame) >= times; }, kWaitMs);
    }
};

TEST_F(MainWindowTest, StartUpLogsProgramCreateTracesTheLoadedLineAndLabelsTheGrids) {
    SetPortSource([] { return std::vector<std::string>{}; });
    app = std::make_unique<TBenchApp>(TAppOptions{});
    const std::string log = LogText();
    EXPECT_EQ(log.substr(0, 16), "Program Create\r\n");
    const QStringList trace = Form().TraceMemo().Lines();
    ASSERT_GE(trace.size(), 1);
    EXPECT_TRUE(trace[0].startsWith("*********Program loaded:")) << trace[0].toStdString();
    EXPECT_TRUE(trace[0].endsWith("*********"));
    EXPECT_NE(log.find(trace[0].toStdString() + "\r\n"), std::string::npos);

    TStringGrid& measures = Grid("GridDati");
    EXPECT_EQ(measures.RowCount(), 20);
    const char* headers[] = {"Console", "RPM", "Speed", "Hr", "Avg Hr", "Cadence", "Keys"};
    for (int c = 0; c < 7; ++c) EXPECT_EQ(measures.Cell(c, 0).toStdString(), headers[c]);
    EXPECT_EQ(measures.Cell(0, 1), "00");
    EXPECT_EQ(measures.Cell(0, 2), "01");
    EXPECT_EQ(measures.Cell(0, 19), "12");
    TStringGrid& consoles = Grid("GridConsole");
    const char* consoleHeaders[] = {"Vers", "SN", "Rolls", "Connected", "Used", "Firmware"};
    for (int c = 1; c < 7; ++c) EXPECT_EQ(consoles.Cell(c, 0).toStdString(), consoleHeaders[c - 1]);
    EXPECT_EQ(consoles.Cell(0, 11), "0A");
    TStringGrid& resist = Grid("GridResist");
    EXPECT_EQ(resist.RowCount(), 15);
    EXPECT_EQ(resist.Cell(0, 0), "Cons");
    EXPECT_EQ(resist.Cell(1, 0), "Res");
    EXPECT_EQ(resist.Cell(0, 1), "01");
    EXPECT_EQ(resist.Cell(0, 14), "0E");

    // The wired driver, with its design values and its port closed.
    EXPECT_EQ(Form().Components().FindComponent("VeloxDevice1"), &Form().VeloxDevice1());
    EXPECT_EQ(Form().VeloxDevice1().ComPortPort(), "COM1");
    EXPECT_FALSE(Form().VeloxDevice1().ComPortConnected());
    EXPECT_DOUBLE_EQ(Form().VeloxDevice1().Version(), 4);
    EXPECT_EQ(Form().VeloxDevice1().StatsInterval(), 1000);

    // No serial port: nothing to choose, and ComPort1 keeps its design name.
    EXPECT_EQ(Control<QComboBox>("ComboBox1").count(), 0);
    EXPECT_EQ(Form().ComPort1().Port(), "COM4");
    EXPECT_EQ(Form().ComPort1().BaudRate(), br115200);
    EXPECT_FALSE(Form().Timer1().isActive());
    EXPECT_EQ(Form().Timer1().interval(), 1800000);
    TMiraWirelessProtocol& tmp = Form().tmp();
    EXPECT_TRUE(tmp.DisplayMessage());
    EXPECT_EQ(tmp.ReplyTimeOut(), 20000);
    EXPECT_EQ(tmp.TimeToWaitAddNewConsole(), 20000);
    EXPECT_EQ(tmp.DisconDelayBetweenCloseOpenPort(), 0);
    EXPECT_EQ(tmp.DebugMemo(), &Form().TraceMemo());
    // The ticked box means time stamps from the start.
    EXPECT_TRUE(Control<QCheckBox>("Enable time").isChecked());
    EXPECT_TRUE(tmp.DebugTime());

    EXPECT_EQ(app->Form2().windowTitle(), "VxDeviceW Test");
    EXPECT_EQ(app->Form3().windowTitle(), "Test Panel");
    EXPECT_EQ(Form().windowTitle(), "Wireless Console Test");
}

TEST_F(MainWindowTest, ConnectFindsTheDongleWhileTheProgressWindowShowsTheSearch) {
    StartBench(Consoles123());
    const std::string port = simulator->PortPath();
    std::set<std::string> progressTexts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() != "TMiraProgressBar" || !w->isVisible()) continue;
            EXPECT_EQ(w->size(), QSize(377, 50));
            EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
            EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
            for (QLabel* label : w->findChildren<QLabel*>()) {
                if (progressTexts.insert(label->text().toStdString()).second)
                    SaveScreenshot(*w, "progress_window");
            }
        }
    });
    watch.start(5);
    Connect();
    watch.stop();
    EXPECT_TRUE(progressTexts.count("Finding USB dongle..." + port)) << *progressTexts.begin();
    EXPECT_TRUE(progressTexts.count("Found on " + port));
    EXPECT_TRUE(Traced("Connection done " + port));
    EXPECT_EQ(Form().CurrentPort(), Form().tmp().Port());
    EXPECT_EQ(Form().tmp().ResistanceInterval(), 1000u);
}

TEST_F(MainWindowTest, OpenRegistersConsolesAndStartMeasureFillsTheirRows) {
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 2; ++id) options.consoles.push_back(sim::DefaultConsole(id));
    options.joinDelayMs = 100;
    StartBench(options);
    Connect();
    Click("Open");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().NumberOfConsole() == 2; }, kWaitMs));
    EXPECT_TRUE(Traced("Console Add ID=2"));
    Click("Close");
    Click("Start Measure");
    TStringGrid& grid = Grid("GridDati");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !grid.Cell(1, 2).isEmpty() && !grid.Cell(1, 3).isEmpty(); }, kWaitMs));
    for (int row : {2, 3}) {
        const int rpm = grid.Cell(1, row).toInt();
        EXPECT_EQ(grid.Cell(2, row).toStdString(), SpeedText(rpm));
        EXPECT_FALSE(grid.Cell(3, row).isEmpty());
        EXPECT_FALSE(grid.Cell(5, row).isEmpty());
        EXPECT_FALSE(grid.Cell(6, row).isEmpty());
        EXPECT_TRUE(grid.Cell(4, row).isEmpty());  // "Avg Hr" is never filled
    }
    EXPECT_TRUE(grid.Cell(1, 4).isEmpty());

    Click("Serial Request");  // the serial spin edit says 0: the dongle
    Control<QSpinBox>("txtSNid").setValue(2);
    Click("Serial Request");
    Click("FW Ver");
    Control<QSpinBox>("txtVNid").setValue(2);
    Click("Version Number");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto& table = Form().tmp().Consoles();
            return table.size() > 2 && table[2].FirmwareMajor != 0 && table[2].Version != 0 &&
                   table[2].Serial != 0;
        },
        3000));
    Click("Update");
    TStringGrid& consoles = Grid("GridConsole");
    EXPECT_EQ(consoles.Cell(1, 1), "000078");  // the dongle's version
    EXPECT_EQ(consoles.Cell(2, 1), "0A0B0C");  // and serial
    EXPECT_EQ(consoles.Cell(4, 1), "Si");
    EXPECT_EQ(consoles.Cell(1, 3), "000010");
    EXPECT_EQ(consoles.Cell(2, 3), "100222");
    EXPECT_EQ(consoles.Cell(4, 3), "Si");
    EXPECT_EQ(consoles.Cell(5, 3), "No");
    EXPECT_EQ(consoles.Cell(6, 3), "02 03");
    EXPECT_EQ(consoles.Cell(1, 5), "*");
    EXPECT_EQ(consoles.Cell(1, 19), "*");
    SaveScreenshot(Form(), "main_window_registered");
}

TEST_F(MainWindowTest, UpdateOnAnEmptyTableStarsEveryVersCell) {
    app = std::make_unique<TBenchApp>(TAppOptions{});
    Click("Update");
    TStringGrid& consoles = Grid("GridConsole");
    for (int row = 1; row < consoles.RowCount(); ++row) EXPECT_EQ(consoles.Cell(1, row), "*");
    EXPECT_TRUE(consoles.Cell(2, 1).isEmpty());
}

TEST_F(MainWindowTest, MeasuresOfConsole3FillRow4AndOnlyTheHeartAverageTakesASample) {
    app = std::make_unique<TBenchApp>(TAppOptions{});
    // 1000 rpm, heart 70, cadence 80, keys 5, as the dongle frames them.
    Form().tmp().PacketReceived(nullptr, Frame(mcMeasures, 3, {0x03, 0xE8, 70, 80, 5, 0}));
    TStringGrid& grid = Grid("GridDati");
    // Drawn a little later, together with whatever came meanwhile.
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.Cell(1, 4) == "1000"; }, 2000));
    EXPECT_EQ(grid.Cell(2, 4), "8.5");
    EXPECT_EQ(grid.Cell(3, 4), "70");
    EXPECT_EQ(grid.Cell(5, 4), "80");
    EXPECT_EQ(grid.Cell(6, 4), "5");
    EXPECT_TRUE(Traced("Buttons :5"));
    // Entry 0 reported nothing: the speed average is untouched, the heart average took
    // entry 0's heart rate (0) as its sample.
    EXPECT_EQ(Control<QPlainTextEdit>("Memo3").toPlainText(), "0\n0\n0\n0\n0");
    EXPECT_EQ(Control<QPlainTextEdit>("Memo4").toPlainText(), "0\n0\n0\n0\n0");

    Form().tmp().PacketReceived(nullptr, Frame(mcMeasures, 0, {0x03, 0xE8, 90, 60, 0, 0}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Grid("GridDati").Cell(1, 1).isEmpty(); }, 2000));
    EXPECT_EQ(Control<QPlainTextEdit>("Memo3").toPlainText().split('\n').first(), "8.478");
    EXPECT_EQ(Control<QPlainTextEdit>("Memo4").toPlainText().split('\n').first(), "90");
    EXPECT_EQ(Control<QLabel>("kmhLabel").text(), "1.7");  // 8.478 / 5 samples
    EXPECT_EQ(Control<QLabel>("hrAverageLabel").text(), " 18");
}

TEST_F(MainWindowTest, ConsolesBeyondTheDesignedRowsGetRowsOfTheirOwn) {
    app = std::make_unique<TBenchApp>(TAppOptions{});
    Form().tmp().PacketReceived(nullptr, Frame(mcMeasures, 31, {0x01, 0x00, 60, 70, 0, 0}));
    TStringGrid& grid = Grid("GridDati");
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.Cell(1, 32) == "256"; }, 2000));
    EXPECT_EQ(grid.Cell(0, 32), "1F");
    EXPECT_EQ(grid.Cell(1, 32), "256");
    EXPECT_EQ(grid.Cell(0, 25), "18");
}

// Consoles that stop sending without leaving. One silent among others is found with their
// frames; when none sends at all, only the window's own clock can find them. A silent row
// is blank with its label greyed, saying why, until the console sends again; a console
// both silent and in a heart cut shows the cut.
TEST_F(MainWindowTest, ASilentConsolesRowIsBlankAndGreyUntilItSendsAgainAndACutShowsFirst) {
    StartAndConnect();
    simulator->SetRider(3, {2000, 200, 80});
    Click("Start Measure");
    TStringGrid& grid = Grid("GridDati");
    const auto label = [&](int row) { return grid.item(row - 1, 0); };
    const auto blank = [&](int row) {
        for (int col : {1, 2, 3, 5, 6})
            if (!grid.Cell(col, row).isEmpty()) return false;
        return true;
    };
    const auto silentText = [&](uint8_t id) {
        const TMiraConsoleMeasure& m = (*Form().tmp().LastMeasure())[id];
        return QString("Console %1 silent: no measures for %2 ms")
            .arg(id, 2, 16, QChar('0'))
            .arg(SilenceAfterMs(m));
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !blank(2) && !blank(3) && !blank(4); }, kWaitMs));
    const QBrush plain = label(2)->background();

    simulator->SetReporting(2, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !label(3)->toolTip().isEmpty(); }, kWaitMs));
    EXPECT_EQ(label(3)->toolTip(), silentText(2));
    EXPECT_TRUE(silentText(2).endsWith("for 2000 ms")) << "four measures a second: the floor";
    EXPECT_NE(label(3)->background(), plain);
    EXPECT_TRUE(blank(3));
    EXPECT_TRUE(Traced("Console 2 silent: no measures for"));
    EXPECT_FALSE(blank(2) || blank(4)) << "the others go on";
    EXPECT_EQ(label(2)->background(), plain);
    EXPECT_TRUE(label(2)->toolTip().isEmpty());

    simulator->SetReporting(2, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !blank(3); }, kWaitMs));
    EXPECT_TRUE(label(3)->toolTip().isEmpty());
    EXPECT_EQ(label(3)->background(), plain);
    EXPECT_TRUE(Traced("Console 2 measures again"));

    // Console 3's heart above the maximum: its brake is held; then nobody sends.
    Control<QSpinBox>("MaxHr").setValue(180);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label(4)->toolTip().contains("brake held"); }, kWaitMs));
    const QBrush cut = label(4)->background();
    for (uint8_t id = 1; id <= 3; ++id) simulator->SetReporting(id, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return blank(2) && blank(3) && blank(4); }, kWaitMs));
    EXPECT_EQ(label(2)->toolTip(), silentText(1));
    EXPECT_EQ(label(3)->toolTip(), silentText(2));
    EXPECT_EQ(label(4)->toolTip(), "Heart rate above its maximum: brake held at 0");
    EXPECT_EQ(label(4)->background(), cut);
    EXPECT_EQ(label(2)->background(), label(3)->background());
    EXPECT_TRUE(Traced("Console 3 silent: no measures for"));
    SaveScreenshot(Form(), "main_window_silent_rows");
    Click("Stop Measure");
}

TEST_F(MainWindowTest, EveryConsoleButtonSendsItsFrame) {
    StartAndConnect();
    SetForConsole(2);
    Control<QSpinBox>("txtSNid").setValue(3);
    Control<QSpinBox>("txtVNid").setValue(1);
    const std::pair<const char*, std::string> cases[] = {
        {"Num Console", Frame(mcNumberOfConsoles, 0)},
        {"Open", Frame(mcOpenRegistration, 0)},
        {"Close", Frame(mcCloseRegistration, 0)},
        {"Start Measure", Frame(mcMeasure, 0, {1})},
        {"Stop Measure", Frame(mcMeasure, 0, {0})},
        {"Serial Request", Frame(mcSerialNumber, 3)},
        {"FW Ver", Frame(mcFirmware, 3)},
        {"Version Number", Frame(mcVersion, 1)},
        {"Select", Frame(mcSelectConsole, 2)},
        {"Deselect", Frame(mcDeselectConsole, 2)},
        {"Roll Start", Frame(mcRoll, 2, {1})},
        {"Roll Pause", Frame(mcRoll, 2, {0})},
        {"Req Total Rolls", Frame(mcTotalRolls, 2)},
        {"Reset Rolls", Frame(mcResetTotalRolls, 2)},
        {"Disc. Cons. ID", Frame(mcRemoveConsole, 2)},
        {"Disc. All Cons", Frame(mcRemoveConsole, 0xFF)},
    };
    for (const auto& [button, frame] : cases) {
        const int before = simLog.Count(frame);
        Click(button);
        EXPECT_TRUE(Received(frame, before + 1)) << button;
    }
    // Console IDs from the spin edits are one byte: 300 addresses console 44.
    SetForConsole(300);
    Click("Select");
    EXPECT_TRUE(Received(Frame(mcSelectConsole, 44)));
}

TEST_F(MainWindowTest, AskAllRollsAndStartAllRollsAddressEveryConnectedConsole) {
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 2; ++id) options.consoles.push_back(sim::DefaultConsole(id));
    options.joinDelayMs = 50;
    StartBench(options);
    Connect();
    Click("Start all rolls");  // nobody registered yet: nothing to ask
    Click("Open");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().NumberOfConsole() == 2; }, kWaitMs));
    Click("Ask all Rolls");
    EXPECT_TRUE(Received(Frame(mcTotalRolls, 1)));
    EXPECT_TRUE(Received(Frame(mcTotalRolls, 2)));
    Click("Start all rolls");
    EXPECT_TRUE(Received(Frame(mcRoll, 1, {1})));
    EXPECT_TRUE(Received(Frame(mcRoll, 2, {1})));
    EXPECT_EQ(simLog.Count(Frame(mcRoll, 1, {1})), 1);
}

TEST_F(MainWindowTest, ConsoleTestsSayOkOrErrorAsTheConsoleAnswers) {
    StartAndConnect();
    SetForConsole(1);  // acknowledges every test
    Click("Trigger Clock");
    Click("TestSignals");
    Click("TestKeys");
    Click("TestCardio");
    SetForConsole(2);  // refuses every test
    Click("Trigger Clock");
    Click("TestSignals");
    Click("TestKeys");
    Click("TestCardio");
    SetForConsole(3);  // never answers the keys test
    Form().tmp().SetReplyTimeOut(4000);
    Click("TestKeys");
    std::vector<std::string> texts;
    for (const auto& m : messages.shown) texts.push_back(m.text);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"TriggerClock ok!", "TestSignals ok!", "keys ok!",
                                        "cardio ok!", "TriggerClock error!!", "TestSignals error!!",
                                        "keys error!!", "cardio error!!", "keys error!!"}));
    EXPECT_EQ(simLog.Count(Frame(mcTestKeys, 3)), 1);
}

TEST_F(MainWindowTest, ReadDataShowsTheBytesAndWriteDataChangesTheConsolesMemory) {
    StartAndConnect();
    Click("View Data");
    EXPECT_TRUE(Control<QPlainTextEdit>("Memo5").isVisible());
    EXPECT_EQ(Button("View Data").text(), "Hide Data");
    SetText("Edit1", "0010");
    SetText("Edit2", "0002");
    Click("Read Data");
    QStringList data = Control<QPlainTextEdit>("Memo5").toPlainText().split('\n');
    ASSERT_EQ(data.size(), 2);
    EXPECT_EQ(data[0], " ## Data Readed ! Bytes: 2");
    EXPECT_TRUE(data[1].endsWith("  AA 55")) << data[1].toStdString();

    SetText("Edit5", "12");
    SetText("Edit6", "C4");
    Click("Write Data");
    EXPECT_TRUE(Received(Frame(mcWriteValue, 1, {0x00, 0x10, 2, 0x12, 0xC4})));
    Click("Read Data");
    data = Control<QPlainTextEdit>("Memo5").toPlainText().split('\n');
    EXPECT_TRUE(data.last().endsWith("  12 C4")) << data.last().toStdString();

    Click("View Data");
    EXPECT_FALSE(Control<QPlainTextEdit>("Memo5").isVisible());
    EXPECT_EQ(Button("View Data").text(), "View Data");
}

TEST_F(MainWindowTest, BadMemoryPanelTextIsRefusedWithAMessageNamingItsFieldAndSendsNothing) {
    StartAndConnect();
    const std::string before = simLog.Received();
    SetText("Edit2", "abc");
    Click("Read Data");
    SetText("Edit2", "9");  // more than a read or a write carries
    Click("Write Data");
    SetText("Edit2", "1");
    SetText("Edit1", "zz");
    Click("Read Data");
    SetText("Edit1", "0010");
    SetText("Edit5", "G1");
    Click("Write Data");
    EXPECT_EQ(messages.exceptions,
              (std::vector<std::string>{"Bytes: 'abc' is not a whole number",
                                        "Bytes: 9 is outside 0 to 8",
                                        "Address: 'zz' is not a hex value of at most 4 digits",
                                        "Byte 1: 'G1' is not a hex value of at most 2 digits"}));
    EXPECT_EQ(simLog.Received(), before);
}

TEST_F(MainWindowTest, ReadDataFromASilentConsoleTracesDataNotReaded) {
    StartAndConnect();
    Form().tmp().SetReplyTimeOut(1000);
    Control<QSpinBox>("dataConsoleID").setValue(9);  // not in reach
    Click("Read Data");
    EXPECT_TRUE(Traced("Data NOT Readed !"));
}

TEST_F(MainWindowTest, ReadPageOnASilentConsoleEndsAtTheFirstUnansweredRead) {
    StartAndConnect();
    Form().tmp().SetReplyTimeOut(1000);
    Control<QSpinBox>("dataConsoleID").setValue(9);  // not in reach
    SetText("Edit1", "0100");
    Click("Read Page");
    EXPECT_EQ(simLog.Count(Frame(mcReadValue, 9, {0x01, 0x00, 8})), 1);
    EXPECT_EQ(simLog.Count(Frame(mcReadValue, 9, {0x01, 0x08, 8})), 0);
    EXPECT_TRUE(Traced("Data NOT Readed !"));
    EXPECT_TRUE(Traced("Read Page ended at address 0100: 0 of 256 reads done"));
}

TEST_F(MainWindowTest, ReadPageShows256LinesOfEightBytes) {
    StartAndConnect();
    SetText("Edit1", "0000");
    Click("Read Page");
    const QStringList data = Control<QPlainTextEdit>("Memo5").toPlainText().split('\n');
    ASSERT_EQ(data.size(), 256);
    EXPECT_EQ(data.last().count(' '), 9);
    EXPECT_FALSE(Traced("Data NOT Readed !"));
    EXPECT_TRUE(Received(Frame(mcReadValue, 1, {0x07, 0xF8, 8})));
}

TEST_F(MainWindowTest, SendResTogglesAndSendsTheResCellsWhileABadCellBecomesErr) {
    StartAndConnect();
    Click("Num Console");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().NumberOfConsole() > 0; }, kWaitMs));
    TStringGrid& resist = Grid("GridResist");
    resist.SetCell(1, 2, "1a");
    resist.SetCell(1, 5, "zz");
    Click("SendRes");
    EXPECT_EQ(Button("SendRes").text(), "StopRes");
    EXPECT_TRUE(Received(Frame(mcResistances, 0, {0x00, 0x00, 0x1A})));
    EXPECT_EQ(resist.Cell(1, 5), "err");
    Click("SendRes");
    EXPECT_EQ(Button("SendRes").text(), "SendRes");
    EXPECT_FALSE(Form().tmp().ResistanceTimer().Enabled());
}

TEST_F(MainWindowTest, SendResWithAnEmptyResistanceGridSendsNothing) {
    StartAndConnect();
    Click("Num Console");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().NumberOfConsole() > 0; }, kWaitMs));
    int resistanceTicks = 0;
    auto window = Form().tmp().OnBeforeSendResistance;
    Form().tmp().OnBeforeSendResistance = [&] {
        ++resistanceTicks;
        window();
    };
    Click("SendRes");
    ASSERT_TRUE(QTest::qWaitFor([&] { return resistanceTicks >= 3; }, kWaitMs));
    EXPECT_EQ(simLog.Received().find("3E1000"), std::string::npos);
    Click("SendRes");
}

TEST_F(MainWindowTest, TheManualSenderRefusesOddOrNonHexTextAndSendsAWholeFrame) {
    StartAndConnect();
    const std::string before = simLog.Received();
    SetText("hexSt", "3E01000000021");
    Click("Send Single Command HEX");
    EXPECT_TRUE(Shown("caratteri dispari"));
    SetText("hexSt", "3E0G00000021");
    Click("Send Single Command HEX");
    EXPECT_EQ(messages.exceptions, std::vector<std::string>{"Pacchetti da inviare: '3E0G00000021' "
                                                            "holds characters that are not hex "
                                                            "digits"});
    EXPECT_EQ(simLog.Received(), before);

    SetText("hexSt", "3E0400000021");
    Click("Send Single Command HEX");
    EXPECT_TRUE(Received(Frame(mcNumberOfConsoles, 0), 1));
    EXPECT_TRUE(Traced("-> MANUAL 3E0400000021"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Traced("Number of Console : 3"); }, kWaitMs));
}

TEST_F(MainWindowTest, TheWindowStaysLiveWhileAButtonWaitsAndDisconnectDuringTheWaitIsSafe) {
    StartAndConnect();
    Click("Start Measure");
    TStringGrid& grid = Grid("GridDati");
    SetForConsole(3);  // never answers the keys test
    Form().tmp().SetReplyTimeOut(8000);
    int resistanceTicks = 0;
    auto window = Form().tmp().OnBeforeSendResistance;
    Form().tmp().OnBeforeSendResistance = [&] {
        ++resistanceTicks;
        window();
    };
    Click("SendRes");
    bool live = false;
    uint32_t disconnectedAt = 0;
    QTimer::singleShot(50, [&] {
        grid.SetCell(1, 2, "");
        const int ticksBefore = resistanceTicks;
        Click("Num Console");
        Click("TestKeys");  // the same button again: ignored while it waits
        live = QTest::qWaitFor(
            [&] {
                return simLog.Count(Frame(mcNumberOfConsoles, 0)) == 1 &&
                       !grid.Cell(1, 2).isEmpty() && resistanceTicks > ticksBefore;
            },
            1500);
        disconnectedAt = GetTickCount();
        Click("Disconnect");
    });
    Click("TestKeys");
    // The wait ends with the Disconnect, not at its 8 s time-out.
    EXPECT_LT(GetTickCount() - disconnectedAt, 2000u);
    EXPECT_TRUE(live);
    EXPECT_EQ(simLog.Count(Frame(mcTestKeys, 3)), 1);
    EXPECT_FALSE(Form().tmp().Connected());
    EXPECT_TRUE(Shown("keys error!!"));
    Click("SendRes");
}

TEST_F(MainWindowTest, ClosingTheWindowDuringAWaitClosesThePortAndTellsNobodyAfterwards) {
    StartAndConnect();
    SetForConsole(3);  // never answers the keys test
    Form().tmp().SetReplyTimeOut(4000);
    QTimer::singleShot(50, [&] { Form().close(); });
    Click("TestKeys");
    EXPECT_FALSE(Form().isVisible());
    EXPECT_FALSE(Form().tmp().Port()->Connected());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainWindowTest, ConnectionTestHidesTheTraceAndTimer1SavesNumberedCopies) {
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    app = std::make_unique<TBenchApp>(TAppOptions{});
    Form().show();
    Click("Start connection Test");
    EXPECT_TRUE(Traced("*********START TEST********"));
    EXPECT_FALSE(Form().TraceMemo().isVisible());
    EXPECT_TRUE(Form().Timer1().isActive());
    Form().Timer1().setInterval(20);  // thirty minutes are too long to wait for
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(work.filePath("2.log")); }, kWaitMs));
    Click("Stop");
    EXPECT_TRUE(Traced("*********STOP TEST*********"));
    EXPECT_TRUE(Form().TraceMemo().isVisible());
    EXPECT_FALSE(Form().Timer1().isActive());
    QDir::setCurrent(previous);
    EXPECT_EQ(ReadFile(work.filePath("1.log").toStdString()),
              "62\r\n1\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n21\r\nSaved\r\n");
    EXPECT_EQ(
        ReadFile(work.filePath("2.log").toStdString()),
        "62\r\n1\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n21\r\nSaved\r\nSaved\r\n");
}

TEST_F(MainWindowTest, EnableTimeAndNoDataMessagesSetTheTraceAndSurviveDisconnect) {
    StartAndConnect();
    auto& time = *Form().findChild<QCheckBox*>("Enable time");
    auto& noData = *Form().findChild<QCheckBox*>("No data messages");
    EXPECT_TRUE(Form().tmp().DebugTime());
    QTest::mouseClick(&time, Qt::LeftButton);
    EXPECT_FALSE(Form().tmp().DebugTime());
    QTest::mouseClick(&time, Qt::LeftButton);
    QTest::mouseClick(&noData, Qt::LeftButton);
    EXPECT_TRUE(Form().tmp().DebugNoData());
    Click("Disconnect");
    EXPECT_TRUE(Traced("Dongle disconnected!"));
    EXPECT_TRUE(Form().tmp().DebugTime());
    EXPECT_TRUE(Form().tmp().DebugNoData());
    Click("Clear");
    EXPECT_TRUE(Form().TraceMemo().Lines().isEmpty());
    EXPECT_NE(LogText().find("Dongle disconnected!"), std::string::npos);
}

TEST_F(MainWindowTest, AVanishedDongleShowsDongleDisconnessoAndTheBenchGoesOn) {
    StartAndConnect();
    simulator->Vanish();
    Click("Num Console");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("Dongle disconnesso!"); }, kWaitMs));
    Click("Update");
    EXPECT_EQ(Grid("GridConsole").Cell(1, 1), "000078");
}

TEST_F(MainWindowTest, VxDevicePanelShowsTheDeviceTestWindow) {
    app = std::make_unique<TBenchApp>(TAppOptions{});
    Click("VxDevicePanel");
    EXPECT_TRUE(app->Form2().isVisible());
    SaveScreenshot(app->Form2(), "device_test_window");
    app->Form3().show();
    SaveScreenshot(app->Form3(), "test_panel");
}

}  // namespace
}  // namespace wct::test
