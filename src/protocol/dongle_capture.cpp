// SPDX-License-Identifier: Apache-2.0
#include "protocol/dongle_capture.h"

#include <algorithm>

#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "serial/com_port.h"

namespace wct {
namespace {

constexpr size_t kLongestFrame = 255 + kFrameOverhead;
constexpr char kStart = static_cast<char>(kFrameStart);
constexpr char kStop = static_cast<char>(kFrameStop);

// The length of the packet at the front of `b`; 0 while more bytes may change it.
size_t NextPacket(std::string_view b, bool ended) {
    const bool mayWait = !ended && b.size() < kLongestFrame;
    if (b.front() != kStart) {
        const size_t start = b.find(kStart);
        if (start != std::string_view::npos) return start;
        return mayWait ? 0 : b.size();
    }
    if (b.size() < 4) {
        if (mayWait) return 0;
    } else {
        const size_t total = static_cast<uint8_t>(b[3]) + kFrameOverhead;
        if (b.size() >= total && b[total - 1] == kStop) return total;
        if (b.size() < total && mayWait) return 0;
    }
    if (const size_t stop = b.find(kStop, 1); stop != std::string_view::npos) return stop + 1;
    if (const size_t start = b.find(kStart, 1); start != std::string_view::npos) return start;
    return mayWait ? 0 : b.size();
}

}  // namespace

std::vector<std::string> TDongleFrameCutter::Add(std::string_view bytes) {
    pending_ += bytes;
    std::vector<std::string> packets;
    size_t at = 0;
    while (at < pending_.size()) {
        const std::string_view rest = std::string_view(pending_).substr(at);
        const size_t length = NextPacket(rest, false);
        if (length == 0) break;
        packets.emplace_back(rest.substr(0, length));
        at += length;
    }
    pending_.erase(0, at);
    return packets;
}

std::string TDongleFrameCutter::Rest() {
    std::string rest;
    rest.swap(pending_);
    return rest;
}

void TDonglePackets::SetPort(const TCapturePort& port, uint64_t micros) {
    if (hasPort_ && port.name == port_) return;
    Flush(micros);
    const auto known = std::find(names_.begin(), names_.end(), port.name);
    if (known != names_.end()) {
        interface_ = static_cast<uint32_t>(known - names_.begin());
    } else {
        interface_ = file_.AddInterface(kLinkTypeDongle, port.name, port.bitsPerSecond);
        names_.push_back(port.name);
    }
    port_ = port.name;
    hasPort_ = true;
}

void TDonglePackets::Reset() {
    names_.clear();
    port_.clear();
    hasPort_ = false;
    cutter_.Rest();
}

void TDonglePackets::Add(uint64_t micros, TWireDirection direction, std::string_view bytes) {
    if (direction == TWireDirection::wdToDevice) {
        file_.AddPacket(interface_, micros, TPacketDirection::pdOutbound, bytes);
        return;
    }
    for (const std::string& packet : cutter_.Add(bytes))
        file_.AddPacket(interface_, micros, TPacketDirection::pdInbound, packet);
}

void TDonglePackets::Flush(uint64_t micros) {
    const std::string rest = cutter_.Rest();
    if (!rest.empty()) file_.AddPacket(interface_, micros, TPacketDirection::pdInbound, rest);
}

TDongleCapture::TDongleCapture(const TMiraWirelessProtocol& protocol) : protocol_(protocol) {}

TDongleCapture::~TDongleCapture() {
    Close();
}

void TDongleCapture::Open(const std::string& path, const std::string& application) {
    Close();
    file_.Open(path, application);
    clock_ = TCaptureClock();
    packets_.Reset();
}

void TDongleCapture::Close() {
    if (!file_.IsOpen()) return;
    packets_.Flush(clock_.NowMicros());
    file_.Close();
}

void TDongleCapture::Written(const std::string& bytes) {
    Add(TWireDirection::wdToDevice, bytes);
}

void TDongleCapture::Read(const char* bytes, int count) {
    if (count > 0) Add(TWireDirection::wdFromDevice, std::string_view(bytes, size_t(count)));
}

void TDongleCapture::Add(TWireDirection direction, std::string_view bytes) {
    if (!file_.IsOpen() || bytes.empty()) return;
    const uint64_t now = clock_.NowMicros();
    // The tap only sees traffic on a port the protocol has.
    if (const TComPort* port = protocol_.Port(); port != nullptr) {
        const int rate = port->BaudRate() == brCustom ? port->CustomBaudRate()
                                                      : BaudRateValue(port->BaudRate());
        packets_.SetPort({port->Port(), static_cast<uint64_t>(std::max(rate, 0))}, now);
    }
    packets_.Add(now, direction, bytes);
}

void ExportWireRecording(const std::vector<TWireChunk>& recording, uint64_t startMicros,
                         const std::string& portName, TPcapngFile& file) {
    TDonglePackets packets(file);
    packets.SetPort({portName, kDongleBitsPerSecond}, startMicros);
    uint64_t last = startMicros;
    for (const TWireChunk& chunk : recording) {
        last = startMicros + chunk.micros;
        packets.Add(last, chunk.direction, chunk.bytes);
    }
    packets.Flush(last);
}

}  // namespace wct
