#include "cli/cli_stats.h"

#include <ostream>
#include <set>
#include <string>

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

void PrintJson(const TMiraLinkReport& report, std::ostream& out) {
    out << "{\"seconds\":" << FixedText(report.seconds, 3)
        << ",\"malformed_frames\":" << report.malformedFrames
        << ",\"discarded_bytes\":" << report.discardedBytes << ",\"consoles\":[";
    for (size_t i = 0; i < report.consoles.size(); ++i) {
        const TMiraConsoleLinkStats& c = report.consoles[i];
        out << (i ? "," : "") << "{\"console\":" << int(c.console) << ",\"frames\":" << c.frames
            << ",\"frames_per_second\":" << FixedText(c.framesPerSecond, 3)
            << ",\"expected_rate\":" << FixedText(c.expectedRate, 3) << ",\"lost\":" << c.lost
            << ",\"lost_share\":" << FixedText(c.lostShare, 4)
            << ",\"longest_silence_ms\":" << FixedText(c.longestSilenceMs, 3)
            << ",\"nacks\":" << c.nacks << ",\"unanswered\":" << c.unanswered << ",\"latency\":[";
        for (size_t k = 0; k < c.latencies.size(); ++k) {
            const TMiraCommandLatency& l = c.latencies[k];
            out << (k ? "," : "") << "{\"command\":\"" << CommandText(l.command)
                << "\",\"replies\":" << l.replies << ",\"median_ms\":" << FixedText(l.medianMs, 3)
                << ",\"p99_ms\":" << FixedText(l.p99Ms, 3) << '}';
        }
        out << "]}";
    }
    out << "]}\n";
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
