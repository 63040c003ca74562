// SPDX-License-Identifier: Apache-2.0
#include "app/trace_panel.h"

#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <fstream>
#include <stdexcept>

#include "app/memo_hex.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "common/locale_info.h"
#include "common/user_messages.h"
#include "protocol/wireless_protocol.h"

namespace wct {
TTracePanel::TTracePanel(TPanelHost& host) : host_(host) {
    Memo2 = new TMemoHEX;
    Memo2->setObjectName("Memo2");
    Memo2->FollowClock(host.Frames());
    host.Protocol().SetDebugMemo(Memo2);
    Memo1 = Memo("Memo1");
    Memo1->setParent(this);
    Memo1->hide();
    Memo1->setPlainText("62\n1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n21");

    enableTime_ = new QCheckBox("Enable time");
    enableTime_->setObjectName("Enable time");
    enableTime_->setChecked(true);
    connect(enableTime_, &QCheckBox::clicked, this, [this] { ApplyDebugSwitches(); });
    noDataMessages_ = new QCheckBox("No data messages");
    noDataMessages_->setObjectName("No data messages");
    connect(noDataMessages_, &QCheckBox::clicked, this, [this] { ApplyDebugSwitches(); });

    TClickGuard& clicks = host.Clicks();
    auto* tools = new QHBoxLayout;
    tools->addWidget(Button(clicks, this, "Clear", [this] { Memo2->Clear(); }));
    tools->addWidget(enableTime_);
    tools->addWidget(noDataMessages_);
    tools->addStretch(1);
    tools->addWidget(
        Button(clicks, this, "Start connection Test", [this] { ConnectionTest(true); }));
    tools->addWidget(Button(clicks, this, "Stop", [this] { ConnectionTest(false); }));

    memos_ = new QHBoxLayout;
    memos_->addWidget(Memo2, 3);
    auto* layout = new QVBoxLayout;
    layout->addLayout(tools);
    layout->addLayout(memos_, 1);
    Fill(*this, "Trace", layout);

    timer1_.setInterval(1800000);
    connect(&timer1_, &QTimer::timeout, this, [this] {
        try {
            Timer1Timer();
        } catch (const std::exception& e) {
            UserMessages().ShowException(e);
        }
    });
}

void TTracePanel::AddBeside(QWidget* view) {
    memos_->addWidget(view, 2);
}

void TTracePanel::ApplyDebugSwitches() {
    host_.Protocol().SetDebugTime(enableTime_->isChecked());
    host_.Protocol().SetDebugNoData(noDataMessages_->isChecked());
}

void TTracePanel::ConnectionTest(bool start) {
    host_.Trace((start ? "*********START TEST********" : "*********STOP TEST*********") +
                LocaleInfo().DateTimeText(std::chrono::system_clock::now()));
    Memo2->setVisible(!start);
    if (start)
        timer1_.start();
    else
        timer1_.stop();
}

void TTracePanel::Timer1Timer() {
    ++saveCounter_;
    Memo1->appendPlainText("Saved");
    const std::string name =
        QDir::current().filePath(QString("%1.log").arg(saveCounter_)).toStdString();
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    for (const QString& line : Memo1->toPlainText().split('\n'))
        file << line.toStdString() << "\r\n";
    file.close();
    if (!file) throw std::runtime_error("Cannot write " + name);
}

}  // namespace wct
