// SPDX-License-Identifier: Apache-2.0
// TMemoryPanel, "Console memory": reads and writes of a console's memory ("Console ID",
// "Address" in hex, "Bytes" in decimal, the eight byte edits Edit5 to Edit12 in hex). Reads
// go to the data memo (Memo5), hidden until "View Data"; the window places it.
#pragma once

#include <QGroupBox>
#include <array>
#include <cstdint>
#include <string>

#include "app/panel_host.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace wct {

class TMemoryPanel : public QGroupBox {
public:
    explicit TMemoryPanel(TPanelHost& host);

    QPlainTextEdit& DataMemo() { return *Memo5; }

private:
    // `count` bytes at `address` into the console's table entry; a failure is traced.
    // `which` tells the read apart in the status bar.
    bool Read(uint8_t console, uint16_t address, uint8_t count, const std::string& which);
    void ReadDataClick();
    // A console that does not answer one read will not answer the next 255 either: the
    // page ends there rather than after 256 time-outs.
    void ReadPageClick();
    void WriteDataClick();
    // The byte line of a successful read: time of day, then " XX" per byte.
    std::string ReadLine(uint8_t console) const;
    // The "Bytes" count of a read or a write: decimal, at most 8.
    uint8_t ByteCount() const;
    // The "Address": hex, four digits at most.
    uint16_t Address() const;

    TPanelHost& host_;
    QPlainTextEdit* Memo5 = nullptr;
    QSpinBox* dataConsoleID = nullptr;
    QLineEdit* Edit1 = nullptr;              // address
    QLineEdit* Edit2 = nullptr;              // byte count
    std::array<QLineEdit*, 8> dataBytes_{};  // Edit5 to Edit12
    QPushButton* viewData_ = nullptr;
};

}  // namespace wct
