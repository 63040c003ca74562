// TRecordingControl: the "Link" menu's recording of the wire traffic. While it records,
// its recorder is the protocol's wire tap; Stop takes it off again. A recording that a
// write error ended on its own (disk full) stays "recording" until Stop, which then says
// what was lost, so that the operator hears of it once. Qt-free; main thread only; the
// protocol must outlive the control.
#pragma once

#include <string>

#include "protocol/wire_recorder.h"
#include "protocol/wireless_protocol.h"

namespace wct {

class TRecordingControl {
public:
    explicit TRecordingControl(TMiraWirelessProtocol& protocol) : protocol_(protocol) {}
    ~TRecordingControl();
    TRecordingControl(const TRecordingControl&) = delete;
    TRecordingControl& operator=(const TRecordingControl&) = delete;

    // Starts recording to `path`; throws std::runtime_error, in a sentence that names the
    // file and the reason, when it cannot. Does nothing while recording.
    void Start(const std::string& path);
    // Ends the recording; what went wrong with it, as a sentence, or empty.
    std::string Stop();
    bool Recording() const { return protocol_.WireTap() == &recorder_; }
    // Recording, but a write error has ended the file.
    bool Broken() const { return Recording() && !recorder_.IsOpen(); }
    // The file of the current or last recording; empty before the first.
    const std::string& Path() const { return path_; }

private:
    TMiraWirelessProtocol& protocol_;
    TWireRecorder recorder_;
    std::string path_;
};

}  // namespace wct
