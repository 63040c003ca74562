// The feed between the bench and the publisher: the simulated dongle's consoles and a
// rider device on one of them, published to a real broker.
#include "publish/bench_feed.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/main_thread.h"
#include "common/tick_count.h"
#include "device/velox_device_w.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"
#include "test_broker.h"

namespace wct::publish {
namespace {

using nlohmann::json;
using test::TReceived;

TEST(BenchFeed, MeasuresConsoleDataAndEachRiderStepReachTheBroker) {
    test::TTestBroker broker;
    broker.Start();
    test::TTestSubscriber subscriber(broker.Port(), "wct/feed/#");
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
    const auto ridden = [](const std::vector<TReceived>& r) {
        return test::Payloads(r, "wct/feed/ride/1").size() >= 2 &&
               !test::Payloads(r, "wct/feed/console/1/measures").empty();
    };
    const uint32_t start = GetTickCount();
    while (!subscriber.WaitFor(ridden, std::chrono::seconds(0)) && GetTickCount() - start < 10000) {
        MainThread().ProcessMessagesFor(100);
        device.TimerStats().TickNow();
        feed.Poll();
    }
    const auto received = subscriber.Received();
    device.Stop();
    publisher.Stop();
    SetPortSource(nullptr);

    ASSERT_TRUE(ridden(received));
    const json ride = json::parse(test::Payloads(received, "wct/feed/ride/1").back());
    EXPECT_EQ(ride["console"], 1);
    EXPECT_EQ(ride["state"], "csStarted");
    EXPECT_GT(ride["speed_kmh"].get<double>(), 0);
    EXPECT_EQ(json::parse(test::Payloads(received, "wct/feed/console/1/measures").back())["rpm"],
              1000);
    const json info = json::parse(test::Payloads(received, "wct/feed/console/1/info").back());
    EXPECT_EQ(info["serial"], device.SerialNumber());
    EXPECT_EQ(info["connected"], true);
}

}  // namespace
}  // namespace wct::publish
