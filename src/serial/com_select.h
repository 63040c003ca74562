// SPDX-License-Identifier: Apache-2.0
// TComSelect: what a port settings combo box knows without being drawn: which property
// of a port it shows, the texts it lists, which one is selected, and the value waiting to
// be written to the port. The combo box (app/com_combo_box.h) draws the list and hands
// the operator's choice here; ShowSettingsDialog applies the six of them together.
//
// The selection is the select's own: a view mirrors Items() and ItemIndex() whenever
// OnChanged fires, and reports an operator's choice through Change. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "common/component.h"
#include "serial/com_port.h"

namespace wct {

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The texts a box of `property` lists: the sorted port names (EnumPortNames, which raises
// "Registry error" when the ports cannot be listed), or the text forms of the setting's
// values in ordinal order. Empty for cpNone.
std::vector<std::string> ComPropertyItems(TComProperty property);

class TComSelect : public TComponent {
public:
    explicit TComSelect(TComponent* owner = nullptr);
    ~TComSelect() override;
    std::string ClassName() const override { return "TComSelect"; }

    const std::vector<std::string>& Items() const { return items_; }
    // -1: nothing selected.
    int ItemIndex() const { return itemIndex_; }
    // The selected item's text, or empty.
    std::string Text() const;
    // Selects the item with that text (compared case-insensitively) if there is one.
    void SetText(const std::string& text);

    TComProperty ComProperty() const { return property_; }
    // Fills the list for `value`; then selects the first item with no port bound, or
    // the port's current value.
    void SetComProperty(TComProperty value);
    TCustomComPort* ComPort() const { return port_; }
    // A new port's current value is shown at once. When the bound port is destroyed the
    // select forgets it and selects its first item.
    void SetComPort(TCustomComPort* value);
    // Write every choice to the port at once.
    bool AutoApply() const { return autoApply_; }
    void SetAutoApply(bool value) { autoApply_ = value; }

    // Selects the item that matches the port's current value of the shown property and
    // makes it the pending value; selects nothing when no item matches.
    void UpdateSettings();
    // The operator chose item `index` (-1: none): it becomes the pending value, written
    // at once with AutoApply.
    void Change(int index);
    // Writes the pending value of the shown property to the bound port, if any, and if
    // an item is selected.
    void ApplySettings();

    // Pending values, one per property.
    const std::string& PendingPort() const { return portName_; }
    TBaudRate PendingBaudRate() const { return baudRate_; }
    TDataBits PendingDataBits() const { return dataBits_; }
    TStopBits PendingStopBits() const { return stopBits_; }
    TParityBits PendingParity() const { return parity_; }
    TFlowControl PendingFlowControl() const { return flowControl_; }

    // The list or the selection changed by the select's own doing (not by Change).
    TNotifyEvent OnChanged;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    // The port's current value of the shown property, as the list shows it.
    std::string PortValueText() const;
    void SetPending(const std::string& text);
    void Select(int index);

    std::vector<std::string> items_;
    int itemIndex_ = -1;
    TCustomComPort* port_ = nullptr;
    bool autoApply_ = false;
    TComProperty property_ = cpNone;
    std::string portName_;
    TBaudRate baudRate_ = brCustom;
    TDataBits dataBits_ = dbFive;
    TStopBits stopBits_ = sbOneStopBit;
    TParityBits parity_ = prNone;
    TFlowControl flowControl_ = fcHardware;
};

}  // namespace wct
