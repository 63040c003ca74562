// SPDX-License-Identifier: Apache-2.0
// TMiraLinkStatistics: how healthy the radio link to each console is, as the protocol
// component sees it. The component feeds it from its send path and its packet handler
// and never reads it back, so keeping statistics changes nothing it does.
//
// Per console: the measures frames received, their rate, the longest silence between
// two of them (or since the last one), the frames lost, NACKs, requests left unanswered
// and the request-to-reply latency of each command. Frames lost are counted against
// the expected rate: the one set by the owner (the rate the consoles are known to keep
// to), or else each console's own, taken as the median interval between its frames. A
// console sending every 10 ms that was heard 90 times over a second lost 10. The median
// is thrown off when the host reads the line late and many frames arrive together; a
// set rate is not.
//
// Intervals and latencies are counted in fixed buckets of milliseconds: one a millisecond
// below 64 ms, sixteen to each doubling above. A quantile is the mean of the samples in
// its bucket: exact while they agree (a steady period), within 1/16 of the value at worst.
// A console's counts take as much memory after days as after its first frames, whatever
// the jitter.
//
// A request counts as unanswered when a waiting operation gave up on it, when it was
// asked again before its answer came, or when it is older than the reply time-out when
// the report is made. Times are the tick counts (milliseconds, wrapping) the caller
// read, so that statistics follow a virtual clock like every other time measurement.
// Main thread only, like the component.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace wct {

struct TMiraCommandLatency {
    uint8_t command = 0;
    uint64_t replies = 0;
    double medianMs = 0;
    double p99Ms = 0;
};

struct TMiraConsoleLinkStats {
    uint8_t console = 0;
    uint64_t frames = 0;          // measures frames received
    double framesPerSecond = 0;   // received, over the time from the first to the last
    double expectedRate = 0;      // frames per second expected of the console; 0 until known
    double longestSilenceMs = 0;  // between two frames, or from the last one to the report
    uint64_t lost = 0;            // frames the expected rate calls for that never came
    double lostShare = 0;         // lost / (frames + lost)
    uint64_t nacks = 0;
    uint64_t unanswered = 0;
    std::vector<TMiraCommandLatency> latencies;  // by command code
};

struct TMiraLinkReport {
    double seconds = 0;                           // since the statistics were cleared
    std::vector<TMiraConsoleLinkStats> consoles;  // by console ID; 0 is the dongle
    uint64_t malformedFrames = 0;  // packets that are no valid frame, measures too short
    uint64_t discardedBytes = 0;   // bytes the framer threw away (noise, broken frames)
};

class TMiraLinkStatistics {
public:
    // Clears everything but the expected rate.
    void Clear(uint32_t nowTick);
    // Frames per second every console is expected to send; 0: each console's own median.
    void SetExpectedRate(double perSecond) { expectedRate_ = perSecond; }
    double ExpectedRate() const { return expectedRate_; }

    // A frame went out to the dongle.
    void FrameSent(std::string_view frame, uint32_t nowTick);
    // A valid frame came in.
    void FrameReceived(std::string_view frame, uint32_t nowTick);
    void MalformedFrame() { ++malformed_; }
    void BytesDiscarded(size_t count) { discarded_ += count; }
    // A waiting operation gave up waiting for the answer to `command`.
    void RequestTimedOut(uint8_t command, uint8_t console);

    TMiraLinkReport Report(uint32_t nowTick, uint32_t replyTimeOutMs) const;

private:
    using TRequest = std::pair<uint8_t, uint8_t>;  // command code, console
    class THistogram {
    public:
        void Add(uint32_t ms);
        // Samples counted; without those of 0 ms when `skipZero`.
        uint64_t Samples(bool skipZero = false) const;
        // The q-quantile (0 to 1) of the samples, nearest rank; 0 when there are none.
        double Quantile(double q, bool skipZero = false) const;
        uint32_t Max() const { return max_; }

    private:
        static constexpr uint32_t kExact = 64;     // below this, one bucket a millisecond
        static constexpr uint32_t kPerDoubling = 16;
        static constexpr size_t kBuckets = kExact + (32 - 6) * kPerDoubling;
        static size_t Bucket(uint32_t ms);

        std::array<uint64_t, kBuckets> counts_{};
        std::array<uint64_t, kBuckets> sums_{};  // of the samples, in milliseconds
        uint64_t samples_ = 0;
        uint32_t max_ = 0;
    };
    struct TConsole {
        uint64_t frames = 0;
        uint32_t first = 0;
        uint32_t last = 0;
        THistogram gaps;  // between consecutive measures
        uint64_t nacks = 0;
        uint64_t unanswered = 0;
        std::map<uint8_t, THistogram> latencies;  // by command code
    };

    TConsole& Console(uint8_t id) { return consoles_[id]; }
    void Answered(TRequest request, uint32_t nowTick);

    double expectedRate_ = 0;
    uint32_t start_ = 0;
    std::map<uint8_t, TConsole> consoles_;
    std::map<TRequest, uint32_t> pending_;  // request: when it was sent
    uint64_t malformed_ = 0;
    uint64_t discarded_ = 0;
};

}  // namespace wct
