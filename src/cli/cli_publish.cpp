// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_publish.h"

#include <mutex>
#include <ostream>
#include <set>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "protocol/wireless_protocol.h"
#include "publish/mqtt_publisher.h"
#include "testbench/testbench.h"

namespace wct::cli {
void DeclareBrokerOptions(TCommand& command, TBrokerOptions& o, bool required) {
    publish::TPublisherSettings& s = o.settings;
    command.Option("--broker", "URL", "mqtt://host:port or mqtts://host:port", Text(o.broker))
        .Option("--bench", "NAME", "the bench's name in the topics (the host name)", Name(s.bench))
        .Option("--tls-ca", "FILE", "the certificate authority a mqtts broker is checked with",
                Text(s.tlsCa))
        .Option("--username", "U", "the broker's user", Text(s.username))
        .Option("--password-file", "FILE", "the file whose first line is the password",
                Text(o.passwordFile))
        .Option(
            "--password", "P", "refused: a password never goes on the command line",
            [](const std::string&, const std::string&) {
                throw EUsage("a password is never given on the command line: use --password-file");
            });
    if (required) command.Require("--broker", command.Name() + " needs --broker URL");
    command.Check([&o, &s] {
        if (!o.Given()) {
            if (!s.bench.empty() || !s.tlsCa.empty() || !s.username.empty() || o.passwordFile)
                throw EUsage("--bench, --tls-ca, --username and --password-file need --broker");
            return;
        }
        try {
            s.broker = publish::ParseBrokerUrl(o.broker);
            if (s.bench.empty()) s.bench = publish::DefaultBenchName();
            if (o.passwordFile && s.username.empty())
                throw EUsage("--password-file needs --username");
            if (o.passwordFile) s.password = publish::ReadPasswordFile(*o.passwordFile);
            s.outboxDir = publish::DefaultOutboxDir(s.bench);
            publish::CheckSettings(s);
        } catch (const publish::EBrokerSettings& e) {
            throw EUsage(e.what());
        }
    });
}

void DeclarePublishOptions(TCommand& publish, TPublishOptions& o) {
    publish::TPublisherSettings& s = o.broker.settings;
    DeclareBrokerOptions(publish, o.broker, true);
    publish
        .Option("--seconds", "S", "how long (until interrupted)", Number(o.seconds, 0, 24 * 3600))
        .Option(
            "--rate", "HZ", "measures messages a second per console, at most (2)",
            [&s](const std::string& name, const std::string& value) {
                const std::optional<double> rate = ReadDecimal(value);
                if (!rate)
                    throw EUsage(name + ": '" + value + "' is not a number of messages a second");
                s.rate = *rate;
            });
}

int RunPublish(const TPublishOptions& options, testbench::TTestBench& bench, std::ostream& out,
               std::ostream& err, const TServe& serve, const std::function<bool()>& interrupted) {
    std::mutex errLock;  // notices come from the publisher's thread
    bench.StartPublishing(options.broker.settings, [&](publish::TMqttPublisher& publisher) {
        publisher.OnNotice = [&](const std::string& text, bool) {
            std::lock_guard lock(errLock);
            err << "wct: " << text << std::endl;
        };
    });

    // Consoles that report are asked once for their data, so that their info is whole.
    TMiraWirelessProtocol& protocol = bench.Protocol();
    std::set<uint8_t> asked;
    const auto poll = [&] {
        bench.PollPublishing();
        const auto& measures = *protocol.LastMeasure();
        for (size_t id = 1; id < measures.size(); ++id) {
            const auto console = static_cast<uint8_t>(id);
            if (measures[id].ConsoleID == 0 || !asked.insert(console).second) continue;
            protocol.RequestSerial(console);
            protocol.RequestVersion(console);
            protocol.RequestFirmware(console);
        }
    };
    protocol.SetMeasure(true);
    // Without --seconds until interrupted, in the longest waits the tick counter measures.
    do
        serve(options.seconds ? static_cast<uint32_t>(*options.seconds) * 1000 : UINT32_MAX, poll);
    while (!options.seconds && !interrupted());
    protocol.SetMeasure(false);
    const publish::TPublisherCounters counters = bench.StopPublishing();
    out << "measures_sent " << counters.measuresSent << " connections " << counters.connections
        << std::endl;
    return exDone;
}

}  // namespace wct::cli
