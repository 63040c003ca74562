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

}  // namespace wct
