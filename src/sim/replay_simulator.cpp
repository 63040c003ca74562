// SPDX-License-Identifier: Apache-2.0
#include "sim/replay_simulator.h"

#include <cmath>
#include <stdexcept>

namespace wct::sim {
namespace {

constexpr uint8_t kStart = 0x3E;
constexpr uint8_t kStop = 0x21;

size_t FrameLength(std::string_view head) {
    return head.size() < 4 ? 0 : static_cast<uint8_t>(head[3]) + size_t{6};
}

}  // namespace

TReplaySimulator::TReplaySimulator(const std::vector<TWireChunk>& recording, TReplayOptions options,
                                   const TSimSettings& settings)
    : TPtySimulator(settings, kStart), options_(options), reader_({kStart, kStop, &FrameLength}) {
    if (!(options_.speed > 0)) throw std::invalid_argument("the speed must be above 0");
    answers_.emplace_back();
    uint64_t writtenAt = 0;
    for (const TWireChunk& chunk : recording) {
        if (chunk.direction == TWireDirection::wdFromDevice) {
            answers_.back().chunks.emplace_back(chunk.micros - writtenAt, chunk.bytes);
            continue;
        }
        answers_.back().length = chunk.micros - writtenAt;
        writtenAt = chunk.micros;
        answers_.emplace_back();
        // The host may have written anything (a hand-typed frame, noise): only the
        // frames in it are requests.
        TFrameReader frames({kStart, kStop, &FrameLength});
        frames.Feed(chunk.bytes);
        std::string skipped;
        while (auto frame = frames.Next(skipped)) {
            byFrame_[*frame].push_back(answers_.size() - 1);
            ++requests_;
        }
    }
    if (!recording.empty()) answers_.back().length = recording.back().micros - writtenAt;
}

TReplaySimulator::~TReplaySimulator() {
    Stop();
}

int64_t TReplaySimulator::Due(uint64_t micros) const {
    return anchor_ + std::llround(static_cast<double>(micros) / 1000.0 / options_.speed);
}

void TReplaySimulator::Play(size_t answer) {
    playing_ = answer;
    anchor_ = Now();
    next_ = 0;
    done_ = false;
}

void TReplaySimulator::Received(std::string_view bytes) {
    HandleFrames(reader_, bytes, [this](const std::string& frame) {
        const auto found = byFrame_.find(frame);
        if (found == byFrame_.end()) {
            Log("-- not in the recording " + BytesToHex(frame));
            return;
        }
        const std::vector<size_t>& answers = found->second;
        size_t answer = answers.front();
        for (size_t candidate : answers) {
            if (candidate > lastMatch_) {
                answer = candidate;
                break;
            }
        }
        lastMatch_ = answer;
        Play(answer);
    });
}

int64_t TReplaySimulator::Tick(int64_t now) {
    while (!done_) {
        const TAnswer& answer = answers_[playing_];
        if (next_ < answer.chunks.size()) {
            const auto& [at, bytes] = answer.chunks[next_];
            const int64_t due = Due(at);
            if (due > now) return due;
            Send(bytes, false);
            ++next_;
            continue;
        }
        // A loop needs time to take; an answer recorded as instant plays once.
        if (!options_.loop || answer.chunks.empty() || Due(answer.length) <= anchor_) {
            done_ = true;
            break;
        }
        const int64_t restart = Due(answer.length);
        if (restart > now) return restart;
        anchor_ = restart;
        next_ = 0;
    }
    return kNever;
}

}  // namespace wct::sim
