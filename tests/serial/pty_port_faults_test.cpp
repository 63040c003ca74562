// SPDX-License-Identifier: Apache-2.0
// TComPort where things go wrong, on real pseudo-terminals: a device that vanishes, a full
// input queue, refused resources, a path that is no terminal, settings changed while open,
// and what other users of the same device see after we are done with it.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/main_thread.h"
#include "serial/com_port.h"
#include "serial/com_thread.h"
#include "serial/pty_pair.h"

namespace wct {
namespace {

using test::Pty;
using test::PumpUntil;

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

// Whether the tty at `path` is held for exclusive use, asked through a fresh descriptor.
int ExclusiveFlag(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    int exclusive = -1;
    if (ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = -1;
    ::close(fd);
    return exclusive;
}

class PtyFaultTest : public ::testing::Test {
protected:
    void SetUp() override { port.SetPort(pty.path); }
    Pty pty;
    TComPort port;
};

// ---- Exclusive use --------------------------------------------------------------------

TEST_F(PtyFaultTest, AnOpenPortHoldsTheDeviceExclusivelyAndGivesItUpOnClose) {
    port.Open();
    int exclusive = -1;
    ASSERT_EQ(ioctl(port.DeviceHandle(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    port.Close();
    EXPECT_EQ(ExclusiveFlag(pty.path), 0);
    port.Open();  // and again, as any user could
    EXPECT_TRUE(port.Connected());
}

TEST_F(PtyFaultTest, AnOpenThatFailsOnItsSettingsLeavesTheDeviceFreeForOthers) {
    port.Buffer().SetInputSize(0);  // refused when applied
    EXPECT_THROW(port.Open(), EComPort);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(ExclusiveFlag(pty.path), 0);
}

// ---- What is no serial port -----------------------------------------------------------

TEST(PortDevice, WhatIsNoTerminalIsRefusedAsNotASerialPortAndLeftAsItWas) {
    char folder[] = "/tmp/wct-no-port-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/file";
    const std::string fifo = std::string(folder) + "/fifo";
    {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "data", 4), 4);
        ::close(fd);
    }
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/null"), file, fifo}) {
        TComPort port;
        port.SetPort(path);
        try {
            port.Open();
            ADD_FAILURE() << path << " opened";
        } catch (const EComPort& error) {
            EXPECT_EQ(error.ErrorCode(), ceOpenFailed) << path;
            EXPECT_EQ(error.SystemErrorCode(), ENOTTY) << path;
            EXPECT_EQ(error.SystemErrorText(), "not a serial port") << path;
        }
        EXPECT_FALSE(port.Connected()) << path;
    }
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 4);
    std::remove(fifo.c_str());
    std::remove(file.c_str());
    rmdir(folder);
}

// ---- A device that goes away ----------------------------------------------------------

class PtyLostTest : public PtyFaultTest,
                    public ::testing::WithParamInterface<std::pair<TSyncMethod, bool>> {};

TEST_P(PtyLostTest, AHangUpIsReportedOnceAndTheThreadThenSleeps) {
    const auto [sync, events] = GetParam();
    port.SetSyncMethod(sync);
    if (!events) port.SetEvents({});
    std::atomic<int> lost{0};
    port.OnDeviceLost = [&](TComponent*) { ++lost; };
    port.Open();
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return lost.load() == 1; }));
    Pump(100);
    EXPECT_EQ(lost.load(), 1);
    EXPECT_TRUE(port.Connected());  // the application decides when to close
    port.Close();
}

INSTANTIATE_TEST_SUITE_P(EverySyncMethodAndAnEmptyEventSet, PtyLostTest,
                         ::testing::Values(std::pair{smThreadSync, true},
                                           std::pair{smWindowSync, true}, std::pair{smNone, true},
                                           std::pair{smThreadSync, false}));

TEST_F(PtyFaultTest, UnderSmNoneTheMainThreadMayCloseWhileTheLossDeliveryIsStillUnwinding) {
    port.SetSyncMethod(smNone);
    bool closed = false;
    // The application's way: the event thread only hands the reaction to the main thread,
    // whose Close then meets that delivery on its way out.
    port.OnDeviceLost = [&](TComponent*) {
        MainThread().Post([&] {
            port.Close();
            closed = true;
        });
    };
    port.Open();
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return closed; }));
    EXPECT_FALSE(port.ThreadCreated());
    Pty other;
    port.SetPort(other.path);
    port.Open();
    ASSERT_EQ(port.WriteText("back"), 4);
    EXPECT_EQ(other.Receive(4), "back");
    // Closed while `other` lives: its hang-up would post the handler above after `closed`
    // is gone.
    port.Close();
}

TEST_F(PtyFaultTest, BytesThatArrivedBeforeTheHangUpAreDeliveredBeforeTheLoss) {
    std::vector<std::string> seen;
    port.OnRxChar = [&](TComponent*, int count) {
        std::string bytes;
        port.ReadText(bytes, count);
        seen.push_back(bytes);
    };
    port.OnDeviceLost = [&](TComponent*) { seen.push_back("lost"); };
    port.Open();
    pty.Send("last words");
    // The kernel drops what the slave has not yet taken when the master closes.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty() && seen.back() == "lost"; }));
    std::string all;
    for (size_t i = 0; i + 1 < seen.size(); ++i) all += seen[i];
    EXPECT_EQ(all, "last words");
}

TEST_F(PtyFaultTest, AWriteAfterAHangUpRaisesWriteFailed) {
    port.Open();
    pty.CloseMaster();
    Pump(50);
    try {
        port.WriteText("x");
        FAIL() << "the write went through";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), ceWriteFailed);
        EXPECT_EQ(error.SystemErrorCode(), EIO);
    }
}

// ---- Input queue and event character --------------------------------------------------

TEST_F(PtyFaultTest, PurgingAFullInputQueueLetsReceiveEventsComeAgain) {
    int events = 0;
    port.Buffer().SetInputSize(16);
    port.OnRxChar = [&](TComponent*, int) { ++events; };  // reads nothing: the queue fills
    port.Open();
    pty.Send(std::string(40, 'a'));
    ASSERT_TRUE(PumpUntil([&] { return events >= 1; }));
    Pump(50);
    port.PurgeBuffers(true, false);
    EXPECT_EQ(port.PendingInputCount(), 0);
    const int before = events;
    pty.Send("b");
    EXPECT_TRUE(PumpUntil([&] { return events > before; }));
}

TEST_F(PtyFaultTest, AnEventCharacterSetWhileOpenTakesEffectAtOnce) {
    int flags = 0;
    port.OnRxFlag = [&](TComponent*) { ++flags; };
    port.OnRxChar = [&](TComponent*, int count) {
        std::string bytes;
        port.ReadText(bytes, count);
    };
    port.Open();
    port.SetEventChar('Z');
    pty.Send("xyZ");
    EXPECT_TRUE(PumpUntil([&] { return flags == 1; }));
}

TEST_F(PtyFaultTest, AnEventCharacterReadStraightFromTheDeviceStillRaisesRxFlag) {
    int flags = 0;
    port.SetEventChar('Z');
    port.SetEvents({evRxFlag});
    port.Buffer().SetInputSize(4);  // the thread stops at four bytes; Read takes the rest
    port.OnRxFlag = [&](TComponent*) { ++flags; };
    port.Open();
    pty.Send("abcdefZ");
    Pump(50);
    EXPECT_EQ(flags, 0);
    char bytes[7];
    EXPECT_EQ(port.Read(bytes, 7), 7);
    EXPECT_EQ(std::string(bytes, 7), "abcdefZ");
    EXPECT_TRUE(PumpUntil([&] { return flags == 1; }));
}

// ---- Output ---------------------------------------------------------------------------

TEST_F(PtyFaultTest, AnOutputPurgeFinishesTheWriteTheDeviceHasTakenInPart) {
    port.SetEvents({});
    port.Open();
    PAsync first = nullptr, second = nullptr;
    NewAsyncRecord(first);
    NewAsyncRecord(second);
    const std::string big(256 * 1024, 'A');
    ASSERT_LT(port.WriteTextAsync(big, first), static_cast<int>(big.size()));
    port.WriteTextAsync("BBBB", second);
    port.PurgeBuffers(false, true);
    const std::string got = pty.Receive(big.size() + 4);
    EXPECT_EQ(got.size(), big.size());
    EXPECT_EQ(got.find('B'), std::string::npos);
    FreeAsyncRecord(first);
    FreeAsyncRecord(second);
}

TEST_F(PtyFaultTest, AnAsyncWriteCompletesOnAPortWithoutEvents) {
    port.SetEvents({});
    port.Open();
    EXPECT_FALSE(port.ThreadCreated());
    PAsync record = nullptr;
    NewAsyncRecord(record);
    const std::string big(256 * 1024, 'C');
    port.WriteTextAsync(big, record);
    EXPECT_EQ(pty.Receive(big.size()), big);
    FreeAsyncRecord(record);
}

TEST_F(PtyFaultTest, AWaitedWriteTheDeviceDoesNotTakeEndsAtItsTimeOutWithWhatWentOut) {
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(50);
    port.Open();
    const std::string big(1024 * 1024, 'D');  // nobody reads the master
    const int written = port.WriteText(big);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(big.size()));
}

TEST_F(PtyFaultTest, AReadWithATotalTimeOutReturnsWhatCameWhenTheTimeIsUp) {
    port.SetEvents({});
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalConstant(50);
    port.Open();
    pty.Send("ab");
    char bytes[8];
    EXPECT_EQ(port.Read(bytes, 8), 2);
    EXPECT_EQ(std::string(bytes, 2), "ab");
}

// ---- Refused resources and settings ---------------------------------------------------

// Leaves exactly one descriptor free for the duration of a test.
class OneFreeDescriptor {
public:
    OneFreeDescriptor() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        if (DIR* d = opendir("/proc/self/fd")) {
            while (dirent* e = readdir(d)) highest = std::max(highest, std::atoi(e->d_name));
            closedir(d);
        }
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest + 16);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) fillers_.push_back(fd);
        ::close(fillers_.back());
        fillers_.pop_back();
    }
    ~OneFreeDescriptor() {
        for (int fd : fillers_) ::close(fd);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_{};
    std::vector<int> fillers_;
};

TEST_F(PtyFaultTest, AnOpenThatCannotStartItsThreadRaisesOpenFailedAndStaysClosed) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own to check memory";
#endif
    bool afterOpen = false;
    port.OnAfterOpen = [&](TComponent*) { afterOpen = true; };
    {
        OneFreeDescriptor scarce;  // the device gets it; the thread's wake-up cannot
        try {
            port.Open();
            FAIL() << "opened without its thread";
        } catch (const EComPort& error) {
            EXPECT_EQ(error.ErrorCode(), ceOpenFailed);
            EXPECT_EQ(error.SystemErrorCode(), EMFILE);
        }
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(afterOpen);
    EXPECT_EQ(ExclusiveFlag(pty.path), 0);
    port.Open();
    EXPECT_TRUE(port.ThreadCreated());
}

TEST_F(PtyFaultTest, APseudoTerminalOpensWithParityEveryTime) {
    // The wired trainer's line: a pseudo-terminal keeps no parity, and reopening it with
    // the same request changes nothing, which the C library calls invalid.
    port.Parity().SetBits(prEven);
    for (int run = 0; run < 3; ++run) {
        EXPECT_NO_THROW(port.Open()) << "run " << run;
        port.Close();
    }
}

TEST_F(PtyFaultTest, SyncMethodIsRefusedWhileOpenEvenWhenUnchanged) {
    port.Open();
    try {
        port.SetSyncMethod(port.SyncMethod());
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), ceConnChangeProp);
    }
}

TEST_F(PtyFaultTest, FlowFlagsWithoutALinuxMeaningLeaveTheLineAsItWas) {
    TComFlowControl& flow = port.FlowControl();
    flow.SetTxContinueOnXoff(true);
    flow.SetOutDSRFlow(true);
    flow.SetDSRSensitivity(true);
    port.Open();
    termios tio{};
    ASSERT_EQ(tcgetattr(port.DeviceHandle(), &tio), 0);
    EXPECT_EQ(tio.c_iflag & IXANY, 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
}

// ---- Destruction ----------------------------------------------------------------------

class TWatcher : public TComponent {
public:
    explicit TWatcher(std::vector<std::string>& log) : log_(log) {}
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == TOperation::opRemove) log_.push_back("destroyed");
    }

private:
    std::vector<std::string>& log_;
};

TEST(PtyPortDestruction, DestroyingAnOpenPortTellsItsLinksOfTheCloseBeforeItsEnd) {
    Pty pty;
    std::vector<std::string> log;
    TWatcher watcher(log);
    TComLink link;
    link.ConnSignal = [&](TComponent*, bool on) { log.push_back(on ? "open" : "closed"); };
    {
        TComPort port;
        port.SetPort(pty.path);
        port.RegisterLink(&link);
        port.FreeNotification(&watcher);
        port.Open();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"open", "closed", "destroyed"}));
}

}  // namespace
}  // namespace wct
