// TIdentityPanel, "Identity": asks a console for its serial and firmware (the console
// txtSNid names) or its version (txtVNid); the answers reach the console grid on "Update".
#pragma once

#include <QGroupBox>
#include <cstdint>

class QSpinBox;

namespace wct {

class TMiraWirelessProtocol;
class TPanelHost;

class TIdentityPanel : public QGroupBox {
public:
    explicit TIdentityPanel(TPanelHost& host);

private:
    void SerialRequestClick();
    void FwVerClick();
    void VersionNumberClick();

    TMiraWirelessProtocol& tmp_;
    QSpinBox* txtSNid = nullptr;
    QSpinBox* txtVNid = nullptr;
};

}  // namespace wct
