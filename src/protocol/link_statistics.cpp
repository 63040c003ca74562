#include "protocol/link_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

// The q-quantile (0 to 1) of the samples, nearest rank.
uint32_t Quantile(std::vector<uint32_t> samples, double q) {
    const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(samples.size())));
    const size_t at = std::clamp<size_t>(rank, 1, samples.size()) - 1;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(at),
                     samples.end());
    return samples[at];
}

uint32_t Micros32(uint64_t micros) {
    return static_cast<uint32_t>(std::min<uint64_t>(micros, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

void TMiraLinkStatistics::Clear(uint64_t nowMicros) {
    *this = TMiraLinkStatistics();
    start_ = nowMicros;
}

void TMiraLinkStatistics::FrameSent(std::string_view frame, uint64_t nowMicros) {
    if (frame.size() < kFrameOverhead) return;
    const auto code = static_cast<uint8_t>(frame[1]);
    if (!HasAnswer(code)) return;
    // Registration and the console count are the dongle's answers, whatever the ID byte.
    const uint8_t console = code == mcOpenRegistration || code == mcNumberOfConsoles
                                ? 0
                                : static_cast<uint8_t>(frame[2]);
    const bool fresh = pending_.insert_or_assign({code, console}, nowMicros).second;
    if (!fresh) ++Console(console).unanswered;
}

void TMiraLinkStatistics::Answered(TRequest request, uint64_t nowMicros) {
    const auto found = pending_.find(request);
    if (found == pending_.end()) return;
    Console(request.second).latencies[request.first].push_back(Micros32(nowMicros - found->second));
    pending_.erase(found);
}

void TMiraLinkStatistics::FrameReceived(std::string_view frame, uint64_t nowMicros) {
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
                console.first = nowMicros;
            else
                console.gaps.push_back(Micros32(nowMicros - console.last));
            console.last = nowMicros;
            ++console.frames;
            return;
        }
        case mcNAck:
            ++Console(id).nacks;
            Answered({p0, id}, nowMicros);
            return;
        case mcAck:
            Answered({p0, id}, nowMicros);
            return;
        case mcOpenRegistration:
        case mcNumberOfConsoles:
            Answered({code, 0}, nowMicros);
            return;
        default:
            Answered({code, id}, nowMicros);
            return;
    }
}

void TMiraLinkStatistics::RequestTimedOut(uint8_t command, uint8_t console) {
    pending_.erase({command, console});
    ++Console(console).unanswered;
}

TMiraLinkReport TMiraLinkStatistics::Report(uint64_t nowMicros, uint64_t replyTimeOutMicros) const {
    TMiraLinkReport report;
    report.seconds = static_cast<double>(nowMicros - start_) / 1e6;
    report.malformedFrames = malformed_;
    report.discardedBytes = discarded_;
    for (const auto& [id, c] : consoles_) {
        TMiraConsoleLinkStats s;
        s.console = id;
        s.frames = c.frames;
        s.nacks = c.nacks;
        s.unanswered = c.unanswered;
        for (const auto& [request, sent] : pending_)
            if (request.second == id && nowMicros - sent > replyTimeOutMicros) ++s.unanswered;
        if (c.frames > 0) {
            uint64_t silence = nowMicros - c.last;
            for (uint32_t gap : c.gaps) silence = std::max<uint64_t>(silence, gap);
            s.longestSilenceMs = static_cast<double>(silence) / 1e3;
        }
        if (!c.gaps.empty()) {
            const double span = static_cast<double>(c.last - c.first);
            if (span > 0) s.framesPerSecond = static_cast<double>(c.frames - 1) * 1e6 / span;
            const uint32_t period = Quantile(c.gaps, 0.5);
            if (period > 0) {
                s.expectedRate = 1e6 / period;
                const auto expected = static_cast<uint64_t>(std::llround(span / period)) + 1;
                s.lost = expected > c.frames ? expected - c.frames : 0;
                s.lostShare = static_cast<double>(s.lost) / static_cast<double>(c.frames + s.lost);
            }
        }
        for (const auto& [command, samples] : c.latencies) {
            if (samples.empty()) continue;
            s.latencies.push_back({command, samples.size(), Quantile(samples, 0.5) / 1e3,
                                   Quantile(samples, 0.99) / 1e3});
        }
        report.consoles.push_back(std::move(s));
    }
    return report;
}

}  // namespace wct
