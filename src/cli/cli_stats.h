// SPDX-License-Identifier: Apache-2.0
// `wct stats`: measures for a while, asks every reporting console for its version once a
// second so that there are replies to time, and prints the link statistics the protocol
// component kept meanwhile: a table, or one JSON object. `expectedRate` (per second, 0
// for none) is the measures rate the consoles are known to keep to.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "protocol/wireless_protocol.h"

namespace wct::cli {

// `serve` waits the given milliseconds while replies are handled (or less, when the run
// is interrupted); `interrupted` says whether it was.
int RunStats(TMiraWirelessProtocol& protocol, int seconds, double expectedRate, bool json,
             std::ostream& out, const std::function<void(uint32_t ms)>& serve,
             const std::function<bool()>& interrupted);

void PrintLinkReport(const TMiraLinkReport& report, bool json, std::ostream& out);

}  // namespace wct::cli
