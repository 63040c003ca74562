// SPDX-License-Identifier: Apache-2.0
// TComDataPacket: cuts the byte stream a port receives into packets.
//
// A packet starts at StartString (or at the first byte when it is empty, or where
// OnCustomStart says) and ends after StopString, after Size bytes, or where OnCustomStop
// says; whichever of Size and StopString is set, Size is tested first. Bytes before a
// start go to OnDiscard. Without any stop condition every received chunk is one packet.
// Once framing leaves MaxBufferSize bytes or more buffered, all of them go to OnDiscard;
// a chunk larger than the bound is framed first. Matching with CaseInsensitive folds the
// ASCII letters a-z only. Every byte value is an ordinary character.
//
// The framer receives bytes only through its link's RxData slot, registered with the
// port named by ComPort; it drops the port when the port is destroyed. It runs on the
// thread that runs the port's handlers (the main thread with smThreadSync), holds no
// lock, and its properties must be changed on that same thread. A handler's exception
// propagates to the caller after the bound check has run.
#pragma once

#include <functional>
#include <string>

#include "common/component.h"
#include "serial/com_link.h"

namespace wct {

class TCustomComPort;

using TComStrEvent = std::function<void(TComponent* sender, const std::string& str)>;
// `pos` comes in as -1; a handler sets it to the 1-based position found, or 0 for
// "not yet".
using TCustPacketEvent = std::function<void(TComponent* sender, const std::string& str, int& pos)>;

class TComDataPacket : public TComponent {
public:
    explicit TComDataPacket(TComponent* owner = nullptr);
    ~TComDataPacket() override;
    std::string ClassName() const override { return "TComDataPacket"; }

    TCustomComPort* ComPort() const { return comPort_; }
    void SetComPort(TCustomComPort* port);
    const std::string& StartString() const { return startString_; }
    void SetStartString(const std::string& value);
    const std::string& StopString() const { return stopString_; }
    void SetStopString(const std::string& value);
    int Size() const { return size_; }
    void SetSize(int value);
    bool CaseInsensitive() const { return caseInsensitive_; }
    void SetCaseInsensitive(bool value);
    bool IncludeStrings() const { return includeStrings_; }
    void SetIncludeStrings(bool value) { includeStrings_ = value; }
    int MaxBufferSize() const { return maxBufferSize_; }
    // 0 or less: no bound.
    void SetMaxBufferSize(int value) { maxBufferSize_ = value; }

    // Feeds received bytes as the port's link does.
    void AddData(const std::string& bytes);
    // Bytes received and not yet delivered or discarded.
    const std::string& Buffered() const { return buffer_; }
    bool InPacket() const { return inPacket_; }

    TComStrEvent OnPacket;
    TComStrEvent OnDiscard;
    TCustPacketEvent OnCustomStart;
    TCustPacketEvent OnCustomStop;

    void DefineProperties(TPropertyList& properties) override;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    bool HasStopCondition() const;
    // 1-based position of `what` in `where`, 0 when absent or empty.
    size_t Position(const std::string& what, const std::string& where) const;
    void HandleBuffer();
    void LookForStart();
    bool LookForEnd();
    void EnterPacket(size_t position);
    void EmptyBuffer();

    TComLink link_;
    TCustomComPort* comPort_ = nullptr;
    std::string startString_;
    std::string stopString_;
    int maxBufferSize_ = 1024;
    int size_ = 0;
    bool includeStrings_ = false;
    bool caseInsensitive_ = false;
    bool inPacket_ = false;
    std::string buffer_;
};

}  // namespace wct
