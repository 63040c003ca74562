// SPDX-License-Identifier: Apache-2.0
#include "app/manual_frame_panel.h"

#include <QLabel>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

#include "app/click_guard.h"
#include "app/field_checks.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TManualFramePanel::TManualFramePanel(TPanelHost& host) : host_(host) {
    hexSt = new QLineEdit("3E010000000000000000000021");
    hexSt->setObjectName("hexSt");
    TClickGuard& clicks = host.Clicks();
    auto* manual = new QGridLayout;
    manual->addWidget(Label("Pacchetti da inviare"), 0, 0, 1, 2);
    manual->addWidget(hexSt, 1, 0);
    manual->addWidget(clicks.Button(this, "Send Single Command HEX",
                                    &TManualFramePanel::SendSingleCommandClick),
                      1, 1);
    Fill(*this, "Manual frame", manual);
    hiddenStart_ = clicks.Button(this, "Start", &TManualFramePanel::HiddenStartClick);
    hiddenStart_->setParent(this);
    hiddenStart_->hide();
}

bool TManualFramePanel::PortOpen() const {
    return host_.CurrentPort() != nullptr && host_.CurrentPort()->Connected();
}

void TManualFramePanel::SendSingleCommandClick() {
    if (!PortOpen()) return;
    const std::string text = hexSt->text().toStdString();
    if (text.size() % 2 != 0) {
        host_.ShowMessage("caratteri dispari");
        return;
    }
    const std::string bytes = HexBytesField("Pacchetti da inviare", text);
    TComPort& port = *host_.CurrentPort();
    port.WriteText(bytes);
    // Recordings hold what was sent by hand too.
    TMiraWirelessProtocol& tmp = host_.Protocol();
    if (&port == tmp.Port() && tmp.WireTap() != nullptr) tmp.WireTap()->Written(bytes);
    host_.Trace("-> MANUAL " + text + TBrakeInterlock::PastInterlockNote(bytes));
}

void TManualFramePanel::HiddenStartClick() {
    if (!PortOpen()) return;
    if (hiddenStart_->text() == "Start") {
        hexSt->setText("3E130001010021");
        hiddenStart_->setText("Stop");
    } else {
        hexSt->setText("3E130001000021");
        hiddenStart_->setText("Start");
    }
    SendSingleCommandClick();
}

}  // namespace wct
