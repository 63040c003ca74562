#include "app/click_guard.h"

#include <exception>

#include "common/user_messages.h"

namespace wct {

void TClickGuard::Run(QPushButton* button, const std::function<void()>& handler) {
    if (!running_.insert(button).second) return;
    try {
        handler();
    } catch (const std::exception& e) {
        UserMessages().ShowException(e);
    }
    running_.erase(button);
}

}  // namespace wct
