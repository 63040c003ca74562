// SPDX-License-Identifier: Apache-2.0
#include "app/qt_user_messages.h"

#include <QApplication>
#include <QMessageBox>

#include "serial/ecomport.h"

namespace wct {

TMsgDlgButton TQtUserMessages::MessageDlg(const std::string& text, TMsgDlgType type,
                                          unsigned buttons) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(QString::fromStdString(text));
    switch (type) {
        case TMsgDlgType::mtWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case TMsgDlgType::mtError:
            box.setIcon(QMessageBox::Critical);
            break;
        case TMsgDlgType::mtInformation:
            box.setIcon(QMessageBox::Information);
            break;
        case TMsgDlgType::mtConfirmation:
            box.setIcon(QMessageBox::Question);
            break;
    }
    const std::pair<TMsgDlgButton, QMessageBox::StandardButton> map[] = {
        {mbOK, QMessageBox::Ok},
        {mbYes, QMessageBox::Yes},
        {mbNo, QMessageBox::No},
        {mbCancel, QMessageBox::Cancel}};
    QMessageBox::StandardButtons shown;
    for (const auto& [ours, theirs] : map)
        if ((buttons & ours) != 0) shown |= theirs;
    box.setStandardButtons(shown == QMessageBox::NoButton ? QMessageBox::Ok : shown);
    const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const auto& [ours, theirs] : map)
        if (pressed == theirs) return ours;
    // Closed with Escape or the window's close box.
    return (buttons & mbCancel) != 0 ? mbCancel : mbOK;
}

void TQtUserMessages::ShowException(const std::exception& error) {
    std::string text = error.what();
    // A port failure names the system's reason too, not only its number.
    if (const auto* port = dynamic_cast<const EComPort*>(&error);
        port != nullptr && !port->SystemErrorText().empty())
        text += "\n" + port->SystemErrorText();
    QMessageBox::critical(QApplication::activeWindow(), QCoreApplication::applicationName(),
                          QString::fromLocal8Bit(text));
}

}  // namespace wct
