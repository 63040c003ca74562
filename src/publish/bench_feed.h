// SPDX-License-Identifier: Apache-2.0
// TBenchFeed: what the bench knows, handed to the publisher. On each Poll (main thread,
// every few tens of milliseconds) it reads the protocol component's measures and console
// tables and the statistics of the rider devices it was given, and hands on what changed:
// each console's newest measures, its data when they change, and each new statistics step
// of a rider, in kilometres whatever unit the device shows. A console's version, serial
// and firmware are handed on once it answered their request, never a value in their place;
// measures are handed on once each, never again after the console left. Reading the tables
// rather than taking over the components' events leaves those to the window and the
// commands that own them; a poll costs a few microseconds.
//
// A console that fell silent (IsConsoleSilent: no measures for longer than its silence
// bound) has its info say so ("silent"), and its last measures are not handed on, not even
// to a feed that starts during the silence; its next measures end the silence.
#pragma once

#include <cstdint>
#include <vector>

#include "publish/mqtt_publisher.h"

namespace wct {
class TMiraWirelessProtocol;
class TVeloxDeviceW;
}  // namespace wct

namespace wct::publish {

class TBenchFeed {
public:
    // Both must outlive the feed.
    TBenchFeed(TMiraWirelessProtocol& protocol, TMqttPublisher& publisher);

    // A rider device whose statistics steps are published; it must outlive the feed.
    void AddRider(TVeloxDeviceW& device);
    // Main thread.
    void Poll();

    // A console counts as connected while it joined the network or its measures came
    // within this time.
    static constexpr uint32_t kConnectedMs = 3000;

private:
    struct TRider {
        TVeloxDeviceW* device;
        uint32_t elapsed;  // the statistics timer's nominal time at the last step published
    };

    TMiraWirelessProtocol& protocol_;
    TMqttPublisher& publisher_;
    static constexpr uint8_t kToldVersion = 1, kToldSerial = 2, kToldFirmware = 4, kToldAll = 7;

    std::vector<uint32_t> measureTicks_;  // per console: the measures last handed on
    std::vector<uint8_t> told_;           // per console: what of its identity it answered
    std::vector<TRider> riders_;
};

}  // namespace wct::publish
