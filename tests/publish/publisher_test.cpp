// SPDX-License-Identifier: Apache-2.0
// The publisher against a real broker: topics and payloads, the retained status, the
// rate cap, a broker restart, the outbox across runs, TLS refused, a silent broker.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "protocol/console_tables.h"
#include "publish/mqtt_publisher.h"
#include "test_broker.h"

namespace wct::publish {
namespace {

using nlohmann::json;
using namespace std::chrono;
using test::TReceived;
using test::TTestBroker;
using test::TTestSubscriber;

// The notices a publisher gave, from its thread.
class TNotices {
public:
    void Attach(TMqttPublisher& publisher) {
        publisher.OnNotice = [this](const std::string& text, bool) {
            std::lock_guard lock(mutex_);
            texts_.push_back(text);
            told_.notify_all();
        };
    }
    bool WaitFor(const std::string& part) {
        std::unique_lock lock(mutex_);
        return told_.wait_for(lock, 10s, [&] { return Count(part) > 0; });
    }
    int Count(const std::string& part) const {
        int n = 0;
        for (const std::string& text : texts_) n += text.find(part) != std::string::npos;
        return n;
    }
    std::vector<std::string> Texts() {
        std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    std::mutex mutex_;
    std::condition_variable told_;
    std::vector<std::string> texts_;
};

TPublisherSettings SettingsFor(const TTestBroker& broker) {
    TPublisherSettings s;
    s.broker = ParseBrokerUrl(broker.Url());
    s.bench = "bench-t";
    s.outboxDir = broker.Dir() + "/outbox";
    s.firstRetry = 100ms;
    s.longestRetry = 400ms;
    return s;
}

auto Has(const std::string& topic, const std::string& payload = "") {
    return [=](const std::vector<TReceived>& received) {
        for (const TReceived& m : received)
            if (m.topic == topic && (payload.empty() || m.payload == payload)) return true;
        return false;
    };
}

std::set<std::string> CheckIds(const std::vector<TReceived>& received) {
    std::set<std::string> ids;
    for (const TReceived& m : received)
        if (m.topic.rfind("wct/bench-t/check/", 0) == 0) ids.insert(json::parse(m.payload)["id"]);
    return ids;
}

TCheckRecordMessage Record(int n) {
    return {"rec-" + std::to_string(n), "1049395",
            R"({"result":"pass","step":)" + std::to_string(n) + "}"};
}

class BrokerPublishing : public ::testing::Test {
protected:
    TTestBroker broker;
    bool started = (broker.Start(), true);  // before the subscriber comes
    TTestSubscriber subscriber{broker.Port(), "wct/#"};
};

TEST_F(BrokerPublishing, EachKindOfMessageReachesItsTopicAndStopLeavesOfflineRetained) {
    TMqttPublisher publisher(SettingsFor(broker));
    publisher.Start();
    ASSERT_TRUE(subscriber.WaitFor(Has("wct/bench-t/status", "online")));

    const auto time = sys_days{2026y / 12 / 8} + 12h + 34min + 56s + 789ms;
    publisher.PublishInfo({3, 16, 1049395, "2.3", true, true});
    publisher.PublishMeasures({3, time, 2950, RollSpeedKmh(2950), 79, 71, 4});
    publisher.PublishRide({3, time, 25.014, 1.23456, 180, 12, 9, 120, 85, "csStarted"});
    publisher.PublishCheck(Record(1));
    ASSERT_TRUE(subscriber.WaitFor([](const std::vector<TReceived>& r) {
        return Has("wct/bench-t/console/3/info")(r) && Has("wct/bench-t/console/3/measures")(r) &&
               Has("wct/bench-t/ride/3")(r) && Has("wct/bench-t/check/1049395")(r);
    }));

    EXPECT_EQ(json::parse(subscriber.On("wct/bench-t/console/3/info")[0]),
              json::parse(R"({"console":3,"version":16,"serial":1049395,"firmware":"2.3",
                              "connected":true,"silent":true})"));
    EXPECT_EQ(json::parse(subscriber.On("wct/bench-t/console/3/measures")[0]),
              json::parse(R"({"time":"2026-12-08T12:34:56.789Z","console":3,"rpm":2950,
                              "speed_kmh":25.01,"hr":79,"cadence":71,"keys":4})"));
    EXPECT_EQ(json::parse(subscriber.On("wct/bench-t/ride/3")[0]),
              json::parse(R"({"time":"2026-12-08T12:34:56.789Z","console":3,"speed_kmh":25.01,
                              "distance_km":1.235,"power_w":180,"calories":12,"resistance":9,
                              "hr":120,"cadence":85,"state":"csStarted"})"));
    EXPECT_EQ(json::parse(subscriber.On("wct/bench-t/check/1049395")[0]),
              json::parse(R"({"id":"rec-1","result":"pass","step":1})"));

    publisher.Stop();
    EXPECT_EQ(publisher.State(), TBrokerState::Off);
    EXPECT_TRUE(TCheckOutbox(broker.Dir() + "/outbox").Names().empty());
    // One who comes later finds the bench offline and the console's data kept, no longer
    // connected through a bench that stopped.
    TTestSubscriber later(broker.Port(), "wct/#");
    EXPECT_TRUE(later.WaitFor([](const std::vector<TReceived>& r) {
        bool offline = false, info = false;
        for (const TReceived& m : r) {
            offline |= m.topic == "wct/bench-t/status" && m.payload == "offline" && m.retained;
            info |=
                m.topic == "wct/bench-t/console/3/info" && m.retained &&
                json::parse(m.payload) == json::parse(R"({"console":3,"version":16,"serial":1049395,
                                        "firmware":"2.3","connected":false,"silent":true})");
        }
        return offline && info;
    }));
}

TEST_F(BrokerPublishing, MeasuresKeepToTheRateAndTheNewestValueWins) {
    TPublisherSettings settings = SettingsFor(broker);
    settings.rate = 5;
    TMqttPublisher publisher(settings);
    publisher.Start();
    ASSERT_TRUE(subscriber.WaitFor(Has("wct/bench-t/status", "online")));

    const auto start = steady_clock::now();
    uint16_t rpm = 0;
    while (steady_clock::now() - start < 1s) {
        publisher.PublishMeasures({1, system_clock::now(), ++rpm, 0, 0, 0, 0});
        std::this_thread::sleep_for(1ms);  // frames come about as fast as the line brings them
    }
    const std::string last = std::to_string(rpm);
    ASSERT_TRUE(subscriber.WaitFor([&](const std::vector<TReceived>& r) {
        for (const TReceived& m : r)
            if (m.topic == "wct/bench-t/console/1/measures" &&
                json::parse(m.payload)["rpm"].dump() == last)
                return true;
        return false;
    }));
    const double seconds = duration<double>(steady_clock::now() - start).count();
    const auto sent = subscriber.On("wct/bench-t/console/1/measures").size();
    EXPECT_LE(sent, static_cast<size_t>(seconds * 5) + 1);
    EXPECT_GE(sent, 4u);
    EXPECT_LT(sent, static_cast<size_t>(rpm) / 10);
}

TEST_F(BrokerPublishing, ABrokerRestartLosesNoCheckRecordAndMeasuresResume) {
    TMqttPublisher publisher(SettingsFor(broker));
    TNotices notices;
    notices.Attach(publisher);
    publisher.Start();
    for (int n = 1; n <= 3; ++n) publisher.PublishCheck(Record(n));
    ASSERT_TRUE(subscriber.WaitFor([](auto& r) { return CheckIds(r).size() == 3; }));

    broker.Stop();
    ASSERT_TRUE(notices.WaitFor("lost the broker"));
    for (int n = 4; n <= 6; ++n) publisher.PublishCheck(Record(n));
    EXPECT_EQ(TCheckOutbox(broker.Dir() + "/outbox").Names().size(), 3u);
    EXPECT_EQ(publisher.State(), TBrokerState::Reconnecting);

    broker.Start();
    EXPECT_TRUE(subscriber.WaitFor([](auto& r) { return CheckIds(r).size() == 6; }));
    // Measures are QoS 0: the broker keeps none for an absent subscriber, so they are sent
    // until one arrives after the restart.
    const size_t before = subscriber.On("wct/bench-t/console/2/measures").size();
    bool resumed = false;
    for (int i = 0; i < 200 && !resumed; ++i) {
        publisher.PublishMeasures({2, system_clock::now(), 1000, 8.48, 0, 0, 0});
        resumed = subscriber.WaitFor(
            [&](auto& r) {
                return test::Payloads(r, "wct/bench-t/console/2/measures").size() > before;
            },
            50ms);
    }
    EXPECT_TRUE(resumed);
    EXPECT_EQ(publisher.Counters().connections, 2u);
    // The loss is told once; the attempts that fail while the broker is away are not.
    EXPECT_EQ(notices.Count("lost the broker"), 1);
    EXPECT_EQ(notices.Count("trying again"), 0);
}

TEST_F(BrokerPublishing, RecordsLeftInTheOutboxAreSentByTheNextRun) {
    broker.Stop();
    {
        TMqttPublisher first(SettingsFor(broker));
        first.Start();
        first.PublishCheck(Record(7));
        first.Stop();
    }
    EXPECT_EQ(TCheckOutbox(broker.Dir() + "/outbox").Names().size(), 1u);
    broker.Start();
    TMqttPublisher next(SettingsFor(broker));
    next.Start();
    EXPECT_TRUE(subscriber.WaitFor([](auto& r) { return CheckIds(r).count("rec-7") == 1; }));
    next.Stop();
    EXPECT_TRUE(TCheckOutbox(broker.Dir() + "/outbox").Names().empty());
}

TEST_F(BrokerPublishing, ARecordTheBrokerDidNotAcknowledgeBeforeStopStaysInTheOutbox) {
    TMqttPublisher publisher(SettingsFor(broker));
    publisher.Start();
    ASSERT_TRUE(subscriber.WaitFor(Has("wct/bench-t/status", "online")));
    broker.Pause();
    publisher.PublishCheck(Record(8));
    ASSERT_TRUE(broker.WaitForUnread(50));
    publisher.Stop(100ms);
    EXPECT_EQ(TCheckOutbox(broker.Dir() + "/outbox").Names().size(), 1u);
    broker.Kill();
}

// Outbox files that cannot be published as they are: each is set aside and named once,
// and the records around it go on.
TEST_F(BrokerPublishing, AnOutboxFileThatCannotBePublishedIsSetAsideAndTheOthersGoOn) {
    struct TEntry {
        std::string topic;
        std::string payload;
        bool good;
    };
    const std::vector<TEntry> entries = {
        {"wct/bench-t/check/1", R"({"id":"good-1"})", true},
        {"wct/bench-t/check/a/b", R"({"id":"deeper"})", false},
        {"wct/bench-t/status", "offline", false},
        {"wct/bench-b/check/1", R"({"id":"other-bench"})", false},
        {"wct/bench-t/check/2", R"({"id":"truncated","steps":[{"na)", false},
        {"wct/bench-t/check/3", R"(["not", "an", "object"])", false},
        {"wct/bench-t/check/\xFF", R"({"id":"not-utf8"})", false},
        {"wct/bench-t/check/4", R"({"id":"good-2"})", true},
    };
    TCheckOutbox outbox(broker.Dir() + "/outbox");
    std::vector<std::string> names;
    for (const TEntry& e : entries) names.push_back(outbox.Add(e.topic, e.payload));

    TMqttPublisher publisher(SettingsFor(broker));
    TNotices notices;
    notices.Attach(publisher);
    publisher.Start();
    EXPECT_TRUE(subscriber.WaitFor([](auto& r) {
        const std::set<std::string> ids = CheckIds(r);
        return ids.count("good-1") == 1 && ids.count("good-2") == 1;
    }));
    publisher.Stop();

    EXPECT_TRUE(outbox.Names().empty());
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].topic);
        const bool aside = std::filesystem::exists(outbox.Dir() + "/" + names[i] + ".bad");
        EXPECT_EQ(aside, !entries[i].good);
        EXPECT_EQ(notices.Count(names[i]), entries[i].good ? 0 : 1);
    }
    for (const TReceived& m : subscriber.Received())
        EXPECT_EQ(m.topic.rfind("wct/bench-b/", 0), std::string::npos) << m.topic;
    // The bench's own "offline" at Stop, and no other.
    EXPECT_TRUE(subscriber.WaitFor(Has("wct/bench-t/status", "offline")));
    EXPECT_EQ(subscriber.On("wct/bench-t/status"), (std::vector<std::string>{"online", "offline"}));
}

// The broker away for a moment at the end of a run: the grace of Stop is spent
// reconnecting, long before the back-off would have tried again.
TEST_F(BrokerPublishing, StopReconnectsWithinItsGraceAfterAShortOutage) {
    TPublisherSettings settings = SettingsFor(broker);
    settings.firstRetry = 30s;
    settings.longestRetry = 60s;
    TMqttPublisher publisher(settings);
    publisher.PublishInfo({1, 16, 1048849, "2.3", true, false});
    publisher.Start();
    ASSERT_TRUE(subscriber.WaitFor(Has("wct/bench-t/console/1/info")));
    broker.Stop();
    const auto start = steady_clock::now();
    while (publisher.State() != TBrokerState::Reconnecting && steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(publisher.State(), TBrokerState::Reconnecting);
    publisher.PublishCheck(Record(9));
    broker.Start();
    publisher.Stop(5s);
    EXPECT_TRUE(TCheckOutbox(broker.Dir() + "/outbox").Names().empty());
    EXPECT_TRUE(subscriber.WaitFor([](auto& r) { return CheckIds(r).count("rec-9") == 1; }));
    EXPECT_TRUE(subscriber.WaitFor([](auto& r) {
        const auto status = test::Payloads(r, "wct/bench-t/status");
        const auto info = test::Payloads(r, "wct/bench-t/console/1/info");
        return !status.empty() && status.back() == "offline" && !info.empty() &&
               json::parse(info.back())["connected"] == false;
    }));
}

TEST_F(BrokerPublishing, BadInputIsRefusedWithItsReasonAndNothingIsKept) {
    TMqttPublisher publisher(SettingsFor(broker));
    EXPECT_THROW(publisher.PublishCheck({"r1", "1049395", "not json"}), std::invalid_argument);
    EXPECT_THROW(publisher.PublishCheck({"r2", "10/49", "{}"}), std::invalid_argument);
    EXPECT_THROW(publisher.PublishCheck({"r3", "1049395", R"({"id":"other"})"}),
                 std::invalid_argument);
    EXPECT_TRUE(TCheckOutbox(broker.Dir() + "/outbox").Names().empty());
    EXPECT_THROW(ParseBrokerUrl("tcp://127.0.0.1:1883"), EBrokerSettings);
    EXPECT_THROW(ParseBrokerUrl("mqtt://127.0.0.1:99999"), EBrokerSettings);
    EXPECT_THROW(ParseBrokerUrl("mqtt://:1883"), EBrokerSettings);
    EXPECT_EQ(ParseBrokerUrl("mqtts://broker.example").port, 8883);
    TPublisherSettings settings = SettingsFor(broker);
    settings.bench = "room/1";
    EXPECT_THROW(TMqttPublisher{settings}, EBrokerSettings);
}

TEST(BrokerTls, AnUntrustedCertificateIsToldOnceAndATrustedOneConnects) {
    TTestBroker broker(true);
    broker.Start();
    TPublisherSettings settings = SettingsFor(broker);
    {
        TMqttPublisher publisher(settings);
        TNotices notices;
        notices.Attach(publisher);
        publisher.Start();
        ASSERT_TRUE(notices.WaitFor("TLS failed"));
        // The attempts go on in the background. The broker logs each as "New connection
        // from" or as "Client connection from ... failed", as its accept or its first read
        // meets the refusal.
        ASSERT_TRUE(broker.WaitForLog("connection from 127.0.0.1", 3));
        publisher.Stop();
        ASSERT_EQ(notices.Texts().size(), 1u);
        EXPECT_NE(notices.Texts()[0].find("TLS failed: certificate verify failed"),
                  std::string::npos)
            << notices.Texts()[0];
    }
    settings.tlsCa = broker.CertificateFile();
    TMqttPublisher publisher(settings);
    TNotices notices;
    notices.Attach(publisher);
    publisher.Start();
    EXPECT_TRUE(notices.WaitFor("connected to the broker mqtts://"));
}

TEST(SilentBroker, PublishingNeverHoldsUpTheCaller) {
    // A listener that never accepts: the connection opens and no answer ever comes.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    char dir[] = "/tmp/wct-silent-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    TPublisherSettings settings;
    settings.broker = ParseBrokerUrl("mqtt://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    settings.bench = "bench-s";
    settings.outboxDir = dir;
    TMqttPublisher publisher(settings);
    publisher.Start();
    const auto start = steady_clock::now();
    for (int i = 0; i < 100000; ++i) {
        publisher.PublishMeasures(
            {static_cast<uint8_t>(i % 32 + 1), system_clock::now(), 1, 0, 0, 0, 0});
        if (i % 100 == 0) publisher.PublishRide(TRideMessage{});
    }
    // Far below the keep-alive (10 s) after which the publisher gives up on this broker.
    EXPECT_LT(steady_clock::now() - start, 2s);
    EXPECT_EQ(publisher.State(), TBrokerState::Connecting);
    EXPECT_EQ(publisher.Counters().ridesDropped, 1000u - TMqttPublisher::kRideQueue);
    publisher.Stop();
    EXPECT_LT(steady_clock::now() - start, 4s);
    close(listener);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace wct::publish
