// SPDX-License-Identifier: Apache-2.0
// Decoding one long measures frame and running its measures step (speed sample, roll
// increment, cadence and heart periods) on a riding generation-5 driver.
#include <benchmark/benchmark.h>

#include <string>

#include "common/main_thread.h"
#include "wired/velox_device.h"

namespace {

using namespace wct;

std::string LongMeasures(unsigned roll, unsigned pedal, unsigned heart) {
    const unsigned bytes[] = {0xF0,       0x01,         0x00,       roll >> 8,    roll & 0xFF,
                              pedal >> 8, pedal & 0xFF, heart >> 8, heart & 0xFF, 0xF7};
    std::string frame;
    for (unsigned b : bytes) frame += static_cast<char>(b);
    return frame;
}

void BM_ParseLongMeasures(benchmark::State& state) {
    TPlainMainThread mainThread;
    SetMainThread(&mainThread);
    {
        wired::TVeloxDevice device;
        device.SetConnectionSurvey(false);
        device.SetVersion(5);
        device.SetConnected(true);
        device.Start();
        // Alternating heart periods, so that each frame runs the heart filter too.
        const std::string frames[] = {LongMeasures(535, 650, 500), LongMeasures(540, 660, 510)};
        size_t i = 0;
        for (auto _ : state) benchmark::DoNotOptimize(device.ParseMessage(frames[i++ & 1]));
        device.Stop();
    }
    SetMainThread(nullptr);
}
BENCHMARK(BM_ParseLongMeasures);

}  // namespace

BENCHMARK_MAIN();
