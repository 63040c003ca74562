// SPDX-License-Identifier: Apache-2.0
#include "serial/com_select.h"

#include <algorithm>
#include <cctype>

#include "serial/port_inventory.h"

namespace wct {
namespace {

bool SameText(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

template <typename E>
std::vector<std::string> Texts(E last, std::string (*text)(E)) {
    std::vector<std::string> items;
    for (int v = 0; v <= static_cast<int>(last); ++v) items.push_back(text(static_cast<E>(v)));
    return items;
}

}  // namespace

std::vector<std::string> ComPropertyItems(TComProperty property) {
    switch (property) {
        case cpPort: {
            std::vector<std::string> names;
            EnumPortNames(names);
            return names;
        }
        case cpBaudRate:
            return Texts(br256000, BaudRateToText);
        case cpDataBits:
            return Texts(dbEight, DataBitsToText);
        case cpStopBits:
            return Texts(sbTwoStopBits, StopBitsToText);
        case cpParity:
            return Texts(prSpace, ParityToText);
        case cpFlowControl:
            return Texts(fcCustom, FlowControlToText);
        case cpNone:
            break;
    }
    return {};
}

TComSelect::TComSelect(TComponent* owner) : TComponent(owner) {}

TComSelect::~TComSelect() {
    BeginDestruction();
    SetComPort(nullptr);
}

std::string TComSelect::Text() const {
    return itemIndex_ >= 0 ? items_[static_cast<size_t>(itemIndex_)] : std::string();
}

void TComSelect::SetText(const std::string& text) {
    const auto it = std::find_if(items_.begin(), items_.end(),
                                 [&](const std::string& item) { return SameText(item, text); });
    if (it != items_.end()) Select(static_cast<int>(it - items_.begin()));
}

void TComSelect::SetComProperty(TComProperty value) {
    property_ = value;
    items_ = ComPropertyItems(value);
    itemIndex_ = -1;
    if (items_.empty()) {
        Select(-1);
    } else if (port_ == nullptr) {
        Select(0);
    } else {
        UpdateSettings();
    }
}

void TComSelect::SetComPort(TCustomComPort* value) {
    if (value == port_) return;
    if (port_ != nullptr) port_->RemoveFreeNotification(this);
    port_ = value;
    if (port_ == nullptr) return;
    port_->FreeNotification(this);
    UpdateSettings();
}

void TComSelect::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != TOperation::opRemove || component != port_) return;
    port_ = nullptr;
    if (!Destroying()) Select(items_.empty() ? -1 : 0);
}

std::string TComSelect::PortValueText() const {
    switch (property_) {
        case cpPort:
            return port_->Port();
        case cpBaudRate:
            return BaudRateToText(port_->BaudRate());
        case cpDataBits:
            return DataBitsToText(port_->DataBits());
        case cpStopBits:
            return StopBitsToText(port_->StopBits());
        case cpParity:
            return ParityToText(port_->Parity().Bits());
        case cpFlowControl:
            return FlowControlToText(port_->FlowControl().FlowControl());
        case cpNone:
            break;
    }
    return {};
}

void TComSelect::UpdateSettings() {
    if (port_ == nullptr) return;
    const std::string value = PortValueText();
    const auto it = std::find_if(items_.begin(), items_.end(),
                                 [&](const std::string& item) { return SameText(item, value); });
    if (it == items_.end()) {
        Select(-1);
        return;
    }
    SetPending(*it);
    Select(static_cast<int>(it - items_.begin()));
}

void TComSelect::Change(int index) {
    itemIndex_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1;
    SetPending(Text());
    if (autoApply_) ApplySettings();
}

void TComSelect::SetPending(const std::string& text) {
    switch (property_) {
        case cpPort:
            portName_ = text;
            break;
        case cpBaudRate:
            baudRate_ = TextToBaudRate(text);
            break;
        case cpDataBits:
            dataBits_ = TextToDataBits(text);
            break;
        case cpStopBits:
            stopBits_ = TextToStopBits(text);
            break;
        case cpParity:
            parity_ = TextToParity(text);
            break;
        case cpFlowControl:
            flowControl_ = TextToFlowControl(text);
            break;
        case cpNone:
            break;
    }
}

void TComSelect::ApplySettings() {
    // A box showing no choice (a port name the list does not hold) leaves the port as it
    // is: writing an empty name would close an open port for good.
    if (port_ == nullptr || itemIndex_ < 0) return;
    switch (property_) {
        case cpPort:
            port_->SetPort(portName_);
            break;
        case cpBaudRate:
            port_->SetBaudRate(baudRate_);
            break;
        case cpDataBits:
            port_->SetDataBits(dataBits_);
            break;
        case cpStopBits:
            port_->SetStopBits(stopBits_);
            break;
        case cpParity:
            port_->Parity().SetBits(parity_);
            break;
        case cpFlowControl:
            port_->FlowControl().SetFlowControl(flowControl_);
            break;
        case cpNone:
            break;
    }
}

void TComSelect::Select(int index) {
    itemIndex_ = index;
    if (OnChanged) OnChanged(this);
}

}  // namespace wct
