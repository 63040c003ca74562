#include "app/click_guard.h"

#include <QPalette>
#include <exception>

#include "common/user_messages.h"

namespace wct {
namespace {

// Marks `button` busy for the guard's lifetime; a button that never waits is restored
// before anything repaints it.
class TBusyLook {
public:
    explicit TBusyLook(QPushButton* button) : button_(button), palette_(button->palette()) {
        QPalette busy = palette_;
        busy.setColor(QPalette::Button, QColor(0xF6, 0xC3, 0x44));
        button_->setPalette(busy);
        button_->setCursor(Qt::BusyCursor);
        button_->setProperty("busy", true);
    }
    ~TBusyLook() {
        button_->setProperty("busy", false);
        button_->unsetCursor();
        button_->setPalette(palette_);
    }
    TBusyLook(const TBusyLook&) = delete;
    TBusyLook& operator=(const TBusyLook&) = delete;

private:
    QPushButton* button_;
    QPalette palette_;
};

}  // namespace

void TClickGuard::Run(QPushButton* button, const std::function<void()>& handler) {
    if (!running_.insert(button).second) return;
    try {
        TBusyLook look(button);
        handler();
    } catch (const std::exception& e) {
        UserMessages().ShowException(e);
    }
    running_.erase(button);
}

}  // namespace wct
