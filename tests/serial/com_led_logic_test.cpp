// SPDX-License-Identifier: Apache-2.0
// The port lamp's rules on a real pseudo-terminal: the lamp follows the port's open
// state, refuses a hand-set state while bound, and a ring lights it for RingDuration.
#include "serial/com_led_logic.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace wct {
namespace {

class ComLedLogicTest : public ::testing::Test {
protected:
    void SetUp() override {
        int slave = -1;
        char name[128] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        port.SetPort(name);
        port.SetEvents({});
        lamp.OnChange = [this](TComponent*, TLedState state) { changes.push_back(state); };
    }
    void TearDown() override {
        if (port.Connected()) port.Close();
        ::close(master);
    }

    int master = -1;
    TComPort port;
    TComLedLogic lamp;
    std::vector<TLedState> changes;
};

TEST_F(ComLedLogicTest, BoundToAClosedPortItStaysOffThenFollowsOpenAndClose) {
    lamp.SetComPort(&port);
    EXPECT_EQ(lamp.State(), lsOff);
    EXPECT_TRUE(changes.empty());
    port.Open();
    EXPECT_EQ(lamp.State(), lsOn);
    port.Close();
    EXPECT_EQ(lamp.State(), lsOff);
    EXPECT_EQ(changes, (std::vector<TLedState>{lsOn, lsOff}));
}

TEST_F(ComLedLogicTest, BindingAnOpenPortLightsItAtOnce) {
    port.Open();
    lamp.SetComPort(&port);
    EXPECT_EQ(lamp.State(), lsOn);
}

TEST_F(ComLedLogicTest, UnbindingTurnsItOffAndFreesItsPlaceAmongTheLinks) {
    port.Open();
    lamp.SetComPort(&port);
    lamp.SetComPort(nullptr);
    EXPECT_EQ(lamp.State(), lsOff);
    EXPECT_TRUE(port.Links().empty());
}

TEST_F(ComLedLogicTest, ABoundLampRefusesAHandSetState) {
    lamp.SetComPort(&port);
    try {
        lamp.SetState(lsOn);
        ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), ceLedStateFailed);
        EXPECT_STREQ(e.what(), "Cannot change led state if ComPort is selected");
    }
    EXPECT_EQ(lamp.State(), lsOff);
}

TEST_F(ComLedLogicTest, AnUnboundLampTakesAHandSetStateAndAnnouncesEveryOne) {
    lamp.SetState(lsOn);
    lamp.SetState(lsOn);
    EXPECT_EQ(lamp.State(), lsOn);
    EXPECT_EQ(changes, (std::vector<TLedState>{lsOn, lsOn}));
}

TEST_F(ComLedLogicTest, ADestroyedPortUnbindsTheLampAndTurnsItOff) {
    auto doomed = std::make_unique<TComPort>();
    doomed->SetPort(port.Port());
    doomed->SetEvents({});
    doomed->Open();
    lamp.SetComPort(doomed.get());
    ASSERT_EQ(lamp.State(), lsOn);
    doomed.reset();
    EXPECT_EQ(lamp.ComPort(), nullptr);
    EXPECT_EQ(lamp.State(), lsOff);
}

TEST_F(ComLedLogicTest, ASignalChangeBindsExactlyOneSlot) {
    lamp.SetLedSignal(lsCTS);
    EXPECT_FALSE(lamp.Link().ConnSignal);
    EXPECT_TRUE(lamp.Link().CtsSignal);
    lamp.SetLedSignal(lsRing);
    EXPECT_FALSE(lamp.Link().CtsSignal);
    EXPECT_TRUE(lamp.Link().RingSignal);
    lamp.SetLedSignal(lsTx);
    EXPECT_FALSE(lamp.Link().RingSignal);
    EXPECT_TRUE(lamp.Link().TxSignal);
}

TEST_F(ComLedLogicTest, ACtsLampShowsTheLineNotTheOpenPort) {
    lamp.SetLedSignal(lsCTS);
    lamp.SetComPort(&port);
    port.Open();
    // A pseudo-terminal has no modem lines: open, yet dark.
    EXPECT_EQ(lamp.State(), lsOff);
    lamp.Link().CtsSignal(&port, true);
    EXPECT_EQ(lamp.State(), lsOn);
    // Closing reports the line off.
    port.Close();
    EXPECT_EQ(lamp.State(), lsOff);
}

TEST_F(ComLedLogicTest, BindingAnOpenPortShowsItsModemLineAsItIs) {
    port.Open();
    lamp.SetState(lsOn);
    lamp.SetLedSignal(lsDSR);
    lamp.SetComPort(&port);
    EXPECT_EQ(lamp.State(), lsOff);
}

TEST_F(ComLedLogicTest, ARingLightsTheLampUntilItsTimerOfRingDurationRunsOut) {
    std::vector<int> started;
    lamp.StartRingTimer = [&](int ms) { started.push_back(ms); };
    EXPECT_EQ(lamp.RingDuration(), 1000);
    lamp.SetLedSignal(lsRing);
    lamp.SetComPort(&port);
    lamp.Link().RingSignal(&port);
    EXPECT_EQ(lamp.State(), lsOn);
    EXPECT_EQ(started, std::vector<int>{1000});
    lamp.RingOver();
    EXPECT_EQ(lamp.State(), lsOff);
    EXPECT_FALSE(lamp.Ringing());
}

TEST_F(ComLedLogicTest, ASecondRingDoesNotStretchTheRunningInterval) {
    std::vector<int> started;
    lamp.StartRingTimer = [&](int ms) { started.push_back(ms); };
    lamp.SetLedSignal(lsRing);
    lamp.SetRingDuration(300);
    lamp.Link().RingSignal(&port);
    lamp.Link().RingSignal(&port);
    EXPECT_EQ(started, std::vector<int>{300});
    lamp.RingOver();
    // The next ring starts a new interval.
    lamp.Link().RingSignal(&port);
    EXPECT_EQ(started, (std::vector<int>{300, 300}));
}

}  // namespace
}  // namespace wct
