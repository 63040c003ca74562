// SPDX-License-Identifier: Apache-2.0
#include "protocol/brake_interlock.h"

#include "protocol/wireless_frame.h"

namespace wct {
namespace {

// The console's own heart value comes with every measures frame, already smoothed by the
// console; a few in a row at the release level are enough to believe it.
constexpr int kBenchReadingsToEnd = 5;

}  // namespace

void TBrakeInterlock::SetBenchMaximum(int32_t bpm) {
    benchMaximum_ = bpm;
    for (TGuard& g : guards_) g.bench.SetMaximum(bpm);
}

TBrakeInterlock::TGuard& TBrakeInterlock::GuardOf(uint8_t console) {
    if (console >= guards_.size()) {
        const size_t first = guards_.size();
        guards_.resize(static_cast<size_t>(console) + 1);
        for (size_t i = first; i < guards_.size(); ++i) {
            guards_[i].bench.SetMaximum(benchMaximum_);
            guards_[i].bench.SetReadingsToEnd(kBenchReadingsToEnd);
        }
    }
    return guards_[console];
}

void TBrakeInterlock::Tell(uint8_t console, THeartCut::TChange change, const THeartCut& cut) {
    if (change == THeartCut::hcNone || !OnNotice) return;
    OnNotice(console, change == THeartCut::hcStarted ? cut.StartText() : cut.EndText());
}

void TBrakeInterlock::ConsoleReading(uint8_t console, int32_t bpm) {
    TGuard& g = GuardOf(console);
    const THeartCut::TChange change = g.bench.Feed(bpm);
    // The bench's judgement is kept up to date under a rider too, for when it lets go,
    // but only told while it is the one that holds the brake.
    if (g.riderOwner == nullptr) Tell(console, change, g.bench);
}

THeartCut::TChange TBrakeInterlock::RiderReading(uint8_t console, const void* rider, int32_t bpm,
                                                 int32_t maximum, int readingsToEnd) {
    TGuard& g = GuardOf(console);
    if (g.riderOwner != rider) {
        g.riderOwner = rider;
        g.rider = THeartCut();
    }
    g.rider.SetMaximum(maximum);
    g.rider.SetReadingsToEnd(readingsToEnd);
    const THeartCut::TChange change = g.rider.Feed(bpm);
    Tell(console, change, g.rider);
    return change;
}

void TBrakeInterlock::ReleaseRider(uint8_t console, const void* rider) {
    if (console >= guards_.size() || guards_[console].riderOwner != rider) return;
    guards_[console].riderOwner = nullptr;
    guards_[console].rider = THeartCut();
}

const THeartCut* TBrakeInterlock::RiderRule(uint8_t console, const void* rider) const {
    if (console >= guards_.size() || guards_[console].riderOwner != rider) return nullptr;
    return &guards_[console].rider;
}

bool TBrakeInterlock::Cut(uint8_t console) const {
    if (console >= guards_.size()) return false;
    const TGuard& g = guards_[console];
    return g.riderOwner != nullptr ? g.rider.Active() : g.bench.Active();
}

std::string TBrakeInterlock::PastInterlockNote(std::string_view frame) {
    const bool resistances = frame.size() >= 2 &&
                             static_cast<uint8_t>(frame[0]) == kFrameStart &&
                             static_cast<uint8_t>(frame[1]) == mcResistances;
    return resistances ? " (resistance frame sent past the heart-rate interlock)" : "";
}

}  // namespace wct
