#include "cli/cli_publish.h"

#include <charconv>
#include <mutex>
#include <ostream>
#include <set>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "common/tick_count.h"
#include "protocol/wireless_protocol.h"
#include "publish/bench_feed.h"
#include "publish/mqtt_publisher.h"

namespace wct::cli {
namespace {

// How often the bench's tables are read for the publisher.
constexpr uint32_t kPollMs = 50;

}  // namespace

TPublishOptions ParsePublishOptions(const std::vector<std::string>& args) {
    TPublishOptions o;
    publish::TPublisherSettings& s = o.settings;
    std::optional<std::string> broker;
    std::optional<std::string> passwordFile;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw EUsage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--broker") {
            broker = value();
        } else if (arg == "--bench") {
            s.bench = value();
        } else if (arg == "--seconds") {
            o.seconds = ParseNumber(value(), arg, 0, 24 * 3600);
        } else if (arg == "--rate") {
            const std::string& text = value();
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), s.rate);
            if (text.empty() || error != std::errc() || end != text.data() + text.size())
                throw EUsage("--rate: '" + text + "' is not a number of messages a second");
        } else if (arg == "--tls-ca") {
            s.tlsCa = value();
        } else if (arg == "--username") {
            s.username = value();
        } else if (arg == "--password-file") {
            passwordFile = value();
        } else if (arg == "--password") {
            throw EUsage("a password is never given on the command line: use --password-file");
        } else {
            throw EUsage(std::string("publish takes no ") +
                         (arg.rfind("--", 0) == 0 ? "option " : "argument ") + arg);
        }
    }
    if (!broker) throw EUsage("publish needs --broker URL");
    try {
        s.broker = publish::ParseBrokerUrl(*broker);
        if (s.bench.empty()) s.bench = publish::DefaultBenchName();
        if (passwordFile) s.password = publish::ReadPasswordFile(*passwordFile);
        if (passwordFile && s.username.empty()) throw EUsage("--password-file needs --username");
        s.outboxDir = publish::DefaultOutboxDir(s.bench);
        publish::CheckSettings(s);
    } catch (const publish::EBrokerSettings& e) {
        throw EUsage(e.what());
    }
    return o;
}

int RunPublish(const TPublishOptions& options, TMiraWirelessProtocol& protocol, std::ostream& out,
               std::ostream& err, const std::function<void(uint32_t ms)>& serve,
               const std::function<bool()>& interrupted) {
    std::mutex errLock;  // notices come from the publisher's thread
    publish::TMqttPublisher publisher(options.settings);
    publisher.OnNotice = [&](const std::string& text, bool) {
        std::lock_guard lock(errLock);
        err << "wct: " << text << std::endl;
    };
    publish::TBenchFeed feed(protocol, publisher);
    publisher.Start();

    // Consoles that report are asked once for their data, so that their info is whole.
    std::set<uint8_t> asked;
    protocol.SetMeasure(true);
    const uint32_t start = GetTickCount();
    const uint64_t runMs = options.seconds ? uint64_t(*options.seconds) * 1000 : UINT64_MAX;
    while (!interrupted() && GetTickCount() - start < runMs) {
        serve(static_cast<uint32_t>(std::min<uint64_t>(kPollMs, runMs - (GetTickCount() - start))));
        feed.Poll();
        const auto& measures = *protocol.LastMeasure();
        for (size_t id = 1; id < measures.size(); ++id) {
            const auto console = static_cast<uint8_t>(id);
            if (measures[id].ConsoleID == 0 || !asked.insert(console).second) continue;
            protocol.RequestSerial(console);
            protocol.RequestVersion(console);
            protocol.RequestFirmware(console);
        }
    }
    protocol.SetMeasure(false);
    feed.Poll();
    publisher.Stop();
    const publish::TPublisherCounters counters = publisher.Counters();
    out << "measures_sent " << counters.measuresSent << " connections " << counters.connections
        << std::endl;
    return exDone;
}

}  // namespace wct::cli
