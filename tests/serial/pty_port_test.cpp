// SPDX-License-Identifier: Apache-2.0
// TComPort on real pseudo-terminals: the port opens the slave, the test plays the device
// on the master.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/main_thread.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"
#include "serial/com_thread.h"
#include "serial/pty_pair.h"
#include "support/recording_messages.h"

namespace wct {
namespace {

using test::Pty;
using test::PumpUntil;

size_t CountEntries(const char* dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// State letter and user+system clock ticks of one thread of this process.
std::pair<char, long> ThreadStat(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text;
    std::getline(file, text);
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    char state = '?';
    std::string skip;
    long utime = 0, stime = 0;
    rest >> state;
    for (int field = 4; field <= 13; ++field) rest >> skip;
    rest >> utime >> stime;
    return {state, utime + stime};
}

class PtyPortTest : public ::testing::Test {
protected:
    void SetUp() override { port.SetPort(pty.path); }
    void Record(const std::string& what) { log.push_back(what); }
    void RecordNotifications() {
        port.OnBeforeOpen = [this](TComponent*) { Record("BeforeOpen"); };
        port.OnAfterOpen = [this](TComponent*) { Record("AfterOpen"); };
        port.OnBeforeClose = [this](TComponent*) { Record("BeforeClose"); };
        port.OnAfterClose = [this](TComponent*) { Record("AfterClose"); };
        port.OnCTSChange = [this](TComponent*, bool on) { Record(on ? "CTS+" : "CTS-"); };
        port.OnDSRChange = [this](TComponent*, bool on) { Record(on ? "DSR+" : "DSR-"); };
        port.OnRLSDChange = [this](TComponent*, bool on) { Record(on ? "RLSD+" : "RLSD-"); };
        link.ConnSignal = [this](TComponent*, bool on) {
            Record(on ? "link Conn+" : "link Conn-");
        };
        link.CtsSignal = [this](TComponent*, bool on) { Record(on ? "link CTS+" : "link CTS-"); };
        link.DsrSignal = [this](TComponent*, bool on) { Record(on ? "link DSR+" : "link DSR-"); };
        link.RlsdSignal = [this](TComponent*, bool on) {
            Record(on ? "link RLSD+" : "link RLSD-");
        };
        port.RegisterLink(&link);
    }

    // Declared so that the port goes first: its handlers use the others.
    std::vector<std::string> log;
    TComLink link;
    Pty pty;
    TComPort port;
};

using Log = std::vector<std::string>;

TEST_F(PtyPortTest, OpenAndCloseRaiseTheirNotificationsInOrder) {
    RecordNotifications();
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(port.ThreadCreated());
    EXPECT_EQ(log, (Log{"BeforeOpen", "link Conn+", "AfterOpen", "link CTS-", "CTS-", "link DSR-",
                        "DSR-", "link RLSD-", "RLSD-"}));
    log.clear();
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log, (Log{"link CTS-", "link DSR-", "link RLSD-", "CTS-", "DSR-", "RLSD-",
                        "BeforeClose", "link Conn-", "AfterClose"}));
    port.UnregisterLink(&link);
}

TEST_F(PtyPortTest, ChangingThePortWhileOpenClosesAndReopensOnTheNewName) {
    Pty other;
    port.Open();
    port.OnBeforeOpen = [this](TComponent*) { Record("BeforeOpen"); };
    port.OnAfterOpen = [this](TComponent*) { Record("AfterOpen"); };
    port.OnBeforeClose = [this](TComponent*) { Record("BeforeClose"); };
    port.OnAfterClose = [this](TComponent*) { Record("AfterClose"); };
    port.SetPort(other.path);
    EXPECT_EQ(log, (Log{"BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen"}));
    EXPECT_TRUE(port.Connected());
    ASSERT_EQ(port.WriteText("hi"), 2);
    EXPECT_EQ(other.Receive(2), "hi");
}

TEST_F(PtyPortTest, SyncMethodCannotChangeWhileOpen) {
    port.Open();
    try {
        port.SetSyncMethod(smNone);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_STREQ(error.what(), "Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
}

TEST_F(PtyPortTest, LineSettingsReachTheTerminal) {
    port.SetDataBits(dbFive);
    port.SetStopBits(sbTwoStopBits);
    port.Parity().SetBits(prMark);
    port.FlowControl().SetFlowControl(fcHardware);
    port.Open();
    termios tio{};
    ASSERT_EQ(tcgetattr(port.DeviceHandle(), &tio), 0);
    // A pseudo-terminal forces CS8 without PARENB; the rest of the word is kept.
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE((tio.c_cflag & PARODD) && (tio.c_cflag & CMSPAR));
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    port.FlowControl().SetFlowControl(fcSoftware);
    ASSERT_EQ(tcgetattr(port.DeviceHandle(), &tio), 0);
    EXPECT_TRUE((tio.c_iflag & IXON) && (tio.c_iflag & IXOFF));
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    port.SetBaudRate(br57600);
    ASSERT_EQ(tcgetattr(port.DeviceHandle(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
}

TEST_F(PtyPortTest, SettingsChangedInsideAnUpdateReachTheTerminalAtEndUpdate) {
    port.Open();
    port.BeginUpdate();
    port.SetBaudRate(br19200);
    termios tio{};
    ASSERT_EQ(tcgetattr(port.DeviceHandle(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    port.EndUpdate();
    ASSERT_EQ(tcgetattr(port.DeviceHandle(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
}

TEST_F(PtyPortTest, NonStandardRatesOpenThroughTheArbitraryRatePath) {
    port.SetBaudRate(br56000);
    port.Open();
    EXPECT_TRUE(port.Connected());
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    EXPECT_TRUE(port.Connected());
    EXPECT_THROW(port.SetCustomBaudRate(-5), EComPort);
}

TEST_F(PtyPortTest, APseudoTerminalReportsNoModemLinesAndNoLineErrors) {
    port.Open();
    EXPECT_TRUE(port.ModemSignals().Empty());
    EXPECT_TRUE(port.TakeLineErrors().Empty());
}

TEST_F(PtyPortTest, WriteTextArrivesWholeAndInOrderOnTheMaster) {
    port.Open();
    std::string data;
    for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7);
    std::string received;
    // Far more than the pseudo-terminal holds: the write completes only while read.
    std::thread reader([&] { received = pty.Receive(data.size()); });
    EXPECT_EQ(port.WriteText(data), static_cast<int>(data.size()));
    reader.join();
    EXPECT_EQ(received, data);
}

TEST_F(PtyPortTest, AnAsyncWriteNeverBlocksAndAWaitedOneReportsItsData) {
    port.SetEvents({});
    port.Open();
    int txOn = 0;
    std::string txData;
    link.TxSignal = [&](TComponent*, bool on) { txOn += on ? 1 : 0; };
    link.TxData = [&](TComponent*, const char* b, int n) {
        txData.assign(b, static_cast<size_t>(n));
    };
    port.RegisterLink(&link);
    PAsync record = nullptr;
    NewAsyncRecord(record);
    std::string big(300000, 'z');
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.WriteTextAsync(big, record), 0);  // pending: the master reads nothing yet
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(txOn, 1);
    EXPECT_EQ(port.WriteTextAsync("", record), 0);
    EXPECT_EQ(txOn, 1);
    std::string received;
    std::thread reader([&] { received = pty.Receive(big.size()); });
    EXPECT_EQ(port.WaitAsync(record), static_cast<int>(big.size()));
    reader.join();
    EXPECT_EQ(received.size(), big.size());
    EXPECT_EQ(txData, big);
    FreeAsyncRecord(record);
    port.UnregisterLink(&link);
}

TEST_F(PtyPortTest, FramesSentOnOneKeptRecordWithoutWaitingArriveInOrder) {
    port.Open();
    PAsync record = nullptr;
    NewAsyncRecord(record);
    std::string expected;
    for (int i = 0; i < 500; ++i) {
        std::string frame = std::string("\x3E\x10", 2) + static_cast<char>(i) + "\x21";
        port.PurgeBuffers(false, true);
        port.WriteTextAsync(frame, record);
        expected += frame;
        if (i % 50 == 49) {
            EXPECT_EQ(pty.Receive(200), expected.substr(expected.size() - 200));
        }
    }
    FreeAsyncRecord(record);
}

TEST_F(PtyPortTest, OperationsOnAClosedPortRaiseTheirCodes) {
    try {
        port.PurgeBuffers(true, false);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 5);
    }
    try {
        port.PendingInputCount();
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 10);
    }
    try {
        port.ModemSignals();
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 11);
    }
    PAsync record = nullptr;
    NewAsyncRecord(record);
    try {
        port.WriteTextAsync("x", record);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 2);
        EXPECT_EQ(error.SystemErrorCode(), EBADF);
    }
    FreeAsyncRecord(record);
}

class PtyEventTest : public PtyPortTest {};

TEST_F(PtyEventTest, BytesFromTheMasterReachABoundFramerOnTheMainThread) {
    TComDataPacket framer;
    framer.SetStartString(">");
    framer.SetStopString("!");
    framer.SetIncludeStrings(true);
    framer.SetComPort(&port);
    std::vector<std::string> packets;
    bool onMain = true;
    framer.OnPacket = [&](TComponent*, const std::string& s) {
        packets.push_back(s);
        onMain = onMain && MainThread().IsMainThread();
    };
    int rxChar = 0;
    std::string rxBuf;
    port.OnRxChar = [&](TComponent*, int) { ++rxChar; };
    port.OnRxBuf = [&](TComponent*, const char* b, int n) {
        rxBuf.append(b, static_cast<size_t>(n));
    };
    port.Open();
    pty.Send("x>A!>B");
    pty.Send("!");
    ASSERT_TRUE(PumpUntil([&] { return packets.size() == 2; }));
    EXPECT_EQ(packets, (std::vector<std::string>{">A!", ">B!"}));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(rxBuf, "x>A!>B!");
    EXPECT_EQ(rxChar, 0);
}

TEST_F(PtyEventTest, AChunkSentInPiecesIsFramedAsTheWholeChunk) {
    TComDataPacket framer;
    framer.SetStartString("\x3E");
    framer.SetStopString("\x21");
    framer.SetIncludeStrings(true);
    framer.SetComPort(&port);
    std::string packets;
    framer.OnPacket = [&](TComponent*, const std::string& s) { packets += s + "|"; };
    port.Open();
    using namespace std::string_literals;
    const std::string stream = "\x3E\x01\x05\x00\x21junk\x3E\x02\x21\x3E\x03\x04\x05\x06\x21"s;
    size_t offset = 0;
    for (size_t piece = 1; offset < stream.size(); ++piece) {
        pty.Send(stream.substr(offset, piece));
        offset += piece;
        MainThread().ProcessMessages();
    }
    const std::string expected = "\x3E\x01\x05\x00\x21|\x3E\x02\x21|\x3E\x03\x04\x05\x06\x21|"s;
    ASSERT_TRUE(PumpUntil([&] { return packets.size() >= expected.size(); }));
    EXPECT_EQ(packets, expected);
}

TEST_F(PtyEventTest, WithoutADataLinkOnlyOnRxCharIsRaisedAndNothingIsRead) {
    int counted = 0;
    port.OnRxChar = [&](TComponent*, int count) { counted = count; };
    port.Open();
    pty.Send("12345");
    ASSERT_TRUE(PumpUntil([&] { return counted == 5; }));
    EXPECT_EQ(port.PendingInputCount(), 5);
    std::string text;
    EXPECT_EQ(port.ReadText(text, 10), 5);
    EXPECT_EQ(text, "12345");
    EXPECT_EQ(port.PendingInputCount(), 0);
}

TEST_F(PtyEventTest, TheEventCharacterRaisesRxFlag) {
    int flags = 0, linkFlags = 0;
    port.SetEventChar('!');
    port.SetEvents({evRxChar, evRxFlag});
    port.OnRxFlag = [&](TComponent*) { ++flags; };
    link.RxFlagSignal = [&](TComponent*) { ++linkFlags; };
    port.RegisterLink(&link);
    int rx = 0;
    port.OnRxChar = [&](TComponent*, int) { ++rx; };
    port.Open();
    pty.Send("abc");
    ASSERT_TRUE(PumpUntil([&] { return rx == 1; }));
    EXPECT_EQ(flags, 0);
    pty.Send("d!e");
    ASSERT_TRUE(PumpUntil([&] { return flags == 1; }));
    EXPECT_EQ(linkFlags, 1);
    port.UnregisterLink(&link);
}

TEST_F(PtyEventTest, AWriteIsFollowedByTxEmpty) {
    int empties = 0;
    std::vector<bool> tx;
    port.SetEvents({evTxEmpty});
    port.OnTxEmpty = [&](TComponent*) { ++empties; };
    link.TxSignal = [&](TComponent*, bool on) { tx.push_back(on); };
    port.RegisterLink(&link);
    port.Open();
    PAsync record = nullptr;
    NewAsyncRecord(record);
    port.WriteTextAsync("hello", record);
    ASSERT_TRUE(PumpUntil([&] { return empties == 1; }));
    EXPECT_EQ(tx, (std::vector<bool>{true, false}));
    EXPECT_EQ(pty.Receive(5), "hello");
    FreeAsyncRecord(record);
    port.UnregisterLink(&link);
}

TEST_F(PtyEventTest, WithNoEventsNoThreadStartsAndNothingIsRaised) {
    int raised = 0;
    port.SetEvents({});
    port.OnRxChar = [&](TComponent*, int) { ++raised; };
    port.OnAfterOpen = [&](TComponent*) { log.push_back("AfterOpen"); };
    port.Open();
    EXPECT_FALSE(port.ThreadCreated());
    EXPECT_EQ(log, (Log{"AfterOpen"}));
    pty.Send("xyz");
    ASSERT_TRUE(PumpUntil([&] { return port.PendingInputCount() == 3; }));
    for (int i = 0; i < 20; ++i) MainThread().ProcessMessages();
    EXPECT_EQ(raised, 0);
    char bytes[3];
    EXPECT_EQ(port.Read(bytes, 3), 3);
    EXPECT_EQ(std::string(bytes, 3), "xyz");
}

TEST_F(PtyEventTest, AThrowingHandlerDoesNotStopLaterDeliveries) {
    int calls = 0;
    port.OnRxChar = [&](TComponent*, int) {
        if (++calls == 1) throw std::runtime_error("handler failed");
    };
    port.Open();
    pty.Send("a");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    pty.Send("b");
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    EXPECT_TRUE(port.Connected());
}

TEST_F(PtyEventTest, SmNoneRunsTheHandlersOnTheEventThread) {
    std::atomic<bool> called{false};
    std::atomic<bool> onMain{true};
    port.SetSyncMethod(smNone);
    port.OnRxChar = [&](TComponent*, int) {
        onMain = MainThread().IsMainThread();
        called = true;
    };
    port.Open();
    pty.Send("n");
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!called && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    EXPECT_TRUE(called);
    EXPECT_FALSE(onMain);
    port.Close();
}

TEST_F(PtyEventTest, SmWindowSyncDeliversEachEventOnTheMainThreadAndShowsFailures) {
    test::TRecordingMessages messages;
    port.SetSyncMethod(smWindowSync);
    port.SetEventChar('!');
    std::vector<std::string> seen;
    port.OnRxChar = [&](TComponent*, int) { seen.push_back("RxChar"); };
    port.OnRxFlag = [&](TComponent*) {
        seen.push_back("RxFlag");
        throw std::runtime_error("flag handler failed");
    };
    port.Open();
    pty.Send("!");
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"RxChar", "RxFlag"}));
    ASSERT_TRUE(PumpUntil([&] { return messages.exceptions.size() == 1; }));
    EXPECT_EQ(messages.exceptions[0], "flag handler failed");
}

class PtyLifetimeTest : public PtyPortTest {};

TEST_F(PtyLifetimeTest, ClosingTheMasterLeavesTheEventThreadBlockedAndCloseSucceeds) {
    port.Open();
    ASSERT_TRUE(PumpUntil([&] { return port.EventThread()->ThreadId() != 0; }));
    const pid_t tid = port.EventThread()->ThreadId();
    pty.CloseMaster();
    // Let the thread see the hang-up, then watch it for a while.
    for (int i = 0; i < 20; ++i) MainThread().ProcessMessages();
    auto [stateBefore, ticksBefore] = ThreadStat(tid);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    auto [stateAfter, ticksAfter] = ThreadStat(tid);
    EXPECT_EQ(stateAfter, 'S');
    EXPECT_LE(ticksAfter - ticksBefore, 1);  // clock ticks are 10 ms: a spinning thread has ~15
    (void)stateBefore;
    EXPECT_NO_THROW(port.Close());
    EXPECT_FALSE(port.Connected());
}

TEST_F(PtyLifetimeTest, TwoHundredOpenCloseCyclesLeakNoDescriptorAndNoThread) {
    port.Open();
    port.Close();
    const size_t fds = CountEntries("/proc/self/fd");
    const size_t tasks = CountEntries("/proc/self/task");
    for (int i = 0; i < 200; ++i) {
        port.Open();
        ASSERT_TRUE(port.ThreadCreated());
        port.Close();
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
}

TEST_F(PtyLifetimeTest, CloseCompletesWhileTheEventThreadIsBlockedInAHandOff) {
    int delivered = 0;
    port.OnRxChar = [&](TComponent*, int) { ++delivered; };
    port.Open();
    pty.Send("block");
    // The thread takes the bytes into the port's queue, then waits for the main thread,
    // which does not serve it until Close.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int waiting = 0;
    while (std::chrono::steady_clock::now() < until) {
        int queued = 0;
        if (ioctl(port.DeviceHandle(), FIONREAD, &queued) == 0 && queued == 0) break;
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    waiting = ThreadStat(port.EventThread()->ThreadId()).first;
    EXPECT_EQ(waiting, 'S');
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(delivered, 0);
}

TEST_F(PtyLifetimeTest, AHandlerMayCloseThePortFromInsideItsOwnDelivery) {
    int delivered = 0;
    port.OnRxChar = [&](TComponent*, int) {
        ++delivered;
        port.Close();
    };
    port.Open();
    pty.Send("x");
    ASSERT_TRUE(PumpUntil([&] { return !port.Connected(); }));
    EXPECT_EQ(delivered, 1);
    port.Open();
    EXPECT_TRUE(port.Connected());
}

}  // namespace
}  // namespace wct
