// SPDX-License-Identifier: Apache-2.0
#include "protocol/wireless_frame.h"

#include <cassert>

namespace wct {

std::string BuildFrame(uint8_t code, uint8_t consoleId, std::string_view payload) {
    assert(payload.size() <= 255);
    std::string frame;
    frame.reserve(payload.size() + kFrameOverhead);
    frame += static_cast<char>(kFrameStart);
    frame += static_cast<char>(code);
    frame += static_cast<char>(consoleId);
    frame += static_cast<char>(payload.size());
    frame += payload;
    frame += '\0';
    frame += static_cast<char>(kFrameStop);
    return frame;
}

bool IsValidFrame(std::string_view packet) {
    if (packet.size() < kFrameOverhead) return false;
    if (static_cast<uint8_t>(packet.front()) != kFrameStart) return false;
    if (static_cast<uint8_t>(packet.back()) != kFrameStop) return false;
    return packet.size() == static_cast<uint8_t>(packet[3]) + kFrameOverhead;
}

namespace {

// A whole frame, consistent with its length byte, starts at `at`.
bool WholeFrameAt(std::string_view bytes, size_t at) {
    if (bytes.size() < at + 4) return false;
    const size_t length = static_cast<uint8_t>(bytes[at + 3]) + kFrameOverhead;
    return bytes.size() >= at + length && IsValidFrame(bytes.substr(at, length));
}

}  // namespace

int FrameEnd(std::string_view buffered) {
    if (buffered.size() < 4) return 0;
    const size_t length = static_cast<uint8_t>(buffered[3]) + kFrameOverhead;
    if (buffered.size() >= length)
        return static_cast<uint8_t>(buffered[length - 1]) == kFrameStop ? static_cast<int>(length)
                                                                        : -1;
    // Still short of the length: a corrupt length must not hold back the frames after it.
    for (size_t i = 4; i + 1 < buffered.size(); ++i) {
        if (static_cast<uint8_t>(buffered[i]) == kFrameStop &&
            static_cast<uint8_t>(buffered[i + 1]) == kFrameStart && WholeFrameAt(buffered, i + 1))
            return -1;
    }
    return 0;
}

}  // namespace wct
