// SPDX-License-Identifier: Apache-2.0
#include "publish/bench_feed.h"

#include <algorithm>

#include "common/tick_count.h"
#include "device/velox_device_w.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"

namespace wct::publish {
namespace {

constexpr double kKmPerMile = 1.609344;

// The wall-clock time of a tick in the past.
TUtcTime UtcOfTick(uint32_t tick, uint32_t now) {
    return std::chrono::system_clock::now() - std::chrono::milliseconds(now - tick);
}

}  // namespace

TBenchFeed::TBenchFeed(TMiraWirelessProtocol& protocol, TMqttPublisher& publisher)
    : protocol_(protocol), publisher_(publisher) {}

void TBenchFeed::AddRider(TVeloxDeviceW& device) {
    riders_.push_back({&device, device.TimeElapsed()});
}

void TBenchFeed::Poll() {
    const uint32_t now = GetTickCount();
    const std::vector<TMiraConsoleMeasure>& measures = *protocol_.LastMeasure();
    const TMiraConsolesInformation& consoles = protocol_.Consoles();
    if (measureTicks_.size() < measures.size()) measureTicks_.resize(measures.size(), 0);

    // Silence is asked on the feed's own clock: it sends nothing that would tell it. A
    // console's old measures are not handed on, even to a feed started during its silence.
    // A tick of 0 is a console that left: what its entry holds was sent before.
    for (size_t id = 1; id < measures.size() && id < 256; ++id) {
        const TMiraConsoleMeasure& m = measures[id];
        if (m.ConsoleID == 0 || m.MeasureTick == 0 || m.MeasureTick == measureTicks_[id] ||
            protocol_.IsConsoleSilent(static_cast<uint8_t>(id)))
            continue;
        measureTicks_[id] = m.MeasureTick;
        publisher_.PublishMeasures({static_cast<uint8_t>(id), UtcOfTick(m.MeasureTick, now), m.Rpm,
                                    RollSpeedKmh(m.Rpm), m.HeartRate, m.Cadence, m.Keys});
    }

    // What the consoles told of themselves: a field is known once its request was
    // answered, and stays known (the link statistics may be cleared meanwhile).
    const size_t known = std::max(measures.size(), consoles.size());
    if (told_.size() < known) told_.resize(known, 0);
    if (told_.size() > 1 &&
        std::any_of(told_.begin() + 1, told_.end(), [](uint8_t t) { return t != kToldAll; })) {
        for (const TMiraConsoleLinkStats& c : protocol_.LinkReport().consoles) {
            if (c.console == 0 || c.console >= told_.size()) continue;
            for (const TMiraCommandLatency& l : c.latencies) {
                if (l.replies == 0) continue;
                if (l.command == mcVersion) told_[c.console] |= kToldVersion;
                if (l.command == mcSerialNumber) told_[c.console] |= kToldSerial;
                if (l.command == mcFirmware) told_[c.console] |= kToldFirmware;
            }
        }
    }
    for (size_t id = 1; id < known && id < 256; ++id) {
        const bool reported = id < measures.size() && measures[id].ConsoleID != 0;
        const bool recent = reported && measures[id].MeasureTick != 0 &&
                            now - measures[id].MeasureTick < kConnectedMs;
        TConsoleInfoMessage info;
        info.console = static_cast<uint8_t>(id);
        if (id < consoles.size()) {
            const TMiraConsoleInfo& c = consoles[id];
            if (!reported && c.ID == 0 && !c.Connected && c.Serial == 0) continue;
            if (told_[id] & kToldVersion) info.version = c.Version;
            if (told_[id] & kToldSerial) info.serial = c.Serial;
            if (told_[id] & kToldFirmware)
                info.firmware =
                    std::to_string(c.FirmwareMajor) + "." + std::to_string(c.FirmwareMinor);
            info.connected = c.Connected || recent;
        } else if (!reported) {
            continue;
        } else {
            info.connected = recent;
        }
        info.silent = protocol_.IsConsoleSilent(static_cast<uint8_t>(id));
        publisher_.PublishInfo(info);
    }

    for (TRider& rider : riders_) {
        TVeloxDeviceW& d = *rider.device;
        const uint32_t elapsed = d.TimeElapsed();
        if (elapsed == rider.elapsed) continue;
        rider.elapsed = elapsed;
        const char* state = CompetitorStateName(d.CompetitorState());
        // A device shows miles when set so; the feed carries kilometres always.
        const double km = d.UOM() == umMiles ? kKmPerMile : 1;
        publisher_.PublishRide({d.IDConsole(), std::chrono::system_clock::now(), d.Speed() * km,
                                d.Distance() * km, d.Power(), d.Calories(), d.VeloxResistance(),
                                d.HeartRate(), d.Cadence(), state != nullptr ? state : ""});
    }
}

}  // namespace wct::publish
