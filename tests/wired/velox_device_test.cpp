// SPDX-License-Identifier: Apache-2.0
// The driver component fed directly: generation and framing, identification, dispatch,
// the ride state machine, keys and the stored form. Writes are recorded, not sent.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/application_messages.h"
#include "common/delay_with_messages.h"
#include "common/stored_form.h"
#include "common/tick_count.h"
#include "velox_test_support.h"
#include "wired/velox_frame.h"

namespace wct::wired {
namespace {

using test::Bytes;
using test::LongMeasures;
using test::ShortMeasures;

struct TMessage {
    TVeloxDeviceMessageType type;
    long double value1, value2, value3;
    std::string str;
};

class VeloxDevice : public ::testing::Test {
protected:
    VeloxDevice() {
        device.OnVeloxMessage = [this](TComponent*, TVeloxDeviceMessageType type, long double v1,
                                       long double v2, long double v3, const std::string& str) {
            messages.push_back({type, v1, v2, v3, str});
        };
        device.OnMessageRejected = [this](const std::string& str) { rejected.push_back(str); };
        // No port behind this device: a survey would only find it silent.
        device.SetConnectionSurvey(false);
    }
    // Everything the framer cuts from `bytes` goes to the decoder, as from the port.
    void Receive(const std::string& bytes) { device.ComDataPacket().AddData(bytes); }

    TScopedVirtualClock clock{100000, 5};
    test::TRecordingDevice device;
    std::vector<TMessage> messages;
    std::vector<std::string> rejected;
};

// ---- Generation ----------------------------------------------------------------------

TEST_F(VeloxDevice, StartsAsAShortFrameTrainerOfGeometry1And39_5) {
    EXPECT_EQ(device.Version(), 4);
    EXPECT_EQ(device.NumberOfRoundPerRollEvent(), 1);
    EXPECT_EQ(device.RollDiameter(), 39.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(device.MetresPerRollEvent()), 0.1241);
    EXPECT_EQ(device.ComDataPacketSize(), 6);
    EXPECT_EQ(device.ComPortBaudRate(), br9600);
    EXPECT_EQ(device.ComPortParity().Bits(), prEven);
    EXPECT_EQ(device.ComPortEvents(),
              (TComEvents{evRxChar, evTxEmpty, evBreak, evError, evRx80Full}));
    EXPECT_EQ(device.Status(), vdsDisconnected);
}

TEST_F(VeloxDevice, ReplacesVersionsThatDoNotExistBy4) {
    device.SetVersion(3.5);
    EXPECT_EQ(device.Version(), 4);
    device.SetVersion(0);
    EXPECT_EQ(device.Version(), 4);
    device.SetVersion(-2);
    EXPECT_EQ(device.Version(), 4);
}

TEST_F(VeloxDevice, OfTheByteProtocolDetachesTheFramerAndRoundsToEvenForTheRoll) {
    device.SetVersion(2.5);
    EXPECT_EQ(device.Version(), 2.5);
    EXPECT_EQ(device.ComDataPacket().ComPort(), nullptr);
    EXPECT_EQ(device.RollDiameter(), 30);
    EXPECT_EQ(device.NumberOfRoundPerRollEvent(), 2);
    device.SetVersion(1);
    EXPECT_EQ(device.RollDiameter(), 40);
}

TEST_F(VeloxDevice, SetsTheRollGeometryOfEachGeneration) {
    const std::tuple<double, double, double, double> table[] = {
        {4, 0.5, 39.5, 0.062},  {4.5, 1, 39.5, 0.1241}, {5, 1, 45, 0.1414},
        {5.5, 0.5, 30, 0.0471}, {6, 1, 40, 0.1257},     {7, 1, 30, 0.0942}};
    for (const auto& [version, rounds, diameter, metres] : table) {
        device.SetVersion(version);
        EXPECT_EQ(device.NumberOfRoundPerRollEvent(), rounds) << version;
        EXPECT_EQ(device.RollDiameter(), diameter) << version;
        EXPECT_DOUBLE_EQ(static_cast<double>(device.MetresPerRollEvent()), metres) << version;
        EXPECT_EQ(device.ComDataPacketSize(), version == 4 ? 6 : 10);
        EXPECT_TRUE(device.MaintainsConsoleActive());
    }
    device.SetVersion(6.5);
    EXPECT_EQ(device.RollDiameter(), 30) << "an unlisted generation keeps the geometry";
}

TEST_F(VeloxDevice, RaisesOnVersionChangeOnEveryAssignment) {
    int changes = 0;
    device.OnVersionChange = [&](TComponent*) { ++changes; };
    device.SetVersion(4);
    device.SetVersion(4);
    EXPECT_EQ(changes, 2);
}

TEST_F(VeloxDevice, ClampsItsTimingProperties) {
    device.SetComponentVersion(9);
    EXPECT_EQ(device.ComponentVersion(), 3.33);
    device.SetConnectionSurveyInterval(100);
    EXPECT_EQ(device.ConnectionSurveyInterval(), 400);
    device.SetConnectionSurveyInterval(5000);
    EXPECT_EQ(device.ConnectionSurveyInterval(), 3000);
    device.SetDisconDelayBetweenCloseOpenPort(100);
    EXPECT_EQ(device.DisconDelayBetweenCloseOpenPort(), 300);
    device.SetDisconDelayBetweenCloseOpenPort(2500);
    EXPECT_EQ(device.DisconDelayBetweenCloseOpenPort(), 2000);
    device.SetResistanceReducer(3);
    EXPECT_EQ(device.ResistanceReducer(), 1);
    device.SetResistanceLatency(-4);
    EXPECT_EQ(device.ResistanceLatency(), 0);
}

TEST_F(VeloxDevice, SurveysLongFrameTrainersEvery3Seconds) {
    device.SetConnectionSurvey(true);
    device.SetConnectionSurveyInterval(800);
    device.SetVersion(5);
    EXPECT_EQ(device.ConnectionSurveyInterval(), 800);
    uint32_t lostAt = 0;
    device.OnVxdErrorInfo = [&](TComponent*, TVxdErrorType, int32_t code, int32_t) {
        if (code == vxeConnectionLost && lostAt == 0) lostAt = GetTickCount();
    };
    const uint32_t start = GetTickCount();
    device.SetConnected(true);
    DelayWithMessages(6200);
    // The first tick finds the connection fresh; the second finds the trainer silent.
    EXPECT_GE(lostAt - start, 6000u);
    EXPECT_LE(lostAt - start, 6100u);
}

// ---- Identification and dispatch ------------------------------------------------------

TEST_F(VeloxDevice, Answer0x55SetsVersion4_5SwitchesTo10ByteFramesAndConnects) {
    int connected = 0;
    device.OnConnected = [&](TComponent*) { ++connected; };
    Receive(Bytes({0xF0, 0x08, 0x55, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(device.Version(), 4.5);
    EXPECT_EQ(device.ComDataPacketSize(), 10);
    EXPECT_TRUE(device.Connected());
    EXPECT_EQ(device.Status(), vdsConnected);
    EXPECT_EQ(connected, 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, mtIdentification);
    EXPECT_EQ(messages[0].value1, 0x55);
    EXPECT_EQ(messages[0].value2, -1);
}

TEST_F(VeloxDevice, AWrongAnswerLeavesTheTrainerUnconnected) {
    device.SetConnected(true);
    Receive(Bytes({0xF0, 0x08, 0x51, 0x00, 0x00, 0xF7}));
    EXPECT_FALSE(device.Connected());
    EXPECT_EQ(device.Version(), 4);
}

TEST_F(VeloxDevice, OfTheByteProtocolAcceptsOnly0x50AsTheAnswer) {
    device.SetVersion(2);
    device.ParseMessage(Bytes({0x51}));
    EXPECT_FALSE(device.Connected());
    device.ParseMessage(Bytes({0x40, 0x50}));
    EXPECT_TRUE(device.Connected());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].type, mtIdentification);
    EXPECT_EQ(messages[0].value1, -1);
}

TEST_F(VeloxDevice, WithLongFramesStartsAPacketOnlyWhereAStopByteEndsIt) {
    device.SetVersion(5);
    device.SetConnected(true);
    messages.clear();
    Receive(Bytes({0xF0, 0x11, 0xF0, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0xF7}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, mtMeasures);
    EXPECT_EQ(TVeloxDevice::BytesToHexString(messages[0].str, false), "F00100001000000000F7");
}

TEST_F(VeloxDevice, RejectsAMessageOfEitherFrameLengthThatDoesNotStartWithF0AndChangesNothing) {
    // Measures of ten roll events, and of one roll period of one event.
    const std::pair<double, std::string> cases[] = {
        {4, Bytes({0x00, 0x01, 0x00, 0x0A, 0x00, 0xF7})},
        {5, Bytes({0x00, 0x01, 0x00, 0x0E, 0xCC, 0xFF, 0xFF, 0xFF, 0xFF, 0xF7})}};
    for (const auto& [version, wrong] : cases) {
        device.SetVersion(version);
        device.SetConnected(true);
        device.Start();
        rejected.clear();
        messages.clear();
        EXPECT_FALSE(device.ParseMessage(wrong)) << version;
        EXPECT_EQ(rejected, std::vector<std::string>{wrong});
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(device.RollEventTotal(), 0);
        EXPECT_EQ(device.Status(), vdsRunning);
        device.Stop();
    }
}

TEST_F(VeloxDevice, RejectsUnknownCommandsOfShortFramesAndIgnoresThoseOfLongFrames) {
    Receive(Bytes({0xF0, 0x0B, 0x00, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(rejected.size(), 1u);
    device.SetVersion(6);
    Receive(Bytes({0xF0, 0x0B, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF7}));
    EXPECT_EQ(rejected.size(), 1u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(VeloxDevice, PassesCommand5OnAsUnparsed) {
    device.SetVersion(5);
    const std::string frame = Bytes({0xF0, 0x05, 1, 2, 3, 4, 5, 6, 7, 0xF7});
    Receive(frame);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, mtUnparsed);
    EXPECT_EQ(messages[0].str, frame);
}

TEST_F(VeloxDevice, OfShortFramesKeepsTheFirstSerialNumberAndReportsIt) {
    int reported = 0;
    device.OnSerialNumber = [&](TComponent*) { ++reported; };
    device.OnProductVersion = [&](TComponent*) { ++reported; };
    Receive(Bytes({0xF0, 0x03, 0x12, 0x34, 0x56, 0xF7}));
    Receive(Bytes({0xF0, 0x03, 0x65, 0x43, 0x21, 0xF7}));
    Receive(Bytes({0xF0, 0x09, 0x21, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(device.SerialNumber(), 0x123456u);
    EXPECT_EQ(device.ProductVersion(), 0x21);
    EXPECT_EQ(reported, 2);
}

TEST_F(VeloxDevice, OfLongFramesTakesEverySerialNumberAndTheOrientation) {
    device.SetVersion(5);
    const std::tuple<int, int, double> cases[] = {
        {1, 1, 45}, {1, -1, 135}, {-1, -1, -135}, {5, 0, 0}};
    for (const auto& [l, m, degrees] : cases) {
        Receive(Bytes({0xF0, 0x03, 0x01, 0x02, 0x03, static_cast<unsigned>(l),
                       static_cast<unsigned>(m), 0, 0, 0xF7}));
        EXPECT_NEAR(device.Orientation(), degrees, 1e-9) << l << "," << m;
    }
    EXPECT_EQ(device.SerialNumber(), 0x010203u);
    EXPECT_EQ(device.RotationHex1(), 5);
}

TEST_F(VeloxDevice, CountsEveryMessageAndRestartsTheCountWhenConnecting) {
    device.SetVersion(5);
    Receive(LongMeasures(0, 0xFFFF, 0xFFFF, 0xFFFF));
    device.ParseMessage(Bytes({0x00, 0x05, 0, 0, 0, 0, 0, 0, 0, 0xF7}));
    EXPECT_EQ(device.ReceivedMessages(), 2) << "a rejected message counts too";
    device.SetConnected(true);
    EXPECT_EQ(device.ReceivedMessages(), 0);
}

// ---- Ride state machine --------------------------------------------------------------

TEST_F(VeloxDevice, StartWhileStoppedResetsTheRideAndReportsOldStatusStopped) {
    std::vector<std::pair<TVeloxDeviceStatus, TVeloxDeviceStatus>> changes;
    device.OnVeloxDeviceStatusChanged = [&](TComponent*, TVeloxDeviceStatus o,
                                            TVeloxDeviceStatus n) { changes.emplace_back(o, n); };
    device.SetConnected(true);
    device.Start();
    EXPECT_EQ(changes.back(), std::make_pair(vdsStopped, vdsRunning));
    for (int i = 0; i < 5; ++i) Receive(ShortMeasures(0, 10));
    EXPECT_EQ(device.RollEventTotal(), 50);
    device.Pause();
    EXPECT_EQ(device.Status(), vdsPaused);
    EXPECT_EQ(device.sent.back(), BuildFrame(1, 0, 0)) << "a paused trainer is unloaded";
    Receive(ShortMeasures(0, 10));
    device.Start();
    EXPECT_EQ(changes.back(), std::make_pair(vdsPaused, vdsRunning));
    EXPECT_EQ(device.RollEventTotal(), 50) << "resuming keeps the distance";
    device.Stop();
    device.Start();
    EXPECT_EQ(device.RollEventTotal(), 0);
    EXPECT_EQ(changes.back(), std::make_pair(vdsStopped, vdsRunning));
    device.OnVeloxDeviceStatusChanged = nullptr;  // the device stops once more as it goes
}

TEST_F(VeloxDevice, HoldsAPausedShortFrameTrainerUnloadedUntilTheRideResumes) {
    device.SetConnected(true);
    device.Start();
    Receive(ShortMeasures(0, 10));
    device.SetVeloxResistance(80);
    Receive(ShortMeasures(0, 10));
    EXPECT_EQ(device.sent.back(), BuildFrame(1, 80, 0)) << "each frame is answered with the load";
    device.Pause();
    for (int i = 0; i < 3; ++i) {
        Receive(ShortMeasures(0, 10));
        EXPECT_EQ(device.sent.back(), BuildFrame(1, 0, 0)) << i;
    }
    device.Start();
    Receive(ShortMeasures(0, 10));
    EXPECT_EQ(device.sent.back(), BuildFrame(1, 80, 0));
}

TEST_F(VeloxDevice, KeepsAConnectedLongFrameTrainerAliveUnloadedOutsideARide) {
    device.SetVersion(5);
    device.SetConnected(true);
    auto loads = [this](uint32_t ms) {
        device.sent.clear();
        DelayWithMessages(ms);
        return std::count(device.sent.begin(), device.sent.end(), BuildFrame(1, 0, 0));
    };
    EXPECT_EQ(loads(3050), 3) << "idle: once a second";
    device.Start();
    EXPECT_EQ(loads(2050), 2) << "riding: from the statistics tick alone";
    device.Pause();
    EXPECT_EQ(loads(2050), 2) << "paused";
    device.Stop();
    EXPECT_EQ(loads(1050), 1) << "stopped";
    device.SetStatsInterval(5000);
    device.Start();
    EXPECT_EQ(loads(2050), 2) << "riding with statistics steps further apart than it waits";
    device.Disconnect();
    EXPECT_EQ(loads(2050), 0);
}

TEST_F(VeloxDevice, KeepsRidingWhenOnBeforeStopSaysSoButStopsAlwaysWhenDisconnected) {
    device.OnBeforeStop = [](TComponent*, bool& canContinue) { canContinue = false; };
    device.SetConnected(true);
    device.Start();
    device.Stop();
    EXPECT_EQ(device.Status(), vdsRunning);
    device.SetConnected(false);
    EXPECT_EQ(device.Status(), vdsDisconnected);
    EXPECT_FALSE(device.StatsTimer().Enabled()) << "no ride clock without a trainer";
}

TEST_F(VeloxDevice, ForgetsSerialNumberAndProductVersionWhenDisconnected) {
    device.SetConnected(true);
    Receive(Bytes({0xF0, 0x03, 0x12, 0x34, 0x56, 0xF7}));
    device.Disconnect();
    EXPECT_EQ(device.SerialNumber(), 0u);
    EXPECT_EQ(device.Status(), vdsDisconnected);
}

// ---- Keys ----------------------------------------------------------------------------

class VeloxKeys : public VeloxDevice {
protected:
    VeloxKeys() {
        // The last-fire tick is shared by every device of the process: each test starts
        // far from the keys of the one before.
        static uint32_t base = 0;
        base += 10000000;
        clock.Set(base);
        device.OnConsoleKeyDown = [this](TComponent*, TConsoleKey key) { keys.push_back(key); };
        SetApplicationMessageHandler(
            [this](uint32_t message, intptr_t, intptr_t) { posted.push_back(message); });
        device.SetConnected(true);
    }
    ~VeloxKeys() override { SetApplicationMessageHandler(nullptr); }
    void Press(unsigned flags) { Receive(ShortMeasures(flags, 0)); }

    std::vector<TConsoleKey> keys;
    std::vector<uint32_t> posted;
};

TEST_F(VeloxKeys, SwallowsARepeatInsideTheWindowAndTakesTheKeyAgainAfterIt) {
    Press(0x01);
    Press(0x01);
    DelayWithMessages(100);
    Press(0x01);
    EXPECT_EQ(keys, std::vector<TConsoleKey>{ckPlus});
    DelayWithMessages(600);
    Press(0x01);
    EXPECT_EQ(keys, (std::vector<TConsoleKey>{ckPlus, ckPlus}));
}

TEST_F(VeloxKeys, TakesTwoAlternatingKeysBoth) {
    DelayWithMessages(600);
    Press(0x01);
    DelayWithMessages(600);  // the shared last-fire tick is far enough back
    Press(0x02);
    Press(0x01);
    EXPECT_EQ(keys.size(), 2u) << "a key change opens the window, the fire needs the interval";
    EXPECT_EQ(keys.back(), ckMinus);
}

TEST_F(VeloxKeys, PostsTheKeyMessageForEAfterTheWindow) {
    Press(0x01);
    DelayWithMessages(600);
    Press(0x04);
    DelayWithMessages(10);
    EXPECT_EQ(posted, std::vector<uint32_t>{12345});
    EXPECT_EQ(keys.back(), ckPlus) << "E raises no key event";
}

TEST_F(VeloxKeys, ReportsOnlyTheLowestKeyOfAFlagsByte) {
    DelayWithMessages(600);
    Press(0x0F);
    EXPECT_EQ(keys, std::vector<TConsoleKey>{ckPlus});
}

TEST_F(VeloxKeys, RaisesNothingWhileKeysAreDisabled) {
    device.DisableKeys();
    DelayWithMessages(600);
    Press(0x02);
    EXPECT_TRUE(keys.empty());
    device.EnableKeys();
    DelayWithMessages(600);
    Press(0x02);
    EXPECT_EQ(keys, std::vector<TConsoleKey>{ckMinus});
}

// ---- Texts and stored form ------------------------------------------------------------

TEST_F(VeloxDevice, NamesItsNoticeCodes) {
    EXPECT_EQ(device.ErrorText(611), "identification request sent");
    EXPECT_EQ(device.ErrorText(614), "connection restablished");
    EXPECT_EQ(device.ErrorText(710), "can't open the com port");
    EXPECT_EQ(device.ErrorText(711), "repairing process aborted");
    EXPECT_EQ(device.ErrorText(720), "connection lost, trying to reconnect");
    EXPECT_EQ(device.ErrorText(520), "Heart connection lost");
    EXPECT_EQ(device.ErrorText(42), "Error unknown");
}

TEST_F(VeloxDevice, WritesBytesAsHexAndReadsThemBack) {
    EXPECT_EQ(TVeloxDevice::BytesToHexString(Bytes({0x01, 0xAB}), true), " 01 AB");
    EXPECT_EQ(TVeloxDevice::HexStringToInteger(Bytes({0x01, 0xAB})), 0x01AB);
    EXPECT_EQ(TVeloxDevice::HexStringToInteger(""), 0);
}

TEST_F(VeloxDevice, StoresWhatDiffersFromTheDeclaredDefaultsAndLoadsItBack) {
    device.SetName("VeloxDevice1");
    device.SetComPortPort("/dev/ttyUSB7");
    device.SetDisconMaxTry(12);
    device.SetAlarmHeartHighLimit(170);
    const std::string form = WriteComponent(device);
    EXPECT_NE(form.find("ComPortPort = '/dev/ttyUSB7'"), std::string::npos) << form;
    EXPECT_NE(form.find("ComPortParity.Bits = prEven"), std::string::npos) << form;
    EXPECT_EQ(form.find("SecurityActive"), std::string::npos) << "equal to its default";
    test::TRecordingDevice loaded;
    ReadComponent(form, loaded);
    EXPECT_EQ(loaded.ComPortPort(), "/dev/ttyUSB7");
    EXPECT_EQ(loaded.DisconMaxTry(), 12);
    EXPECT_EQ(loaded.AlarmHeartHighLimit(), 170);
}

}  // namespace
}  // namespace wct::wired
