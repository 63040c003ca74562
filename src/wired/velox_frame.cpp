// SPDX-License-Identifier: Apache-2.0
#include "wired/velox_frame.h"

namespace wct::wired {

std::string BuildFrame(uint8_t command, uint8_t param1, uint8_t param2) {
    if (command == vcIdentification) param2 = 0;
    return std::string{static_cast<char>(kFrameStart),
                       static_cast<char>(command),
                       static_cast<char>(param1),
                       static_cast<char>(param2),
                       '\0',
                       static_cast<char>(kFrameStop)};
}

std::optional<TIdentified> DecodeIdentification(uint8_t answer) {
    switch (answer) {
        case 0x50:
            return TIdentified{4, false};
        case 0x54:
            return TIdentified{5, true};
        case 0x55:
            return TIdentified{4.5, true};
        case 0x58:
            return TIdentified{6, true};
        case 0x5A:
            return TIdentified{5.5, true};
        case 0x5C:
            return TIdentified{7, true};
        default:
            return std::nullopt;
    }
}

double RollEventsPer100ms(unsigned period) {
    if (period == 0 || period >= 0xFFFF) return 0;
    return 3787.878787878787879 / period;
}

int ClampLoadByte(long long value) {
    if (value < 0) return 0;
    if (value >= 256) return 255;
    if (value == kFrameStart) return kFrameStart - 1;
    if (value == kFrameStop) return kFrameStop - 1;
    return static_cast<int>(value);
}

unsigned Word(std::string_view message, size_t at) {
    if (at + 1 >= message.size()) return 0;
    return static_cast<uint8_t>(message[at]) * 256u + static_cast<uint8_t>(message[at + 1]);
}

}  // namespace wct::wired
