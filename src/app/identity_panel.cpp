#include "app/identity_panel.h"

#include <QGridLayout>
#include <QPushButton>
#include <QSpinBox>

#include "app/click_guard.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "protocol/wireless_protocol.h"

namespace wct {
TIdentityPanel::TIdentityPanel(TPanelHost& host) : tmp_(host.Protocol()) {
    txtSNid = SpinEdit("txtSNid", 0, 1000, 0);
    txtVNid = SpinEdit("txtVNid", 0, 1000, 0);
    TClickGuard& clicks = host.Clicks();
    auto* identity = new QGridLayout;
    identity->addWidget(txtSNid, 0, 0);
    identity->addWidget(clicks.Button(this, "Serial Request", &TIdentityPanel::SerialRequestClick),
                        0, 1);
    identity->addWidget(clicks.Button(this, "FW Ver", &TIdentityPanel::FwVerClick), 0, 2);
    identity->addWidget(txtVNid, 1, 0);
    identity->addWidget(
        clicks.Button(this, "Version Number", &TIdentityPanel::VersionNumberClick), 1, 1, 1, 2);
    Fill(*this, "Identity", identity);
}

void TIdentityPanel::SerialRequestClick() {
    tmp_.RequestSerial(ConsoleOf(*txtSNid));
}

void TIdentityPanel::FwVerClick() {
    tmp_.RequestFirmware(ConsoleOf(*txtSNid));
}

void TIdentityPanel::VersionNumberClick() {
    tmp_.RequestVersion(ConsoleOf(*txtVNid));
}

}  // namespace wct
