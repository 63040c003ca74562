// SPDX-License-Identifier: Apache-2.0
// The dongle side of a wire recording (common/wire_recording.h), played back on a
// pseudo-terminal so that the host works against it as against the recorded hardware.
//
// The recording is cut at every chunk the host wrote: the device chunks after a host
// write, up to the next one, are that write's answer, timed from it. When the host
// sends a frame the recording holds, the answer recorded after it plays, chunk by chunk,
// byte for byte (noise and split frames included) at the recorded delays divided by
// `speed`; it replaces whatever answer was still playing. Among several recorded
// occurrences of the same frame the first one after the last match is taken, wrapping
// round to the earliest, so a session run again meets the same answers again. A frame the
// recording never saw gets no answer and leaves the playing answer alone. The device
// chunks before the host's first write play from the start.
//
// With `loop`, an answer that has played to its end starts over after the time the
// recording gave it (up to the next host write), until the host sends a recorded frame:
// a recorded stream of measures then runs for as long as the host keeps measuring.
//
// Everything in TPtySimulator applies (threads, vanish and return, link faults).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/wire_recording.h"
#include "sim/frame_reader.h"
#include "sim/pty_simulator.h"

namespace wct::sim {

struct TReplayOptions {
    double speed = 1;  // above 1 plays faster; must be above 0
    bool loop = false;
};

class TReplaySimulator : public TPtySimulator {
public:
    // Throws std::invalid_argument for a speed that is not above 0.
    TReplaySimulator(const std::vector<TWireChunk>& recording, TReplayOptions options,
                     const TSimSettings& settings = {});
    ~TReplaySimulator() override;

    // The host frames the recording holds, each occurrence counted; any thread.
    size_t RecordedRequests() const { return requests_; }

private:
    struct TAnswer {
        std::vector<std::pair<uint64_t, std::string>> chunks;  // micros after the write
        uint64_t length = 0;  // micros to the next host write, or to the recording's end
    };

    void Received(std::string_view bytes) override;
    int64_t Tick(int64_t now) override;
    void Play(size_t answer);
    int64_t Due(uint64_t micros) const;

    TReplayOptions options_;
    std::vector<TAnswer> answers_;                        // 0: before the first host write
    std::map<std::string, std::vector<size_t>> byFrame_;  // host frame: answers, ascending
    size_t requests_ = 0;

    // Simulator thread.
    TFrameReader reader_;
    size_t lastMatch_ = 0;
    // What the device sent before the first request plays from the simulator's time 0.
    size_t playing_ = 0;
    bool done_ = false;
    int64_t anchor_ = 0;  // clock ms at which the playing answer's time 0 falls
    size_t next_ = 0;     // its next chunk
};

}  // namespace wct::sim
