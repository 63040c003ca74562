// SPDX-License-Identifier: Apache-2.0
// TCustomComPort / TComPort: the system's only access to a serial device.
//
// A port holds the complete line configuration as properties, opens a tty by name (a
// name without '/' is looked up under /dev/, so the default "COM1" fails to open with
// errno 2), applies the configuration through termios, and reads and writes with
// overlapped operations emulated over non-blocking I/O: WriteAsync and WriteTextAsync
// never block; WaitAsync, WriteText, Read and ReadText block until the operation ends or
// the configured time-outs run out. While the port is open with a non-empty Events set,
// an event thread (com_thread.h) turns line activity into the On... events, delivered as
// SyncMethod says. Failures raise EComPort (ecomport.h) with the errno kept.
//
// Threads: every operation and property belongs to the main thread. The event thread
// reads only the device, Events and SyncMethod, none of which change while it runs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/component.h"
#include "serial/com_device.h"
#include "serial/com_link.h"
#include "serial/ecomport.h"
#include "serial/linux_serial.h"

namespace wct {

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComEvent {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
enum TComError {
    errFraming,
    errParity,
    errOverrun,
    errBreak,
    errDeviceIo,
    errMode,
    errInputOverflow,
    errOutputFull
};
enum TModemSignal { sigCts, sigDsr, sigRing, sigRlsd };

// A set over one of the enumerations above, as a bit mask of ordinals.
template <typename E>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> items) {
        for (E item : items) Include(item);
    }
    static constexpr TSet FromBits(uint32_t bits) {
        TSet set;
        set.bits_ = bits;
        return set;
    }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool Contains(E item) const { return (bits_ >> item & 1u) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Include(E item) { bits_ |= 1u << item; }
    constexpr void Exclude(E item) { bits_ &= ~(1u << item); }
    constexpr bool operator==(const TSet&) const = default;

private:
    uint32_t bits_ = 0;
};

using TComEvents = TSet<TComEvent>;
using TComErrors = TSet<TComError>;
using TModemSignals = TSet<TModemSignal>;

inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x3FF);
// The order in which the events of one batch are handled, however they are delivered.
inline constexpr std::array<TComEvent, 10> kComEventOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};

// Text conversions, as the settings dialog shows the values. The TextTo... forms match
// ASCII letters case-insensitively and give the documented fallback for unknown text.
std::string BaudRateToText(TBaudRate value);
std::string StopBitsToText(TStopBits value);
std::string DataBitsToText(TDataBits value);
std::string ParityToText(TParityBits value);
std::string FlowControlToText(TFlowControl value);
TBaudRate TextToBaudRate(const std::string& text);        // else br9600
TStopBits TextToStopBits(const std::string& text);        // else sbOneStopBit
TDataBits TextToDataBits(const std::string& text);        // else dbEight
TParityBits TextToParity(const std::string& text);        // else prNone
TFlowControl TextToFlowControl(const std::string& text);  // else fcCustom

// The rate a TBaudRate stands for; 0 for brCustom.
int BaudRateValue(TBaudRate value);

class TCustomComPort;

// The sub-objects: each belongs to one port; a setter stores a changed value and makes
// the port re-apply the matching group of settings.
class TComTimeouts : public TPersistent {
public:
    explicit TComTimeouts(TCustomComPort* port) : port_(port) {}
    int ReadInterval() const { return readInterval_; }
    int ReadTotalMultiplier() const { return readTotalMultiplier_; }
    int ReadTotalConstant() const { return readTotalConstant_; }
    int WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    int WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(int ms) { Set(readInterval_, ms); }
    void SetReadTotalMultiplier(int ms) { Set(readTotalMultiplier_, ms); }
    void SetReadTotalConstant(int ms) { Set(readTotalConstant_, ms); }
    void SetWriteTotalMultiplier(int ms) { Set(writeTotalMultiplier_, ms); }
    void SetWriteTotalConstant(int ms) { Set(writeTotalConstant_, ms); }
    void CopyFrom(const TComTimeouts& other);
    void DefineProperties(TPropertyList& properties) override;

private:
    void Set(int& field, int value);
    TCustomComPort* port_;
    int readInterval_ = -1;
    int readTotalMultiplier_ = 0;
    int readTotalConstant_ = 0;
    int writeTotalMultiplier_ = 100;
    int writeTotalConstant_ = 1000;
};

class TComParity : public TPersistent {
public:
    explicit TComParity(TCustomComPort* port) : port_(port) {}
    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    uint8_t ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits value);
    void SetCheck(bool value);
    void SetReplace(bool value);
    void SetReplaceChar(uint8_t value);
    void CopyFrom(const TComParity& other);
    void DefineProperties(TPropertyList& properties) override;

private:
    TCustomComPort* port_;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    uint8_t replaceChar_ = 0;
};

class TComBuffer : public TPersistent {
public:
    explicit TComBuffer(TCustomComPort* port) : port_(port) {}
    int InputSize() const { return inputSize_; }
    int OutputSize() const { return outputSize_; }
    // A positive odd size is stored one lower.
    void SetInputSize(int bytes);
    void SetOutputSize(int bytes);
    void CopyFrom(const TComBuffer& other);
    void DefineProperties(TPropertyList& properties) override;

private:
    void Set(int& field, int bytes);
    TCustomComPort* port_;
    int inputSize_ = 1024;
    int outputSize_ = 1024;
};

class TComFlowControl : public TPersistent {
public:
    explicit TComFlowControl(TCustomComPort* port) : port_(port) {}
    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    uint8_t XonChar() const { return xonChar_; }
    uint8_t XoffChar() const { return xoffChar_; }
    void SetOutCTSFlow(bool value) { Set(outCTSFlow_, value); }
    void SetOutDSRFlow(bool value) { Set(outDSRFlow_, value); }
    void SetControlDTR(TDTRFlowControl value) { Set(controlDTR_, value); }
    void SetControlRTS(TRTSFlowControl value) { Set(controlRTS_, value); }
    void SetXonXoffOut(bool value) { Set(xonXoffOut_, value); }
    void SetXonXoffIn(bool value) { Set(xonXoffIn_, value); }
    void SetDSRSensitivity(bool value) { Set(dsrSensitivity_, value); }
    void SetTxContinueOnXoff(bool value) { Set(txContinueOnXoff_, value); }
    void SetXonChar(uint8_t value) { Set(xonChar_, value); }
    void SetXoffChar(uint8_t value) { Set(xoffChar_, value); }

    // Derived from RTS control, CTS output flow and the two Xon/Xoff flags; not stored.
    TFlowControl FlowControl() const;
    // fcHardware, fcSoftware, fcNone reset those four and set the chosen scheme;
    // fcCustom changes nothing. The line settings are re-applied in every case.
    void SetFlowControl(TFlowControl value);

    void CopyFrom(const TComFlowControl& other);
    void DefineProperties(TPropertyList& properties) override;

private:
    template <typename T>
    void Set(T& field, T value) {
        if (field == value) return;
        field = value;
        Reapply();
    }
    void Reapply();
    TCustomComPort* port_;
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    uint8_t xonChar_ = 17;
    uint8_t xoffChar_ = 19;
};

// The line settings as the port hands them to the driver: what the settings above add up
// to, before they are turned into termios.
// Flag bits of TDeviceControl::flags.
constexpr uint32_t kBinary = 0x0001, kParity = 0x0002, kOutxCts = 0x0004, kOutxDsr = 0x0008,
                   kDsrSensitivity = 0x0040, kTxContinue = 0x0080, kOutX = 0x0100, kInX = 0x0200,
                   kErrorChar = 0x0400, kNull = 0x0800;
// The DTR and RTS fields of the flags, by TDTRFlowControl and TRTSFlowControl.
constexpr std::array<uint32_t, 3> kDtrField = {0x0000, 0x0010, 0x0020};
constexpr std::array<uint32_t, 4> kRtsField = {0x0000, 0x1000, 0x2000, 0x3000};

struct TDeviceControl {
    int baudRate = 0;
    uint32_t flags = 0;
    int xonLim = 0;
    int xoffLim = 0;
    int byteSize = 8;
    int parity = 0;
    int stopBits = 0;
    uint8_t xonChar = 17;
    uint8_t xoffChar = 19;
    uint8_t errorChar = 0;
    uint8_t eofChar = 0;
    char evtChar = 0;
};

// One overlapped operation. Created by NewAsyncRecord, freed by FreeAsyncRecord; the
// caller must not hand one record to two operations that run at the same time, but may
// issue a new write on a record whose earlier write is still in flight (the earlier one
// goes on by itself).
enum TAsyncKind : uint8_t { akWrite, akRead };
struct TAsyncRecord {
    TAsyncKind Kind = akWrite;
    std::string Data;  // private copy of the bytes being written; empty for reads
    std::shared_ptr<TWriteOp> write;
    char* readBuffer = nullptr;
    int readCount = 0;
    int readDone = 0;
};
using PAsync = TAsyncRecord*;
void NewAsyncRecord(PAsync& record);
void FreeAsyncRecord(PAsync& record);

using TRxCharEvent = std::function<void(TComponent* sender, int count)>;
using TRxBufEvent = std::function<void(TComponent* sender, const char* buffer, int count)>;
using TComSignalEvent = std::function<void(TComponent* sender, bool onOff)>;
using TComErrorEvent = std::function<void(TComponent* sender, TComErrors errors)>;

class TComThread;

// The device a port name opens: a name without '/' lies under /dev/. Messages about a
// port name this path, the one that was tried.
std::string PortDevicePath(const std::string& name);

class TCustomComPort : public TComponent {
public:
    explicit TCustomComPort(TComponent* owner = nullptr);
    ~TCustomComPort() override;
    std::string ClassName() const override { return "TCustomComPort"; }

    bool Connected() const { return connected_; }
    // While loading only recorded; Loaded opens a recorded true.
    void SetConnected(bool value);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate value);
    int CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(int value);
    const std::string& Port() const { return port_; }
    // A different name reopens an open port on it.
    void SetPort(const std::string& value);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits value);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool value);
    char EventChar() const { return eventChar_; }
    void SetEventChar(char value);
    TComEvents Events() const { return events_; }
    // Takes effect at the next Open.
    void SetEvents(TComEvents value) { events_ = value; }
    TSyncMethod SyncMethod() const { return syncMethod_; }
    // Refused with error 14 while open.
    void SetSyncMethod(TSyncMethod value);
    TComBuffer& Buffer() { return buffer_; }
    void SetBuffer(const TComBuffer& value) { buffer_.CopyFrom(value); }
    TComParity& Parity() { return parity_; }
    void SetParity(const TComParity& value) { parity_.CopyFrom(value); }
    TComTimeouts& Timeouts() { return timeouts_; }
    void SetTimeouts(const TComTimeouts& value) { timeouts_.CopyFrom(value); }
    TComFlowControl& FlowControl() { return flowControl_; }
    void SetFlowControl(const TComFlowControl& value) { flowControl_.CopyFrom(value); }

    int DeviceHandle() const { return device_.Fd(); }
    // An event thread that delivers line events runs (Events was not empty at Open).
    bool ThreadCreated() const { return eventThread_ != nullptr && !threadEvents_.Empty(); }
    TComThread* EventThread() const { return eventThread_.get(); }
    bool HasDataLink() const { return hasDataLink_; }
    const std::vector<TComLink*>& Links() const { return links_; }
    TDeviceControl DeviceControl() const;

    void Open();
    void Close();
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    void ApplySettings();

    // Bytes written at once: the count when the write completed, 0 while it is pending.
    int WriteAsync(const void* buffer, int count, PAsync record);
    int WriteTextAsync(const std::string& text, PAsync record);
    int WriteText(const std::string& text);
    // Bytes read at once; `buffer` must stay valid until WaitAsync on the record.
    int ReadAsync(void* buffer, int count, PAsync record);
    int ReadTextAsync(std::string& text, int count, PAsync record);
    int Read(void* buffer, int count);
    int ReadText(std::string& text, int count);
    // Blocks until the operation ends or its time-out runs out; bytes transferred.
    int WaitAsync(PAsync record);

    // Bytes waiting to be read; also clears the pending line-error flags.
    int PendingInputCount();
    void PurgeBuffers(bool input, bool output);
    void AbortAllIo();
    // A device without modem lines (a pseudo-terminal) reports all of them off.
    TModemSignals ModemSignals();
    // Line errors since the last call, from the driver's counters where it has them.
    TComErrors TakeLineErrors();

    // Error 18 for a link already registered / not registered.
    void RegisterLink(TComLink* link);
    void UnregisterLink(TComLink* link);

    void Loaded() override;

    TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;
    // The device went away while open (adapter unplugged, the other end of a
    // pseudo-terminal closed): raised once, as SyncMethod says, whatever Events holds.
    // The port stays open until it is closed; writes fail from then on.
    TNotifyEvent OnDeviceLost;

protected:
    void ApplyBuffer();
    void ApplyLineSettings();
    void ApplyTimeouts();

private:
    friend class TComThread;
    friend class TComTimeouts;
    friend class TComParity;
    friend class TComBuffer;
    friend class TComFlowControl;

    bool CanApply() const;
    template <typename T>
    void SetLineField(T& field, T value);
    void RecomputeDataLink();
    void WakeEventThread();
    void StopEventThread();
    void ReapRetiredThreads();

    // Event handlers, run as SyncMethod says (com_thread.cpp).
    void DispatchEvents(TComEvents events);
    void HandleEvent(TComEvent event);
    void ReceiveData();
    void ReportDeviceLost();
    // Takes from the input queue and the tty, and lets the event thread see what that
    // changed (room in a full queue, the event character).
    int TakeInput(char* buffer, int count);
    void ReportModemSignal(TModemSignal signal, bool on);
    void AfterOpenNotifications();
    void BeforeCloseNotifications();
    // Calls one slot of every link that has it set, in registration order.
    template <typename Slot, typename... Args>
    void NotifyLinks(Slot TComLink::*slot, Args... args) {
        for (TComLink* link : links_)
            if (link->*slot) (link->*slot)(this, args...);
    }

    std::unique_ptr<TComThread> eventThread_;
    TComEvents threadEvents_;  // the Events the running thread was started with
    // Threads stopped from inside one of their own deliveries, joined once that is over.
    std::vector<std::unique_ptr<TComThread>> retiring_;
    int dispatchDepth_ = 0;  // event handlers of this port running on the main thread
    TComDevice device_;
    int updateCount_ = 0;
    std::vector<TComLink*> links_;
    bool hasDataLink_ = false;
    bool connected_ = false;
    bool connectOnLoad_ = false;
    TBaudRate baudRate_ = br9600;
    int customBaudRate_ = 9600;
    std::string port_ = "COM1";
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    char eventChar_ = 0;
    TComEvents events_ = kAllComEvents;
    TComBuffer buffer_{this};
    TComParity parity_{this};
    TComTimeouts timeouts_{this};
    TComFlowControl flowControl_{this};
    TSyncMethod syncMethod_ = smThreadSync;
    // What the driver was last given (the queue size and time-outs live in the port).
    TComTimeouts appliedTimeouts_{nullptr};
    linux_serial::TLineCounters lineCounters_;  // counts already reported by TakeLineErrors
};

// The published port.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    std::string ClassName() const override { return "TComPort"; }
    void DefineProperties(TPropertyList& properties) override;
};

}  // namespace wct
