// SPDX-License-Identifier: Apache-2.0
// The frame every exchange with the dongle travels in:
//   3E, code, console ID, N, N payload bytes, spare 00, 21
// Multi-byte numbers are big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wct {

// Command codes (PC to dongle) and reply codes (dongle to PC).
enum TMiraCode : uint8_t {
    mcMeasures = 0x01,
    mcOpenRegistration = 0x02,
    mcCloseRegistration = 0x03,
    mcNumberOfConsoles = 0x04,
    mcConsoleAdded = 0x05,
    mcRemoveConsole = 0x06,
    mcSelectConsole = 0x07,
    mcDeselectConsole = 0x08,
    mcSerialNumber = 0x09,
    mcVersion = 0x0A,
    mcTotalRolls = 0x0B,
    mcResetTotalRolls = 0x0C,
    mcWriteValue = 0x0E,
    mcReadValue = 0x0F,
    mcResistances = 0x10,
    mcMeasure = 0x13,
    mcRoll = 0x14,
    mcFirmware = 0x15,
    mcTriggerClock = 0x16,
    mcTestSignals = 0x17,
    mcTestKeys = 0x18,
    mcTestCardio = 0x19,
    mcNAck = 0xFE,
    mcAck = 0xFF,
};

constexpr uint8_t kFrameStart = 0x3E;
constexpr uint8_t kFrameStop = 0x21;
// Bytes of a frame around its payload.
constexpr size_t kFrameOverhead = 6;
// Console ID that addresses every console in the remove command.
constexpr uint8_t kAllConsoles = 0xFF;

// A complete frame. The payload must fit the one-byte length (at most 255 bytes); the
// callers build only frames that do.
std::string BuildFrame(uint8_t code, uint8_t consoleId, std::string_view payload = {});

// Starts with 3E, ends with 21 and is exactly as long as its length byte says.
bool IsValidFrame(std::string_view packet);

// Where the frame that `buffered` begins with (its first byte is the start byte) ends, as
// the packet framer's custom stop decision wants it: the 1-based position of its last
// byte, 0 while more bytes are needed, -1 to fall back on the first stop byte. The length
// byte decides, so a payload byte 21 does not end a frame; a length that the bytes belie
// (no stop byte where it points, or a whole frame starting right after an earlier stop
// byte) falls back on the stop byte, as a frame without a length would.
int FrameEnd(std::string_view buffered);

}  // namespace wct
