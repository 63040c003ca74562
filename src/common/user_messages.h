// SPDX-License-Identifier: Apache-2.0
// How the core asks the user something or tells them of a failure. The core never shows
// UI itself: the app installs message boxes, the CLI prints, tests record.
#pragma once

#include <exception>
#include <string>

namespace wct {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

// Buttons of a message box, combinable; the answer is the button pressed.
enum TMsgDlgButton : unsigned { mbOK = 1, mbCancel = 2, mbYes = 4, mbNo = 8 };

class TUserMessages {
public:
    virtual ~TUserMessages() = default;
    // Shows a modal message and returns the button chosen.
    virtual TMsgDlgButton MessageDlg(const std::string& text, TMsgDlgType type,
                                     unsigned buttons) = 0;
    // The application's exception display, for failures no caller can take.
    virtual void ShowException(const std::exception& error) = 0;
};

TUserMessages& UserMessages();
// Installs an implementation (nullptr restores the one that writes to stderr and answers
// with the first button offered). The caller keeps ownership.
void SetUserMessages(TUserMessages* messages);

}  // namespace wct
