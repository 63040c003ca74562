// SPDX-License-Identifier: Apache-2.0
// `wct --simulate publish` as a separate process against a real broker.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "publish/mqtt_publisher.h"
#include "run_process.h"
#include "test_broker.h"

namespace wct::test {
namespace {

using nlohmann::json;

class WctPublish : public ::testing::Test {
protected:
    std::vector<std::string> Args(const std::string& seconds) const {
        return {"--simulate", "publish", "--broker",  broker.Url(),
                "--bench",    "bench-a", "--seconds", seconds};
    }
    TTestBroker broker;
    // The runs keep their outbox in the broker's folder; the broker runs before the
    // subscriber comes.
    bool started = (setenv("XDG_STATE_HOME", broker.Dir().c_str(), 1), broker.Start(), true);
    TTestSubscriber subscriber{broker.Port(), "wct/bench-a/#"};
};

TEST_F(WctPublish, TheSimulatedConsolesArePublishedAndTheRunEndsOffline) {
    const TProcessResult run = RunProcess(WCT_BINARY, Args("2"), 20000);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("measures_sent ", 0), 0u) << run.out;
    EXPECT_TRUE(subscriber.WaitFor([](const std::vector<TReceived>& r) {
        return !r.empty() && r.back().topic == "wct/bench-a/status" &&
               r.back().payload == "offline";
    }));
    EXPECT_EQ(subscriber.On("wct/bench-a/status").front(), "online");
    for (int id = 1; id <= 4; ++id) {
        const std::string console = "wct/bench-a/console/" + std::to_string(id);
        ASSERT_FALSE(subscriber.On(console + "/measures").empty()) << console;
        const json measures = json::parse(subscriber.On(console + "/measures").back());
        EXPECT_EQ(measures["console"], id);
        EXPECT_GT(measures["rpm"].get<int>(), 0);
        // The consoles are asked for their data, so their info ends whole; before that it
        // tells nothing in place of what is not known yet, and the bench's end leaves it
        // disconnected.
        const std::vector<std::string> infos = subscriber.On(console + "/info");
        for (const std::string& text : infos) {
            const json info = json::parse(text);
            EXPECT_TRUE(info["serial"].is_null() || info["serial"] == 1048576 + 273 * id) << info;
            EXPECT_TRUE(info["firmware"].is_null() || info["firmware"] == "2.3") << info;
            EXPECT_TRUE(info["version"].is_null() || info["version"] == 16) << info;
        }
        const json last = json::parse(infos.back());
        EXPECT_EQ(last["serial"], 1048576 + 273 * id) << last;
        EXPECT_EQ(last["firmware"], "2.3");
        EXPECT_EQ(last["connected"], false);
        EXPECT_EQ(json::parse(infos[infos.size() - 2])["connected"], true);
    }
}

TEST_F(WctPublish, AKilledBenchLeavesItsLastWill) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<std::string> args = Args("60");
        std::vector<char*> argv{const_cast<char*>(WCT_BINARY)};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(WCT_BINARY, argv.data());
        _exit(127);
    }
    ASSERT_TRUE(subscriber.WaitFor([](const std::vector<TReceived>& r) {
        for (const TReceived& m : r)
            if (m.topic == "wct/bench-a/console/1/measures") return true;
        return false;
    }));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_TRUE(subscriber.WaitFor([](const std::vector<TReceived>& r) {
        return r.back().topic == "wct/bench-a/status" && r.back().payload == "offline";
    }));
}

TEST_F(WctPublish, ARecordHandedButNotAcknowledgedOutlivesTheBenchAndIsSentByTheNextRun) {
    const std::string plan = broker.Dir() + "/long.toml";
    std::ofstream(plan) << "[[step]]\nkind = \"identity\"\n[[step]]\nkind = \"radio\"\n"
                           "seconds = 600\n";
    const std::string outbox = broker.Dir() + "/WirelessConsoleTest/outbox/bench-a";
    bool handed = false;
    RunProcess(WCT_BINARY,
               {"--simulate", "check", "--console", "1", "--plan", plan, "--broker", broker.Url(),
                "--bench", "bench-a", "--db", broker.Dir() + "/checks.sqlite"},
               60000, [&](int pid, const std::string& out) {
                   if (handed || out.find(" identity ") == std::string::npos) return;
                   handed = true;
                   // Connected, then a broker that reads nothing more: the record of the
                   // interrupted run goes out to it and is never acknowledged.
                   ASSERT_TRUE(subscriber.WaitFor([](const std::vector<TReceived>& r) {
                       return !Payloads(r, "wct/bench-a/status").empty();
                   }));
                   broker.Pause();
                   kill(pid, SIGINT);
                   EXPECT_TRUE(broker.WaitForUnread(100));
                   kill(pid, SIGKILL);
               });
    ASSERT_TRUE(handed);
    const std::vector<std::string> kept = publish::TCheckOutbox(outbox).Names();
    ASSERT_EQ(kept.size(), 1u);
    publish::TOutboxEntry entry;
    ASSERT_TRUE(publish::TCheckOutbox(outbox).Read(kept[0], entry));
    const std::string id = json::parse(entry.payload)["id"];

    // The broker is lost with the copy it never read; the subscriber comes back to the new one.
    broker.Kill();
    broker.Start();
    ASSERT_TRUE(subscriber.WaitFor([](const std::vector<TReceived>& r) {
        return std::count_if(r.begin(), r.end(),
                             [](const TReceived& m) { return m.topic == "$subscribed"; }) >= 2;
    }));
    publish::TPublisherSettings settings;
    settings.broker = publish::ParseBrokerUrl(broker.Url());
    settings.bench = "bench-a";
    settings.outboxDir = outbox;
    publish::TMqttPublisher next(settings);
    next.Start();
    EXPECT_TRUE(subscriber.WaitFor([&](const std::vector<TReceived>& r) {
        for (const TReceived& m : r)
            if (m.topic == entry.topic && json::parse(m.payload)["id"] == id) return true;
        return false;
    }));
    next.Stop();
    EXPECT_TRUE(publish::TCheckOutbox(outbox).Names().empty());
}

TEST_F(WctPublish, AWrongUrlIsAUsageErrorAndARefusedConnectionIsToldOnce) {
    const TProcessResult wrong =
        RunProcess(WCT_BINARY, {"--simulate", "publish", "--broker", "tcp://127.0.0.1"}, 10000);
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.err.find("broker URL 'tcp://127.0.0.1': unknown scheme"), std::string::npos);

    const std::string nobody = "mqtt://127.0.0.1:" + std::to_string(FreePort());
    const TProcessResult refused = RunProcess(
        WCT_BINARY, {"--simulate", "publish", "--broker", nobody, "--seconds", "3"}, 20000);
    EXPECT_EQ(refused.exitCode, 0) << refused.err;
    EXPECT_EQ(Lines(refused.err),
              std::vector<std::string>{"wct: broker " + nobody +
                                       ": Connection refused; trying again in the background"});
    EXPECT_NE(refused.out.find("measures_sent 0 connections 0"), std::string::npos);
}

TEST_F(WctPublish, ACheckRunPublishesEachRecordUnderItsSerial) {
    const std::string report = broker.Dir() + "/report.json";
    const TProcessResult run =
        RunProcess(WCT_BINARY,
                   {"--simulate", "check", "--all", "--broker", broker.Url(), "--bench", "bench-a",
                    "--db", broker.Dir() + "/checks.sqlite", "--report", report},
                   120000);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Acknowledged before the run ended: nothing is left for the next one.
    EXPECT_EQ(run.err.find("outbox"), std::string::npos) << run.err;
    std::ifstream file(report);
    const json records = json::parse(file)["records"];
    ASSERT_FALSE(records.empty());
    for (const json& record : records) {
        const std::string topic =
            "wct/bench-a/check/" + std::to_string(record["serial"].get<int>());
        ASSERT_TRUE(subscriber.WaitFor([&](const std::vector<TReceived>& r) {
            return !Payloads(r, topic).empty();
        })) << topic;
        const std::vector<std::string> sent = subscriber.On(topic);
        ASSERT_EQ(sent.size(), 1u) << topic;
        EXPECT_EQ(json::parse(sent[0])["id"], record["id"]);
        EXPECT_EQ(json::parse(sent[0])["outcome"], "PASS");
    }
}

}  // namespace
}  // namespace wct::test
