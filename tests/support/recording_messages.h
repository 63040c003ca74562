// SPDX-License-Identifier: Apache-2.0
// Records what the core asked the user, for tests; installed for its lifetime.
#pragma once

#include <string>
#include <vector>

#include "common/user_messages.h"

namespace wct::test {

class TRecordingMessages : public TUserMessages {
public:
    struct Shown {
        std::string text;
        TMsgDlgType type;
        unsigned buttons;
    };

    TRecordingMessages() { SetUserMessages(this); }
    ~TRecordingMessages() override { SetUserMessages(nullptr); }

    TMsgDlgButton MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons) override {
        shown.push_back({text, type, buttons});
        return answer;
    }
    void ShowException(const std::exception& error) override {
        exceptions.emplace_back(error.what());
    }

    std::vector<Shown> shown;
    std::vector<std::string> exceptions;
    TMsgDlgButton answer = mbOK;
};

}  // namespace wct::test
