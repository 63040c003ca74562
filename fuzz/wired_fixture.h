// SPDX-License-Identifier: Apache-2.0
// The wired driver the wired fuzz targets feed: one device for the whole run (its four
// timer threads are made once), put into the generation and the ride state each input
// picks. No port is open, so nothing the driver answers leaves the process.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include "common/main_thread.h"
#include "wired/velox_device.h"

namespace wct::wired {

struct TWiredFixture {
    TPlainMainThread dispatcher;
    TVeloxDevice* device;

    TWiredFixture() {
        SetMainThread(&dispatcher);
        device = new TVeloxDevice;
        device->SetConnectionSurvey(false);
    }

    // Generations 1 to 3 speak the byte protocol, 4 short frames, the others long ones.
    void Prepare(FuzzedDataProvider& in, bool framesOnly) {
        static constexpr double kByteGenerations[] = {1, 2, 3};
        static constexpr double kFrameGenerations[] = {4, 4.5, 5, 5.5, 6, 7};
        TVeloxDevice& d = *device;
        d.SetSimulationMode(false);
        d.SetVersion(!framesOnly && in.ConsumeBool() ? in.PickValueInArray(kByteGenerations)
                                                     : in.PickValueInArray(kFrameGenerations));
        d.OnConsoleKeyDown = nullptr;
        if (in.ConsumeBool()) d.OnConsoleKeyDown = [](TComponent*, TConsoleKey) {};
        d.SetDebugMode(in.ConsumeBool());
        d.SetHeartEnabled(in.ConsumeBool());
        d.SetHrFilter2Active(in.ConsumeBool());
        d.SetVirtualSpeedEnabled(in.ConsumeBool());
        d.SetUnitMeasure(in.ConsumeBool() ? umMiles : umKm);
        d.ResetMeasures();
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 3:
                d.SetSimulationMode(true);
                d.Start();
                d.Pause();
                break;
            case 2:
                d.SetSimulationMode(true);
                d.Start();
                break;
            case 1:
                d.SetSimulationMode(true);
                break;
            default:
                break;
        }
    }
};

}  // namespace wct::wired
