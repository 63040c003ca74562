// SPDX-License-Identifier: Apache-2.0
// Latency from a measures frame's bytes on the wire to OnMeasuresReceived: this program
// plays the dongle on a pseudo-terminal master (it answers the version request so that
// the component connects), then writes measures frames from 32 consoles paced at the
// 115200 bit/s line rate, each carrying its sequence number as the roll rpm, and times
// each from just before its write to the event. The trace is on, as in the window.
//
//   latency_bench [FRAMES]   (default 20000, about 17 s)
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/main_thread.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "support/counting_memo.h"

using namespace wct;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kConsoles = 32;
constexpr int kFrameBytes = 11;  // 3E 01 ID 05, five payload bytes, 00 21
constexpr double kBytesPerSecond = 115200.0 / 10;

std::string Frame(uint8_t code, uint8_t id, const std::string& payload) {
    return std::string{'\x3E', static_cast<char>(code), static_cast<char>(id),
                       static_cast<char>(payload.size())} +
           payload + std::string{'\0', '\x21'};
}

// Counts the trace lines instead of keeping them.
}  // namespace

int main(int argc, char** argv) {
    const int frames = std::clamp(argc > 1 ? std::atoi(argv[1]) : 20000, 100, 65535);
    TPlainMainThread mainThread;
    SetMainThread(&mainThread);

    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    close(slave);

    // The dongle's side of the handshake: every version request gets version 0x78.
    std::atomic<bool> stop{false};
    std::thread answerer([&] {
        std::string pending;
        while (!stop) {
            pollfd fd{master, POLLIN, 0};
            if (poll(&fd, 1, 50) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) continue;
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t at; (at = pending.find("\x3E\x0A")) != std::string::npos;) {
                pending.erase(0, at + 2);
                const std::string reply = Frame(0x0A, 0, "\x78");
                if (write(master, reply.data(), reply.size()) < 0) break;
            }
            if (pending.size() > 64) pending.erase(0, pending.size() - 2);
        }
    });

    bench::TCountingMemo memo;
    TMiraWirelessProtocol protocol;
    protocol.SetDebugMemo(&memo);
    protocol.SetPortDef(name);
    std::vector<Clock::time_point> sent(static_cast<size_t>(frames));
    std::vector<double> latencyUs;
    latencyUs.reserve(static_cast<size_t>(frames));
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures& m, uint8_t id) {
        const auto now = Clock::now();
        const size_t seq = (*m)[id].Rpm;
        if (seq < sent.size())
            latencyUs.push_back(std::chrono::duration<double, std::micro>(now - sent[seq]).count());
    };
    if (!protocol.FindDongle()) {
        std::printf("the component did not connect to %s\n", name);
        stop = true;
        answerer.join();
        return 1;
    }

    const auto interval = std::chrono::duration<double>(kFrameBytes / kBytesPerSecond);
    std::atomic<bool> writing{true};
    const auto start = Clock::now() + std::chrono::milliseconds(100);
    std::thread writer([&] {
        for (int i = 0; i < frames; ++i) {
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(interval * i));
            const auto id = static_cast<uint8_t>(1 + i % kConsoles);
            const std::string frame =
                Frame(0x01, id, {static_cast<char>(i >> 8), static_cast<char>(i), 70, 80, 0});
            sent[static_cast<size_t>(i)] = Clock::now();
            if (write(master, frame.data(), frame.size()) != kFrameBytes) break;
        }
        writing = false;
    });
    const auto deadline = start + interval * frames + std::chrono::seconds(2);
    while ((writing || latencyUs.size() < static_cast<size_t>(frames)) && Clock::now() < deadline)
        mainThread.ProcessMessages();
    writer.join();
    protocol.Disconnect();
    stop = true;
    answerer.join();
    close(master);

    std::sort(latencyUs.begin(), latencyUs.end());
    auto at = [&](double q) { return latencyUs[static_cast<size_t>(q * (latencyUs.size() - 1))]; };
    std::printf("frames written %d at %.0f frames/s, events %zu, trace lines %ld\n", frames,
                kBytesPerSecond / kFrameBytes, latencyUs.size(), memo.lines);
    if (!latencyUs.empty())
        std::printf(
            "wire -> OnMeasuresReceived: median %.0f us, p90 %.0f us, p99 %.0f us, max %.0f "
            "us (target p99: 2000 us)\n",
            at(0.5), at(0.9), at(0.99), latencyUs.back());
    SetMainThread(nullptr);
    return latencyUs.size() == static_cast<size_t>(frames) ? 0 : 1;
}
