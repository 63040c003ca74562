#include "app/bench_components.h"

#include <string>

#include "common/stored_form.h"

namespace wct {
namespace {

// The design values of the bench's components.
constexpr const char* kStoredForm = R"(
object Form1: TForm1
  object ComPort1: TComPort
    BaudRate = br115200
    Port = 'COM4'
    Events = [evRxChar, evRxFlag]
    FlowControl.OutCTSFlow = True
    FlowControl.ControlRTS = rtsHandshake
  end
  object ComDataPacket1: TComDataPacket
    ComPort = 'ComPort1'
    CaseInsensitive = True
    IncludeStrings = True
    StartString = '>'
    StopString = '!'
  end
  object tmp: TMiraWirelessProtocol
    DisplayMessage = True
    DisconDelayBetweenCloseOpenPort = 0
    TimeToWaitAddNewConsole = 20000
    ReplyTimeOut = 20000
  end
  object VeloxDeviceW1: TVeloxDeviceW
    RiderWeight = 0
    UOM = umKm
    BikeWeight = 10
    TimerStatsEnabled = False
    TimerStatsInterval = 1000
    TimeToleranceMs = 100
    HrArrayLength = 0
    CadenceArrayLength = 5
    SpeedArrayLength = 5
    RollDiameter = 45
    InitialResistance = 0
    SecurityActive = False
    HighPowerReduceCoefficient = 1
    HighPowerReduceStartSpeed = 7
    HighPowerReduceCoefficientMinimum = 0.25
    ResistanceReducer = 1
    PrecisionSpeed = 8
    PrecisionDistance = 8
    Tolerance = 2
    ResistanceMapAdapter = 1
    VirtualSpeedEnabled = True
    VirtualSpeedAttenuation = 1
    Calibration = 1
    RecoverConnection = True
    RecoverConnectionTime = 0
  end
  object VeloxDevice1: TVeloxDevice
    ComPortPort = 'COM1'
  end
  object ResistanceMap1: TResistanceMap
    VeloxVersion = 4
    ResistanceMapAdapter = 1
)";

// The map's rows close the stored form: they are the map the bench ships.
std::string StoredForm() {
    return std::string(kStoredForm) + "    StrData = " + QuoteString(ShippedResistanceMapText()) +
           "\n  end\nend\n";
}

}  // namespace

TBenchComponents::TBenchComponents() {
    root_.SetName("Form1");
    comPort1_ = new TComPort(&root_);
    comPort1_->SetName("ComPort1");
    comDataPacket1_ = new TComDataPacket(&root_);
    comDataPacket1_->SetName("ComDataPacket1");
    tmp_ = new TMiraWirelessProtocol(&root_);
    tmp_->SetName("tmp");
    bench_ = std::make_unique<testbench::TTestBench>(*tmp_);
    veloxDeviceW1_ = new TVeloxDeviceW(&root_);
    veloxDeviceW1_->SetName("VeloxDeviceW1");
    veloxDevice1_ = new wired::TVeloxDevice(&root_);
    veloxDevice1_->SetName("VeloxDevice1");
    resistanceMap1_ = new TResistanceMap(&root_);
    resistanceMap1_->SetName("ResistanceMap1");
    ReadComponent(StoredForm(), root_);
    veloxDeviceW1_->SetWirelessUSB(tmp_);
    veloxDeviceW1_->SetResistanceMap(resistanceMap1_);
}

}  // namespace wct
