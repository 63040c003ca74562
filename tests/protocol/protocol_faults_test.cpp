// SPDX-License-Identifier: Apache-2.0
// The protocol component where operators and devices do awkward things: a Disconnect in
// the middle of a wait, ports that fail to reopen, borrowed ports handed back, settings
// out of range; and the periodic resistance sending and roll start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/main_thread.h"
#include "protocol/progress_bar.h"
#include "protocol/protocol_fixture.h"
#include "serial/com_port.h"

namespace wct {
namespace {

using test::ProtocolSimTest;
using test::ThreeConsoles;

// Posts a Disconnect that runs inside the next wait of the main thread.
void DisconnectDuringTheNextWait(TMiraWirelessProtocol& protocol) {
    MainThread().Post([&protocol] { protocol.Disconnect(); });
}

TEST_F(ProtocolSimTest, ADisconnectDuringAConsoleTestEndsItAsFailed) {
    Connect();
    Register(2);
    DisconnectDuringTheNextWait(protocol);
    EXPECT_FALSE(protocol.TestSignals(2));  // console 2 never answers this test
    EXPECT_TRUE(protocol.Consoles().empty());
}

TEST_F(ProtocolSimTest, ADisconnectDuringAMemoryReadOrWriteEndsItAsFailed) {
    Connect();
    Register(3);
    DisconnectDuringTheNextWait(protocol);
    EXPECT_FALSE(protocol.ReadValue(3, 0x10, 2));
    ASSERT_TRUE(protocol.FindDongle());
    Register(3);
    const uint8_t data[8] = {1, 2};
    DisconnectDuringTheNextWait(protocol);
    EXPECT_FALSE(protocol.WriteValue(3, 0x10, 2, data));
}

TEST_F(ProtocolSimTest, ADisconnectDuringTotalRollsGivesMinusOne) {
    Connect();
    Register(1);
    DisconnectDuringTheNextWait(protocol);
    EXPECT_EQ(protocol.RequestTotalRolls(1), -1);
}

TEST_F(ProtocolSimTest, ADisconnectDuringTheConsoleSearchEndsItWithNoConsole) {
    Connect();
    protocol.OpenRegistration();
    protocol.SetTimeToWaitAddNewConsole(20000);
    int version = 0, serial = 0;
    DisconnectDuringTheNextWait(protocol);
    const uint32_t start = GetTickCount();
    EXPECT_EQ(protocol.FindConsole(version, serial), 0);
    EXPECT_LT(GetTickCount() - start, 5000u);  // not the whole search time
    EXPECT_EQ(version, -1);
}

TEST_F(ProtocolSimTest, TheConsoleSearchEndsAtItsTimeAndItsProgressStaysWithinTheMaximum) {
    Connect();
    int max = -1;
    std::vector<int> positions;
    protocol.OnConnectionStatus = [&](int m, int position, TMiraConnectionStatus s,
                                      const std::string&) {
        if (s != cnsConsoleSearch) return;
        max = m;
        positions.push_back(position);
    };
    protocol.SetTimeToWaitAddNewConsole(2500);
    clock.SetIdleStep(50);
    int version, serial;
    const uint32_t start = GetTickCount();
    EXPECT_EQ(protocol.FindConsole(version, serial), 0);
    // The search, then 800 ms showing its outcome.
    EXPECT_LT(GetTickCount() - start, 2500u + 800u + 200u);
    EXPECT_EQ(max, 2);
    ASSERT_GE(positions.size(), 2u);  // the first report comes before any position is set
    EXPECT_EQ(*std::max_element(positions.begin() + 1, positions.end()), 2);
}

TEST_F(ProtocolSimTest, NegativeTimesDoNotWait) {
    Connect();
    protocol.SetTimeToWaitAddNewConsole(-5);
    int version, serial;
    uint32_t start = GetTickCount();
    EXPECT_EQ(protocol.FindConsole(version, serial), 0);
    EXPECT_LT(GetTickCount() - start, 2000u);

    Register(2);
    protocol.SetReplyTimeOut(-1);
    start = GetTickCount();
    EXPECT_FALSE(protocol.TestSignals(2));
    EXPECT_LT(GetTickCount() - start, 1000u);

    protocol.SetDisconDelayBetweenCloseOpenPort(-300);
    start = GetTickCount();
    EXPECT_TRUE(protocol.ConnectDongle());
    EXPECT_LT(GetTickCount() - start, 1000u);
}

TEST_F(ProtocolSimTest, AnAnswerAtTheReplyTimeOutCountsAndOneAMillisecondLaterDoesNot) {
    Connect();
    Register(2);  // console 2 never answers the signals test: the test brings the answer
    protocol.SetReplyTimeOut(1000);
    clock.SetIdleStep(0);  // the clock moves only when the answer comes
    const std::pair<uint32_t, bool> cases[] = {{999, true}, {1000, true}, {1001, false}};
    for (const auto& [after, answered] : cases) {
        const uint32_t start = GetTickCount();
        // The wait's first turn moves the clock; the answer comes in the turn after it.
        MainThread().Post([&, after = after] {
            clock.Advance(start + after - clock.Now());
            MainThread().Post([&] {
                protocol.PacketReceived(nullptr, BuildFrame(mcAck, 2, std::string(1, '\x17')));
            });
        });
        EXPECT_EQ(protocol.TestSignals(2), answered) << after << " ms";
        MainThread().ProcessMessages();  // a late answer goes before the next case
    }
    clock.SetIdleStep(2);
}

TEST(ProtocolWait, EndsAtItsTimeNotAnIdleTurnPast) {
    TScopedVirtualClock clock(1000, 5);
    TMiraWirelessProtocol::WaitWithMessages(100);
    EXPECT_EQ(GetTickCount(), 1100u);
}

TEST_F(ProtocolSimTest, FindDongleDoesNotThrowWhenThePortLeftOpenCannotReopenOnPortDef) {
    Connect();
    // The port stays open on the simulator; the name the operator gives next is wrong.
    protocol.SetPortDef("/dev/wct-no-such-port");
    std::vector<TMiraConnectionStatus> statuses;
    protocol.OnConnectionStatus = [&](int, int, TMiraConnectionStatus s, const std::string&) {
        statuses.push_back(s);
    };
    bool found = true;
    EXPECT_NO_THROW(found = protocol.FindDongle());
    EXPECT_FALSE(found);
    EXPECT_FALSE(protocol.Port()->Connected());
}

TEST_F(ProtocolSimTest, FindDongleMovesOnFromASilentPortDefWithEveryProgressText) {
    sim::TDongleOptions silent = ThreeConsoles();
    silent.version.reset();
    sim::TDongleSimulator quiet(silent);
    quiet.Start();
    StartSimulator();
    const std::string answering = simulator->PortPath();
    SetPortSource([answering] { return std::vector<std::string>{answering}; });
    protocol.SetPortDef(quiet.PortPath());

    struct TTextBar : TPlainProgressBar {
        explicit TTextBar(std::vector<std::string>& texts) : texts_(texts) {}
        void SetText(const std::string& text) override {
            TPlainProgressBar::SetText(text);
            texts_.push_back(text);
        }
        std::vector<std::string>& texts_;
    };
    std::vector<std::string> texts;
    SetProgressBarFactory([&] { return std::make_unique<TTextBar>(texts); });
    int connections = 0;
    protocol.OnConnection = [&] { ++connections; };
    EXPECT_TRUE(protocol.FindDongle());
    SetProgressBarFactory(nullptr);
    EXPECT_EQ(texts, (std::vector<std::string>{"Finding USB dongle..." + quiet.PortPath(),
                                               "Finding USB dongle..." + answering,
                                               "Found on " + answering}));
    EXPECT_TRUE(Traced("Connection Failed " + quiet.PortPath()));
    EXPECT_TRUE(Traced("Connection done " + answering));
    // Once per port opened: the silent one (closed when it did not answer), the next.
    EXPECT_EQ(connections, 2);
}

TEST(ProtocolBorrowedPort, KeepsNoHandlerOfAComponentItWasTakenFromOrThatIsGone) {
    TComPort borrowed;
    TComPort other;
    {
        TMiraWirelessProtocol protocol;
        protocol.SetPort(&borrowed);
        borrowed.SetPort("/dev/wct-no-such-port");
        protocol.ConnectDongle();  // binds its handlers, fails to open
        EXPECT_TRUE(borrowed.OnAfterOpen);
        EXPECT_FALSE(borrowed.Links().empty());
        protocol.SetPort(&other);
        EXPECT_FALSE(borrowed.OnAfterOpen);
        EXPECT_FALSE(borrowed.OnDeviceLost);
        EXPECT_TRUE(borrowed.Links().empty());
        protocol.ConnectDongle();
    }
    EXPECT_FALSE(other.OnAfterOpen);
    EXPECT_FALSE(other.OnDeviceLost);
    EXPECT_TRUE(other.Links().empty());
}

TEST_F(ProtocolSimTest, ABorrowedPortHandedBackNoLongerConnectsTheComponent) {
    TComPort borrowed;
    StartSimulator();
    borrowed.SetPort(simulator->PortPath());
    protocol.SetPort(&borrowed);
    ASSERT_TRUE(protocol.ConnectDongle());
    TComPort other;
    protocol.SetPort(&other);
    protocol.Disconnect();
    borrowed.Close();
    borrowed.Open();
    EXPECT_FALSE(protocol.Connected());
}

TEST_F(ProtocolSimTest, ATooShortMeasuresFrameIsNotTracedWithDebugNoData) {
    protocol.SetDebugNoData(true);
    protocol.PacketReceived(nullptr, BuildFrame(mcMeasures, 1, std::string(3, '\x10')));
    EXPECT_TRUE(memo.lines.empty());
    protocol.SetDebugNoData(false);
    protocol.PacketReceived(nullptr, BuildFrame(mcMeasures, 1, std::string(3, '\x10')));
    EXPECT_TRUE(Traced(" ## Measures too short, ignored"));
}

// ---- Resistances and rolls ------------------------------------------------------------

TEST_F(ProtocolSimTest, TheResistanceTimerAsksForResistancesAndSendsThemEveryInterval) {
    Connect();
    Register(2);
    int asked = 0;
    protocol.OnBeforeSendResistance = [&] {
        ++asked;
        protocol.SetConsoleResistance(2, static_cast<uint8_t>(asked), 0, 0);
    };
    protocol.SetResistanceInterval(250);
    protocol.StartResistanceSending();
    const uint32_t start = GetTickCount();
    PumpUntil([&] { return asked >= 4; }, 5000);
    const uint32_t took = GetTickCount() - start;
    protocol.StopResistanceSending();
    EXPECT_GE(took, 4 * 250u - 10);
    EXPECT_LE(took, 4 * 250u + 150);
    EXPECT_TRUE(
        Traced("->3E10000300000100"
               "21 Send resistance/s for 2console/s"));
    EXPECT_TRUE(PumpUntil([&] { return simLog.Contains("3E100003000004"); }, 2000));
}

TEST_F(ProtocolSimTest, ResistanceKindsSetTheValueTheAuxiliaryOrBoth) {
    Connect();
    Register(2);
    protocol.SetConsoleResistance(2, 40, 0, 7);
    EXPECT_EQ(protocol.Resistances().at(1).Resistance, 40);
    EXPECT_EQ(protocol.Resistances().at(1).Auxiliary, 0);
    protocol.SetConsoleResistance(2, 99, 1, 8);
    EXPECT_EQ(protocol.Resistances().at(1).Resistance, 40);
    EXPECT_EQ(protocol.Resistances().at(1).Auxiliary, 8);
    protocol.SetConsoleResistance(2, 50, 2, 9);
    EXPECT_EQ(protocol.Resistances().at(1).Resistance, 50);
    EXPECT_EQ(protocol.Resistances().at(1).Auxiliary, 9);
    EXPECT_EQ(protocol.Resistances().size(), 2u);
    protocol.SetConsoleResistance(0, 60, 2, 9);  // the dongle carries no resistance
    protocol.SetConsoleResistance(300, 60, 2, 9);
    EXPECT_EQ(protocol.Resistances().size(), 2u);
    EXPECT_TRUE(Traced("## Resistance for console 300 refused"));
}

TEST_F(ProtocolSimTest, StartingAllRollsSendsItsFramesAndClearsTheRevolutions) {
    Connect();
    Register(2);
    protocol.SetMeasure(true);
    PumpUntil(
        [&] {
            const auto& table = *protocol.LastMeasure();
            return table.size() > 2 && table[2].ConsoleID == 2;
        },
        5000);
    protocol.SetMeasure(false);
    PumpUntil([] { return false; }, 300);
    memo.lines.clear();
    protocol.StartAllRolls();
    protocol.StopResistanceSending();
    const std::vector<std::string> expected = {
        "->3E1300010100"
        "21 Start Measure",
        "->3E0C01000021 Reset Total Rol ID Console=1",
        "->3E0C02000021 Reset Total Rol ID Console=2", "->3E0300000021 Close Console Registration"};
    std::vector<std::string> sent;
    for (const std::string& line : memo.lines)
        if (line.rfind("->", 0) == 0) sent.push_back(line);
    EXPECT_EQ(sent, expected);
    for (size_t i = 1; i < protocol.LastMeasure()->size(); ++i)
        EXPECT_LT((*protocol.LastMeasure())[i].Revolutions, 1.0) << "console " << i;
    protocol.SetMeasure(false);
}

}  // namespace
}  // namespace wct
