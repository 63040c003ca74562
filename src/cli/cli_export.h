// SPDX-License-Identifier: Apache-2.0
// `wct export --pcap OUT REC`: a wire recording of the dongle link (wct --record) as a
// pcapng capture, the packets a live `--pcap` capture of the same traffic holds.
//
// The recording keeps times from its own start only; the capture's clock starts at the
// recording's last change less its length, which is when it began for a recording that was
// written as it went. Exit codes: 0 done, 1 the capture could not be written (nothing is
// left behind), 2 the recording cannot be read (its line named).
#pragma once

#include <iosfwd>
#include <string>

namespace wct::cli {

int RunExport(const std::string& recording, const std::string& pcap, std::ostream& err);

}  // namespace wct::cli
