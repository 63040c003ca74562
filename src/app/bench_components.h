// TBenchComponents: the main window's non-visual components, by the names the bench has
// always used: ComPort1 with its framer ComDataPacket1, the protocol `tmp`, the rider device
// VeloxDeviceW1 on `tmp` with its resistance map ResistanceMap1, and the wired driver
// VeloxDevice1. Their design values are a stored form, read when they are made; Root is
// the form's root, "Form1", where the device test window finds the rider devices.
#pragma once

#include <memory>

#include "common/component.h"
#include "device/resistance_map.h"
#include "device/velox_device_w.h"
#include "protocol/wireless_protocol.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"
#include "testbench/testbench.h"
#include "wired/velox_device.h"

namespace wct {

class TBenchComponents {
public:
    TBenchComponents();

    TComponent& Root() { return root_; }
    TComPort& ComPort1() { return *comPort1_; }
    TMiraWirelessProtocol& tmp() { return *tmp_; }
    testbench::TTestBench& Bench() { return *bench_; }
    TVeloxDeviceW& VeloxDeviceW1() { return *veloxDeviceW1_; }
    TResistanceMap& ResistanceMap1() { return *resistanceMap1_; }
    wired::TVeloxDevice& VeloxDevice1() { return *veloxDevice1_; }

private:
    TComponent root_;  // owns the others
    TComPort* comPort1_ = nullptr;
    TComDataPacket* comDataPacket1_ = nullptr;
    TMiraWirelessProtocol* tmp_ = nullptr;
    TVeloxDeviceW* veloxDeviceW1_ = nullptr;
    TResistanceMap* resistanceMap1_ = nullptr;
    wired::TVeloxDevice* veloxDevice1_ = nullptr;
    std::unique_ptr<testbench::TTestBench> bench_;  // on tmp
};

}  // namespace wct
