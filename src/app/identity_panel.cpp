// SPDX-License-Identifier: Apache-2.0
#include "app/identity_panel.h"

#include <QGridLayout>
#include <QPushButton>
#include <QSpinBox>

#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TIdentityPanel::TIdentityPanel(TPanelHost& host) {
    QSpinBox* txtSNid = SpinEdit("txtSNid", 0, 1000, 0);
    QSpinBox* txtVNid = SpinEdit("txtVNid", 0, 1000, 0);
    TMiraWirelessProtocol& tmp = host.Protocol();
    const auto button = [&](const char* caption, void (TMiraWirelessProtocol::*request)(uint8_t),
                            QSpinBox* console) {
        return Button(host.Clicks(), this, caption,
                      [&tmp, request, console] { (tmp.*request)(ConsoleOf(*console)); });
    };
    auto* identity = new QGridLayout;
    identity->addWidget(txtSNid, 0, 0);
    identity->addWidget(button("Serial Request", &TMiraWirelessProtocol::RequestSerial, txtSNid),
                        0, 1);
    identity->addWidget(button("FW Ver", &TMiraWirelessProtocol::RequestFirmware, txtSNid), 0, 2);
    identity->addWidget(txtVNid, 1, 0);
    identity->addWidget(button("Version Number", &TMiraWirelessProtocol::RequestVersion, txtVNid),
                        1, 1, 1, 2);
    Fill(*this, "Identity", identity);
}

}  // namespace wct
