// SPDX-License-Identifier: Apache-2.0
#include "serial/com_data_packet.h"

#include <algorithm>
#include <stdexcept>

#include "serial/com_port.h"

namespace wct {
namespace {

char FoldAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

TComDataPacket::TComDataPacket(TComponent* owner) : TComponent(owner) {
    link_.RxData = [this](TComponent*, const char* buffer, int count) {
        AddData(std::string(buffer, static_cast<size_t>(count)));
    };
}

TComDataPacket::~TComDataPacket() {
    BeginDestruction();
    SetComPort(nullptr);
}

void TComDataPacket::SetComPort(TCustomComPort* port) {
    if (port == comPort_) return;
    if (comPort_ != nullptr) {
        comPort_->UnregisterLink(&link_);
        comPort_->RemoveFreeNotification(this);
    }
    comPort_ = port;
    if (comPort_ != nullptr) {
        comPort_->FreeNotification(this);
        comPort_->RegisterLink(&link_);
    }
}

void TComDataPacket::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == comPort_) {
        // The port calls this while still whole, before it frees its link list.
        comPort_->UnregisterLink(&link_);
        comPort_ = nullptr;
    }
}

void TComDataPacket::SetStartString(const std::string& value) {
    if (value == startString_) return;
    startString_ = value;
    if (!Loading()) EmptyBuffer();
}

void TComDataPacket::SetStopString(const std::string& value) {
    if (value == stopString_) return;
    stopString_ = value;
    if (!Loading()) EmptyBuffer();
}

void TComDataPacket::SetSize(int value) {
    if (value == size_) return;
    size_ = value;
    if (!Loading()) EmptyBuffer();
}

void TComDataPacket::SetCaseInsensitive(bool value) {
    if (value == caseInsensitive_) return;
    caseInsensitive_ = value;
    if (!Loading()) EmptyBuffer();
}

bool TComDataPacket::HasStopCondition() const {
    return size_ > 0 || !stopString_.empty() || OnCustomStop != nullptr;
}

size_t TComDataPacket::Position(const std::string& what, const std::string& where) const {
    if (what.empty()) return 0;
    if (!caseInsensitive_) {
        const size_t found = where.find(what);
        return found == std::string::npos ? 0 : found + 1;
    }
    // Compared in place: folding copies of the buffer cost more than the whole decode.
    const auto found = std::search(where.begin(), where.end(), what.begin(), what.end(),
                                   [](char a, char b) { return FoldAscii(a) == FoldAscii(b); });
    return found == where.end() ? 0 : static_cast<size_t>(found - where.begin()) + 1;
}

void TComDataPacket::AddData(const std::string& bytes) {
    if (!HasStopCondition()) {
        if (OnPacket) OnPacket(this, bytes);
        return;
    }
    buffer_ += bytes;
    HandleBuffer();
}

void TComDataPacket::HandleBuffer() {
    auto checkBound = [this] {
        if (maxBufferSize_ > 0 && buffer_.size() >= static_cast<size_t>(maxBufferSize_))
            EmptyBuffer();
    };
    try {
        for (;;) {
            if (!inPacket_) LookForStart();
            if (!inPacket_ || !LookForEnd()) break;
        }
    } catch (...) {
        checkBound();
        throw;
    }
    checkBound();
}

void TComDataPacket::LookForStart() {
    int found = -1;
    if (OnCustomStart) OnCustomStart(this, buffer_, found);
    if (found > 0) {
        // A start beyond the bytes held is not there yet.
        if (static_cast<size_t>(found) <= buffer_.size()) EnterPacket(static_cast<size_t>(found));
    } else if (found == -1) {
        if (startString_.empty()) {
            inPacket_ = true;
        } else if (size_t position = Position(startString_, buffer_); position > 0) {
            EnterPacket(position);
        }
    }
}

void TComDataPacket::EnterPacket(size_t position) {
    inPacket_ = true;
    if (position <= 1) return;
    std::string discarded = buffer_.substr(0, position - 1);
    buffer_.erase(0, position - 1);
    if (OnDiscard) OnDiscard(this, discarded);
}

bool TComDataPacket::LookForEnd() {
    int found = -1;
    if (OnCustomStop) OnCustomStop(this, buffer_, found);
    size_t length = 0;
    if (found > 0) {
        // An end beyond the bytes held means the packet is not complete yet.
        if (static_cast<size_t>(found) <= buffer_.size()) length = static_cast<size_t>(found);
    } else if (found == -1) {
        const size_t startLength = startString_.size();
        if (size_ > 0 && buffer_.size() >= static_cast<size_t>(size_)) {
            length = static_cast<size_t>(size_);
        } else if (!stopString_.empty() && buffer_.size() > startLength) {
            // The stop string counts only where it begins after the start string.
            size_t position = Position(stopString_, buffer_.substr(startLength));
            if (position > 0) length = position + stopString_.size() + startLength - 1;
        }
    }
    if (length == 0) return false;
    inPacket_ = false;
    std::string packet = buffer_.substr(0, length);
    buffer_.erase(0, length);
    if (!includeStrings_) {
        if (Position(startString_, packet) == 1) packet.erase(0, startString_.size());
        const size_t stopPosition = Position(stopString_, packet);
        if (stopPosition > 0 && stopPosition == packet.size() - stopString_.size() + 1)
            packet.erase(packet.size() - stopString_.size());
    }
    if (OnPacket) OnPacket(this, packet);
    return true;
}

void TComDataPacket::EmptyBuffer() {
    if (buffer_.empty()) return;
    std::string discarded;
    discarded.swap(buffer_);
    inPacket_ = false;
    if (OnDiscard) OnDiscard(this, discarded);
}

void TComDataPacket::DefineProperties(TPropertyList& properties) {
    // The port is stored by name and found among the components of the owners.
    properties.AddString(
        "ComPort", [this] { return comPort_ != nullptr ? comPort_->Name() : std::string(); },
        [this](const std::string& name) {
            if (name.empty()) {
                SetComPort(nullptr);
                return;
            }
            for (TComponent* owner = Owner(); owner != nullptr; owner = owner->Owner()) {
                if (auto* port = dynamic_cast<TCustomComPort*>(owner->FindComponent(name))) {
                    SetComPort(port);
                    return;
                }
            }
            throw std::invalid_argument("no port named " + name);
        },
        std::string());
    using T = TComDataPacket;
    properties.Bind("CaseInsensitive", this, &T::caseInsensitive_, &T::SetCaseInsensitive, false);
    properties.Bind("IncludeStrings", this, &T::includeStrings_, &T::SetIncludeStrings, false);
    properties.Bind("MaxBufferSize", this, &T::maxBufferSize_, &T::SetMaxBufferSize, 1024);
    properties.Bind("StartString", this, &T::startString_, &T::SetStartString, std::string());
    properties.Bind("StopString", this, &T::stopString_, &T::SetStopString, std::string());
    properties.Bind("Size", this, &T::size_, &T::SetSize, 0);
}

}  // namespace wct
