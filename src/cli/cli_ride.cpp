// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_ride.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "device/velox_device_w.h"
#include "testbench/testbench.h"

namespace wct::cli {

void DeclareRideOptions(TCommand& ride, TRideOptions& o) {
    ride.Option("--seconds", "S", "how long (10)", Number(o.seconds, 0, 24 * 3600))
        .Option("--slope", "PCT", "the slope ridden, in percent",
                [&o](const std::string& name, const std::string& value) {
                    const std::optional<double> slope = ReadDecimal(value);
                    if (!slope || std::fabs(*slope) > 100)
                        throw EUsage(name + ": '" + value +
                                     "' is not a slope from -100 to 100 percent");
                    o.slope = *slope;
                })
        .Option("--weight", "KG", "the rider's weight", Number(o.weight, 0, 500))
        .Flag("--csv", o.csv, "comma-separated, with a header line");
    MaxHeartRate(ride, o.maxHeartRate);
}

namespace {

// One line of the ride: time ms, console, speed, distance, cadence, heart rate, power,
// calories, resistance and state.
void PrintStep(TVeloxDeviceW& device, uint32_t ms, char sep, std::ostream& out) {
    char figures[64];
    std::snprintf(figures, sizeof figures, "%.2f%c%.3f", device.Speed(), sep, device.Distance());
    const char* state = CompetitorStateName(device.CompetitorState());
    out << ms << sep << int(device.IDConsole()) << sep << figures << sep << device.Cadence() << sep
        << device.HeartRate() << sep << device.Power() << sep << device.Calories() << sep
        << device.VeloxResistance() << sep << (state != nullptr ? state : "csUnknown") << std::endl;
}

}  // namespace

int RunRide(const TRideOptions& o, std::optional<int> waitMs, testbench::TTestBench& bench,
            std::ostream& out, std::ostream& err, const volatile bool* interrupted) {
    TMiraWirelessProtocol& protocol = bench.Protocol();
    bench.ResistanceMap().LoadMap();
    // The bench's rider device, as the window has it; its handlers are this ride's.
    TVeloxDeviceW& device = bench.RiderDevice();
    const auto release = [&device] {
        device.OnStats = nullptr;
        device.OnDisconnected = nullptr;
        device.TimerStats().OnTickError = nullptr;
    };
    device.SetRiderWeight(o.weight);
    device.SetCurrentSlope(o.slope);
    device.SetAlarmHeartMaxLimit(o.maxHeartRate);

    if (waitMs) protocol.SetTimeToWaitAddNewConsole(*waitMs);
    protocol.OpenRegistration();
    if (!device.Connect()) {
        protocol.CloseRegistration();
        err << "wct: no console joined within " << protocol.TimeToWaitAddNewConsole() << " ms\n";
        return exFailed;
    }

    uint32_t start = 0;
    const char sep = o.csv ? ',' : ' ';
    if (o.csv)
        out << "time_ms,console,speed_kmh,distance_km,cadence,heart_rate,power_w,calories,"
               "resistance,state\n";
    bool heartCut = false;
    int steps = 0;
    uint32_t lastStep = 0;
    device.OnStats = [&](TComponent*) {
        ++steps;
        lastStep = GetTickCount();
        // The loop the device test window closes: the level that makes the ride model's
        // power at this speed. During a heart cut the device keeps the brake off.
        device.SetVeloxResistance(
            device.ResistanceForPower(device.Power(), nullptr, device.Speed()));
        if (device.HeartCut() != heartCut) {
            heartCut = device.HeartCut();
            TellHeartCut(err, *device.HeartRule());
        }
        PrintStep(device, GetTickCount() - start, sep, out);
    };
    // A loop that cannot answer (the map, a handler) leaves the brake at its last level:
    // the rider is told once for each kind of failure.
    device.TimerStats().OnTickError = [&err](const std::string& what) {
        err << "wct: a statistics step failed, the brake keeps its level: " << what << std::endl;
    };
    bool ending = false;
    bool lost = false;
    device.OnDisconnected = [&](TComponent*) {
        if (!ending) lost = true;
    };

    device.Start();
    start = GetTickCount();
    lastStep = start;
    // A ride of S seconds is S statistics steps, one line each; steps come a little later
    // than every second, so the clock alone would cut the last one off. A step that does
    // not come for several intervals ends the ride all the same.
    const uint32_t stepWaitMs = 5 * device.TimerStatsInterval();
    while (steps < o.seconds && !lost && !(interrupted && *interrupted) &&
           GetTickCount() - lastStep < stepWaitMs)
        MainThread().ProcessMessagesFor(100);

    ending = true;
    device.OnStats = nullptr;
    if (device.CompetitorState() == csStarted) device.Stop();
    const int console = device.IDConsole();
    device.Disconnect();
    release();
    if (lost) {
        err << "wct: console " << console << " was lost and did not come back\n";
        return exFailed;
    }
    return exDone;
}

}  // namespace wct::cli
