// SPDX-License-Identifier: Apache-2.0
// TBenchRecording: the wire's traffic to files, as a wire recording, as a pcapng capture
// for Wireshark, or as both at once. While either runs it is on the protocol's wire tap;
// Stop takes it off again. A file that a write error ended on its own (disk full) leaves
// its side "recording" until Stop, which then says what was lost, so that whoever watches
// hears of it once. Main thread only; the protocol must outlive it.
#pragma once

#include <string>
#include <vector>

#include "protocol/dongle_capture.h"
#include "protocol/wire_recorder.h"
#include "protocol/wire_tap.h"

namespace wct {
class TMiraWirelessProtocol;
}

namespace wct::testbench {

class TBenchRecording : private TMiraWireTap {
public:
    explicit TBenchRecording(TMiraWirelessProtocol& protocol);
    ~TBenchRecording() override;
    TBenchRecording(const TBenchRecording&) = delete;
    TBenchRecording& operator=(const TBenchRecording&) = delete;

    // Start a wire recording, or a capture written by `application`; each throws
    // std::runtime_error, naming the file and the reason, when it cannot, and does
    // nothing while its kind already records.
    void StartRecording(const std::string& path);
    void StartCapture(const std::string& path, const std::string& application);
    // One or the other by the file's name: a capture for "*.pcapng".
    void Start(const std::string& path, const std::string& application);
    // Ends both; what went wrong with each, one text each, none when all was kept.
    std::vector<std::string> Stop();

    bool Recording() const;
    // Recording, but a write error has ended a file.
    bool Broken() const;
    // The file of the current or last one started; empty before the first.
    const std::string& Path() const { return path_; }

    // Whether `path` names a pcapng capture.
    static bool IsCapture(const std::string& path);

private:
    void Written(const std::string& bytes) override;
    void Read(const char* bytes, int count) override;
    void Tap();

    TMiraWirelessProtocol& protocol_;
    TWireRecorder recorder_;
    TDongleCapture capture_;
    bool recording_ = false;
    bool capturing_ = false;
    std::string path_;
};

}  // namespace wct::testbench
