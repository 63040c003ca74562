// SPDX-License-Identifier: Apache-2.0
// The test panel the application creates after the main window and the device test
// window (device_test_window.h).
#pragma once

#include <QWidget>

namespace wct {

// "Test Panel": one empty group box "Trigger Clock"; nothing in the bench shows it.
class TForm3 : public QWidget {
public:
    explicit TForm3(QWidget* parent = nullptr);
};

}  // namespace wct
