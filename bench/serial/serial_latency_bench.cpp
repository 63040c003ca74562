// SPDX-License-Identifier: Apache-2.0
// Latency from the pty master to a bound framer's OnPacket, and the event thread's CPU
// cost, with 115200 bit/s worth of protocol-sized frames. Prints the figures.
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/main_thread.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"
#include "serial/com_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

// Nanoseconds the thread has spent on a CPU (first field of schedstat).
long long CpuNanoseconds(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    long long ns = 0;
    file >> ns;
    return ns;
}

}  // namespace

int main() {
    wct::TPlainMainThread dispatcher;
    wct::SetMainThread(&dispatcher);

    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    ::close(slave);

    constexpr int kFrames = 3000;
    constexpr int kFrameBytes = 10;  // the size of a short measures frame
    constexpr double kBytesPerSecond = 115200.0 / 10.0;
    const auto interval = std::chrono::duration<double>(kFrameBytes / kBytesPerSecond);

    std::vector<Clock::time_point> sent(kFrames);
    std::vector<double> latencyUs;
    latencyUs.reserve(kFrames);
    {
        wct::TComPort port;
        port.SetPort(name);
        port.SetBaudRate(wct::br115200);
        port.SetEvents({wct::evRxChar, wct::evRxFlag});
        wct::TComDataPacket framer;
        framer.SetStartString("\x3E");
        framer.SetStopString("\x21");
        framer.SetIncludeStrings(true);
        framer.SetComPort(&port);
        framer.OnPacket = [&](wct::TComponent*, const std::string& packet) {
            const auto now = Clock::now();
            const int seq =
                static_cast<unsigned char>(packet[2]) << 8 | static_cast<unsigned char>(packet[3]);
            if (seq < kFrames)
                latencyUs.push_back(
                    std::chrono::duration<double, std::micro>(now - sent[static_cast<size_t>(seq)])
                        .count());
        };
        port.Open();
        while (port.EventThread()->ThreadId() == 0) std::this_thread::yield();
        const pid_t tid = port.EventThread()->ThreadId();

        std::atomic<bool> writing{true};
        const long long cpuBefore = CpuNanoseconds(tid);
        const auto start = Clock::now();
        std::thread writer([&] {
            for (int i = 0; i < kFrames; ++i) {
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<Clock::duration>(interval * i));
                std::string frame(kFrameBytes, '\x55');
                frame[0] = '\x3E';
                frame[1] = '\x01';
                frame[2] = static_cast<char>(i >> 8);
                frame[3] = static_cast<char>(i & 0xFF);
                frame[kFrameBytes - 1] = '\x21';
                sent[static_cast<size_t>(i)] = Clock::now();
                if (::write(master, frame.data(), frame.size()) != kFrameBytes) break;
            }
            writing = false;
        });
        while (writing || latencyUs.size() < static_cast<size_t>(kFrames)) {
            dispatcher.ProcessMessages();
            if (!writing && Clock::now() - start > interval * kFrames + std::chrono::seconds(2))
                break;
        }
        writer.join();
        const double wallNs =
            std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        const long long cpuNs = CpuNanoseconds(tid) - cpuBefore;
        port.Close();

        std::sort(latencyUs.begin(), latencyUs.end());
        auto at = [&](double q) {
            return latencyUs[static_cast<size_t>(q * (latencyUs.size() - 1))];
        };
        std::printf("frames sent %d, received %zu, %d bytes each, %.0f bytes/s\n", kFrames,
                    latencyUs.size(), kFrameBytes, kBytesPerSecond);
        if (!latencyUs.empty())
            std::printf(
                "latency master->OnPacket: median %.1f us, p90 %.1f us, p99 %.1f us, max %.1f us\n",
                at(0.5), at(0.9), at(0.99), latencyUs.back());
        std::printf("event thread CPU: %.3f%% of one core over %.2f s\n", 100.0 * cpuNs / wallNs,
                    wallNs / 1e9);
    }
    ::close(master);
    wct::SetMainThread(nullptr);
    return 0;
}
