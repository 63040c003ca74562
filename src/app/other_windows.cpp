#include "app/other_windows.h"

#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace wct {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Form2");
    setWindowTitle("VxDeviceW Test");
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel("The rider devices are not part of this build yet.");
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);
    resize(900, 500);
}

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Form3");
    setWindowTitle("Test Panel");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QGroupBox("Trigger Clock"));
    resize(320, 200);
}

}  // namespace wct
