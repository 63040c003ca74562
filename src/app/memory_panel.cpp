// SPDX-License-Identifier: Apache-2.0
#include "app/memory_panel.h"

#include <QLabel>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <chrono>
#include <climits>

#include "app/bench_texts.h"
#include "app/field_checks.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "common/locale_info.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TMemoryPanel::TMemoryPanel(TPanelHost& host) : host_(host) {
    Memo5 = Memo("Memo5");
    Memo5->hide();
    dataConsoleID = SpinEdit("dataConsoleID", INT_MIN, INT_MAX, 1);
    dataConsoleID->setMaximumWidth(dataConsoleID->fontMetrics().horizontalAdvance("0000000") + 30);
    Edit1 = Edit("Edit1", "0000", 5);
    Edit2 = Edit("Edit2", "0001", 5);
    auto* where = new QHBoxLayout;
    where->addWidget(Label("Console ID"));
    where->addWidget(dataConsoleID);
    where->addWidget(Label("Address"));
    where->addWidget(Edit1);
    where->addWidget(Label("Bytes"));
    where->addWidget(Edit2);
    where->addStretch(1);

    auto* bytes = new QHBoxLayout;
    for (size_t i = 0; i < dataBytes_.size(); ++i) {
        const std::string name = "Edit" + std::to_string(5 + i);
        dataBytes_[i] = Edit(name.c_str(), "00", 2);
        bytes->addWidget(dataBytes_[i]);
    }
    bytes->addStretch(1);

    TClickGuard& clicks = host.Clicks();
    auto* actions = new QHBoxLayout;
    actions->addWidget(Button(clicks, this, "Read Data", [this] { ReadDataClick(); }));
    actions->addWidget(Button(clicks, this, "Read Page", [this] { ReadPageClick(); }));
    actions->addWidget(Button(clicks, this, "Write Data", [this] { WriteDataClick(); }));
    viewData_ = Button(clicks, this, "View Data", [this] {
        const bool show = Memo5->isHidden();
        Memo5->setVisible(show);
        viewData_->setText(show ? "Hide Data" : "View Data");
    });
    actions->addWidget(viewData_);

    auto* memory = new QVBoxLayout;
    memory->addLayout(where);
    memory->addLayout(bytes);
    memory->addLayout(actions);
    Fill(*this, "Console memory", memory);
}

std::string TMemoryPanel::ReadLine(uint8_t console) const {
    const std::string time = LocaleInfo().TimeText(std::chrono::system_clock::now());
    if (console >= host_.Protocol().Consoles().size()) return time + " ";
    return wct::ReadLine(time, host_.Protocol().Consoles()[console]);
}

uint8_t TMemoryPanel::ByteCount() const {
    return static_cast<uint8_t>(DecimalField("Bytes", Edit2->text().toStdString(), 0,
                                             TMiraWirelessProtocol::kMaxDataCount));
}

uint16_t TMemoryPanel::Address() const {
    return static_cast<uint16_t>(HexField("Address", Edit1->text().toStdString(), 4));
}

bool TMemoryPanel::Read(uint8_t console, uint16_t address, uint8_t count,
                        const std::string& which) {
    bool read = false;
    {
        TPanelHost::TWaitNote note(host_, "console " + HexDigits(console, 2) +
                                              " to answer the read" + which);
        read = host_.Protocol().ReadValue(console, address, count);
    }
    if (!read) host_.Trace("Data NOT Readed !");
    return read;
}

void TMemoryPanel::ReadDataClick() {
    const uint8_t count = ByteCount();
    const uint16_t address = Address();
    const uint8_t console = ConsoleOf(*dataConsoleID);
    if (!Read(console, address, count, "")) return;
    const TMiraConsolesInformation& table = host_.Protocol().Consoles();
    const int bytes = console < table.size() ? table[console].DataCount : 0;
    Memo5->appendPlainText(" ## Data Readed ! Bytes: " + QString::number(bytes));
    Memo5->appendPlainText(QString::fromStdString(ReadLine(console)));
}

void TMemoryPanel::ReadPageClick() {
    const uint16_t address = Address();
    const uint8_t console = ConsoleOf(*dataConsoleID);
    for (int i = 0; i < 256 && !host_.Closing(); ++i) {
        const auto at = static_cast<uint16_t>(address + 8 * i);
        if (!Read(console, at, 8,
                  " at " + HexDigits(at, 4) + " (" + std::to_string(i + 1) + " of 256)")) {
            host_.Trace("Read Page ended at address " + HexDigits(at, 4) + ": " +
                        std::to_string(i) + " of 256 reads done");
            return;
        }
        Memo5->appendPlainText(QString::fromStdString(ReadLine(console)));
    }
}

void TMemoryPanel::WriteDataClick() {
    const uint8_t count = ByteCount();
    const uint16_t address = Address();
    uint8_t bytes[8] = {};
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(
            HexField("Byte " + std::to_string(i + 1),
                     dataBytes_[static_cast<size_t>(i)]->text().toStdString(), 2));
    const uint8_t console = ConsoleOf(*dataConsoleID);
    TPanelHost::TWaitNote note(host_, "console " + HexDigits(console, 2) + " to answer the write");
    host_.Protocol().WriteValue(console, address, count, bytes);
}

}  // namespace wct
