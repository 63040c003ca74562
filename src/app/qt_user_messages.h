// SPDX-License-Identifier: Apache-2.0
// Message boxes for the core and the windows, as QMessageBox dialogs. Tests install
// their own TUserMessages to read and answer them instead.
#pragma once

#include "common/user_messages.h"

namespace wct {

class TQtUserMessages : public TUserMessages {
public:
    TMsgDlgButton MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons) override;
    void ShowException(const std::exception& error) override;
};

}  // namespace wct
