// SPDX-License-Identifier: Apache-2.0
// Period error of the resistance timer while the line is full: a simulated dongle with
// 32 consoles streams measures at the 115200 bit/s line rate through the component (trace
// on), resistances for all 32 consoles are sent every interval, and each send is timed on
// the main thread (OnBeforeSendResistance). The error is each period's distance from
// the interval.
//
//   timer_bench [SECONDS] [INTERVAL_MS]   (default 60 s at 200 ms)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wireless_protocol.h"
#include "sim/dongle_simulator.h"
#include "support/counting_memo.h"

using namespace wct;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kConsoles = 32;

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int intervalMs = argc > 2 ? std::max(10, std::atoi(argv[2])) : 200;
    TPlainMainThread mainThread;
    SetMainThread(&mainThread);

    sim::TDongleOptions options;
    for (int id = 1; id <= kConsoles; ++id) options.consoles.push_back(sim::DefaultConsole(id));
    options.joinDelayMs = 20;
    options.measureRate = 36;  // 32 x 36 frames of 110 bits: a little over the line
    sim::TDongleSimulator dongle(options);
    dongle.Start();

    bench::TCountingMemo memo;
    TMiraWirelessProtocol protocol;
    protocol.SetDebugMemo(&memo);
    protocol.SetPortDef(dongle.PortPath());
    if (!protocol.FindDongle()) {
        std::printf("no dongle\n");
        return 1;
    }
    protocol.OpenRegistration();
    const uint32_t joinStart = GetTickCount();
    while (protocol.NumberOfConsole() < kConsoles && GetTickCount() - joinStart < 10000)
        mainThread.ProcessMessages();
    protocol.CloseRegistration();
    const int joined = protocol.NumberOfConsole();
    long measures = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++measures; };
    protocol.SetMeasure(true);
    for (int id = 1; id <= kConsoles; ++id) protocol.SetConsoleResistance(id, 10, 0, 0);

    std::vector<Clock::time_point> sends;
    sends.reserve(static_cast<size_t>(seconds * 1000 / intervalMs + 10));
    protocol.OnBeforeSendResistance = [&] { sends.push_back(Clock::now()); };
    protocol.SetResistanceInterval(static_cast<uint32_t>(intervalMs));
    protocol.StartResistanceSending();
    TMiraWirelessProtocol::WaitWithMessages(static_cast<uint32_t>(seconds) * 1000);
    protocol.StopResistanceSending();
    protocol.SetMeasure(false);
    protocol.Disconnect();
    dongle.Stop();

    std::vector<double> errorMs;
    double drift = 0;
    for (size_t i = 1; i < sends.size(); ++i) {
        const double period =
            std::chrono::duration<double, std::milli>(sends[i] - sends[i - 1]).count();
        errorMs.push_back(std::abs(period - intervalMs));
        drift += period - intervalMs;
    }
    std::printf("consoles %d, measures frames %ld (%.0f/s), interval %d ms, %zu periods\n", joined,
                measures, measures / static_cast<double>(seconds), intervalMs, errorMs.size());
    if (errorMs.empty()) return 1;
    std::sort(errorMs.begin(), errorMs.end());
    auto at = [&](double q) { return errorMs[static_cast<size_t>(q * (errorMs.size() - 1))]; };
    std::printf(
        "period error: median %.2f ms, p99 %.2f ms, max %.2f ms, mean signed %+.3f ms "
        "(target p99: 5 ms)\n",
        at(0.5), at(0.99), errorMs.back(), drift / errorMs.size());
    SetMainThread(nullptr);
    return 0;
}
