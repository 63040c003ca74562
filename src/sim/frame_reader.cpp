// SPDX-License-Identifier: Apache-2.0
#include "sim/frame_reader.h"

namespace wct::sim {

TFrameReader::TFrameReader(TFrameFormat format, size_t limit) : format_(format), limit_(limit) {}

void TFrameReader::Feed(std::string_view bytes) {
    buffer_.append(bytes);
}

std::optional<std::string> TFrameReader::Next(std::string& skipped) {
    const auto start = static_cast<char>(format_.start);
    const auto stop = static_cast<char>(format_.stop);
    size_t firstPending = std::string::npos;
    for (size_t i = buffer_.find(start); i != std::string::npos; i = buffer_.find(start, i + 1)) {
        const size_t length = format_.length(std::string_view(buffer_).substr(i));
        if (length == 0 || i + length > buffer_.size()) {
            if (firstPending == std::string::npos) firstPending = i;
            continue;
        }
        if (buffer_[i + length - 1] != stop) continue;
        skipped.append(buffer_, 0, i);
        std::string frame = buffer_.substr(i, length);
        buffer_.erase(0, i + length);
        return frame;
    }
    // Nothing complete: keep what may still become a frame, give up on the rest.
    size_t keepFrom = firstPending == std::string::npos ? buffer_.size() : firstPending;
    if (buffer_.size() - keepFrom > limit_) keepFrom = buffer_.size();
    skipped.append(buffer_, 0, keepFrom);
    buffer_.erase(0, keepFrom);
    return std::nullopt;
}

}  // namespace wct::sim
