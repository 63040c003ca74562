// SPDX-License-Identifier: Apache-2.0
// A driver whose writes are recorded instead of going to a port, and helpers that build
// the trainer's messages, for tests that feed the decoder directly.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "wired/velox_device.h"

namespace wct::wired::test {

inline std::string Bytes(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned v : values) bytes += static_cast<char>(v & 0xFF);
    return bytes;
}

// F0 01 flags count 00 F7
inline std::string ShortMeasures(unsigned flags, unsigned rollEvents) {
    return Bytes({0xF0, 0x01, flags, rollEvents, 0x00, 0xF7});
}

// F0 01 flags roll(2) pedal(2) heart(2) F7
inline std::string LongMeasures(unsigned flags, unsigned roll, unsigned pedal, unsigned heart) {
    return Bytes({0xF0, 0x01, flags, roll >> 8, roll, pedal >> 8, pedal, heart >> 8, heart, 0xF7});
}

class TRecordingDevice : public TVeloxDevice {
public:
    using TVeloxDevice::TVeloxDevice;
    void SendBytes(const std::string& bytes) override { sent.push_back(bytes); }
    std::vector<std::string> sent;
};

}  // namespace wct::wired::test
