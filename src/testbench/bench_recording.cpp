// SPDX-License-Identifier: Apache-2.0
#include "testbench/bench_recording.h"

#include <algorithm>
#include <cctype>

#include "protocol/wireless_protocol.h"

namespace wct::testbench {

TBenchRecording::TBenchRecording(TMiraWirelessProtocol& protocol)
    : protocol_(protocol), capture_(protocol) {}

TBenchRecording::~TBenchRecording() {
    Stop();
}

bool TBenchRecording::IsCapture(const std::string& path) {
    constexpr std::string_view suffix = ".pcapng";
    return path.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), path.end() - suffix.size(),
                      [](char s, char c) {
                          return s == std::tolower(static_cast<unsigned char>(c));
                      });
}

void TBenchRecording::StartRecording(const std::string& path) {
    if (recording_) return;
    recorder_.Open(path);
    recording_ = true;
    path_ = path;
    Tap();
}

void TBenchRecording::StartCapture(const std::string& path, const std::string& application) {
    if (capturing_) return;
    capture_.Open(path, application);
    capturing_ = true;
    path_ = path;
    Tap();
}

void TBenchRecording::Start(const std::string& path, const std::string& application) {
    if (IsCapture(path))
        StartCapture(path, application);
    else
        StartRecording(path);
}

void TBenchRecording::Tap() {
    protocol_.SetWireTap(this);
}

bool TBenchRecording::Recording() const {
    return (recording_ || capturing_) && protocol_.WireTap() == this;
}

bool TBenchRecording::Broken() const {
    return Recording() &&
           ((recording_ && !recorder_.IsOpen()) || (capturing_ && !capture_.IsOpen()));
}

std::vector<std::string> TBenchRecording::Stop() {
    if (protocol_.WireTap() == this) protocol_.SetWireTap(nullptr);
    std::vector<std::string> errors;
    if (recording_) {
        recorder_.Close();
        if (!recorder_.Error().empty()) errors.push_back(recorder_.Error());
    }
    if (capturing_) {
        capture_.Close();
        if (!capture_.Error().empty()) errors.push_back(capture_.Error());
    }
    recording_ = capturing_ = false;
    return errors;
}

void TBenchRecording::Written(const std::string& bytes) {
    recorder_.Written(bytes);
    capture_.Written(bytes);
}

void TBenchRecording::Read(const char* bytes, int count) {
    recorder_.Read(bytes, count);
    capture_.Read(bytes, count);
}

}  // namespace wct::testbench
