// SPDX-License-Identifier: Apache-2.0
// The wired driver's message parser on arbitrary messages, for every generation and
// ride state: byte-protocol chunks for generations 1 to 3, frames of any length (right,
// short, long, unframed) for the others.
#include <cmath>
#include <string>

#include "fuzz_check.h"
#include "wired_fixture.h"

using namespace wct;
using namespace wct::wired;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TWiredFixture fixture;
    TVeloxDevice& device = *fixture.device;
    FuzzedDataProvider in(data, size);
    fixture.Prepare(in, false);
    while (in.remaining_bytes() > 0) {
        device.ParseMessage(in.ConsumeRandomLengthString(16));
        FUZZ_CHECK(!std::isnan(static_cast<double>(device.Speed())));
        FUZZ_CHECK(!std::isnan(static_cast<double>(device.Distance())));
        FUZZ_CHECK(device.HeartRate() >= 0 && device.Cadence() >= 0);
    }
    return 0;
}
