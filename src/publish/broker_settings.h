// SPDX-License-Identifier: Apache-2.0
// Where and how the bench publishes: the broker's address, the bench's name, TLS and
// credentials, the measures rate and the folder of the check-record outbox.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

namespace wct::publish {

// A setting that cannot be used: a malformed broker URL, a bench name that cannot be a
// topic level, a password file that cannot be read. The message says which and why.
class EBrokerSettings : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TBrokerUrl {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string Text() const;  // "mqtt://host:port" or "mqtts://host:port"
};

// "mqtt://host[:port]" (1883 unless given) or "mqtts://host[:port]" (8883). Throws
// EBrokerSettings.
TBrokerUrl ParseBrokerUrl(const std::string& text);

struct TPublisherSettings {
    TBrokerUrl broker;
    std::string bench;  // one topic level; the host name by default
    std::string tlsCa;  // CA certificate file; the system's CAs when empty (mqtts only)
    std::string username;
    std::string password;
    double rate = 2;        // measures messages per second per console, at most
    std::string outboxDir;  // check records wait here until the broker acknowledges them
    // Reconnection: the first retry after this, doubling up to the longest.
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds longestRetry{8000};
    int keepAliveSeconds = 10;
};

// The host name, as the default bench name.
std::string DefaultBenchName();
// $XDG_STATE_HOME/WirelessConsoleTest/outbox/<bench> (or ~/.local/state/...): each
// bench keeps its own, so that two benches on one machine never send each other's.
std::string DefaultOutboxDir(const std::string& bench);
// The first line of the file, without its line end. Throws EBrokerSettings.
std::string ReadPasswordFile(const std::string& path);
// Throws EBrokerSettings naming the first setting that cannot be used.
void CheckSettings(const TPublisherSettings& settings);

}  // namespace wct::publish
