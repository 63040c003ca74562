// SPDX-License-Identifier: Apache-2.0
#include "protocol/link_report_table.h"

#include <cstdio>

#include "common/hex.h"

namespace wct {

std::string FixedText(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string CommandText(uint8_t command) {
    return BytesToHex(std::string(1, static_cast<char>(command)));
}

namespace {

std::string LatencyCell(const TMiraConsoleLinkStats& c) {
    if (c.latencies.empty()) return "-";
    std::string cell;
    for (const TMiraCommandLatency& l : c.latencies) {
        if (!cell.empty()) cell += ',';
        cell += CommandText(l.command) + ':' + FixedText(l.medianMs, 1) + '/' +
                FixedText(l.p99Ms, 1) + '/' + std::to_string(l.replies);
    }
    return cell;
}

}  // namespace

TLinkReportRow LinkReportRow(const TMiraConsoleLinkStats& c) {
    return {std::to_string(c.console),        std::to_string(c.frames),
            FixedText(c.framesPerSecond, 1),  FixedText(c.expectedRate, 1),
            std::to_string(c.lost),           FixedText(c.lostShare * 100, 1),
            FixedText(c.longestSilenceMs, 1), std::to_string(c.nacks),
            std::to_string(c.unanswered),     LatencyCell(c)};
}

std::vector<TLinkReportTotal> LinkReportTotals(const TMiraLinkReport& report) {
    return {{{"malformed_frames", "Malformed frames"}, std::to_string(report.malformedFrames)},
            {{"discarded_bytes", "Discarded bytes"}, std::to_string(report.discardedBytes)},
            {{"seconds", "Seconds counted"}, FixedText(report.seconds, 3)}};
}

}  // namespace wct
