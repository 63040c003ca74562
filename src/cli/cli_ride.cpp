#include "cli/cli_ride.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "device/velox_device_w.h"

namespace wct::cli {
namespace {

// The rider device as the main window sets its own up.
void ConfigureAsTheMainWindow(TVeloxDeviceW& device, TMiraWirelessProtocol& protocol,
                              TResistanceMap& map) {
    device.SetUOM(umKm);
    device.SetBikeWeight(10);
    device.SetTimerStatsEnabled(false);
    device.SetTimerStatsInterval(1000);
    device.SetTimeToleranceMs(100);
    device.SetWirelessUSB(&protocol);
    device.SetHrArrayLength(0);
    device.SetCadenceArrayLength(5);
    device.SetSpeedArrayLength(5);
    device.SetRollDiameter(45);
    device.SetInitialResistance(0);
    device.SetSecurityActive(false);
    device.SetHighPowerReduceCoefficient(1);
    device.SetHighPowerReduceStartSpeed(7);
    device.SetHighPowerReduceCoefficientMinimum(0.25);
    device.SetResistanceReducer(1);
    device.SetPrecisionSpeed(8);
    device.SetPrecisionDistance(8);
    device.SetTolerance(2);
    device.SetResistanceMapAdapter(1);
    device.SetResistanceMap(&map);
    device.SetVirtualSpeedEnabled(true);
    device.SetVirtualSpeedAttenuation(1);
    device.SetCalibration(1);
    device.SetRecoverConnection(true);
    device.SetRecoverConnectionTime(0);
}

}  // namespace

TRideOptions ParseRideOptions(const std::vector<std::string>& args) {
    TRideOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw EUsage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--seconds") {
            o.seconds = ParseNumber(value(), arg, 0, 24 * 3600);
        } else if (arg == "--slope") {
            const std::string& text = value();
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), o.slope);
            if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
                std::fabs(o.slope) > 100)
                throw EUsage(arg + ": '" + text + "' is not a slope from -100 to 100 percent");
        } else if (arg == "--weight") {
            o.weight = ParseNumber(value(), arg, 0, 500);
        } else if (arg == "--max-hr") {
            o.maxHeartRate = ParseNumber(value(), arg, 35, 255);
        } else if (arg == "--csv") {
            o.csv = true;
        } else {
            throw EUsage(std::string("ride takes no ") +
                         (arg.rfind("--", 0) == 0 ? "option " : "argument ") + arg);
        }
    }
    return o;
}

int RunRide(const TRideOptions& o, std::optional<int> waitMs, TMiraWirelessProtocol& protocol,
            std::ostream& out, std::ostream& err, const volatile bool* interrupted) {
    TResistanceMap map;
    map.SetText(ShippedResistanceMapText());
    map.LoadMap();
    TVeloxDeviceW device;
    ConfigureAsTheMainWindow(device, protocol, map);
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
            if (heartCut)
                err << "wct: heart rate " << device.HeartRate() << " is above " << o.maxHeartRate
                    << ": the brake is off until it is back at "
                    << o.maxHeartRate - TVeloxDeviceW::kHeartCutHysteresis << std::endl;
            else
                err << "wct: heart rate " << device.HeartRate()
                    << ": the brake follows the map again" << std::endl;
        }
        char figures[64];
        std::snprintf(figures, sizeof figures, "%.2f%c%.3f", device.Speed(), sep,
                      device.Distance());
        const char* state = CompetitorStateName(device.CompetitorState());
        out << GetTickCount() - start << sep << int(device.IDConsole()) << sep << figures << sep
            << device.Cadence() << sep << device.HeartRate() << sep << device.Power() << sep
            << device.Calories() << sep << device.VeloxResistance() << sep
            << (state != nullptr ? state : "csUnknown") << std::endl;
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
    if (lost) {
        err << "wct: console " << console << " was lost and did not come back\n";
        return exFailed;
    }
    return exDone;
}

}  // namespace wct::cli
