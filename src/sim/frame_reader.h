// SPDX-License-Identifier: Apache-2.0
// Cuts the bytes a simulator receives into frames of a start-byte / stop-byte format
// whose total length follows from the frame's first bytes.
//
// It never trusts a start byte alone: the earliest start byte that begins a complete
// frame ending in the stop byte wins, and everything before it is handed back as
// skipped, so garbage, truncated frames and wrong length bytes cost only themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wct::sim {

struct TFrameFormat {
    uint8_t start;
    uint8_t stop;
    // Total length of a frame whose first bytes are `head` (head[0] is the start byte),
    // or 0 while more bytes are needed to tell.
    size_t (*length)(std::string_view head);
};

class TFrameReader {
public:
    // Input that piles up beyond `limit` bytes without forming a frame is dropped.
    explicit TFrameReader(TFrameFormat format, size_t limit = 1024);

    void Feed(std::string_view bytes);
    // The next complete frame, if any. Bytes given up on (before that frame, or that can
    // no longer start one) are appended to `skipped`.
    std::optional<std::string> Next(std::string& skipped);
    void Clear() { buffer_.clear(); }

private:
    TFrameFormat format_;
    size_t limit_;
    std::string buffer_;
};

}  // namespace wct::sim
