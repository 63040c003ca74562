// SPDX-License-Identifier: Apache-2.0
// The packet framer on byte streams cut into arbitrary chunks:
//  - with the wireless protocol's framing (start 3E, stop 21, the length byte deciding
//    through FrameEnd) on any bytes: every packet runs from a start byte to a stop byte;
//  - with the same framing on a stream of whole frames: each comes out intact, in order;
//  - with settings, custom start and custom stop answers drawn from the input.
// With IncludeStrings every byte fed is delivered, discarded or still buffered: none is
// lost or made up.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "protocol/wireless_frame.h"
#include "serial/com_data_packet.h"

using namespace wct;

namespace {

void UseProtocolFraming(TComDataPacket& framer) {
    framer.SetStartString(std::string(1, static_cast<char>(kFrameStart)));
    framer.SetCaseInsensitive(true);
    framer.SetIncludeStrings(true);
    framer.SetStopString(std::string(1, static_cast<char>(kFrameStop)));
    framer.OnCustomStop = [](TComponent*, const std::string& buffered, int& position) {
        position = FrameEnd(buffered);
    };
}

// A frame whose only start byte is its first, so that no frame hides inside another.
std::string FrameWithoutInnerStart(FuzzedDataProvider& in) {
    auto notStart = [](uint8_t b) { return b == kFrameStart ? uint8_t(kFrameStart + 1) : b; };
    const uint8_t code = notStart(in.ConsumeIntegral<uint8_t>());
    const uint8_t id = notStart(in.ConsumeIntegral<uint8_t>());
    std::string payload = in.ConsumeRandomLengthString(255);
    if (payload.size() == kFrameStart) payload.pop_back();
    for (char& c : payload) c = static_cast<char>(notStart(static_cast<uint8_t>(c)));
    return BuildFrame(code, id, payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    TComDataPacket framer;
    std::vector<std::string> packets;
    size_t delivered = 0;
    size_t discarded = 0;
    framer.OnPacket = [&](TComponent*, const std::string& packet) {
        packets.push_back(packet);
        delivered += packet.size();
    };
    framer.OnDiscard = [&](TComponent*, const std::string& bytes) {
        FUZZ_CHECK(!bytes.empty());
        discarded += bytes.size();
    };

    const int mode = in.ConsumeIntegralInRange(0, 2);
    std::string stream;
    std::vector<std::string> frames;
    if (mode == 0) {
        UseProtocolFraming(framer);
        stream = in.ConsumeRandomLengthString(4096);
    } else if (mode == 1) {
        UseProtocolFraming(framer);
        const int count = in.ConsumeIntegralInRange(1, 8);
        for (int i = 0; i < count; ++i) {
            frames.push_back(FrameWithoutInnerStart(in));
            stream += frames.back();
        }
    } else {
        framer.SetStartString(in.ConsumeRandomLengthString(4));
        framer.SetStopString(in.ConsumeRandomLengthString(4));
        framer.SetSize(in.ConsumeIntegralInRange(-1, 40));
        framer.SetCaseInsensitive(in.ConsumeBool());
        framer.SetIncludeStrings(in.ConsumeBool());
        framer.SetMaxBufferSize(in.ConsumeIntegralInRange(-1, 600));
        // Custom answers: -1 (no decision), 0 (not yet), or any position, even past the
        // bytes held.
        if (in.ConsumeBool())
            framer.OnCustomStart = [&](TComponent*, const std::string&, int& pos) {
                pos = in.ConsumeIntegralInRange(-1, 80);
            };
        if (in.ConsumeBool())
            framer.OnCustomStop = [&](TComponent*, const std::string&, int& pos) {
                pos = in.ConsumeIntegralInRange(-1, 80);
            };
        stream = in.ConsumeRandomLengthString(4096);
    }

    // The chunk sizes come from the bytes left over.
    size_t fed = 0;
    while (fed < stream.size()) {
        size_t chunk = in.remaining_bytes() > 0 ? in.ConsumeIntegralInRange<size_t>(1, 300)
                                                : stream.size() - fed;
        chunk = std::min(chunk, stream.size() - fed);
        framer.AddData(stream.substr(fed, chunk));
        fed += chunk;
        if (framer.MaxBufferSize() > 0)
            FUZZ_CHECK(framer.Buffered().size() < static_cast<size_t>(framer.MaxBufferSize()));
    }

    if (framer.IncludeStrings())
        FUZZ_CHECK(delivered + discarded + framer.Buffered().size() == stream.size());
    if (mode == 0) {
        for (const std::string& packet : packets) {
            FUZZ_CHECK(!packet.empty());
            FUZZ_CHECK(static_cast<uint8_t>(packet.front()) == kFrameStart);
            FUZZ_CHECK(static_cast<uint8_t>(packet.back()) == kFrameStop);
        }
    } else if (mode == 1) {
        FUZZ_CHECK(packets == frames);
        FUZZ_CHECK(discarded == 0 && framer.Buffered().empty());
    }
    return 0;
}
