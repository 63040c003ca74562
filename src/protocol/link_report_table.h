// SPDX-License-Identifier: Apache-2.0
// The link report as a table of text cells: one row per console in the columns below,
// then the link's totals. `wct stats` prints it, the window's statistics view shows it,
// so both give the same figures to the same decimals.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/link_statistics.h"

namespace wct {

struct TLinkReportColumn {
    const char* key;      // one word, for a text table
    const char* caption;  // for a person reading a grid
};

inline constexpr std::array<TLinkReportColumn, 10> kLinkReportColumns{{
    {"console", "Console"},
    {"frames", "Frames"},
    {"fps", "Frames/s"},
    {"expected_fps", "Expected/s"},
    {"lost", "Lost"},
    {"lost_pct", "Lost %"},
    {"longest_silence_ms", "Longest silence ms"},
    {"nacks", "NACKs"},
    {"unanswered", "Unanswered"},
    {"latency_ms", "Latency ms (cmd:median/p99/replies)"},
}};

// One cell per column: latency is "0A:12.3/15.0/4" per command, comma separated ("-" for
// none).
using TLinkReportRow = std::array<std::string, kLinkReportColumns.size()>;
TLinkReportRow LinkReportRow(const TMiraConsoleLinkStats& console);

struct TLinkReportTotal {
    TLinkReportColumn name;
    std::string value;
};

// Malformed frames, discarded bytes and the seconds the statistics cover.
std::vector<TLinkReportTotal> LinkReportTotals(const TMiraLinkReport& report);

// `value` with `decimals` decimals, always a dot.
std::string FixedText(double value, int decimals);
// A command code as two hex digits: "0A".
std::string CommandText(uint8_t command);

}  // namespace wct
