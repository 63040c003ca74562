// SPDX-License-Identifier: Apache-2.0
// TBrakeInterlock: the one gate every brake level passes on its way to a console.
//
// The protocol's resistance sending asks it for the level of each console just before
// the frame is built, after every writer (rider devices, grids, commands) has stored what
// it wants; so a writer added later cannot forget the rule. While a console's rider is in
// a heart-rate cut, the level sent to that console is 0 whatever was asked.
//
// Who judges a console's heart: a rider device bound to it, with its own maximum and
// heart window, from the readings it feeds in; otherwise the bench, with one bench-wide
// maximum, from every measures frame the console sends. Each cut's start and end is told
// once through OnNotice. Main thread only, as the protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/heart_cut.h"

namespace wct {

class TBrakeInterlock {
public:
    using TNoticeEvent = std::function<void(uint8_t console, const std::string& text)>;
    TNoticeEvent OnNotice;

    int32_t BenchMaximum() const { return benchMaximum_; }
    void SetBenchMaximum(int32_t bpm);

    // A measures frame's heart rate, judged by the bench's rule.
    void ConsoleReading(uint8_t console, int32_t bpm);
    // A rider device's reading for its console: from the first one on, the rider's rule
    // (its maximum, and as many good readings to end a cut as its heart window holds)
    // judges the console instead of the bench's.
    THeartCut::TChange RiderReading(uint8_t console, const void* rider, int32_t bpm,
                                    int32_t maximum, int readingsToEnd);
    // The rider lets go (unbound, destroyed): the bench guards the console again.
    void ReleaseRider(uint8_t console, const void* rider);
    // The rider's rule for its console; null when the rider does not guard it.
    const THeartCut* RiderRule(uint8_t console, const void* rider) const;

    bool Cut(uint8_t console) const;
    uint8_t Gate(uint8_t console, uint8_t level) const { return Cut(console) ? 0 : level; }

    // A frame typed by hand goes out as typed; this is what its trace line adds when it
    // is a resistance frame, which the gate never saw ("" otherwise).
    static std::string PastInterlockNote(std::string_view frame);

private:
    struct TGuard {
        THeartCut bench;
        THeartCut rider;
        const void* riderOwner = nullptr;
    };
    TGuard& GuardOf(uint8_t console);
    void Tell(uint8_t console, THeartCut::TChange change, const THeartCut& cut);

    int32_t benchMaximum_ = THeartCut::kDefaultMaximum;
    std::vector<TGuard> guards_;  // by console ID, grown as consoles are heard
};

}  // namespace wct
