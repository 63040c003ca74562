// SPDX-License-Identifier: Apache-2.0
// Fault runs: a device unplugged and plugged back under the same name, over and over,
// under a connected component that must repair its link each time. Real pseudo-terminals
// reached through the simulators' symbolic link; protocol time on a virtual clock that the
// simulators keep in step with.
//
// After the run nothing may be left behind: the process has the descriptors and threads
// it had before, every trace line is in the log file, and the link works.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/log_to_file.h"
#include "app/trace_log.h"
#include "common/delay_with_messages.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wireless_protocol.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"
#include "sim/wired_trainer_simulator.h"
#include "wired/velox_device.h"

namespace wct::test {
namespace {

constexpr int kCycles = 100;

size_t Entries(const char* directory) {
    const std::filesystem::directory_iterator entries(directory);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

// What each open descriptor refers to, for the failure message of a leak.
std::string Descriptors() {
    std::string text;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        text += fd.path().filename().string() + "->" +
                std::filesystem::read_symlink(fd.path(), error).string() + " ";
    }
    return text;
}

// Aborts the whole program when the run is still going after `limit`: a hang shows as a
// failure naming the step, not as a test that never ends.
class TWatchdog {
public:
    TWatchdog(std::chrono::seconds limit, const std::string& step)
        : step_(step), thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "fault run hung at: %s\n", step_.c_str());
                  std::abort();
              }
          }) {}
    ~TWatchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        thread_.join();
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

    // Main thread only; the watchdog reads it under the lock.
    void Step(const std::string& step) {
        std::lock_guard lock(mutex_);
        step_ = step;
    }

private:
    std::mutex mutex_;  // protects step_ and finished_
    std::condition_variable done_;
    std::string step_;
    bool finished_ = false;
    std::thread thread_;
};

// The trace as the window keeps it: every line shown and handed to the log file. A hook
// lets a test act on a line as it is traced, inside whatever wait traced it.
class TLoggedMemo : public TDebugMemo {
public:
    explicit TLoggedMemo(const std::string& path)
        : log_(file_, [this](const std::string& note) { Add(note); }) {
        file_.SetIncSuffix(true);
        file_.SetLogFileName(path);
    }
    void Add(const std::string& line) override {
        lines.push_back(line);
        log_.Write(line);
        if (onLine) onLine(line);
    }
    bool LogLost() const { return log_.Lost(); }

    std::vector<std::string> lines;
    std::function<void(const std::string&)> onLine;

private:
    TLogToFile file_;
    TTraceLog log_;
};

long Count(const std::vector<std::string>& lines, const std::string& text) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(text) != l.npos; });
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class FaultRun : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([] { return std::vector<std::string>{}; });
        char pattern[] = "/tmp/wct-fault-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        link = dir + "/device";
        logPath = dir + "/trace.log";
    }
    void TearDown() override {
        SetPortSource(nullptr);
        std::filesystem::remove_all(dir);
    }

    template <typename Pred>
    bool PumpUntil(Pred done, uint32_t ms) {
        return ServeUntil(done, ms, 1);
    }

    // The process holds what it held at `before`, once every thread that ended had a
    // moment to go. A thread that was still ending at `before` may be gone by now: only
    // more threads than then is a leak.
    void ExpectHeld(const std::pair<size_t, size_t>& before) {
        for (int i = 0; i < 100 && Entries("/proc/self/task") > before.second; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(Entries("/proc/self/fd"), before.first) << Descriptors();
        EXPECT_LE(Entries("/proc/self/task"), before.second);
    }
    static std::pair<size_t, size_t> Held() {
        return {Entries("/proc/self/fd"), Entries("/proc/self/task")};
    }

    std::string dir;
    std::string link;
    std::string logPath;
};

// ---- The dongle under the protocol component --------------------------------------------

TEST_F(FaultRun, TheProtocolGetsItsDongleBackEveryTimeItIsUnpluggedAndPluggedInAgain) {
    sim::TPacedClock clock{100000, 10};
    TWatchdog watchdog(std::chrono::seconds(120), "dongle start");
    TLoggedMemo memo(logPath);
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 3; ++id) options.consoles.push_back(sim::DefaultConsole(id));
    options.joinDelayMs = 50;
    options.measureRate = 20;
    sim::TSimSettings settings;
    settings.clock = &clock;
    settings.linkPath = link;
    sim::TDongleSimulator dongle(options, settings);
    dongle.Start();

    TMiraWirelessProtocol protocol;
    // The memo's log file is held open from its first line: open it before counting.
    memo.Add("fault run: dongle");
    const auto unconnected = Held();
    protocol.SetDebugMemo(&memo);
    protocol.SetDebugTime(true);
    protocol.SetPortDef(link);
    ASSERT_TRUE(protocol.FindDongle());
    protocol.OpenRegistration();
    ASSERT_TRUE(PumpUntil([&] { return protocol.NumberOfConsole() >= 3; }, 5000));
    protocol.CloseRegistration();
    protocol.SetAutoConnection(true);
    protocol.SetMeasure(true);  // frames are on the line whenever the dongle goes
    int disconnections = 0;
    bool reconnectedFirst = true;  // OnDisconnection comes once the link is back
    protocol.OnDisconnection = [&] {
        ++disconnections;
        reconnectedFirst = reconnectedFirst && protocol.Connected() && protocol.Port()->Connected();
    };
    std::pair<size_t, size_t> connected;

    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        watchdog.Step("dongle cycle " + std::to_string(cycle));
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const long lostBefore = Count(memo.lines, " ## Port lost");
        // Odd cycles plug it back before the loss is noticed; even ones while the
        // recovery waits to reopen, from inside that wait.
        dongle.Vanish();
        if (cycle % 2 == 1) {
            dongle.Return();
        } else {
            memo.onLine = [&](const std::string& line) {
                if (line.find(" ## Port lost") != line.npos) dongle.Return();
            };
        }
        ASSERT_TRUE(PumpUntil([&] { return disconnections == cycle; }, 5000));
        memo.onLine = nullptr;
        EXPECT_EQ(Count(memo.lines, " ## Port lost"), lostBefore + 1);
        ASSERT_TRUE(reconnectedFirst);
        // The link is back: a question gets its answer over the new pseudo-terminal.
        const auto answers = [&] { return Count(memo.lines, "Number of Console : "); };
        const auto answered = answers();
        protocol.AskNumberOfConsole();
        ASSERT_TRUE(PumpUntil([&] { return answers() > answered; }, 2000));
        if (cycle == 1) connected = Held();
    }
    EXPECT_EQ(disconnections, kCycles);
    ExpectHeld(connected);
    protocol.Disconnect();
    ExpectHeld(unconnected);
    dongle.Stop();
    EXPECT_FALSE(memo.LogLost());
    EXPECT_EQ(FileLines(logPath), memo.lines);
}

// ---- The wired trainer under the driver's link repair -----------------------------------

TEST_F(FaultRun, TheWiredDriverRepairsItsLinkEveryTimeTheTrainerIsUnpluggedAndPluggedInAgain) {
    sim::TPacedClock clock{100000, 50};
    TWatchdog watchdog(std::chrono::seconds(120), "trainer start");
    TLoggedMemo memo(logPath);
    sim::TWiredOptions options;
    options.generation = 6;
    sim::TSimSettings settings;
    settings.clock = &clock;
    settings.linkPath = link;
    sim::TWiredTrainerSimulator trainer(options, settings);
    trainer.Start();

    wired::TVeloxDevice device;
    int restored = 0;
    int cannotOpen = 0;
    int lost = 0;
    device.OnVxdErrorInfo = [&](TComponent*, wired::TVxdErrorType, int32_t code,
                                int32_t occurence) {
        memo.Add(device.ErrorText(code) + " (" + std::to_string(occurence) + ")");
        if (code == wired::vxeRestored) ++restored;
        if (code == wired::vxeCannotOpenPort) ++cannotOpen;
    };
    device.OnConnectionLost = [&](TComponent*) { ++lost; };
    memo.Add("fault run: trainer");  // the log file is open before anything is counted
    device.SetComPortPort(link);
    device.SetComPortConnected(true);
    ASSERT_TRUE(device.Connect(300));
    device.Start();
    ASSERT_TRUE(PumpUntil([&] { return device.ReceivedMessages() > 0; }, 3000));
    const auto connected = Held();

    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        watchdog.Step("trainer cycle " + std::to_string(cycle));
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        // Odd cycles plug it back at once; even ones after a repair failed to open it.
        trainer.Vanish();
        if (cycle % 2 == 1) {
            trainer.Return();
        } else {
            const int before = cannotOpen;
            ASSERT_TRUE(PumpUntil([&] { return cannotOpen > before; }, 10000));
            trainer.Return();
        }
        ASSERT_TRUE(PumpUntil([&] { return restored == cycle; }, 10000));
        ASSERT_EQ(lost, 0);
        ASSERT_TRUE(device.Connected());
        // The link is back: measures come again over the new pseudo-terminal.
        const int32_t received = device.ReceivedMessages();
        ASSERT_TRUE(PumpUntil([&] { return device.ReceivedMessages() > received; }, 20000));
    }
    ExpectHeld(connected);

    device.Stop();
    device.SetComPortConnected(false);
    trainer.Stop();
    EXPECT_FALSE(memo.LogLost());
    EXPECT_EQ(FileLines(logPath), memo.lines);
}

}  // namespace
}  // namespace wct::test
