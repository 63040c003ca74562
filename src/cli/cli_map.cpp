#include "cli/cli_map.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "common/emnox.h"
#include "device/velox_device_w.h"

namespace wct::cli {
void DeclareMapOptions(TCommand& map, TMapOptions& o) {
    map.Option("--file", "MAP", "a map in its stored text form instead of the window's",
               Text(o.file))
        .Option("--version", "X",
                "the trainer version a console reports; without it no low-speed cap applies",
                Decimal(o.version))
        .Option("--calibration", "C", "calibration factor (1)", Decimal(o.calibration))
        .Option("--reducer", "R", "resistance reducer (1)", Decimal(o.reducer))
        .Flag("--miles", o.miles, "speeds in mph")
        .Option("--speed", "V", "the speed of the one point", Decimal(o.speed))
        .Option("--power", "P", "the power of the one point, whole watts",
                Number(o.power, -1000000, 1000000))
        .Check([&o] {
            if (o.speed.has_value() != o.power.has_value())
                throw EUsage("map needs --speed and --power together (or neither, to read stdin)");
        });
}

int RunMap(const TMapOptions& o, std::istream& in, std::ostream& out, std::ostream& err) {
    TResistanceMap map;
    if (o.file) {
        std::ifstream file(*o.file, std::ios::binary);
        if (!file) {
            err << "wct: cannot read the map file " << *o.file << '\n';
            return exUsage;
        }
        std::stringstream text;
        text << file.rdbuf();
        map.SetText(text.str());
    } else {
        map.SetText(ShippedResistanceMapText());
    }
    try {
        map.LoadMap();
    } catch (const EMNox& e) {
        err << "wct: " << e.what() << '\n';
        return exUsage;
    }
    TVeloxDeviceW device;
    device.SetResistanceMap(&map);
    if (o.version) device.SetTrainerVersion(*o.version);
    device.SetCalibration(o.calibration);
    device.SetResistanceReducer(o.reducer);
    device.SetUOM(o.miles ? umMiles : umKm);
    // A roll does not turn backwards, nor does a rider give power to it.
    const auto refused = [&](double speed, int power) -> std::optional<std::string> {
        if (speed < 0) return "a speed below 0 has no resistance level";
        if (power < 0) return "a power below 0 W has no resistance level";
        return std::nullopt;
    };
    if (o.speed) {
        if (const auto why = refused(*o.speed, *o.power)) {
            err << "wct: map --speed " << *o.speed << " --power " << *o.power << ": " << *why
                << '\n';
            return exUsage;
        }
    }
    const auto answer = [&](double speed, int power) {
        device.SetPowerToShow(0);  // each answer on its own: a standing roll shows 0
        const int32_t level = device.ResistanceForPower(power, nullptr, speed);
        out << level << ' ' << device.PowerToShow() << '\n';
    };
    if (o.speed) {
        try {
            answer(*o.speed, *o.power);
        } catch (const std::exception& e) {
            err << "wct: " << e.what() << '\n';
            return exFailed;
        }
        return exDone;
    }
    int failed = 0;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        std::istringstream fields(line);
        std::string speedText, powerText, extra;
        if (!(fields >> speedText)) continue;  // blank line
        fields >> powerText;
        const auto speed = ReadDecimal(speedText);
        int power = 0;
        const auto [end, error] =
            std::from_chars(powerText.data(), powerText.data() + powerText.size(), power);
        const bool powerRead = !powerText.empty() && error == std::errc() &&
                               end == powerText.data() + powerText.size();
        if (!speed || !powerRead || (fields >> extra)) {
            err << "wct: line " << lineNo << ": '" << line
                << "' is not \"speed power\" (km/h or mph, whole watts)\n";
            ++failed;
            continue;
        }
        if (const auto why = refused(*speed, power)) {
            err << "wct: line " << lineNo << ": " << *why << '\n';
            ++failed;
            continue;
        }
        try {
            answer(*speed, power);
        } catch (const std::exception& e) {
            err << "wct: line " << lineNo << ": " << e.what() << '\n';
            ++failed;
        }
    }
    return failed == 0 ? exDone : exFailed;
}

}  // namespace wct::cli
