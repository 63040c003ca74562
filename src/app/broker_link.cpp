// SPDX-License-Identifier: Apache-2.0
#include "app/broker_link.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>

#include "common/user_messages.h"
#include "testbench/testbench.h"

namespace wct {

using namespace publish;

namespace {

QLineEdit* Field(const char* name, const QString& text = {}) {
    auto* field = new QLineEdit(text);
    field->setObjectName(name);
    field->setMinimumWidth(260);
    return field;
}

}  // namespace

TBrokerLink::TBrokerLink(QMainWindow& window, testbench::TTestBench& bench) : testBench_(bench) {
    setWindowTitle("Publish to Broker");
    setObjectName("BrokerLink");
    url_ = Field("BrokerUrl", "mqtt://127.0.0.1:1883");
    bench_ = Field("BenchName", QString::fromStdString(DefaultBenchName()));
    rate_ = new QDoubleSpinBox;
    rate_->setObjectName("MeasuresRate");
    rate_->setRange(0.1, 100);
    rate_->setValue(2);
    rate_->setSuffix(" a second");
    tlsCa_ = Field("TlsCa");
    username_ = Field("Username");
    passwordFile_ = Field("PasswordFile");

    auto* form = new QFormLayout(this);
    form->addRow("Broker URL", url_);
    form->addRow("Bench", bench_);
    form->addRow("Measures per console", rate_);
    form->addRow("TLS CA file", tlsCa_);
    form->addRow("User", username_);
    form->addRow("Password file", passwordFile_);
    auto* buttons = new QDialogButtonBox;
    QPushButton* publish = buttons->addButton("Publish", QDialogButtonBox::AcceptRole);
    publish->setObjectName("Publish");
    stop_ = buttons->addButton("Stop Publishing", QDialogButtonBox::DestructiveRole);
    stop_->setObjectName("StopPublishing");
    buttons->addButton(QDialogButtonBox::Close);
    connect(publish, &QPushButton::clicked, this, [this] {
        if (Publish()) hide();
    });
    connect(stop_, &QPushButton::clicked, this, [this] { StopPublishing(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    form->addRow(buttons);

    notice_ = new QLabel;
    notice_->setObjectName("BrokerNotice");
    notice_->setStyleSheet("color: #c00000;");
    notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice_->hide();
    state_ = new QLabel;
    state_->setObjectName("BrokerState");
    window.statusBar()->addPermanentWidget(notice_);
    window.statusBar()->addPermanentWidget(state_);
    poll_.setInterval(50);
    connect(&poll_, &QTimer::timeout, this, [this] { testBench_.PollPublishing(); });
    ShowState(TBrokerState::Off);
}

TBrokerLink::~TBrokerLink() {
    StopPublishing();
}

void TBrokerLink::AddTo(QMenu& menu) {
    QAction* action = menu.addAction("&Publish to Broker...", this, [this] {
        show();
        raise();
        activateWindow();
    });
    action->setObjectName("PublishToBroker");
}

bool TBrokerLink::Publish() {
    TPublisherSettings settings;
    try {
        settings.broker = ParseBrokerUrl(url_->text().trimmed().toStdString());
        settings.bench = bench_->text().trimmed().toStdString();
        settings.rate = rate_->value();
        settings.tlsCa = tlsCa_->text().trimmed().toStdString();
        settings.username = username_->text().trimmed().toStdString();
        if (!passwordFile_->text().trimmed().isEmpty())
            settings.password = ReadPasswordFile(passwordFile_->text().trimmed().toStdString());
        settings.outboxDir = DefaultOutboxDir(settings.bench);
        CheckSettings(settings);
        StopPublishing();
        // The publisher's thread tells; this window shows, on its own thread.
        testBench_.StartPublishing(settings, [this](TMqttPublisher& publisher) {
            publisher.OnStateChange = [this](TBrokerState state) {
                QMetaObject::invokeMethod(
                    this, [this, state] { ShowState(state); }, Qt::QueuedConnection);
            };
            publisher.OnNotice = [this](const std::string& text, bool trouble) {
                QMetaObject::invokeMethod(
                    this,
                    [this, text, trouble] { ShowNotice(QString::fromStdString(text), trouble); },
                    Qt::QueuedConnection);
            };
        });
    } catch (const std::exception& e) {
        UserMessages().MessageDlg(e.what(), TMsgDlgType::mtError, mbOK);
        return false;
    }
    poll_.start();
    ShowState(testBench_.Publisher()->State());
    return true;
}

void TBrokerLink::StopPublishing() {
    poll_.stop();
    if (testBench_.Publisher() == nullptr) return;
    testBench_.StopPublishing();
    ShowState(TBrokerState::Off);
    ShowNotice({}, false);
}

void TBrokerLink::ShowNotice(const QString& text, bool trouble) {
    // The state keeps the last notice; showMessage would hide what the window waits for.
    state_->setToolTip(text);
    // A long notice would push the status bar's other labels aside: cut, whole on hovering.
    constexpr int kWidth = 480;
    notice_->setText(notice_->fontMetrics().elidedText(text, Qt::ElideRight, kWidth));
    notice_->setToolTip(text);
    notice_->setVisible(trouble && !text.isEmpty());
}

void TBrokerLink::ShowState(TBrokerState state) {
    state_->setText(QString("Broker: ") + BrokerStateText(state));
    stop_->setEnabled(testBench_.Publisher() != nullptr);
}

}  // namespace wct
