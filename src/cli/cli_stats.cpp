// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_stats.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>

#include "common/round_decimals.h"
#include "common/tick_count.h"
#include "protocol/link_report_table.h"

namespace wct::cli {
namespace {

void PrintTable(const TMiraLinkReport& report, std::ostream& out) {
    for (size_t i = 0; i < kLinkReportColumns.size(); ++i)
        out << (i ? " " : "") << kLinkReportColumns[i].key;
    out << '\n';
    for (const TMiraConsoleLinkStats& c : report.consoles) {
        const TLinkReportRow row = LinkReportRow(c);
        for (size_t i = 0; i < row.size(); ++i) out << (i ? " " : "") << row[i];
        out << '\n';
    }
    for (const TLinkReportTotal& total : LinkReportTotals(report))
        out << total.name.key << ' ' << total.value << '\n';
}

// To the decimals the table shows.
double Rounded(double value, int decimals) {
    return static_cast<double>(RoundDecimals(decimals, value));
}

void PrintJson(const TMiraLinkReport& report, std::ostream& out) {
    // Ordered: the keys keep the order a reader of the table knows.
    using Json = nlohmann::ordered_json;
    Json consoles = Json::array();
    for (const TMiraConsoleLinkStats& c : report.consoles) {
        Json latency = Json::array();
        for (const TMiraCommandLatency& l : c.latencies)
            latency.push_back({{"command", CommandText(l.command)},
                               {"replies", l.replies},
                               {"median_ms", Rounded(l.medianMs, 3)},
                               {"p99_ms", Rounded(l.p99Ms, 3)}});
        consoles.push_back({{"console", int(c.console)},
                            {"frames", c.frames},
                            {"frames_per_second", Rounded(c.framesPerSecond, 3)},
                            {"expected_rate", Rounded(c.expectedRate, 3)},
                            {"lost", c.lost},
                            {"lost_share", Rounded(c.lostShare, 4)},
                            {"longest_silence_ms", Rounded(c.longestSilenceMs, 3)},
                            {"nacks", c.nacks},
                            {"unanswered", c.unanswered},
                            {"latency", std::move(latency)}});
    }
    const Json json = {{"seconds", Rounded(report.seconds, 3)},
                       {"malformed_frames", report.malformedFrames},
                       {"discarded_bytes", report.discardedBytes},
                       {"consoles", std::move(consoles)}};
    out << json.dump() << '\n';
}

}  // namespace

void PrintLinkReport(const TMiraLinkReport& report, bool json, std::ostream& out) {
    if (json)
        PrintJson(report, out);
    else
        PrintTable(report, out);
}

int RunStats(TMiraWirelessProtocol& protocol, int seconds, double expectedRate, bool json,
             std::ostream& out, const std::function<void(uint32_t ms)>& serve,
             const std::function<bool()>& interrupted) {
    std::set<uint8_t> reporting;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t id) {
        reporting.insert(id);
    };
    protocol.LinkStatistics().SetExpectedRate(expectedRate);
    protocol.LinkStatistics().Clear(GetTickCount());
    protocol.SetMeasure(true);
    for (int second = 0; second < seconds && !interrupted(); ++second) {
        for (uint8_t id : reporting) protocol.RequestVersion(id);
        serve(1000);
    }
    const TMiraLinkReport report = protocol.LinkReport();
    protocol.SetMeasure(false);
    protocol.OnMeasuresReceived = nullptr;
    PrintLinkReport(report, json, out);
    return 0;
}

}  // namespace wct::cli
