// SPDX-License-Identifier: Apache-2.0
// The dongle link's traffic as a pcapng capture (common/pcapng_file.h), link type
// kLinkTypeDongle, for Wireshark and the bench's dissector.
//
// A packet is what one frame is on the wire: each write of the host is one packet as
// written (a hand-typed frame too, well formed or not); the bytes read are cut into the
// frames they carry, whatever chunks the port delivered them in, so that a live capture
// and the export of a recording of the same traffic hold the same packets. The cut goes
// by the frame's length byte when the byte it points at is the stop byte 0x21; otherwise
// at the first 0x21, as the bench's framer cuts. Bytes before a start byte 0x3E are a
// packet of their own. A frame that has not ended when the capture does is written as far
// as it came.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/pcapng_file.h"
#include "common/wire_recording.h"
#include "protocol/wire_tap.h"

namespace wct {

class TMiraWirelessProtocol;

// Cuts the byte stream read from the dongle into packets, as described above.
class TDongleFrameCutter {
public:
    // The packets that `bytes` completed, in order.
    std::vector<std::string> Add(std::string_view bytes);
    // What is left, as one packet (or none): the stream has ended.
    std::string Rest();

private:
    std::string pending_;
};

// One port as an interface of the capture.
struct TCapturePort {
    std::string name;
    uint64_t bitsPerSecond = 0;
};

// Writes the traffic of one or more ports, one interface each, to an open file.
class TDonglePackets {
public:
    explicit TDonglePackets(TPcapngFile& file) : file_(file) {}
    // The port the following traffic crosses; a port not seen before gets an interface.
    // What was still being cut for the previous port is written first, at `micros`.
    void SetPort(const TCapturePort& port, uint64_t micros);
    // Forgets the ports and what was being cut: a new file.
    void Reset();
    void Add(uint64_t micros, TWireDirection direction, std::string_view bytes);
    // Writes what is still being cut.
    void Flush(uint64_t micros);

private:
    TPcapngFile& file_;
    std::vector<std::string> names_;  // interface i's port
    std::string port_;
    uint32_t interface_ = 0;
    bool hasPort_ = false;
    TDongleFrameCutter cutter_;
};

// The live capture: the protocol's wire tap while it captures. Time stamps are the wall
// clock at Open moved on by the monotonic clock. Main thread only; the protocol must
// outlive it.
class TDongleCapture : public TMiraWireTap {
public:
    explicit TDongleCapture(const TMiraWirelessProtocol& protocol);
    ~TDongleCapture() override;
    TDongleCapture(const TDongleCapture&) = delete;
    TDongleCapture& operator=(const TDongleCapture&) = delete;

    // Creates or truncates `path`, the section header naming `application`; throws
    // std::runtime_error naming the file and the reason.
    void Open(const std::string& path, const std::string& application);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }
    // Empty while all went well; once set, nothing more is written.
    const std::string& Error() const { return file_.Error(); }

    void Written(const std::string& bytes) override;
    void Read(const char* bytes, int count) override;

private:
    void Add(TWireDirection direction, std::string_view bytes);

    const TMiraWirelessProtocol& protocol_;
    TPcapngFile file_;
    TCaptureClock clock_;
    TDonglePackets packets_{file_};
};

// A wire recording of the dongle link as a capture on one interface named `portName`,
// its first chunk at `startMicros` (microseconds since 1970), to the open `file`.
void ExportWireRecording(const std::vector<TWireChunk>& recording, uint64_t startMicros,
                         const std::string& portName, TPcapngFile& file);

// The rate of the dongle's line, as an interface's speed.
constexpr uint64_t kDongleBitsPerSecond = 115200;

}  // namespace wct
