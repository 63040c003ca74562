// SPDX-License-Identifier: Apache-2.0
// Every line setting of the port as the terminal holds it: data bits, parity, stop bits
// and flow control, each value of each.
//
// A pseudo-terminal puts its own character size and parity enable (CS8, no PARENB) in
// place of those it is given, and keeps the rest of the word. Those two are read from
// what the port handed tcsetattr, on its way to the terminal; everything else is read
// back from the terminal with tcgetattr.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <termios.h>

#include "serial/com_port.h"
#include "serial/pty_pair.h"

namespace {

termios lastRequest{};
int requests = 0;

}  // namespace

extern "C" int tcsetattr(int fd, int action, const termios* tio) {
    using TSet = int (*)(int, int, const termios*);
    static const auto set = reinterpret_cast<TSet>(dlsym(RTLD_NEXT, "tcsetattr"));
    lastRequest = *tio;
    ++requests;
    return set(fd, action, tio);
}

namespace wct {
namespace {

class LineSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        port.SetPort(pty.path);
        port.Open();
    }
    termios Terminal() const {
        termios tio{};
        EXPECT_EQ(tcgetattr(port.DeviceHandle(), &tio), 0);
        return tio;
    }
    // The flags of `mask` the port last asked for; each setting must have reached the terminal.
    tcflag_t Asked(tcflag_t mask, int requestsBefore) const {
        EXPECT_GT(requests, requestsBefore) << "the setting did not go through tcsetattr";
        return lastRequest.c_cflag & mask;
    }

    test::Pty pty;
    TComPort port;
};

TEST_F(LineSettingsTest, EachDataBitsSettingIsTheCharacterSizeAskedFor) {
    const std::pair<TDataBits, tcflag_t> cases[] = {
        {dbFive, CS5}, {dbSix, CS6}, {dbSeven, CS7}, {dbEight, CS8}};
    // From a size other than each, so that every case is a change.
    for (const auto& [bits, size] : cases) {
        port.SetDataBits(bits == dbEight ? dbFive : dbEight);
        const int before = requests;
        port.SetDataBits(bits);
        EXPECT_EQ(Asked(CSIZE, before), size) << DataBitsToText(bits);
    }
}

TEST_F(LineSettingsTest, EachParityIsItsFlagsOnTheTerminal) {
    const struct {
        TParityBits parity;
        tcflag_t enabled;  // PARENB, asked for
        tcflag_t kept;     // PARODD and CMSPAR, on the terminal
    } cases[] = {
        {prNone, 0, 0},
        {prOdd, PARENB, PARODD},
        {prEven, PARENB, 0},
        {prMark, PARENB, CMSPAR | PARODD},  // the parity bit always 1
        {prSpace, PARENB, CMSPAR},          // always 0
    };
    for (const auto& c : cases) {
        port.Parity().SetBits(c.parity == prNone ? prOdd : prNone);
        const int before = requests;
        port.Parity().SetBits(c.parity);
        EXPECT_EQ(Terminal().c_cflag & (PARODD | CMSPAR), c.kept) << ParityToText(c.parity);
        EXPECT_EQ(Asked(PARENB, before), c.enabled) << ParityToText(c.parity);
    }
    port.Parity().SetCheck(true);
    EXPECT_EQ(Terminal().c_iflag & INPCK, tcflag_t{INPCK});
    port.Parity().SetCheck(false);
    EXPECT_EQ(Terminal().c_iflag & INPCK, 0u);
}

TEST_F(LineSettingsTest, OneStopBitIsOneAndOneAndAHalfOrTwoAreTheLongStop) {
    // termios has one flag for more than one stop bit: a UART sends 1.5 for it at five
    // data bits, 2 at more.
    const struct {
        TStopBits stop;
        TDataBits data;
        tcflag_t flag;
    } cases[] = {{sbOneStopBit, dbEight, 0},
                 {sbOne5StopBits, dbFive, CSTOPB},
                 {sbTwoStopBits, dbEight, CSTOPB},
                 {sbOneStopBit, dbFive, 0}};
    for (const auto& c : cases) {
        port.SetDataBits(c.data);
        port.SetStopBits(c.stop);
        EXPECT_EQ(Terminal().c_cflag & CSTOPB, c.flag) << StopBitsToText(c.stop);
    }
}

TEST_F(LineSettingsTest, EachFlowControlIsItsFlagsOnTheTerminal) {
    const struct {
        TFlowControl flow;
        tcflag_t cflag;  // CRTSCTS
        tcflag_t iflag;  // IXON, IXOFF
    } cases[] = {{fcHardware, CRTSCTS, 0},
                 {fcNone, 0, 0},
                 {fcSoftware, 0, IXON | IXOFF},
                 {fcHardware, CRTSCTS, 0}};
    for (const auto& c : cases) {
        port.FlowControl().SetFlowControl(c.flow);
        const termios tio = Terminal();
        EXPECT_EQ(tio.c_cflag & CRTSCTS, c.cflag) << FlowControlToText(c.flow);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), c.iflag) << FlowControlToText(c.flow);
    }
    // Each direction on its own, and the characters that start and stop the other side.
    port.FlowControl().SetFlowControl(fcNone);
    port.FlowControl().SetXonXoffOut(true);
    EXPECT_EQ(Terminal().c_iflag & (IXON | IXOFF), tcflag_t{IXON});
    port.FlowControl().SetXonXoffOut(false);
    port.FlowControl().SetXonXoffIn(true);
    EXPECT_EQ(Terminal().c_iflag & (IXON | IXOFF), tcflag_t{IXOFF});
    port.FlowControl().SetXonChar(0x05);
    port.FlowControl().SetXoffChar(0x06);
    EXPECT_EQ(Terminal().c_cc[VSTART], 0x05);
    EXPECT_EQ(Terminal().c_cc[VSTOP], 0x06);
}

}  // namespace
}  // namespace wct
