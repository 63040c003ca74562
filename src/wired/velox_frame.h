// SPDX-License-Identifier: Apache-2.0
// What crosses the cable to the wired trainer: the PC's 6-byte frames, the commands, the
// identification answers and the field conversions. The driver (velox_device.h) decodes
// the trainer's messages; this header holds what both directions share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wct::wired {

inline constexpr uint8_t kFrameStart = 0xF0;
inline constexpr uint8_t kFrameStop = 0xF7;
inline constexpr uint8_t kIdentificationByte = 0x28;
inline constexpr size_t kShortFrameSize = 6;
inline constexpr size_t kLongFrameSize = 10;

// Commands, from the PC and from the trainer.
enum TVeloxCommand : uint8_t {
    vcLoad = 1,  // PC: resistance, elevation; trainer: measures
    vcMeasures = 1,
    vcRollTotal = 2,  // trainer only
    vcSerialNumber = 3,
    vcUnparsed = 5,  // trainer only, passed on whole
    vcIdentification = 8,
    vcProductVersion = 9,
};

// Flags byte of a measures message and of every byte of the byte protocol.
enum TVeloxFlag : uint8_t {
    vfKeys = 0x0F,
    vfPedal = 0x10,
    vfHeartBeat = 0x20,
    vfRoll = 0x40,  // byte protocol only
};

// F0, command, parameter 1, parameter 2 (0 for command 8), 00, F7.
std::string BuildFrame(uint8_t command, uint8_t param1, uint8_t param2);

// The `Version` an identification answer stands for, and whether the input buffer is
// cleared before the trainer counts as connected; nothing for a wrong answer.
struct TIdentified {
    double version;
    bool clearInput;
};
std::optional<TIdentified> DecodeIdentification(uint8_t answer);

// Roll events per 100 ms from a long frame's roll period (26.4 µs ticks); 0 for no roll.
double RollEventsPer100ms(unsigned period);

// Load bytes are kept within 0..255 and off the frame's start and stop bytes.
int ClampLoadByte(long long value);

// Big-endian 16-bit word at `at`, 0 past the end.
unsigned Word(std::string_view message, size_t at);

}  // namespace wct::wired
