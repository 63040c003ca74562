// SPDX-License-Identifier: Apache-2.0
#include "app/other_windows.h"

#include <QGroupBox>
#include <QVBoxLayout>

namespace wct {

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Form3");
    setWindowTitle("Test Panel");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QGroupBox("Trigger Clock"));
    resize(320, 200);
}

}  // namespace wct
