// SPDX-License-Identifier: Apache-2.0
// The protocol component against the dongle simulator, over a real pseudo-terminal, in
// virtual time: every idle turn of the main thread moves the clock a few milliseconds,
// and the simulator runs on the same clock, which waits for it however busy the machine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/delay_with_messages.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "common/hex.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"
#include "sim/sim_clock.h"

namespace wct::test {

// Collects the simulator's log lines (written on its thread).
class TSimLog {
public:
    sim::TLogSink Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    // Every byte the simulator wrote to the line, in order (garbage and splits included).
    std::string Written() {
        std::lock_guard lock(mutex_);
        std::string hex;
        for (const std::string& line : lines_)
            if (line.rfind("-> ", 0) == 0) hex += line.substr(3);
        return HexToBytes(hex);
    }
    bool Contains(const std::string& text) {
        std::lock_guard lock(mutex_);
        return std::any_of(lines_.begin(), lines_.end(),
                           [&](const std::string& l) { return l.find(text) != l.npos; });
    }

private:
    std::mutex mutex_;  // protects lines_
    std::vector<std::string> lines_;
};

inline sim::TDongleOptions ThreeConsoles() {
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 3; ++id) options.consoles.push_back(sim::DefaultConsole(id));
    options.consoles[2].memory[0x10] = 0xAA;
    options.consoles[2].memory[0x11] = 0x55;
    options.consoles[1].testAnswers[0x19] = sim::TTestAnswer::Nack;
    options.consoles[1].testAnswers[0x17] = sim::TTestAnswer::None;
    options.joinDelayMs = 100;
    return options;
}

// Whole measures frames on the line: start byte, consistent length, stop byte.
inline int CountSentMeasures(const std::string& line) {
    int sent = 0;
    for (size_t at = 0; at + 4 <= line.size();) {
        const size_t length = static_cast<uint8_t>(line[at + 3]) + kFrameOverhead;
        if (line[at] == '\x3E' && line[at + 1] == '\x01' && at + length <= line.size() &&
            IsValidFrame(line.substr(at, length))) {
            ++sent;
            at += length;
        } else {
            ++at;
        }
    }
    return sent;
}

class ProtocolSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([] { return std::vector<std::string>{}; });
        protocol.SetDebugMemo(&memo);
    }
    void TearDown() override { SetPortSource(nullptr); }

    void StartSimulator(sim::TDongleOptions options = ThreeConsoles()) {
        sim::TSimSettings settings;
        settings.log = simLog.Sink();
        settings.clock = &clock;
        simulator = std::make_unique<sim::TDongleSimulator>(std::move(options), settings);
        simulator->Start();
        protocol.SetPortDef(simulator->PortPath());
    }

    void Connect() {
        StartSimulator();
        ASSERT_TRUE(protocol.FindDongle());
    }

    // Opens registration and waits until `count` consoles joined.
    void Register(int count) {
        protocol.OpenRegistration();
        PumpUntil([&] {
            return protocol.NumberOfConsole() >= count &&
                   protocol.IsConsoleConnected(static_cast<uint8_t>(count));
        });
        protocol.CloseRegistration();
    }

    template <typename Pred>
    bool PumpUntil(Pred done, uint32_t ms = 20000) {
        return ServeUntil(done, ms, 1);
    }

    bool Traced(const std::string& text) const {
        return std::any_of(memo.lines.begin(), memo.lines.end(),
                           [&](const std::string& l) { return l.find(text) != l.npos; });
    }

    sim::TPacedClock clock{100000, 2};
    TSimLog simLog;
    std::unique_ptr<sim::TDongleSimulator> simulator;
    TStringsMemo memo;
    TMiraWirelessProtocol protocol;
};

}  // namespace wct::test
