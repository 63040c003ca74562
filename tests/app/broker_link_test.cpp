// SPDX-License-Identifier: Apache-2.0
// "Publish to Broker..." of the Link menu against the simulator and a real broker, and
// the production check's records it publishes.
#include "app/broker_link.h"

#include <stdlib.h>

#include <QAction>
#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <nlohmann/json.hpp>

#include "app/production_check_window.h"
#include "check/check_history.h"
#include "gui_support.h"
#include "test_broker.h"

namespace wct::test {
namespace {

class BrokerLinkTest : public BenchTest {
protected:
    TTestBroker broker;
    bool started = (setenv("XDG_STATE_HOME", broker.Dir().c_str(), 1), broker.Start(), true);
    TTestSubscriber subscriber{broker.Port(), "wct/gui/#"};
    TBrokerLink& Link() { return Form().BrokerLink(); }
    QString State() { return Link().StateLabel().text(); }
    void Press(const char* button) {
        QTest::mouseClick(Link().findChild<QPushButton*>(button), Qt::LeftButton);
    }
};

TEST_F(BrokerLinkTest, AWrongUrlIsToldAndTheMeasuresArePublishedOnceItIsRight) {
    StartBench();
    Connect();
    Click("Start Measure");
    EXPECT_EQ(State(), "Broker: off");
    Form().findChild<QAction*>("PublishToBroker")->trigger();
    ASSERT_TRUE(Link().isVisible());

    Link().findChild<QLineEdit*>("BrokerUrl")->setText("tcp://127.0.0.1");
    Press("Publish");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text.rfind("broker URL 'tcp://127.0.0.1': unknown scheme", 0), 0u);
    EXPECT_TRUE(Link().isVisible());
    EXPECT_EQ(Form().Bench().Publisher(), nullptr);

    Link().findChild<QLineEdit*>("BrokerUrl")->setText(QString::fromStdString(broker.Url()));
    Link().findChild<QLineEdit*>("BenchName")->setText("gui");
    SaveScreenshot(Link(), "publish_to_broker");
    Press("Publish");
    EXPECT_FALSE(Link().isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return State() == "Broker: connected"; }, kWaitMs))
        << State().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !subscriber.On("wct/gui/console/1/measures").empty(); }, kWaitMs));

    Press("StopPublishing");
    EXPECT_EQ(State(), "Broker: off");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const auto status = subscriber.On("wct/gui/status");
            return !status.empty() && status.back() == "offline";
        },
        5000));
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(BrokerLinkTest, TheProductionCheckPublishesItsRecordsWhileTheBenchPublishes) {
    setenv("XDG_DATA_HOME", broker.Dir().c_str(), 1);  // the history
    StartBench();
    Connect();
    Link().findChild<QLineEdit*>("BrokerUrl")->setText(QString::fromStdString(broker.Url()));
    Link().findChild<QLineEdit*>("BenchName")->setText("gui");
    Press("Publish");
    Form().findChild<QAction*>("ProductionCheck")->trigger();
    auto* window = Form().findChild<TProductionCheckWindow*>("ProductionCheckWindow");
    ASSERT_NE(window, nullptr);
    window->findChild<QLineEdit*>("Operator")->setText("anna");
    window->findChild<QSpinBox*>("Console")->setValue(1);
    window->findChild<QPushButton*>("Run Selected")->click();
    const std::vector<check::TCheckRecord> kept =
        check::TCheckHistory(check::TCheckHistory::DefaultPath(),
                             check::TCheckHistory::TAccess::Read)
            .Find({});
    unsetenv("XDG_DATA_HOME");
    ASSERT_EQ(kept.size(), 1u);
    const std::string topic = "wct/gui/check/" + std::to_string(kept[0].serial.value_or(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !subscriber.On(topic).empty(); }, kWaitMs)) << topic;
    EXPECT_EQ(nlohmann::json::parse(subscriber.On(topic)[0])["id"], kept[0].id);
}

TEST_F(BrokerLinkTest, ABrokerLostDuringACheckIsToldInTheStatusBarAndHoldsNothing) {
    setenv("XDG_DATA_HOME", broker.Dir().c_str(), 1);  // the history
    StartBench();
    Connect();
    Link().findChild<QLineEdit*>("BrokerUrl")->setText(QString::fromStdString(broker.Url()));
    Link().findChild<QLineEdit*>("BenchName")->setText("gui");
    Press("Publish");
    ASSERT_TRUE(QTest::qWaitFor([&] { return State() == "Broker: connected"; }, kWaitMs));
    QLabel& notice = Link().NoticeLabel();
    EXPECT_TRUE(notice.isHidden());

    Form().findChild<QAction*>("ProductionCheck")->trigger();
    auto* window = Form().findChild<TProductionCheckWindow*>("ProductionCheckWindow");
    ASSERT_NE(window, nullptr);
    window->findChild<QLineEdit*>("Operator")->setText("anna");
    window->findChild<QSpinBox*>("Console")->setValue(1);
    // The broker goes at the first step; the notice comes while the run is on or after it.
    auto* steps = window->findChild<QTableWidget*>("Steps");
    bool stopped = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, window, [&] {
        if (!stopped && steps->rowCount() >= 1) {
            broker.Stop();
            stopped = true;
        }
    });
    watch.start(5);
    window->findChild<QPushButton*>("Run Selected")->click();
    watch.stop();
    unsetenv("XDG_DATA_HOME");

    ASSERT_TRUE(stopped);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notice.isHidden(); }, kWaitMs));
    EXPECT_NE(notice.toolTip().indexOf("lost the broker"), -1) << notice.toolTip().toStdString();
    EXPECT_TRUE(messages.shown.empty()) << messages.shown[0].text;
    EXPECT_EQ(steps->rowCount(), 8);
    SaveScreenshot(Form(), "broker_trouble_status_bar");

    broker.Start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return State() == "Broker: connected"; }, kWaitMs));
    EXPECT_TRUE(notice.isHidden());
}

}  // namespace
}  // namespace wct::test
