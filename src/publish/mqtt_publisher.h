// SPDX-License-Identifier: Apache-2.0
// TMqttPublisher: publishes the bench's measures, console data, rides and check records
// to an MQTT broker, on its own thread, so that a broker that is down, slow or silent
// costs the protocol, the trace and the window nothing but a notice.
//
// Callers hand over plain values from any thread; each Publish call takes one short lock
// and never waits for the network. What waits is bounded:
// - measures: one slot per console, the newest value wins; at most `rate` messages a
//   second per console leave (QoS 0);
// - console data: the latest per console, retained, sent again after every reconnection;
// - rides: a queue of kRideQueue steps, the oldest dropped when full (QoS 0);
// - check records: the on-disk outbox, sent with QoS 1 and removed only when the broker
//   acknowledges them (a record may arrive twice; it carries its id). An entry whose
//   topic is not this bench's check topic or whose record is no whole JSON object is set
//   aside (NAME.bad) and told once; the others go on.
// The status topic holds "online" (retained) while connected and "offline" after Stop;
// "offline" is also the connection's last will.
//
// The connection is retried with a back-off that doubles from `firstRetry` to
// `longestRetry`. Each kind of failure is told once through OnNotice until a connection
// succeeds again.
//
// Threads: OnNotice and OnStateChange run on the publisher's thread; set them before
// Start. Everything else may be called from any thread. mutex_ protects the queues.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "publish/broker_settings.h"
#include "publish/check_outbox.h"
#include "publish/payloads.h"

namespace wct::publish {

enum class TBrokerState { Off, Connecting, Connected, Reconnecting };
// "off", "connecting", "connected", "reconnecting"
const char* BrokerStateText(TBrokerState state);

struct TPublisherCounters {
    uint64_t measuresSent = 0;
    uint64_t ridesSent = 0;
    uint64_t ridesDropped = 0;  // the queue was full
    uint64_t checksAcknowledged = 0;
    uint64_t connections = 0;
};

class TMqttPublisher {
public:
    // `trouble`: the broker cannot be reached or was lost (else: news, as a connection).
    using TNoticeEvent = std::function<void(const std::string& text, bool trouble)>;
    using TStateEvent = std::function<void(TBrokerState state)>;

    // Throws EBrokerSettings for settings that cannot be used, std::runtime_error when the
    // outbox folder cannot be made.
    explicit TMqttPublisher(TPublisherSettings settings);
    ~TMqttPublisher();
    TMqttPublisher(const TMqttPublisher&) = delete;
    TMqttPublisher& operator=(const TMqttPublisher&) = delete;

    TNoticeEvent OnNotice;
    TStateEvent OnStateChange;

    // The state is Connecting from here on; OnStateChange tells the changes after it.
    void Start();
    // Marks every console's info disconnected, publishes it and "offline", and waits up
    // to `grace` for the broker to take them and every record in the outbox, then
    // disconnects. A connection lost before is tried again within the grace. Records not
    // acknowledged stay in the outbox for the next run.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(2));

    void PublishMeasures(const TMeasuresMessage& message);
    void PublishInfo(const TConsoleInfoMessage& message);
    void PublishRide(const TRideMessage& message);
    // Keeps the record in the outbox (synced to disk) before returning. Throws
    // std::invalid_argument for a record that is no JSON object or a serial that cannot
    // be a topic level, std::runtime_error when the outbox cannot be written.
    void PublishCheck(const TCheckRecordMessage& message);

    TBrokerState State() const { return state_.load(); }
    TPublisherCounters Counters() const;
    const TPublisherSettings& Settings() const { return settings_; }

    static constexpr size_t kRideQueue = 256;

private:
    struct TMeasuresSlot {
        TMeasuresMessage message;
        bool pending = false;
    };
    class TSession;

    void Run();
    void Wake();

    const TPublisherSettings settings_;
    TCheckOutbox outbox_;
    std::atomic<TBrokerState> state_{TBrokerState::Off};
    int wakeFd_ = -1;  // eventfd: work arrived, or stop
    std::thread thread_;

    mutable std::mutex mutex_;  // protects everything below
    bool stopping_ = false;
    std::chrono::milliseconds grace_{0};
    std::array<TMeasuresSlot, 256> measures_{};
    std::map<int, TConsoleInfoMessage> info_;
    std::set<int> infoChanged_;  // consoles whose data the broker has not yet
    std::deque<TRideMessage> rides_;
    bool outboxChanged_ = true;
    TPublisherCounters counters_;
};

}  // namespace wct::publish
