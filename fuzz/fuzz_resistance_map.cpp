// SPDX-License-Identifier: Apache-2.0
// The resistance map parser on any text, as StrData or as lines, then the lookup of a
// resistance for powers and speeds on the grid it parsed, whether loading succeeded or
// stopped half-way (the grid then holds what was read). Loading fails only with EMNox,
// and every lookup on a map that loaded is answered.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdexcept>
#include <string>

#include "common/emnox.h"
#include "common/main_thread.h"
#include "device/resistance_map.h"
#include "device/velox_device_w.h"
#include "fuzz_check.h"

using namespace wct;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TPlainMainThread dispatcher;
    static TVeloxDeviceW* device = [] {
        SetMainThread(&dispatcher);
        // Lives as long as the process: its timer thread is made once.
        return new TVeloxDeviceW;
    }();
    static constexpr double kVersions[] = {4, 4.5, 5, 5.5, 6, 7};
    static constexpr double kFactors[] = {1, 0.5, 1.25, 0, -1};
    FuzzedDataProvider in(data, size);

    device->SetTrainerVersion(in.PickValueInArray(kVersions));
    device->SetCalibration(in.PickValueInArray(kFactors));
    device->SetResistanceReducer(in.PickValueInArray(kFactors));
    device->SetUOM(in.ConsumeBool() ? umMiles : umKm);
    const bool adapt = in.ConsumeBool();
    const double adapter = in.PickValueInArray(kFactors);

    TResistanceMap map;
    map.SetText(in.ConsumeRandomLengthString(4096));
    map.SetVeloxVersion(in.PickValueInArray(kVersions));
    map.SetResistanceMapAdapter(adapter);
    bool loaded = true;
    try {
        map.LoadMap();
    } catch (const EMNox&) {
        loaded = false;
    }
    if (loaded) {
        FUZZ_CHECK(map.ColumnCount() >= 2 && map.RowCount() >= 2);
        // What loads has the shape the lookup interpolates on.
        for (int c = 2; c < map.ColumnCount(); ++c) FUZZ_CHECK(map.Cell(0, c) > map.Cell(0, c - 1));
        for (int r = 2; r < map.RowCount(); ++r) FUZZ_CHECK(map.Cell(r, 0) > map.Cell(r - 1, 0));
        if (adapt) map.ApplyAdapter();
    }

    device->SetResistanceMap(&map);
    while (in.remaining_bytes() > 0) {
        const double speed = in.ConsumeBool() ? in.ConsumeIntegralInRange(-100, 1200) / 10.0
                                              : in.ConsumeFloatingPoint<double>();
        const auto power = in.ConsumeIntegral<int32_t>();
        try {
            (void)device->ResistanceForPower(power, nullptr, speed);
        } catch (const std::logic_error&) {
            // Only a map that did not load, or whose powers a negative adapter turned
            // round, may leave a lookup unanswered.
            FUZZ_CHECK(!loaded || (adapt && adapter < 0));
        }
    }
    device->SetResistanceMap(nullptr);
    return 0;
}
