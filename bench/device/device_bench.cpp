// SPDX-License-Identifier: Apache-2.0
// Two figures of the rider-device layer:
// - a ResistanceForPower lookup on the shipped map, over speeds and powers across the map;
// - one statistics step of 32 wireless rider devices on one protocol component, each
//   closing its resistance loop, against the dongle simulator with 32 consoles streaming
//   measures: the main-thread time the 32 steps take together.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "common/main_thread.h"
#include "common/tick_count.h"
#include "device/velox_device_w.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"

using namespace wct;
using Clock = std::chrono::steady_clock;

namespace {

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void LookupBench(TResistanceMap& map) {
    TVeloxDeviceW device;
    device.SetResistanceMap(&map);
    device.SetTrainerVersion(4);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> speed(0.5, 95);
    std::uniform_int_distribution<int> power(0, 1200);
    constexpr int kLookups = 2000000;
    std::vector<std::pair<double, int>> points(4096);
    for (auto& p : points) p = {speed(random), power(random)};
    long checksum = 0;
    const auto start = Clock::now();
    for (int i = 0; i < kLookups; ++i) {
        const auto& [v, p] = points[static_cast<size_t>(i) & 4095];
        checksum += device.ResistanceForPower(p, nullptr, v);
    }
    const double us = Microseconds(Clock::now() - start) / kLookups;
    std::printf("ResistanceForPower: %.3f us per lookup over %d lookups (checksum %ld)\n", us,
                kLookups, checksum);
    std::printf("  target under 2 us: %s\n", us < 2 ? "met" : "NOT met");
}

void StepBench(TResistanceMap& map) {
    constexpr int kDevices = 32;
    // The searches and roll starts wait seconds of tick time each: let them pass in
    // virtual time. The steps themselves are timed on the real clock.
    TScopedVirtualClock ticks(1000, 10);
    SetPortSource([] { return std::vector<std::string>{}; });
    sim::TDongleOptions options;
    options.joinDelayMs = 2;
    options.measureRate = 4;
    for (int id = 1; id <= kDevices; ++id)
        options.consoles.push_back(sim::DefaultConsole(static_cast<uint8_t>(id)));
    sim::TDongleSimulator dongle(options);
    dongle.Start();

    TMiraWirelessProtocol protocol;
    protocol.SetPortDef(dongle.PortPath());
    if (!protocol.FindDongle()) {
        std::printf("no dongle: the step benchmark did not run\n");
        return;
    }
    std::vector<std::unique_ptr<TVeloxDeviceW>> devices;
    for (int i = 0; i < kDevices; ++i) {
        auto device = std::make_unique<TVeloxDeviceW>();
        device->SetWirelessUSB(&protocol);
        device->SetResistanceMap(&map);
        device->SetRiderWeight(75);
        device->SetTimerStatsInterval(3600000);  // stepped by hand below
        if (!device->Connect()) {
            std::printf("console %d did not join: the step benchmark did not run\n", i + 1);
            return;
        }
        TVeloxDeviceW* d = device.get();
        d->OnStats = [d](TComponent*) {
            d->SetVeloxResistance(d->ResistanceForPower(d->Power(), nullptr, d->Speed()));
        };
        devices.push_back(std::move(device));
    }
    for (auto& device : devices) device->Start();

    constexpr int kSteps = 200;
    std::vector<double> stepUs;
    for (int step = 0; step < kSteps; ++step) {
        // Measures arrive between steps, as they do between timer ticks.
        const uint32_t until = GetTickCount() + 20;
        while (GetTickCount() < until) MainThread().ProcessMessagesFor(5);
        const auto start = Clock::now();
        for (auto& device : devices) device->TimerStats().TickNow();
        stepUs.push_back(Microseconds(Clock::now() - start));
    }
    std::sort(stepUs.begin(), stepUs.end());
    const double median = stepUs[stepUs.size() / 2];
    const double p99 = stepUs[stepUs.size() * 99 / 100];
    std::printf(
        "statistics step of %d devices: median %.1f us, 99th percentile %.1f us, "
        "max %.1f us (%d steps)\n",
        kDevices, median, p99, stepUs.back(), kSteps);
    std::printf("  target under 1 ms: %s\n", p99 < 1000 ? "met" : "NOT met");
    const auto riding =
        std::count_if(devices.begin(), devices.end(), [](const auto& d) { return d->Speed() > 0; });
    std::printf("  devices with a speed at the end: %ld of %d\n", static_cast<long>(riding),
                kDevices);
    for (auto& device : devices) {
        device->OnStats = nullptr;
        device->SetTimerStatsEnabled(false);
    }
    protocol.StopResistanceSending();
    SetPortSource(nullptr);
}

}  // namespace

int main() {
    TPlainMainThread mainThread;
    SetMainThread(&mainThread);
    TResistanceMap map;
    map.SetText(ShippedResistanceMapText());
    map.LoadMap();
    LookupBench(map);
    StepBench(map);
    SetMainThread(nullptr);
}
