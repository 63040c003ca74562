#include "serial/ecomport.h"

#include <gtest/gtest.h>

#include <cerrno>

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

TEST(EComPort, HasATextForEveryCodeFromOneToTwentyThree) {
    EXPECT_EQ(EComPort::MessageText(14), "Cannot set property while connected");
    EXPECT_EQ(EComPort::MessageText(23), "Registry error");
    EXPECT_EQ(EComPort::MessageText(19), "Cannot change led state if ComPort is selected");
    for (int code = 1; code <= 23; ++code) EXPECT_FALSE(EComPort::MessageText(code).empty());
    EXPECT_TRUE(EComPort::MessageText(0).empty());
    EXPECT_TRUE(EComPort::MessageText(24).empty());
}

TEST(EComPort, RaisedFromErrnoKeepsTheCode) {
    errno = EACCES;
    try {
        RaiseComPortErrno(ceReadFailed);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 3);
        EXPECT_EQ(error.SystemErrorCode(), EACCES);
        EXPECT_STREQ(error.what(), "ReadFile function failed (win error code: 13)");
    }
}

}  // namespace
}  // namespace wct
