// SPDX-License-Identifier: Apache-2.0
// The protocol's reply decoder on arbitrary packets, with the console, measures and
// resistance tables and the roll state driven into any state by the input: it never reads
// outside a packet or a table, every valid frame (and nothing else) writes one trace line
// (measures excepted when DebugNoData is on) beside the protocol's own notes, and the
// tables stay within console IDs.
#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "common/main_thread.h"
#include "common/tick_count.h"
#include "fuzz_check.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"

using namespace wct;

namespace {

// Protocol waits pass at once: every idle pass of the main thread moves the clock a second.
class TFastClock : public TTickSource {
public:
    uint32_t Now() override { return now_.load(); }
    void Idle() override { now_.fetch_add(1000); }
    std::chrono::milliseconds WaitSlice(uint32_t) override { return std::chrono::milliseconds(0); }
    void Advance(uint32_t ms) { now_.fetch_add(ms); }

private:
    std::atomic<uint32_t> now_{1000};
};

constexpr uint8_t kCodes[] = {mcMeasures,     mcOpenRegistration, mcCloseRegistration,
                              mcNumberOfConsoles, mcConsoleAdded, mcRemoveConsole,
                              mcSerialNumber, mcVersion,          mcTotalRolls,
                              mcReadValue,    mcFirmware,         mcNAck,
                              mcAck};

struct TFixture {
    TPlainMainThread dispatcher;
    TFastClock clock;
    TStringsMemo memo;
    TMiraWirelessProtocol* protocol;

    TFixture() {
        SetMainThread(&dispatcher);
        SetTickSource(&clock);
        // Lives as long as the process: its timer thread is made once, not per input.
        protocol = new TMiraWirelessProtocol;
    }
};

// The protocol's own notes ("## ...", after the time when it is shown), such as the
// heart-rate cut's, are not frames.
bool IsNote(const std::string& line) {
    const size_t note = line.rfind("## ", 0) == 0 ? 0 : line.find(" ## ");
    return note != std::string::npos && note < line.find("<-");
}

size_t FrameLines(const TStringsMemo& memo, size_t from) {
    size_t count = 0;
    for (size_t i = from; i < memo.lines.size(); ++i)
        if (!IsNote(memo.lines[i])) ++count;
    return count;
}

void Decode(TMiraWirelessProtocol& protocol, TStringsMemo& memo, const std::string& packet) {
    const size_t lines = memo.lines.size();
    protocol.PacketReceived(nullptr, packet);
    size_t expected = 0;
    if (IsValidFrame(packet) &&
        !(static_cast<uint8_t>(packet[1]) == mcMeasures && protocol.DebugNoData()))
        ++expected;
    if (protocol.DebugMemo() == nullptr) {
        FUZZ_CHECK(memo.lines.size() == lines);
        return;
    }
    FUZZ_CHECK(FrameLines(memo, lines) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFixture fixture;
    TMiraWirelessProtocol& protocol = *fixture.protocol;
    FuzzedDataProvider in(data, size);

    protocol.SetDebugMemo(in.ConsumeBool() ? &fixture.memo : nullptr);
    protocol.SetDebugTime(in.ConsumeBool());
    protocol.SetDebugNoData(in.ConsumeBool());
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures& measures, uint8_t id) {
        FUZZ_CHECK(id < measures->size());
        FUZZ_CHECK((*measures)[id].ConsoleID == id);
    };

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 5)) {
            case 0:
                Decode(protocol, fixture.memo, in.ConsumeRandomLengthString(300));
                break;
            case 1: {
                const uint8_t code = in.ConsumeBool() ? in.PickValueInArray(kCodes)
                                                      : in.ConsumeIntegral<uint8_t>();
                const auto id = in.ConsumeIntegral<uint8_t>();
                Decode(protocol, fixture.memo, BuildFrame(code, id, in.ConsumeRandomLengthString(255)));
                break;
            }
            case 2:
                protocol.SetConsoleResistance(in.ConsumeIntegralInRange(-2, 300),
                                              in.ConsumeIntegral<uint8_t>(),
                                              in.ConsumeIntegralInRange<uint8_t>(0, 3),
                                              in.ConsumeIntegral<uint8_t>());
                break;
            case 3:
                switch (in.ConsumeIntegralInRange(0, 2)) {
                    case 0:
                        protocol.StartAllRolls();
                        break;
                    case 1:
                        protocol.PauseAllRolls();
                        break;
                    default:
                        protocol.StopAllRolls();
                        break;
                }
                protocol.StopResistanceSending();
                break;
            case 4:
                fixture.clock.Advance(in.ConsumeIntegral<uint32_t>());
                break;
            default:
                protocol.Reset();
                break;
        }
        FUZZ_CHECK(protocol.Consoles().size() <= 256);
        FUZZ_CHECK(protocol.LastMeasure()->size() <= 256);
        FUZZ_CHECK(protocol.Resistances().size() <=
                   static_cast<size_t>(TMiraWirelessProtocol::kMaxResistanceConsoles));
        FUZZ_CHECK(protocol.NumberOfConsole() >= 0);
    }
    // Back to the starting state, freeing what this input allocated: libFuzzer takes an
    // input that ends holding more blocks than it began with for a leak and runs a full
    // leak check on it, which would cost more than the input itself.
    protocol.OnMeasuresReceived = nullptr;
    protocol.Reset();
    protocol.StopResistanceSending();
    fixture.memo.lines.clear();
    protocol.LinkStatistics().Clear(GetTickCount());
    return 0;
}
