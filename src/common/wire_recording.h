// SPDX-License-Identifier: Apache-2.0
// The text form of a wire recording: everything that crossed a serial line, both ways,
// with microsecond time stamps, as written by `wct --record` and played by
// `wct-sim replay`.
//
//   # wct wire recording 1
//   # any further line starting with '#' is a comment
//   1234 -> 3E0A00000021
//   5678 <- 3E0A0001780021
//
// One line per chunk: the microseconds since the recording began (decimal, never
// decreasing), the direction ("->" written by the host to the device, "<-" read by the
// host from the device) and the chunk's bytes as uppercase hex pairs, at least one byte.
// A chunk is whatever one write or one read moved, so bytes that never formed a frame
// (noise, a frame cut in two) are kept exactly as they came. Every line ends with a line
// feed: a recording cut short by a crash shows as a last line without one.
//
// Plain standard library; used by the protocol (writing) and the simulators (reading).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace wct {

enum class TWireDirection { wdToDevice, wdFromDevice };

struct TWireChunk {
    uint64_t micros = 0;
    TWireDirection direction = TWireDirection::wdToDevice;
    std::string bytes;
};

// A recording that cannot be read; `Line()` is 1-based, 0 when the whole text is at fault.
class EWireRecording : public std::runtime_error {
public:
    EWireRecording(int line, const std::string& message);
    int Line() const { return line_; }

private:
    int line_;
};

extern const char* const kWireRecordingHeader;

// One line of the form above, line feed included.
std::string FormatWireChunk(const TWireChunk& chunk);

// The chunks of a whole recording, in order. Throws EWireRecording naming the line.
std::vector<TWireChunk> ParseWireRecording(std::string_view text);

// Reads and parses a file; a file that cannot be read is an EWireRecording of line 0.
std::vector<TWireChunk> ReadWireRecording(const std::string& path);

}  // namespace wct
