// SPDX-License-Identifier: Apache-2.0
// The packet framer with the wired driver's framing, fed through the driver itself:
// start and stop bytes with a fixed size for generation 4, the driver's custom start and
// stop for the long frames of the later generations. An identification answer inside
// the stream switches the framing while packets are being cut. Every packet runs from a
// start byte to its generation's size (or, short frames, to an earlier stop byte), and no
// byte is lost or made up.
#include <string>

#include "fuzz_check.h"
#include "wired/velox_frame.h"
#include "wired_fixture.h"

using namespace wct;
using namespace wct::wired;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TWiredFixture fixture;
    TVeloxDevice& device = *fixture.device;
    TComDataPacket& framer = device.ComDataPacket();
    FuzzedDataProvider in(data, size);

    // What an earlier input left buffered goes before the handlers are set.
    device.OnComDataPacketPacket = nullptr;
    device.OnComDataPacketDiscard = nullptr;
    framer.SetCaseInsensitive(!framer.CaseInsensitive());
    framer.SetCaseInsensitive(!framer.CaseInsensitive());
    fixture.Prepare(in, true);

    size_t delivered = 0;
    size_t discarded = 0;
    device.OnComDataPacketPacket = [&](TComponent*, const std::string& packet) {
        // Generation 4 sets both a size and a stop byte: a stop byte before the sixth
        // byte ends a shorter packet.
        FUZZ_CHECK(!packet.empty() && static_cast<uint8_t>(packet.front()) == kFrameStart);
        if (packet.size() == kLongFrameSize)
            FUZZ_CHECK(static_cast<uint8_t>(packet.back()) == kFrameStop);
        else
            FUZZ_CHECK(packet.size() == kShortFrameSize ||
                       (packet.size() < kShortFrameSize &&
                        static_cast<uint8_t>(packet.back()) == kFrameStop));
        delivered += packet.size();
    };
    device.OnComDataPacketDiscard = [&](TComponent*, const std::string& bytes) {
        discarded += bytes.size();
    };

    size_t fed = 0;
    while (in.remaining_bytes() > 0) {
        const std::string chunk = in.ConsumeRandomLengthString(64);
        framer.AddData(chunk);
        fed += chunk.size();
        FUZZ_CHECK(framer.Buffered().size() < static_cast<size_t>(framer.MaxBufferSize()));
    }
    FUZZ_CHECK(delivered + discarded + framer.Buffered().size() == fed);
    device.OnComDataPacketPacket = nullptr;
    device.OnComDataPacketDiscard = nullptr;
    return 0;
}
