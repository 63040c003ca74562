// SPDX-License-Identifier: Apache-2.0
#include "protocol/link_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "protocol/wireless_frame.h"

namespace wct {
namespace {

// Commands that the dongle or a console answers; the answer names the same command.
bool HasAnswer(uint8_t code) {
    switch (code) {
        case mcOpenRegistration:
        case mcNumberOfConsoles:
        case mcSerialNumber:
        case mcVersion:
        case mcTotalRolls:
        case mcWriteValue:
        case mcReadValue:
        case mcFirmware:
        case mcTriggerClock:
        case mcTestSignals:
        case mcTestKeys:
        case mcTestCardio:
            return true;
        default:
            return false;
    }
}

}  // namespace

size_t TMiraLinkStatistics::THistogram::Bucket(uint32_t ms) {
    if (ms < kExact) return ms;
    const int top = std::bit_width(ms) - 1;  // 6 to 31
    const uint32_t sub = (ms >> (top - 4)) & (kPerDoubling - 1);
    return kExact + static_cast<size_t>(top - 6) * kPerDoubling + sub;
}

void TMiraLinkStatistics::THistogram::Add(uint32_t ms) {
    const size_t bucket = Bucket(ms);
    ++counts_[bucket];
    sums_[bucket] += ms;
    ++samples_;
    max_ = std::max(max_, ms);
}

uint64_t TMiraLinkStatistics::THistogram::Samples(bool skipZero) const {
    return skipZero ? samples_ - counts_[0] : samples_;
}

double TMiraLinkStatistics::THistogram::Quantile(double q, bool skipZero) const {
    const uint64_t samples = Samples(skipZero);
    if (samples == 0) return 0;
    const auto rank =
        std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(q * static_cast<double>(samples))));
    uint64_t seen = 0;
    size_t bucket = skipZero ? 1 : 0;
    for (; bucket + 1 < kBuckets; ++bucket) {
        seen += counts_[bucket];
        if (seen >= rank) break;
    }
    return static_cast<double>(sums_[bucket]) / static_cast<double>(counts_[bucket]);
}

void TMiraLinkStatistics::Clear(uint32_t nowTick) {
    const double expectedRate = expectedRate_;
    *this = TMiraLinkStatistics();
    expectedRate_ = expectedRate;
    start_ = nowTick;
}

void TMiraLinkStatistics::FrameSent(std::string_view frame, uint32_t nowTick) {
    if (frame.size() < kFrameOverhead) return;
    const auto code = static_cast<uint8_t>(frame[1]);
    if (!HasAnswer(code)) return;
    // Registration and the console count are the dongle's answers, whatever the ID byte.
    const uint8_t console = code == mcOpenRegistration || code == mcNumberOfConsoles
                                ? 0
                                : static_cast<uint8_t>(frame[2]);
    const bool fresh = pending_.insert_or_assign({code, console}, nowTick).second;
    if (!fresh) ++Console(console).unanswered;
}

void TMiraLinkStatistics::Answered(TRequest request, uint32_t nowTick) {
    const auto found = pending_.find(request);
    if (found == pending_.end()) return;
    Console(request.second).latencies[request.first].Add(nowTick - found->second);
    pending_.erase(found);
}

void TMiraLinkStatistics::FrameReceived(std::string_view frame, uint32_t nowTick) {
    const auto code = static_cast<uint8_t>(frame[1]);
    const auto id = static_cast<uint8_t>(frame[2]);
    const size_t n = static_cast<uint8_t>(frame[3]);
    const uint8_t p0 = n > 0 ? static_cast<uint8_t>(frame[4]) : 0;
    switch (code) {
        case mcMeasures: {
            if (n < 5) {
                ++malformed_;
                return;
            }
            TConsole& console = Console(id);
            if (console.frames == 0)
                console.first = nowTick;
            else
                console.gaps.Add(nowTick - console.last);
            console.last = nowTick;
            ++console.frames;
            return;
        }
        case mcNAck:
            ++Console(id).nacks;
            Answered({p0, id}, nowTick);
            return;
        case mcAck:
            Answered({p0, id}, nowTick);
            return;
        case mcOpenRegistration:
        case mcNumberOfConsoles:
            Answered({code, 0}, nowTick);
            return;
        default:
            Answered({code, id}, nowTick);
            return;
    }
}

void TMiraLinkStatistics::RequestTimedOut(uint8_t command, uint8_t console) {
    pending_.erase({command, console});
    ++Console(console).unanswered;
}

TMiraLinkReport TMiraLinkStatistics::Report(uint32_t nowTick, uint32_t replyTimeOutMs) const {
    TMiraLinkReport report;
    report.seconds = static_cast<double>(nowTick - start_) / 1e3;
    report.malformedFrames = malformed_;
    report.discardedBytes = discarded_;
    for (const auto& [id, c] : consoles_) {
        TMiraConsoleLinkStats s;
        s.console = id;
        s.frames = c.frames;
        s.nacks = c.nacks;
        s.unanswered = c.unanswered;
        for (const auto& [request, sent] : pending_)
            if (request.second == id && nowTick - sent > replyTimeOutMs) ++s.unanswered;
        if (c.frames > 0) s.longestSilenceMs = std::max(nowTick - c.last, c.gaps.Max());
        if (c.gaps.Samples() > 0) {
            const double span = static_cast<double>(c.last - c.first);
            if (span > 0) s.framesPerSecond = static_cast<double>(c.frames - 1) * 1e3 / span;
            // Frames that came in one read share their tick: those gaps say nothing of
            // the rate.
            const double median = c.gaps.Quantile(0.5, true);
            const double period = expectedRate_ > 0 ? 1e3 / expectedRate_ : median;
            if (period > 0) {
                s.expectedRate = 1e3 / period;
                const auto expected = static_cast<uint64_t>(std::llround(span / period)) + 1;
                s.lost = expected > c.frames ? expected - c.frames : 0;
                s.lostShare = static_cast<double>(s.lost) / static_cast<double>(c.frames + s.lost);
            }
        }
        for (const auto& [command, histogram] : c.latencies) {
            s.latencies.push_back({command, histogram.Samples(), histogram.Quantile(0.5),
                                   histogram.Quantile(0.99)});
        }
        report.consoles.push_back(std::move(s));
    }
    return report;
}

}  // namespace wct
