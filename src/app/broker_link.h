// SPDX-License-Identifier: Apache-2.0
// TBrokerLink, "Publish to Broker": the window's publishing to an MQTT broker. The Link
// menu's "Publish to Broker..." shows it: the broker's URL, the bench's name, the measures
// rate, TLS and credentials (a password is read from a file, never typed into the bench).
// "Publish" starts publishing with them (afresh when already publishing), "Stop
// Publishing" ends it with the "offline" status. The status bar shows the state: off,
// connecting, connected, reconnecting.
//
// While publishing, the protocol's tables and the rider device's statistics are read
// every 50 ms and handed to the publisher, which talks to the broker on its own thread, so
// the trace and the grids never wait for the network. Settings that cannot be used are
// told in a message box when "Publish" is pressed. A broker that cannot be reached or is
// lost is told in the status bar beside the state, in red until a connection succeeds:
// no box waits for a click, so a production check running meanwhile goes on. Main thread
// only; the bench must outlive it.
#pragma once

#include <QDialog>
#include <QTimer>

#include "publish/mqtt_publisher.h"

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QPushButton;

namespace wct::testbench {
class TTestBench;
}

namespace wct {

class TBrokerLink : public QDialog {
public:
    TBrokerLink(QMainWindow& window, testbench::TTestBench& bench);
    ~TBrokerLink() override;

    // Adds "Publish to Broker..." to `menu`.
    void AddTo(QMenu& menu);
    // Starts publishing with the fields' settings; false, after saying why, when they
    // cannot be used.
    bool Publish();
    void StopPublishing();
    QLabel& StateLabel() { return *state_; }
    QLabel& NoticeLabel() { return *notice_; }

private:
    void ShowState(publish::TBrokerState state);
    void ShowNotice(const QString& text, bool trouble);

    testbench::TTestBench& testBench_;
    QLineEdit* url_;
    QLineEdit* bench_;
    QDoubleSpinBox* rate_;
    QLineEdit* tlsCa_;
    QLineEdit* username_;
    QLineEdit* passwordFile_;
    QPushButton* stop_;
    QLabel* state_;   // in the window's status bar
    QLabel* notice_;  // beside it: the last trouble, until a connection succeeds
    QTimer poll_;
};

}  // namespace wct
