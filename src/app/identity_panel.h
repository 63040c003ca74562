// SPDX-License-Identifier: Apache-2.0
// TIdentityPanel, "Identity": asks a console for its serial and firmware (the console
// txtSNid names) or its version (txtVNid); the answers reach the console grid on "Update".
#pragma once

#include <QGroupBox>

#include "app/panel_host.h"

namespace wct {

class TIdentityPanel : public QGroupBox {
public:
    explicit TIdentityPanel(TPanelHost& host);
};

}  // namespace wct
