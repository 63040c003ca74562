// SPDX-License-Identifier: Apache-2.0
#include "app/link_bar.h"

#include <QLabel>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>

#include "app/com_led.h"
#include "app/com_setup.h"
#include "app/device_test_window.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "protocol/wireless_protocol.h"
#include "serial/port_inventory.h"

namespace wct {

TLinkBar::TLinkBar(TPanelHost& host, TComPort& comPort1)
    : host_(host), tmp_(host.Protocol()), comPort1_(comPort1), currentPort_(&comPort1) {
    ComboBox1 = new QComboBox;
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setMinimumWidth(170);
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto separator = [] {
        auto* line = new QFrame;
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    };
    ComLed1_ = new TComLed;
    ComLed1_->setObjectName("ComLed1");
    ComLed1_->SetKind(lkBlueLight);
    ComLed1_->SetComPort(&comPort1_);
    ComLed1_->setToolTip("Port open");

    const auto button = [&](const char* caption, std::function<void()> handler) {
        return Button(host.Clicks(), this, caption, std::move(handler));
    };
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Label("Port"));
    layout->addWidget(ComboBox1);
    layout->addWidget(button("Connect", [this] { ConnectClick(); }));
    layout->addWidget(button("Disconnect", [this] {
        tmp_.Disconnect();
        if (OnDisconnected) OnDisconnected();
    }));
    layout->addWidget(ComLed1_);
    layout->addWidget(
        button("Com Settings", [this] { ShowSettingsDialog(*currentPort_, window()); }));
    layout->addWidget(separator());
    layout->addWidget(button("Open", [this] { tmp_.OpenRegistration(); }));
    layout->addWidget(button("Close", [this] { tmp_.CloseRegistration(); }));
    layout->addWidget(button("Num Console", [this] { tmp_.AskNumberOfConsole(); }));
    layout->addWidget(separator());
    layout->addWidget(button("Start Measure", [this] { tmp_.SetMeasure(true); }));
    layout->addWidget(button("Stop Measure", [this] { tmp_.SetMeasure(false); }));
    layout->addStretch(1);
    layout->addWidget(button("VxDevicePanel", [this] {
        if (deviceTestWindow_ == nullptr) return;
        deviceTestWindow_->show();
        deviceTestWindow_->raise();
        deviceTestWindow_->activateWindow();
    }));
}

void TLinkBar::ListPorts() {
    for (const std::string& port : ListPortsSorted())
        ComboBox1->addItem(QString::fromStdString(port));
    if (ComboBox1->count() > 0) {
        ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
        comPort1_.SetPort(ComboBox1->currentText().toStdString());
    }
}

void TLinkBar::SelectPort(const std::string& port) {
    const QString name = QString::fromStdString(port);
    if (ComboBox1->findText(name) < 0) ComboBox1->insertItem(0, name);
    ComboBox1->setCurrentIndex(ComboBox1->findText(name));
    comPort1_.SetPort(port);
}

void TLinkBar::ConnectClick() {
    tmp_.SetDisplayMessage(true);
    tmp_.SetPortDef(ComboBox1->currentText().toStdString());
    tmp_.OnDisconnection = [this] { host_.ShowMessage("Dongle disconnesso!"); };
    // A dongle lost and back leaves Connected set on a closed port: search again.
    if (!tmp_.Connected() || tmp_.Port() == nullptr || !tmp_.Port()->Connected()) {
        TPanelHost::TWaitNote note(host_, "the dongle");
        tmp_.FindDongle();
    }
    tmp_.SetResistanceInterval(1000);
    if (tmp_.Port() == nullptr) return;
    currentPort_ = tmp_.Port();
    ComLed1_->SetComPort(currentPort_);
}

}  // namespace wct
