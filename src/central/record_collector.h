// SPDX-License-Identifier: Apache-2.0
// TRecordCollector: takes every bench's check records from the broker and keeps each once
// in the central history, for as long as it runs.
//
// It is a durable subscriber: a fixed client id and a session the broker keeps (clean
// session off), subscribed with QoS 1 to wct/+/check/+, so that the broker queues the
// records that come while the collector is away. A record is acknowledged to the broker
// only after PostgreSQL has committed it: the client runs in the library's threaded mode,
// in which every packet it answers with, the acknowledgement included, waits in its queue
// until this loop writes it, and the loop writes only after the message handler has
// committed. When the database cannot keep a record, the connection to the broker is
// dropped unwritten, so the broker sends it again once the database is back.
//
// A message that is no record of this wct's (not JSON, another format_version, fields
// missing, an id that already holds another record) is kept in the table `rejected` with
// why, told through OnNotice, and acknowledged: it stops no other, and nothing is lost.
//
// Both sides are retried with a back-off from `firstRetry` doubling to `longestRetry`;
// each kind of trouble is told once until that side works again.
//
// Threads: Run and everything it calls, OnNotice included, run on the caller's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "publish/broker_settings.h"

namespace wct::central {

struct TCollectorSettings {
    publish::TBrokerUrl broker;
    std::string tlsCa;  // CA certificate file; the system's CAs when empty (mqtts only)
    std::string username;
    std::string password;
    std::string db;  // the central history's URL
    std::string clientId = "wct-collector";
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds longestRetry{8000};
    int keepAliveSeconds = 10;
};

struct TCollectorCounters {
    uint64_t stored = 0;    // records kept
    uint64_t again = 0;     // records that came again, kept before
    uint64_t rejected = 0;  // messages kept aside in `rejected`
};

// The topic the collector subscribes to: every bench's check records.
constexpr const char* kCheckTopics = "wct/+/check/+";

class TRecordCollector {
public:
    using TNoticeEvent = std::function<void(const std::string& text)>;

    explicit TRecordCollector(TCollectorSettings settings);
    ~TRecordCollector();
    TRecordCollector(const TRecordCollector&) = delete;
    TRecordCollector& operator=(const TRecordCollector&) = delete;

    TNoticeEvent OnNotice;

    // Collects until `*stop` turns true (a signal handler may set it), then leaves the
    // broker cleanly: the records committed are acknowledged, any other is left to it.
    void Run(const volatile bool* stop);
    TCollectorCounters Counters() const { return counters_; }

private:
    class TSession;
    const TCollectorSettings settings_;
    TCollectorCounters counters_;
};

}  // namespace wct::central
