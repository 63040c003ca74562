// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_map.h"

#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "common/emnox.h"
#include "common/number_text.h"
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

namespace {

// A roll does not turn backwards, nor does a rider give power to it.
std::optional<std::string> Refused(double speed, int power) {
    if (speed < 0) return "a speed below 0 has no resistance level";
    if (power < 0) return "a power below 0 W has no resistance level";
    return std::nullopt;
}

// "LEVEL POWER_TO_SHOW" for one point.
void Answer(TVeloxDeviceW& device, double speed, int power, std::ostream& out) {
    device.SetPowerToShow(0);  // each answer on its own: a standing roll shows 0
    const int32_t level = device.ResistanceForPower(power, nullptr, speed);
    out << level << ' ' << device.PowerToShow() << '\n';
}

// The map file's text, or the shipped map's; false when the file cannot be read.
bool SetMapText(const TMapOptions& o, TResistanceMap& map, std::ostream& err) {
    if (!o.file) {
        map.SetText(ShippedResistanceMapText());
        return true;
    }
    std::ifstream file(*o.file, std::ios::binary);
    if (!file) {
        err << "wct: cannot read the map file " << *o.file << '\n';
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    map.SetText(text.str());
    return true;
}

// One answer per "speed power" line of `in`; the lines refused are told on `err`.
int AnswerLines(TVeloxDeviceW& device, std::istream& in, std::ostream& out, std::ostream& err) {
    int failed = 0;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        std::istringstream fields(line);
        std::string speedText, powerText, extra;
        if (!(fields >> speedText)) continue;  // blank line
        fields >> powerText;
        const auto speed = ReadDecimal(speedText);
        const std::optional<int> power = ReadNumber<int>(powerText);
        if (!speed || !power || (fields >> extra)) {
            err << "wct: line " << lineNo << ": '" << line
                << "' is not \"speed power\" (km/h or mph, whole watts)\n";
            ++failed;
            continue;
        }
        if (const auto why = Refused(*speed, *power)) {
            err << "wct: line " << lineNo << ": " << *why << '\n';
            ++failed;
            continue;
        }
        try {
            Answer(device, *speed, *power, out);
        } catch (const std::exception& e) {
            err << "wct: line " << lineNo << ": " << e.what() << '\n';
            ++failed;
        }
    }
    return failed == 0 ? exDone : exFailed;
}

}  // namespace

int RunMap(const TMapOptions& o, std::istream& in, std::ostream& out, std::ostream& err) {
    TResistanceMap map;
    if (!SetMapText(o, map, err)) return exUsage;
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
    if (!o.speed) return AnswerLines(device, in, out, err);
    if (const auto why = Refused(*o.speed, *o.power)) {
        err << "wct: map --speed " << *o.speed << " --power " << *o.power << ": " << *why << '\n';
        return exUsage;
    }
    try {
        Answer(device, *o.speed, *o.power, out);
    } catch (const std::exception& e) {
        err << "wct: " << e.what() << '\n';
        return exFailed;
    }
    return exDone;
}

}  // namespace wct::cli
