// SPDX-License-Identifier: Apache-2.0
// TLinkBar: the link to the dongle and what is asked of it as a whole: the port box
// (ComboBox1), "Connect" and "Disconnect", the port lamp (ComLed1), the port settings,
// registration ("Open", "Close", "Num Console"), "Start Measure" and "Stop Measure", and
// the device test window ("VxDevicePanel").
//
// The window works on ComPort1, never opened, until "Connect"; from then on on the
// protocol's own port, which the lamp and "Com Settings" follow.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "app/panel_host.h"

class QComboBox;

namespace wct {

class TComLed;
class TComPort;
class TForm2;
class TMiraWirelessProtocol;

class TLinkBar : public QWidget {
public:
    TLinkBar(TPanelHost& host, TComPort& comPort1);

    TComPort* CurrentPort() const { return currentPort_; }
    TComLed& ComLed1() { return *ComLed1_; }
    // Fills the port box with the machine's ports and names ComPort1 after the last; with
    // none, ComPort1 keeps its design name.
    void ListPorts();
    // Puts `port` first in the port box if missing, selects it and names ComPort1 after it.
    void SelectPort(const std::string& port);
    void SetDeviceTestWindow(TForm2* window) { deviceTestWindow_ = window; }

    // After "Disconnect": the protocol has forgotten the trace's switches.
    std::function<void()> OnDisconnected;

private:
    void ConnectClick();

    TPanelHost& host_;
    TMiraWirelessProtocol& tmp_;
    TComPort& comPort1_;
    TComPort* currentPort_;
    TForm2* deviceTestWindow_ = nullptr;
    QComboBox* ComboBox1 = nullptr;
    TComLed* ComLed1_ = nullptr;
};

}  // namespace wct
