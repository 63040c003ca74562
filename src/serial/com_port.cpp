// SPDX-License-Identifier: Apache-2.0
#include "serial/com_port.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/tick_count.h"
#include "common/user_messages.h"
#include "serial/com_port_linux.h"
#include "serial/com_thread.h"

namespace wct {
namespace {

constexpr std::array<const char*, 16> kBaudRateTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<int, 16> kBaudRateValues = {0,     110,    300,    600,   1200,  2400,
                                                 4800,  9600,   14400,  19200, 38400, 56000,
                                                 57600, 115200, 128000, 256000};
constexpr std::array<const char*, 3> kStopBitsTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataBitsTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowControlTexts = {"Hardware", "Software", "None", "Custom"};
// Names of the stored form.
constexpr std::array<const char*, 16> kBaudRateNames = {
    "brCustom", "br110",   "br300",   "br600",   "br1200",  "br2400",   "br4800",   "br9600",
    "br14400",  "br19200", "br38400", "br56000", "br57600", "br115200", "br128000", "br256000"};
constexpr std::array<const char*, 3> kStopBitsNames = {"sbOneStopBit", "sbOne5StopBits",
                                                       "sbTwoStopBits"};
constexpr std::array<const char*, 4> kDataBitsNames = {"dbFive", "dbSix", "dbSeven", "dbEight"};
constexpr std::array<const char*, 5> kParityNames = {"prNone", "prOdd", "prEven", "prMark",
                                                     "prSpace"};
constexpr std::array<const char*, 3> kDtrNames = {"dtrDisable", "dtrEnable", "dtrHandshake"};
constexpr std::array<const char*, 4> kRtsNames = {"rtsDisable", "rtsEnable", "rtsHandshake",
                                                  "rtsToggle"};
constexpr std::array<const char*, 3> kSyncNames = {"smThreadSync", "smWindowSync", "smNone"};
constexpr std::array<const char*, 10> kEventNames = {"evRxChar", "evTxEmpty", "evRxFlag", "evRing",
                                                     "evBreak",  "evCTS",     "evDSR",    "evError",
                                                     "evRLSD",   "evRx80Full"};

bool SameAsciiText(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

template <typename E, size_t N>
E FromText(const std::array<const char*, N>& texts, const std::string& text, E fallback) {
    for (size_t i = 0; i < N; ++i)
        if (SameAsciiText(text, texts[i])) return static_cast<E>(i);
    return fallback;
}

}  // namespace

std::string BaudRateToText(TBaudRate value) {
    return kBaudRateTexts[value];
}
std::string StopBitsToText(TStopBits value) {
    return kStopBitsTexts[value];
}
std::string DataBitsToText(TDataBits value) {
    return kDataBitsTexts[value];
}
std::string ParityToText(TParityBits value) {
    return kParityTexts[value];
}
std::string FlowControlToText(TFlowControl value) {
    return kFlowControlTexts[value];
}
TBaudRate TextToBaudRate(const std::string& text) {
    return FromText(kBaudRateTexts, text, br9600);
}
TStopBits TextToStopBits(const std::string& text) {
    return FromText(kStopBitsTexts, text, sbOneStopBit);
}
TDataBits TextToDataBits(const std::string& text) {
    return FromText(kDataBitsTexts, text, dbEight);
}
TParityBits TextToParity(const std::string& text) {
    return FromText(kParityTexts, text, prNone);
}
TFlowControl TextToFlowControl(const std::string& text) {
    return FromText(kFlowControlTexts, text, fcCustom);
}
int BaudRateValue(TBaudRate value) {
    return kBaudRateValues[value];
}

// ---- Sub-objects ----------------------------------------------------------------------

void TComTimeouts::Set(int& field, int value) {
    if (field == value) return;
    field = value;
    if (port_ != nullptr) port_->ApplyTimeouts();
}

void TComTimeouts::CopyFrom(const TComTimeouts& other) {
    readInterval_ = other.readInterval_;
    readTotalMultiplier_ = other.readTotalMultiplier_;
    readTotalConstant_ = other.readTotalConstant_;
    writeTotalMultiplier_ = other.writeTotalMultiplier_;
    writeTotalConstant_ = other.writeTotalConstant_;
    if (port_ != nullptr) port_->ApplyTimeouts();
}

void TComTimeouts::DefineProperties(TPropertyList& properties) {
    auto add = [&](const char* name, int& field, int def) {
        properties.AddInteger(
            name, [&field] { return field; },
            [this, &field](int64_t v) { Set(field, static_cast<int>(v)); }, def);
    };
    add("ReadInterval", readInterval_, -1);
    add("ReadTotalMultiplier", readTotalMultiplier_, 0);
    add("ReadTotalConstant", readTotalConstant_, 0);
    add("WriteTotalMultiplier", writeTotalMultiplier_, 100);
    add("WriteTotalConstant", writeTotalConstant_, 1000);
}

void TComParity::SetBits(TParityBits value) {
    port_->SetLineField(bits_, value);
}
void TComParity::SetCheck(bool value) {
    port_->SetLineField(check_, value);
}
void TComParity::SetReplace(bool value) {
    port_->SetLineField(replace_, value);
}
void TComParity::SetReplaceChar(uint8_t value) {
    port_->SetLineField(replaceChar_, value);
}

void TComParity::CopyFrom(const TComParity& other) {
    bits_ = other.bits_;
    check_ = other.check_;
    replace_ = other.replace_;
    replaceChar_ = other.replaceChar_;
    port_->ApplyLineSettings();
}

void TComParity::DefineProperties(TPropertyList& properties) {
    using T = TComParity;
    properties.BindEnum("Bits", kParityNames, this, &T::bits_, &T::SetBits, prNone);
    properties.Bind("Check", this, &T::check_, &T::SetCheck, false);
    properties.Bind("Replace", this, &T::replace_, &T::SetReplace, false);
    properties.Bind("ReplaceChar", this, &T::replaceChar_, &T::SetReplaceChar, 0);
}

void TComBuffer::Set(int& field, int bytes) {
    if (bytes > 0 && bytes % 2 == 1) --bytes;
    if (field == bytes) return;
    field = bytes;
    port_->ApplyBuffer();
}
void TComBuffer::SetInputSize(int bytes) {
    Set(inputSize_, bytes);
}
void TComBuffer::SetOutputSize(int bytes) {
    Set(outputSize_, bytes);
}

void TComBuffer::CopyFrom(const TComBuffer& other) {
    inputSize_ = other.inputSize_;
    outputSize_ = other.outputSize_;
    port_->ApplyBuffer();
}

void TComBuffer::DefineProperties(TPropertyList& properties) {
    properties.Bind("InputSize", this, &TComBuffer::inputSize_, &TComBuffer::SetInputSize, 1024);
    properties.Bind("OutputSize", this, &TComBuffer::outputSize_, &TComBuffer::SetOutputSize, 1024);
}

void TComFlowControl::Reapply() {
    port_->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_)
        return fcHardware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
    if (value != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (value == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (value == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    Reapply();
}

void TComFlowControl::CopyFrom(const TComFlowControl& other) {
    outCTSFlow_ = other.outCTSFlow_;
    outDSRFlow_ = other.outDSRFlow_;
    controlDTR_ = other.controlDTR_;
    controlRTS_ = other.controlRTS_;
    xonXoffOut_ = other.xonXoffOut_;
    xonXoffIn_ = other.xonXoffIn_;
    dsrSensitivity_ = other.dsrSensitivity_;
    txContinueOnXoff_ = other.txContinueOnXoff_;
    xonChar_ = other.xonChar_;
    xoffChar_ = other.xoffChar_;
    port_->ApplyLineSettings();
}

void TComFlowControl::DefineProperties(TPropertyList& properties) {
    auto flag = [&](const char* name, bool& field) {
        properties.AddBoolean(
            name, [&field] { return field; }, [this, &field](bool v) { Set(field, v); }, false);
    };
    flag("OutCTSFlow", outCTSFlow_);
    flag("OutDSRFlow", outDSRFlow_);
    using T = TComFlowControl;
    properties.BindEnum("ControlDTR", kDtrNames, this, &T::controlDTR_, &T::SetControlDTR,
                        dtrDisable);
    properties.BindEnum("ControlRTS", kRtsNames, this, &T::controlRTS_, &T::SetControlRTS,
                        rtsDisable);
    flag("XonXoffOut", xonXoffOut_);
    flag("XonXoffIn", xonXoffIn_);
    flag("DSRSensitivity", dsrSensitivity_);
    flag("TxContinueOnXoff", txContinueOnXoff_);
    properties.Bind("XonChar", this, &T::xonChar_, &T::SetXonChar, 17);
    properties.Bind("XoffChar", this, &T::xoffChar_, &T::SetXoffChar, 19);
}

// ---- Async records --------------------------------------------------------------------

void NewAsyncRecord(PAsync& record) {
    record = new TAsyncRecord();
}

void FreeAsyncRecord(PAsync& record) {
    delete record;
    record = nullptr;
}

// ---- Port -----------------------------------------------------------------------------

TCustomComPort::TCustomComPort(TComponent* owner) : TComponent(owner) {}

TCustomComPort::~TCustomComPort() {
    // Closed first, so that links hear of the close before they hear of our end.
    try {
        Close();
    } catch (const std::exception&) {
        // A port being destroyed ends closed whatever the driver says.
    }
    BeginDestruction();
    retiring_.clear();
}

bool TCustomComPort::CanApply() const {
    return connected_ && updateCount_ == 0 && !Designing() && !Loading();
}

std::string PortDevicePath(const std::string& name) {
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

template <typename T>
void TCustomComPort::SetLineField(T& field, T value) {
    if (field == value) return;
    field = value;
    ApplyLineSettings();
}

void TCustomComPort::SetConnected(bool value) {
    if (Loading()) {
        connectOnLoad_ = value;
        return;
    }
    if (value == connected_) return;
    if (value)
        Open();
    else
        Close();
}

void TCustomComPort::Loaded() {
    TComponent::Loaded();
    if (!connectOnLoad_) return;
    connectOnLoad_ = false;
    try {
        Open();
    } catch (const std::exception& error) {
        UserMessages().ShowException(error);
    }
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
    SetLineField(baudRate_, value);
}
void TCustomComPort::SetCustomBaudRate(int value) {
    SetLineField(customBaudRate_, value);
}
void TCustomComPort::SetStopBits(TStopBits value) {
    SetLineField(stopBits_, value);
}
void TCustomComPort::SetDataBits(TDataBits value) {
    SetLineField(dataBits_, value);
}
void TCustomComPort::SetDiscardNull(bool value) {
    SetLineField(discardNull_, value);
}
void TCustomComPort::SetEventChar(char value) {
    SetLineField(eventChar_, value);
}

void TCustomComPort::SetPort(const std::string& value) {
    if (value == port_) return;
    port_ = value;
    if (connected_) {
        Close();
        Open();
    }
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
    if (connected_) throw EComPort(ceConnChangeProp);
    syncMethod_ = value;
}

void TCustomComPort::EndUpdate() {
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0) ApplySettings();
}

void TCustomComPort::ApplySettings() {
    ApplyBuffer();
    ApplyLineSettings();
    ApplyTimeouts();
}

void TCustomComPort::ApplyBuffer() {
    if (!CanApply()) return;
    // The emulated driver queue: the event thread stops taking bytes from the tty at this
    // size, which leaves the rest to the kernel and the flow control.
    if (buffer_.InputSize() <= 0 || buffer_.OutputSize() <= 0)
        throw EComPort(ceSetupComFailed, EINVAL);
    device_.SetInputCapacity(buffer_.InputSize());
    WakeEventThread();
}

void TCustomComPort::ApplyTimeouts() {
    if (!CanApply()) return;
    appliedTimeouts_.CopyFrom(timeouts_);
}

TDeviceControl TCustomComPort::DeviceControl() const {
    TDeviceControl dcb;
    dcb.baudRate = baudRate_ == brCustom ? customBaudRate_ : BaudRateValue(baudRate_);
    dcb.flags = kBinary;
    if (parity_.Check()) dcb.flags |= kParity;
    if (parity_.Check() && parity_.Replace()) {
        dcb.flags |= kErrorChar;
        dcb.errorChar = parity_.ReplaceChar();
    }
    const TComFlowControl& flow = flowControl_;
    if (flow.OutCTSFlow()) dcb.flags |= kOutxCts;
    if (flow.OutDSRFlow()) dcb.flags |= kOutxDsr;
    dcb.flags |= kDtrField[flow.ControlDTR()] | kRtsField[flow.ControlRTS()];
    if (flow.DSRSensitivity()) dcb.flags |= kDsrSensitivity;
    if (flow.TxContinueOnXoff()) dcb.flags |= kTxContinue;
    if (flow.XonXoffOut()) dcb.flags |= kOutX;
    if (flow.XonXoffIn()) dcb.flags |= kInX;
    if (discardNull_) dcb.flags |= kNull;
    dcb.xonLim = buffer_.InputSize() / 4;
    dcb.xoffLim = buffer_.InputSize() / 4;
    dcb.byteSize = 5 + dataBits_;
    dcb.parity = parity_.Bits();
    dcb.stopBits = stopBits_;
    dcb.xonChar = flow.XonChar();
    dcb.xoffChar = flow.XoffChar();
    dcb.evtChar = eventChar_;
    return dcb;
}

void TCustomComPort::ApplyLineSettings() {
    if (!CanApply()) return;
    CheckComResult(ceSetStateFailed,
                   com_port_linux::SetLine(device_.Fd(), DeviceControl(), flowControl_.ControlDTR(),
                                           flowControl_.ControlRTS()));
    device_.SetDiscardNull(discardNull_);
    device_.SetEventChar(eventChar_);
}

void TCustomComPort::Open() {
    if (connected_ || Designing()) return;
    ReapRetiredThreads();
    if (OnBeforeOpen) OnBeforeOpen(this);
    CheckComResult(ceOpenFailed, device_.Open(PortDevicePath(port_)));
    connected_ = true;
    try {
        ApplySettings();
    } catch (...) {
        device_.Close();
        connected_ = false;
        throw;
    }
    linux_serial::ReadLineCounters(device_.Fd(), lineCounters_);
    try {
        threadEvents_ = events_;
        eventThread_ = std::make_unique<TComThread>(*this);
    } catch (const std::system_error& error) {
        // Without its thread the port could neither report events nor move queued output.
        device_.Close();
        connected_ = false;
        throw EComPort(ceOpenFailed, error.code().value());
    }
    AfterOpenNotifications();
}

void TCustomComPort::Close() {
    if (!connected_ || Designing()) return;
    BeforeCloseNotifications();
    try {
        AbortAllIo();
    } catch (const EComPort&) {
        // Every bound port (framer, lamp) closes whatever the driver says.
        if (!Destroying() && links_.empty()) throw;
    }
    StopEventThread();
    device_.Close();
    connected_ = false;
    NotifyLinks(&TComLink::ConnSignal, false);
    if (OnAfterClose) OnAfterClose(this);
}

void TCustomComPort::StopEventThread() {
    if (!eventThread_) return;
    if (dispatchDepth_ > 0 || eventThread_->OnThisThread()) {
        // Closed from one of its own deliveries: the thread ends once that returns, and
        // is joined later.
        eventThread_->RequestStop();
        retiring_.push_back(std::move(eventThread_));
        return;
    }
    eventThread_->Stop();
    eventThread_.reset();
    ReapRetiredThreads();
}

void TCustomComPort::ReapRetiredThreads() {
    // Inside a delivery only the threads that ended can go: the others may be waiting for
    // it. A port lost and reopened from its loss handler, again and again, meets here
    // the threads of the earlier losses.
    if (dispatchDepth_ > 0) {
        std::erase_if(retiring_, [](const auto& thread) { return thread->Finished(); });
        return;
    }
    for (auto& thread : retiring_)
        if (thread->OnThisThread()) return;
    retiring_.clear();
}

void TCustomComPort::WakeEventThread() {
    if (eventThread_) eventThread_->Wake();
}

// ---- I/O ------------------------------------------------------------------------------

int TCustomComPort::WriteAsync(const void* buffer, int count, PAsync record) {
    if (record == nullptr) throw EComPort(ceInvalidAsync);
    record->Kind = akWrite;
    record->Data.assign(static_cast<const char*>(buffer), static_cast<size_t>(std::max(count, 0)));
    record->write = device_.Write(record->Data.data(), static_cast<int>(record->Data.size()));
    const TWriteOp state = device_.State(record->write);
    CheckComResult(ceWriteFailed, state.error);
    WakeEventThread();
    NotifyLinks(&TComLink::TxSignal, true);
    return state.done ? state.written : 0;
}

int TCustomComPort::WriteTextAsync(const std::string& text, PAsync record) {
    if (text.empty()) return 0;
    return WriteAsync(text.data(), static_cast<int>(text.size()), record);
}

int TCustomComPort::WriteText(const std::string& text) {
    TAsyncRecord record;
    WriteTextAsync(text, &record);
    return text.empty() ? 0 : WaitAsync(&record);
}

int TCustomComPort::ReadAsync(void* buffer, int count, PAsync record) {
    if (record == nullptr) throw EComPort(ceInvalidAsync);
    record->Kind = akRead;
    record->Data.clear();
    record->write.reset();
    record->readBuffer = static_cast<char*>(buffer);
    record->readCount = std::max(count, 0);
    record->readDone = TakeInput(record->readBuffer, record->readCount);
    return record->readDone;
}

int TCustomComPort::TakeInput(char* buffer, int count) {
    const TComDevice::TTake take = device_.TakeInput(buffer, count);
    CheckComResult(ceReadFailed, take.error);
    // A full queue had stopped the thread taking bytes from the tty; an event character
    // read here must still raise its event there.
    if (take.madeRoom || take.eventChar) WakeEventThread();
    return take.count;
}

int TCustomComPort::ReadTextAsync(std::string& text, int count, PAsync record) {
    text.resize(static_cast<size_t>(std::max(count, 0)));
    if (count <= 0) return 0;
    return ReadAsync(text.data(), count, record);
}

int TCustomComPort::Read(void* buffer, int count) {
    TAsyncRecord record;
    ReadAsync(buffer, count, &record);
    return WaitAsync(&record);
}

int TCustomComPort::ReadText(std::string& text, int count) {
    text.resize(static_cast<size_t>(std::max(count, 0)));
    int read = count > 0 ? Read(text.data(), count) : 0;
    text.resize(static_cast<size_t>(read));
    return read;
}

namespace {

bool Expired(uint32_t start, int64_t limit) {
    return limit > 0 && static_cast<int64_t>(GetTickCount() - start) >= limit;
}

}  // namespace

int TCustomComPort::WaitAsync(PAsync record) {
    if (record == nullptr) throw EComPort(ceInvalidAsync);
    const uint32_t start = GetTickCount();
    const TComTimeouts& t = appliedTimeouts_;
    if (record->Kind == akWrite) {
        if (!record->write) return 0;
        const std::shared_ptr<TWriteOp> op = record->write;
        const int64_t limit =
            static_cast<int64_t>(t.WriteTotalMultiplier()) * op->size + t.WriteTotalConstant();
        for (;;) {
            device_.FlushOutput();
            if (device_.State(op).done) break;
            if (Expired(start, limit)) {
                // Like an expired write time-out: the operation ends with what it wrote.
                device_.Abandon(op);
                break;
            }
            com_port_linux::WaitDevice(device_.Fd(), true,
                                       limit > 0 ? static_cast<int>(limit) : 10);
        }
        const TWriteOp state = device_.State(op);
        CheckComResult(ceWriteFailed, state.error);
        NotifyLinks(&TComLink::TxData, record->Data.data(), state.written);
        return state.written;
    }
    // Read: with ReadInterval -1 and no totals a read returns at once with what is there.
    const bool atOnce =
        t.ReadInterval() == -1 && t.ReadTotalMultiplier() == 0 && t.ReadTotalConstant() == 0;
    const int64_t limit =
        static_cast<int64_t>(t.ReadTotalMultiplier()) * record->readCount + t.ReadTotalConstant();
    uint32_t lastByte = start;
    while (!atOnce && record->readDone < record->readCount && !Expired(start, limit)) {
        if (t.ReadInterval() > 0 && record->readDone > 0 && Expired(lastByte, t.ReadInterval()))
            break;
        com_port_linux::WaitDevice(device_.Fd(), false, limit > 0 ? static_cast<int>(limit) : 10);
        int n =
            TakeInput(record->readBuffer + record->readDone, record->readCount - record->readDone);
        if (n > 0) lastByte = GetTickCount();
        record->readDone += n;
    }
    if (PendingInputCount() == 0) NotifyLinks(&TComLink::RxSignal, false);
    return record->readDone;
}

int TCustomComPort::PendingInputCount() {
    int count = 0;
    CheckComResult(ceClearComFailed, device_.InputCount(count));
    TakeLineErrors();
    return count;
}

void TCustomComPort::PurgeBuffers(bool input, bool output) {
    if (input) {
        CheckComResult(cePurgeFailed, device_.PurgeInput());
        // A thread that stopped reading at a full queue would otherwise never look again.
        WakeEventThread();
    }
    if (output) CheckComResult(cePurgeFailed, device_.PurgeOutput());
}

void TCustomComPort::AbortAllIo() {
    if (!device_.IsOpen()) throw EComPort(cePurgeFailed, EBADF);
    device_.AbandonAll();
}

TModemSignals TCustomComPort::ModemSignals() {
    TModemSignals signals;
    CheckComResult(ceModemStatFailed, com_port_linux::ReadModemSignals(device_.Fd(), signals));
    return signals;
}

TComErrors TCustomComPort::TakeLineErrors() {
    if (!device_.IsOpen()) throw EComPort(ceClearComFailed, EBADF);
    linux_serial::TLineCounters now;
    if (linux_serial::ReadLineCounters(device_.Fd(), now) != 0) return {};
    TComErrors errors;
    if (now.frame != lineCounters_.frame) errors.Include(errFraming);
    if (now.parity != lineCounters_.parity && parity_.Check()) errors.Include(errParity);
    if (now.overrun != lineCounters_.overrun) errors.Include(errOverrun);
    if (now.brk != lineCounters_.brk) errors.Include(errBreak);
    if (now.bufOverrun != lineCounters_.bufOverrun) errors.Include(errInputOverflow);
    lineCounters_ = now;
    return errors;
}

void TCustomComPort::RegisterLink(TComLink* link) {
    if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end())
        throw EComPort(ceRegFailed);
    links_.push_back(link);
    RecomputeDataLink();
}

void TCustomComPort::UnregisterLink(TComLink* link) {
    auto it = std::find(links_.begin(), links_.end(), link);
    if (it == links_.end()) throw EComPort(ceRegFailed);
    links_.erase(it);
    RecomputeDataLink();
}

void TCustomComPort::RecomputeDataLink() {
    hasDataLink_ = std::any_of(links_.begin(), links_.end(),
                               [](const TComLink* link) { return bool(link->RxData); });
}

// ---- Stored form ----------------------------------------------------------------------

void TComPort::DefineProperties(TPropertyList& properties) {
    using T = TCustomComPort;
    properties.Bind("Connected", this, &T::Connected, &T::SetConnected, false);
    properties.BindEnum("BaudRate", kBaudRateNames, this, &T::BaudRate, &T::SetBaudRate, br9600);
    properties.Bind("CustomBaudRate", this, &T::CustomBaudRate, &T::SetCustomBaudRate, 9600);
    properties.Bind("Port", this, &T::Port, &T::SetPort, std::string("COM1"));
    properties.AddObject("Parity", Parity());
    properties.BindEnum("StopBits", kStopBitsNames, this, &T::StopBits, &T::SetStopBits,
                        sbOneStopBit);
    properties.BindEnum("DataBits", kDataBitsNames, this, &T::DataBits, &T::SetDataBits, dbEight);
    properties.Bind("DiscardNull", this, &T::DiscardNull, &T::SetDiscardNull, false);
    // Stored as the byte it is, not as a signed char.
    properties.AddInteger(
        "EventChar", [this] { return static_cast<uint8_t>(EventChar()); },
        [this](int64_t v) { SetEventChar(static_cast<char>(v)); }, 0);
    properties.AddSet(
        "Events", kEventNames, [this] { return Events().Bits(); },
        [this](uint32_t v) { SetEvents(TComEvents::FromBits(v)); }, kAllComEvents.Bits());
    properties.AddObject("Buffer", Buffer());
    properties.AddObject("FlowControl", FlowControl());
    properties.AddObject("Timeouts", Timeouts());
    properties.BindEnum("SyncMethod", kSyncNames, this, &T::SyncMethod, &T::SetSyncMethod,
                        smThreadSync);
}

}  // namespace wct
