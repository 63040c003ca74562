// SPDX-License-Identifier: Apache-2.0
#include "common/user_messages.h"

#include <atomic>
#include <iostream>

namespace wct {
namespace {

class TStderrMessages : public TUserMessages {
public:
    TMsgDlgButton MessageDlg(const std::string& text, TMsgDlgType, unsigned buttons) override {
        std::cerr << text << '\n';
        for (unsigned b : {mbOK, mbYes, mbNo, mbCancel})
            if ((buttons & b) != 0) return static_cast<TMsgDlgButton>(b);
        return mbOK;
    }
    void ShowException(const std::exception& error) override { std::cerr << error.what() << '\n'; }
};

TStderrMessages stderrMessages;
std::atomic<TUserMessages*> installed{&stderrMessages};

}  // namespace

TUserMessages& UserMessages() {
    return *installed.load();
}

void SetUserMessages(TUserMessages* messages) {
    installed.store(messages != nullptr ? messages : &stderrMessages);
}

}  // namespace wct
