// SPDX-License-Identifier: Apache-2.0
// `wct publish`: measures and publishes them, with the consoles' data, to an MQTT broker
// until the time ends or the run is interrupted, and ends with the "offline" status.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "publish/broker_settings.h"

namespace wct::testbench {
class TTestBench;
}

namespace wct::cli {

// The broker options of every command that publishes.
struct TBrokerOptions {
    publish::TPublisherSettings settings;  // filled by the command's check when given
    // As given; the command's check turns them into the settings.
    std::string broker;
    std::optional<std::string> passwordFile;
    bool Given() const { return !broker.empty(); }
};

// --broker, --bench, --tls-ca, --username, --password-file (and --password, refused),
// read into `o`; --broker must be given when `required`, and the other options need it.
void DeclareBrokerOptions(TCommand& command, TBrokerOptions& o, bool required);

struct TPublishOptions {
    TBrokerOptions broker;
    std::optional<int> seconds;  // until interrupted when absent
};

// What "publish" takes, read into `o`.
void DeclarePublishOptions(TCommand& publish, TPublishOptions& o);

// Waits `ms` while replies are handled (less when interrupted), calling `each` between
// passes, at least every few tens of milliseconds.
using TServe = std::function<void(uint32_t ms, const std::function<void()>& each)>;

// Publishes `bench`, its protocol connected to the dongle; what is new is handed to the
// publisher on each of `serve`'s passes. `interrupted` says whether the run was. Broker
// trouble is told on `err` and never ends the run.
int RunPublish(const TPublishOptions& options, testbench::TTestBench& bench, std::ostream& out,
               std::ostream& err, const TServe& serve, const std::function<bool()>& interrupted);

}  // namespace wct::cli
