// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_export.h"

#include <sys/stat.h>

#include <cstdio>
#include <ostream>

#include "cli/cli_runner.h"
#include "common/pcapng_file.h"
#include "common/wire_recording.h"
#include "protocol/dongle_capture.h"

namespace wct::cli {

int RunExport(const std::string& recording, const std::string& pcap, std::ostream& err) {
    std::vector<TWireChunk> chunks;
    try {
        chunks = ReadWireRecording(recording);
    } catch (const EWireRecording& e) {
        err << "wct: " << recording << ": " << e.what() << '\n';
        return exUsage;
    }
    struct stat info {};
    uint64_t endMicros = 0;
    if (::stat(recording.c_str(), &info) == 0)
        endMicros = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000 +
                    static_cast<uint64_t>(info.st_mtim.tv_nsec) / 1000;
    const uint64_t length = chunks.empty() ? 0 : chunks.back().micros;
    TPcapngFile file;
    try {
        file.Open(pcap, "wct " WCT_VERSION);
    } catch (const std::exception& e) {
        err << "wct: " << e.what() << '\n';
        return exFailed;
    }
    ExportWireRecording(chunks, endMicros > length ? endMicros - length : 0, recording, file);
    file.Close();
    if (file.Error().empty()) return exDone;
    err << "wct: " << file.Error() << '\n';
    std::remove(pcap.c_str());
    return exFailed;
}

}  // namespace wct::cli
