// SPDX-License-Identifier: Apache-2.0
#include "serial/ecomport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>

namespace wct {
namespace {

TEST(EComPort, AppendsTheSystemCodeWhenOneIsGiven) {
    EComPort error(ceOpenFailed, 2);
    EXPECT_STREQ(error.what(), "Unable to open com port (win error code: 2)");
    EXPECT_EQ(error.ErrorCode(), 1);
    EXPECT_EQ(error.SystemErrorCode(), 2);
}

TEST(EComPort, IsTheTableTextAloneWithoutASystemCode) {
    EComPort error(ceRegFailed);
    EXPECT_STREQ(error.what(), "Link (un)registration failed");
    EXPECT_EQ(error.SystemErrorCode(), -1);
}

TEST(EComPort, HasItsFixedTextForEveryCodeFromOneToTwentyThree) {
    const std::map<int, std::string> texts = {
        {1, "Unable to open com port"},
        {2, "WriteFile function failed"},
        {3, "ReadFile function failed"},
        {4, "Invalid Async parameter"},
        {5, "PurgeComm function failed"},
        {6, "Unable to get async status"},
        {7, "SetCommState function failed"},
        {8, "SetCommTimeouts failed"},
        {9, "SetupComm function failed"},
        {10, "ClearCommError function failed"},
        {11, "GetCommModemStatus function failed"},
        {12, "EscapeCommFunction function failed"},
        {13, "TransmitCommChar function failed"},
        {14, "Cannot set property while connected"},
        {15, "EnumPorts function failed"},
        {16, "Failed to store settings"},
        {17, "Failed to load settings"},
        {18, "Link (un)registration failed"},
        {19, "Cannot change led state if ComPort is selected"},
        {20, "Cannot wait for event if event thread is created"},
        {21, "WaitForEvent method failed"},
        {22, "A component is linked to OnRxBuf event"},
        {23, "Registry error"},
    };
    for (const auto& [code, text] : texts) {
        EXPECT_EQ(EComPort::MessageText(code), text) << code;
        EXPECT_EQ(EComPort(code).what(), text) << code;
    }
    EXPECT_EQ(texts.size(), 23u);
    EXPECT_TRUE(EComPort::MessageText(0).empty());
    EXPECT_TRUE(EComPort::MessageText(24).empty());
}

TEST(EComPort, RaisedFromAFailedResultKeepsTheCodeAndTheSystemText) {
    EXPECT_NO_THROW(CheckComResult(ceReadFailed, 0));
    try {
        CheckComResult(ceReadFailed, EACCES);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 3);
        EXPECT_EQ(error.SystemErrorCode(), EACCES);
        EXPECT_STREQ(error.what(), "ReadFile function failed (win error code: 13)");
        EXPECT_EQ(error.SystemErrorText(), "Permission denied");
    }
    EXPECT_EQ(EComPort(ceRegFailed).SystemErrorText(), "");
}

TEST(EComPort, TellsTheSystemCodeInWordsAndWhatIsNoTerminalAsNotASerialPort) {
    const std::map<int, std::string> texts = {
        {ENOTTY, "not a serial port"},
        {ENOENT, "No such file or directory"},
        {EACCES, "Permission denied"},
        {EBUSY, "Device or resource busy"},
    };
    for (const auto& [code, text] : texts) {
        const EComPort error(ceOpenFailed, code);
        EXPECT_EQ(error.SystemErrorText(), text) << code;
        EXPECT_EQ(error.what(),
                  "Unable to open com port (win error code: " + std::to_string(code) + ")");
    }
}

}  // namespace
}  // namespace wct
