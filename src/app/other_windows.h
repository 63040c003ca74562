// The two smaller windows the application creates after the main window.
#pragma once

#include <QWidget>

namespace wct {

// "VxDeviceW Test": the device test window, shown by the main window's "VxDevicePanel".
// It holds no controls until the rider devices are part of the build.
class TForm2 : public QWidget {
public:
    explicit TForm2(QWidget* parent = nullptr);
};

// "Test Panel": one empty group box "Trigger Clock"; nothing in the bench shows it.
class TForm3 : public QWidget {
public:
    explicit TForm3(QWidget* parent = nullptr);
};

}  // namespace wct
