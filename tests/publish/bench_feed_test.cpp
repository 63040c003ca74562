// SPDX-License-Identifier: Apache-2.0
// The feed between the bench and the publisher: the simulated dongle's consoles and a
// rider device on one of them, published to a real broker.
#include "publish/bench_feed.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "common/main_thread.h"
#include "common/tick_count.h"
#include "common/utc_text.h"
#include "device/velox_device_w.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"
#include "test_broker.h"

namespace wct::publish {
namespace {

using nlohmann::json;
using test::TReceived;

// Whatever unit the rider device shows, the ride carries kilometres; a console that leaves
// sends nothing more, its old measures least of all.
TEST(BenchFeed, MeasuresConsoleDataAndEachRiderStepReachTheBrokerInKilometres) {
    for (const TUnitMeasure unit : {umKm, umMiles}) {
        SCOPED_TRACE(unit == umKm ? "km" : "miles");
        test::TTestBroker broker;
        broker.Start();
        test::TTestSubscriber subscriber(broker.Port(), "wct/feed/#");
        const auto begun = std::chrono::system_clock::now();
        SetPortSource([] { return std::vector<std::string>{}; });
        sim::TDongleOptions options;
        options.joinDelayMs = 100;
        options.consoles = {sim::DefaultConsole(1)};
        sim::TDongleSimulator simulator(options);
        simulator.SetRider(1, {1000, 100, 80});
        simulator.Start();
        TMiraWirelessProtocol protocol;
        protocol.SetPortDef(simulator.PortPath());
        ASSERT_TRUE(protocol.FindDongle());
        TVeloxDeviceW device;
        device.SetUOM(unit);
        device.SetWirelessUSB(&protocol);
        device.SetTimerStatsInterval(3600000);  // no tick of its own: steps are run by hand
        ASSERT_TRUE(device.Connect());
        ASSERT_TRUE(device.Start());

        TPublisherSettings settings;
        settings.broker = ParseBrokerUrl(broker.Url());
        settings.bench = "feed";
        settings.outboxDir = broker.Dir() + "/outbox";
        TMqttPublisher publisher(settings);
        TBenchFeed feed(protocol, publisher);
        feed.AddRider(device);
        publisher.Start();
        const auto until = [&](const test::TTestSubscriber::TCheck& check, bool ride) {
            const uint32_t start = GetTickCount();
            while (!subscriber.WaitFor(check, std::chrono::seconds(0)) &&
                   GetTickCount() - start < 10000) {
                MainThread().ProcessMessagesFor(100);
                if (ride) device.TimerStats().TickNow();
                feed.Poll();
            }
            return subscriber.WaitFor(check, std::chrono::seconds(0));
        };
        ASSERT_TRUE(until(
            [](const std::vector<TReceived>& r) {
                return test::Payloads(r, "wct/feed/ride/1").size() >= 2 &&
                       !test::Payloads(r, "wct/feed/console/1/measures").empty();
            },
            true));
        const double speed = device.Speed();
        const json ride =
            json::parse(test::Payloads(subscriber.Received(), "wct/feed/ride/1").back());
        device.Stop();
        EXPECT_EQ(ride["console"], 1);
        EXPECT_EQ(ride["state"], "csStarted");
        EXPECT_GT(speed, 0);
        EXPECT_NEAR(ride["speed_kmh"].get<double>(), speed * (unit == umKm ? 1 : 1.609344), 0.01);

        simulator.Leave(1);
        ASSERT_TRUE(until(
            [](const std::vector<TReceived>& r) {
                const auto info = test::Payloads(r, "wct/feed/console/1/info");
                return !info.empty() && json::parse(info.back())["connected"] == false;
            },
            false));
        for (int i = 0; i < 10; ++i) {
            MainThread().ProcessMessagesFor(20);
            feed.Poll();
        }
        publisher.Stop();
        SetPortSource(nullptr);

        const auto received = subscriber.Received();
        const auto measures = test::Payloads(received, "wct/feed/console/1/measures");
        ASSERT_FALSE(measures.empty());
        EXPECT_EQ(json::parse(measures.back())["rpm"], 1000);
        // Each stamped when it came: none from before the test began.
        const std::string since = UtcText(begun - std::chrono::seconds(1));
        for (const std::string& m : measures)
            EXPECT_GE(json::parse(m)["time"].get<std::string>(), since) << m;
        const json info = json::parse(test::Payloads(received, "wct/feed/console/1/info").back());
        EXPECT_EQ(info["serial"], device.SerialNumber());
    }
}

// A console that stops sending without leaving, in protocol time that runs as fast as the
// bench allows: its info says it is silent, and its last measures are not published, not
// even by a feed that starts during the silence; its next measures end the silence.
TEST(BenchFeed, ASilentConsoleIsSaidSilentAndItsOldMeasuresAreNotPublished) {
    TScopedVirtualClock clock{100000, 10};
    test::TTestBroker broker;
    broker.Start();
    test::TTestSubscriber subscriber(broker.Port(), "wct/quiet/#");
    SetPortSource([] { return std::vector<std::string>{}; });
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 2; ++id) options.consoles.push_back(sim::DefaultConsole(id));
    sim::TDongleSimulator simulator(options);
    simulator.Start();
    TMiraWirelessProtocol protocol;
    protocol.SetPortDef(simulator.PortPath());
    ASSERT_TRUE(protocol.FindDongle());
    const auto pump = [&](const std::function<bool()>& done) {
        const uint32_t start = GetTickCount();
        while (!done() && GetTickCount() - start < 20000) MainThread().ProcessMessages();
        return done();
    };
    // Seen joining: connected however long the silence lasts while the broker is slow.
    protocol.OpenRegistration();
    ASSERT_TRUE(
        pump([&] { return protocol.IsConsoleConnected(1) && protocol.IsConsoleConnected(2); }));
    protocol.CloseRegistration();
    protocol.SetMeasure(true);
    const auto heard = [&](uint8_t id) {
        return protocol.LastMeasure()->size() > id &&
               (*protocol.LastMeasure())[id].MeasureTick != 0;
    };
    ASSERT_TRUE(pump([&] { return heard(1) && heard(2); }));
    simulator.SetReporting(2, false);
    ASSERT_TRUE(pump([&] { return protocol.IsConsoleSilent(2); }));

    TPublisherSettings settings;
    settings.broker = ParseBrokerUrl(broker.Url());
    settings.bench = "quiet";
    settings.rate = 100;
    settings.outboxDir = broker.Dir() + "/outbox";
    TMqttPublisher publisher(settings);
    TBenchFeed feed(protocol, publisher);
    publisher.Start();
    // Polls while the protocol runs until the subscriber has what `check` wants.
    const auto pollUntil = [&](const test::TTestSubscriber::TCheck& check) {
        const auto start = std::chrono::steady_clock::now();
        while (!subscriber.WaitFor(check, std::chrono::milliseconds(0))) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) return false;
            MainThread().ProcessMessagesFor(50);
            feed.Poll();
        }
        return true;
    };
    const auto lastInfo = [](const std::vector<TReceived>& r, int id) {
        const auto info = test::Payloads(r, "wct/quiet/console/" + std::to_string(id) + "/info");
        return info.empty() ? json() : json::parse(info.back());
    };
    const auto measuresOf = [](const std::vector<TReceived>& r, int id) {
        return test::Payloads(r, "wct/quiet/console/" + std::to_string(id) + "/measures").size();
    };

    // Started during the silence.
    ASSERT_TRUE(pollUntil([&](const std::vector<TReceived>& r) {
        return measuresOf(r, 1) >= 3 && !lastInfo(r, 2).is_null();
    }));
    std::vector<TReceived> received = subscriber.Received();
    EXPECT_EQ(measuresOf(received, 2), 0u) << "old measures went out";
    EXPECT_EQ(lastInfo(received, 2)["silent"], true);
    EXPECT_EQ(lastInfo(received, 2)["connected"], true) << "silent, not gone";
    EXPECT_EQ(lastInfo(received, 1)["silent"], false);

    // Back: measures again, and no longer silent.
    simulator.SetReporting(2, true);
    ASSERT_TRUE(pollUntil([&](const std::vector<TReceived>& r) {
        return measuresOf(r, 2) >= 2 && lastInfo(r, 2)["silent"] == false;
    }));

    // Silent again while publishing: said so, and what went out before is all there is.
    simulator.SetReporting(2, false);
    ASSERT_TRUE(pollUntil(
        [&](const std::vector<TReceived>& r) { return lastInfo(r, 2)["silent"] == true; }));
    const size_t before = measuresOf(subscriber.Received(), 2);
    const size_t console1 = measuresOf(subscriber.Received(), 1);
    ASSERT_TRUE(pollUntil(
        [&](const std::vector<TReceived>& r) { return measuresOf(r, 1) >= console1 + 3; }));
    EXPECT_EQ(measuresOf(subscriber.Received(), 2), before);
    publisher.Stop();
    protocol.SetMeasure(false);
    SetPortSource(nullptr);
}

}  // namespace
}  // namespace wct::publish
