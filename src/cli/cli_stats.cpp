#include "cli/cli_stats.h"

#include <cstdio>
#include <ostream>
#include <set>
#include <string>

#include "common/tick_count.h"
#include "serial/hex.h"

namespace wct::cli {
namespace {

std::string Fixed(double value, int decimals = 1) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Hex2(uint8_t value) {
    return BytesToHex(std::string(1, static_cast<char>(value)));
}

// "0A:12.3/15.0/4" per command: median ms / 99th percentile ms / replies; "-" for none.
std::string LatencyCell(const TMiraConsoleLinkStats& c) {
    if (c.latencies.empty()) return "-";
    std::string cell;
    for (const TMiraCommandLatency& l : c.latencies) {
        if (!cell.empty()) cell += ',';
        cell += Hex2(l.command) + ':' + Fixed(l.medianMs) + '/' + Fixed(l.p99Ms) + '/' +
                std::to_string(l.replies);
    }
    return cell;
}

void PrintTable(const TMiraLinkReport& report, std::ostream& out) {
    out << "console frames fps expected_fps lost lost_pct longest_silence_ms nacks unanswered "
           "latency_ms\n";
    for (const TMiraConsoleLinkStats& c : report.consoles) {
        out << int(c.console) << ' ' << c.frames << ' ' << Fixed(c.framesPerSecond) << ' '
            << Fixed(c.expectedRate) << ' ' << c.lost << ' ' << Fixed(c.lostShare * 100) << ' '
            << Fixed(c.longestSilenceMs) << ' ' << c.nacks << ' ' << c.unanswered << ' '
            << LatencyCell(c) << '\n';
    }
    out << "malformed_frames " << report.malformedFrames << '\n'
        << "discarded_bytes " << report.discardedBytes << '\n'
        << "seconds " << Fixed(report.seconds, 3) << '\n';
}

void PrintJson(const TMiraLinkReport& report, std::ostream& out) {
    out << "{\"seconds\":" << Fixed(report.seconds, 3)
        << ",\"malformed_frames\":" << report.malformedFrames
        << ",\"discarded_bytes\":" << report.discardedBytes << ",\"consoles\":[";
    for (size_t i = 0; i < report.consoles.size(); ++i) {
        const TMiraConsoleLinkStats& c = report.consoles[i];
        out << (i ? "," : "") << "{\"console\":" << int(c.console) << ",\"frames\":" << c.frames
            << ",\"frames_per_second\":" << Fixed(c.framesPerSecond, 3)
            << ",\"expected_rate\":" << Fixed(c.expectedRate, 3) << ",\"lost\":" << c.lost
            << ",\"lost_share\":" << Fixed(c.lostShare, 4)
            << ",\"longest_silence_ms\":" << Fixed(c.longestSilenceMs, 3)
            << ",\"nacks\":" << c.nacks << ",\"unanswered\":" << c.unanswered << ",\"latency\":[";
        for (size_t k = 0; k < c.latencies.size(); ++k) {
            const TMiraCommandLatency& l = c.latencies[k];
            out << (k ? "," : "") << "{\"command\":\"" << Hex2(l.command)
                << "\",\"replies\":" << l.replies << ",\"median_ms\":" << Fixed(l.medianMs, 3)
                << ",\"p99_ms\":" << Fixed(l.p99Ms, 3) << '}';
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
