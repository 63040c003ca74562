// SPDX-License-Identifier: Apache-2.0
// The port settings: TComComboBox, a drop-down list bound to one property of a port, and
// TComSetupFrm "Setup", six of them on one port. ShowSettingsDialog runs the dialog
// modally and writes the choices to the port on OK; Cancel changes nothing.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <array>

#include "serial/com_select.h"

namespace wct {

// The list, the selection and the pending value are TComSelect's; the box mirrors them
// and hands the operator's choice back.
class TComComboBox : public QComboBox {
public:
    explicit TComComboBox(QWidget* parent = nullptr);

    TComProperty ComProperty() const { return select_.ComProperty(); }
    void SetComProperty(TComProperty value) { select_.SetComProperty(value); }
    TCustomComPort* ComPort() const { return select_.ComPort(); }
    void SetComPort(TCustomComPort* port) { select_.SetComPort(port); }
    bool AutoApply() const { return select_.AutoApply(); }
    void SetAutoApply(bool value) { select_.SetAutoApply(value); }
    std::string Text() const { return select_.Text(); }
    void SetText(const std::string& text) { select_.SetText(text); }

    void UpdateSettings() { select_.UpdateSettings(); }
    void ApplySettings() { select_.ApplySettings(); }

private:
    void Mirror();

    TComSelect select_;
};

class TComSetupFrm : public QDialog {
public:
    explicit TComSetupFrm(QWidget* parent = nullptr);

    // Combo1 to Combo6: port, baud rate, data bits, stop bits, parity, flow control.
    std::array<TComComboBox*, 6> Combos() const { return combos_; }

private:
    std::array<TComComboBox*, 6> combos_{};
};

// Runs "Setup" on `port`. On OK the choices reach the port in the order of the boxes
// inside BeginUpdate/EndUpdate: a new name reopens an open port at once, the line settings
// follow at EndUpdate. A failing reopen or EndUpdate raises the port's EComPort after the
// dialog has closed; a port list that cannot be read raises before it opens.
void ShowSettingsDialog(TCustomComPort& port, QWidget* parent = nullptr);

}  // namespace wct
