// TRecordingControl: the "Link" menu's recording of the wire traffic, as a wire recording
// or, for a file named *.pcapng, as a pcapng capture for Wireshark. While it records, its
// recorder or capture is the protocol's wire tap; Stop takes it off again. A recording
// that a write error ended on its own (disk full) stays "recording" until Stop, which then
// says what was lost, so that the operator hears of it once. Qt-free; main thread only;
// the protocol must outlive the control.
#pragma once

#include <string>

#include "protocol/dongle_capture.h"
#include "protocol/wire_recorder.h"
#include "protocol/wireless_protocol.h"

namespace wct {

class TRecordingControl {
public:
    explicit TRecordingControl(TMiraWirelessProtocol& protocol)
        : protocol_(protocol), capture_(protocol) {}
    ~TRecordingControl();
    TRecordingControl(const TRecordingControl&) = delete;
    TRecordingControl& operator=(const TRecordingControl&) = delete;

    // Starts recording to `path`, a capture when its name ends in ".pcapng"; throws
    // std::runtime_error, in a sentence that names the file and the reason, when it
    // cannot. Does nothing while recording.
    void Start(const std::string& path);
    // Ends the recording; what went wrong with it, as a sentence, or empty.
    std::string Stop();
    bool Recording() const { return active_ != nullptr && protocol_.WireTap() == active_; }
    // Recording, but a write error has ended the file.
    bool Broken() const;
    // The file of the current or last recording; empty before the first.
    const std::string& Path() const { return path_; }

    // Whether `path` names a pcapng capture.
    static bool IsCapture(const std::string& path);

private:
    TMiraWirelessProtocol& protocol_;
    TWireRecorder recorder_;
    TDongleCapture capture_;
    TMiraWireTap* active_ = nullptr;  // &recorder_ or &capture_ while recording
    std::string path_;
};

}  // namespace wct
