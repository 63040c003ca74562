// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "common/stored_form.h"
#include "serial/com_port.h"
#include "support/recording_messages.h"

namespace wct {
namespace {

class PortSettingsTest : public ::testing::Test {
protected:
    TComPort port;
};

TEST_F(PortSettingsTest, ANewPortHasTheDocumentedSettings) {
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Events(), kAllComEvents);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.DeviceHandle(), -1);
}

TEST_F(PortSettingsTest, AnOddInputSizeIsStoredOneLowerAndGivesXonXoffLimitsOf256) {
    port.Buffer().SetInputSize(1025);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.DeviceControl().xonLim, 256);
    EXPECT_EQ(port.DeviceControl().xoffLim, 256);
    port.Buffer().SetOutputSize(-3);
    EXPECT_EQ(port.Buffer().OutputSize(), -3);
}

TEST_F(PortSettingsTest, HardwareFlowControlRoundTripsUntilXonXoffInIsTurnedOn) {
    port.FlowControl().SetFlowControl(fcHardware);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
    EXPECT_TRUE(port.FlowControl().OutCTSFlow());
    port.FlowControl().SetXonXoffIn(true);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcCustom);
}

TEST_F(PortSettingsTest, SoftwareFlowControlReplacesHardwareAndCustomChangesNothing) {
    port.FlowControl().SetFlowControl(fcHardware);
    port.FlowControl().SetFlowControl(fcSoftware);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
    EXPECT_FALSE(port.FlowControl().OutCTSFlow());
    port.FlowControl().SetFlowControl(fcCustom);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
    port.FlowControl().SetControlDTR(dtrEnable);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
}

TEST_F(PortSettingsTest, TheDeviceControlCarriesTheDocumentedFlagBits) {
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar(0x3F);
    port.FlowControl().SetFlowControl(fcHardware);
    port.FlowControl().SetControlDTR(dtrHandshake);
    port.SetDiscardNull(true);
    port.SetBaudRate(br115200);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prMark);
    TDeviceControl dcb = port.DeviceControl();
    EXPECT_EQ(dcb.flags, 0x0001u | 0x0002u | 0x0400u | 0x0004u | 0x0020u | 0x2000u | 0x0800u);
    EXPECT_EQ(dcb.errorChar, 0x3F);
    EXPECT_EQ(dcb.baudRate, 115200);
    EXPECT_EQ(dcb.byteSize, 7);
    EXPECT_EQ(dcb.parity, 3);
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(port.DeviceControl().baudRate, 31250);
}

TEST_F(PortSettingsTest, OpeningAMissingDeviceRaisesErrorOneWithErrnoAndStaysClosed) {
    bool beforeOpen = false;
    port.OnBeforeOpen = [&](TComponent*) { beforeOpen = true; };
    try {
        port.Open();
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 1);
        EXPECT_EQ(error.SystemErrorCode(), 2);
        EXPECT_STREQ(error.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_TRUE(beforeOpen);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.ThreadCreated());
}

TEST_F(PortSettingsTest, OpeningADeviceWithoutPermissionGivesTheSystemsReason) {
    char path[] = "/tmp/wct-forbidden-XXXXXX";
    close(mkstemp(path));
    chmod(path, 0);
    port.SetPort(path);
    // Root may open anything: an ordinary user tries, in a child that reports on a pipe.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    if (fork() == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
        std::string message = "opened";
        try {
            port.Open();
        } catch (const EComPort& error) {
            message = std::string(error.what()) + " | " + error.SystemErrorText();
        }
        _exit(write(report[1], message.data(), message.size()) > 0 ? 0 : 1);
    }
    close(report[1]);
    char buffer[200] = {};
    [[maybe_unused]] const ssize_t n = read(report[0], buffer, sizeof buffer - 1);
    close(report[0]);
    wait(nullptr);
    std::remove(path);
    EXPECT_STREQ(buffer, "Unable to open com port (win error code: 13) | Permission denied");
}

TEST_F(PortSettingsTest, SettingTheSamePortNameDoesNothing) {
    int opens = 0;
    port.OnBeforeOpen = [&](TComponent*) { ++opens; };
    port.SetPort("COM1");
    EXPECT_EQ(opens, 0);
    EXPECT_EQ(port.Port(), "COM1");
}

TEST_F(PortSettingsTest, RegisteringALinkTwiceOrUnregisteringAStrangerFails) {
    TComLink link;
    port.RegisterLink(&link);
    EXPECT_FALSE(port.HasDataLink());
    try {
        port.RegisterLink(&link);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 18);
        EXPECT_STREQ(error.what(), "Link (un)registration failed");
    }
    port.UnregisterLink(&link);
    EXPECT_THROW(port.UnregisterLink(&link), EComPort);
}

TEST_F(PortSettingsTest, AsyncOperationsWithoutARecordRaiseInvalidAsync) {
    char byte = 0;
    try {
        port.WriteAsync(&byte, 1, nullptr);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 4);
        EXPECT_EQ(error.SystemErrorCode(), -1);
    }
    EXPECT_THROW(port.ReadAsync(&byte, 1, nullptr), EComPort);
    EXPECT_THROW(port.WaitAsync(nullptr), EComPort);
}

TEST_F(PortSettingsTest, AnEmptyWriteIssuesNothingEvenOnAClosedPort) {
    EXPECT_EQ(port.WriteText(""), 0);
    PAsync record = nullptr;
    NewAsyncRecord(record);
    EXPECT_EQ(port.WriteTextAsync("", record), 0);
    FreeAsyncRecord(record);
    EXPECT_EQ(record, nullptr);
}

TEST_F(PortSettingsTest, EndUpdateWithoutBeginUpdateIsHarmless) {
    port.EndUpdate();
    port.BeginUpdate();
    port.BeginUpdate();
    port.EndUpdate();
    port.EndUpdate();
    port.EndUpdate();
    EXPECT_FALSE(port.Connected());
}

TEST(PortTextConversions, NameTheValuesAsTheSettingsDialogShowsThem) {
    EXPECT_EQ(TextToBaudRate("115200"), br115200);
    EXPECT_EQ(TextToBaudRate("abc"), br9600);
    EXPECT_EQ(TextToBaudRate("custom"), brCustom);
    EXPECT_EQ(TextToParity("even"), prEven);
    EXPECT_EQ(TextToParity("?"), prNone);
    EXPECT_EQ(TextToStopBits("1.5"), sbOne5StopBits);
    EXPECT_EQ(TextToStopBits("3"), sbOneStopBit);
    EXPECT_EQ(TextToDataBits("7"), dbSeven);
    EXPECT_EQ(TextToDataBits("9"), dbEight);
    EXPECT_EQ(TextToFlowControl("HARDWARE"), fcHardware);
    EXPECT_EQ(TextToFlowControl("xon"), fcCustom);
    EXPECT_EQ(BaudRateToText(br56000), "56000");
    EXPECT_EQ(StopBitsToText(sbTwoStopBits), "2");
    EXPECT_EQ(DataBitsToText(dbFive), "5");
    EXPECT_EQ(ParityToText(prSpace), "Space");
    EXPECT_EQ(FlowControlToText(fcSoftware), "Software");
}

TEST(PortStoredForm, KeepsNonDefaultsAndSkipsDefaults) {
    TComponent form;
    auto* port = new TComPort(&form);
    port->SetName("ComPort1");
    port->SetBaudRate(br115200);
    port->Parity().SetCheck(true);
    port->FlowControl().SetFlowControl(fcHardware);
    port->SetEvents({evRxChar, evRxFlag});
    const std::string text = WriteComponent(form);
    EXPECT_EQ(text.find("DataBits"), std::string::npos);

    TComponent copy;
    auto* port2 = new TComPort(&copy);
    port2->SetName("ComPort1");
    ReadComponent(text, copy);
    EXPECT_EQ(port2->BaudRate(), br115200);
    EXPECT_TRUE(port2->Parity().Check());
    EXPECT_EQ(port2->FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(port2->Events(), (TComEvents{evRxChar, evRxFlag}));
}

TEST(PortStoredForm, AConnectedPortThatFailsToOpenOnLoadIsShownNotThrown) {
    test::TRecordingMessages messages;
    TComponent form;
    auto* port = new TComPort(&form);
    port->SetName("ComPort1");
    ReadComponent(
        "object Form: TComponent\n  object ComPort1: TComPort\n"
        "    Port = '/nonexistent/tty'\n    Connected = True\n  end\nend\n",
        form);
    EXPECT_FALSE(port->Connected());
    ASSERT_EQ(messages.exceptions.size(), 1u);
    EXPECT_EQ(messages.exceptions[0], "Unable to open com port (win error code: 2)");
}

}  // namespace
}  // namespace wct
