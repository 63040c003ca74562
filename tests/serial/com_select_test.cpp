// SPDX-License-Identifier: Apache-2.0
// TComSelect: the lists, the selection that follows a port, and what reaches the port.
// The port is never opened here: settings of a closed port are only stored.
#include "serial/com_select.h"

#include <gtest/gtest.h>

#include <memory>
#include <system_error>

#include "serial/port_inventory.h"

namespace wct {
namespace {

class ComSelectTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([] { return std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyS0"}; });
        select.OnChanged = [this](TComponent*) { ++changes; };
    }
    void TearDown() override { SetPortSource(nullptr); }

    TComPort port;
    TComSelect select;
    int changes = 0;
};

TEST(ComPropertyItemsTest, ListEveryValueOfTheSettingInOrdinalOrder) {
    const std::vector<std::string> bauds = ComPropertyItems(cpBaudRate);
    ASSERT_EQ(bauds.size(), 16u);
    EXPECT_EQ(bauds.front(), "Custom");
    EXPECT_EQ(bauds[1], "110");
    EXPECT_EQ(bauds.back(), "256000");
    EXPECT_EQ(ComPropertyItems(cpDataBits), (std::vector<std::string>{"5", "6", "7", "8"}));
    EXPECT_EQ(ComPropertyItems(cpStopBits), (std::vector<std::string>{"1", "1.5", "2"}));
    EXPECT_EQ(ComPropertyItems(cpParity),
              (std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(ComPropertyItems(cpFlowControl),
              (std::vector<std::string>{"Hardware", "Software", "None", "Custom"}));
    EXPECT_TRUE(ComPropertyItems(cpNone).empty());
}

TEST(ComPropertyItemsTest, ListThePortsSortedAndRaiseRegistryErrorWhenTheyCannotBeListed) {
    SetPortSource([] { return std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyACM0"}; });
    EXPECT_EQ(ComPropertyItems(cpPort), (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB1"}));
    SetPortSource([]() -> std::vector<std::string> {
        throw std::system_error(EACCES, std::generic_category());
    });
    try {
        ComPropertyItems(cpPort);
        ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), ceRegError);
    }
    SetPortSource(nullptr);
}

TEST_F(ComSelectTest, WithoutAPortTheFirstItemIsSelected) {
    select.SetComProperty(cpParity);
    EXPECT_EQ(select.ItemIndex(), 0);
    EXPECT_EQ(select.Text(), "None");
    EXPECT_GE(changes, 1);
    select.SetComProperty(cpNone);
    EXPECT_EQ(select.ItemIndex(), -1);
    EXPECT_EQ(select.Text(), "");
}

TEST_F(ComSelectTest, BindingAPortShowsItsCurrentValue) {
    port.SetBaudRate(br115200);
    select.SetComProperty(cpBaudRate);
    select.SetComPort(&port);
    EXPECT_EQ(select.Text(), "115200");
    EXPECT_EQ(select.PendingBaudRate(), br115200);
}

TEST_F(ComSelectTest, FlowControlShowsTheSchemeTheFourFlagsMakeUp) {
    select.SetComProperty(cpFlowControl);
    port.FlowControl().SetFlowControl(fcHardware);
    select.SetComPort(&port);
    EXPECT_EQ(select.Text(), "Hardware");
    port.FlowControl().SetControlRTS(rtsHandshake);
    port.FlowControl().SetXonXoffIn(true);
    select.UpdateSettings();
    EXPECT_EQ(select.Text(), "Custom");
}

TEST_F(ComSelectTest, ThePortNameIsFoundIgnoringCaseAndAStrangerSelectsNothing) {
    select.SetComProperty(cpPort);
    port.SetPort("/DEV/TTYS0");
    select.SetComPort(&port);
    EXPECT_EQ(select.Text(), "/dev/ttyS0");
    EXPECT_EQ(select.PendingPort(), "/dev/ttyS0");
    port.SetPort("/dev/ttyUSB7");
    select.UpdateSettings();
    EXPECT_EQ(select.ItemIndex(), -1);
    EXPECT_EQ(select.Text(), "");
}

TEST_F(ComSelectTest, AChoiceIsOnlyPendingUntilApplied) {
    select.SetComProperty(cpDataBits);
    select.SetComPort(&port);
    select.Change(1);
    EXPECT_EQ(select.PendingDataBits(), dbSix);
    EXPECT_EQ(port.DataBits(), dbEight);
    select.ApplySettings();
    EXPECT_EQ(port.DataBits(), dbSix);
}

TEST_F(ComSelectTest, WithAutoApplyAChoiceReachesThePortAtOnce) {
    select.SetComProperty(cpStopBits);
    select.SetComPort(&port);
    select.SetAutoApply(true);
    select.Change(2);
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
}

TEST_F(ComSelectTest, EachPropertyWritesItsOwnSetting) {
    const std::pair<TComProperty, int> choices[] = {
        {cpBaudRate, 0}, {cpParity, 2}, {cpFlowControl, 1}, {cpPort, 0}};
    for (const auto& [property, index] : choices) {
        TComSelect one;
        one.SetComProperty(property);
        one.SetComPort(&port);
        one.Change(index);
        one.ApplySettings();
    }
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.Parity().Bits(), prEven);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
    EXPECT_EQ(port.Port(), "/dev/ttyS0");
}

TEST_F(ComSelectTest, AnUnlistedPortNameIsKeptWhenNothingWasChosen) {
    port.SetPort("/dev/ttyUSB7");
    select.SetComProperty(cpPort);
    select.SetComPort(&port);
    select.ApplySettings();
    EXPECT_EQ(port.Port(), "/dev/ttyUSB7");
}

TEST_F(ComSelectTest, TextSelectsAListedItemAndIgnoresOthers) {
    select.SetComProperty(cpParity);
    select.SetText("mark");
    EXPECT_EQ(select.Text(), "Mark");
    select.SetText("Purple");
    EXPECT_EQ(select.Text(), "Mark");
}

TEST_F(ComSelectTest, ADestroyedPortIsForgottenAndTheFirstItemSelected) {
    auto doomed = std::make_unique<TComPort>();
    doomed->SetBaudRate(br57600);
    select.SetComProperty(cpBaudRate);
    select.SetComPort(doomed.get());
    ASSERT_EQ(select.Text(), "57600");
    doomed.reset();
    EXPECT_EQ(select.ComPort(), nullptr);
    EXPECT_EQ(select.ItemIndex(), 0);
    select.ApplySettings();  // nothing bound: nothing to write, nothing to crash
}

}  // namespace
}  // namespace wct
