// SPDX-License-Identifier: Apache-2.0
#include "serial/com_port_linux.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace wct::com_port_linux {
namespace {

// Standard termios speeds; anything else goes through termios2.
speed_t StandardSpeed(int rate) {
    constexpr std::array<int, 14> kRates = {110,   300,   600,   1200,   2400,   4800,   9600,
                                            19200, 38400, 57600, 115200, 230400, 460800, 921600};
    constexpr std::array<speed_t, 14> kSpeeds = {B110,    B300,    B600,    B1200,  B2400,
                                                 B4800,   B9600,   B19200,  B38400, B57600,
                                                 B115200, B230400, B460800, B921600};
    const auto it = std::find(kRates.begin(), kRates.end(), rate);
    return it == kRates.end() ? B0 : kSpeeds[static_cast<size_t>(it - kRates.begin())];
}

void SetModemLine(int fd, int line, bool on) {
    // A device without modem lines refuses; that is not a failure of the settings.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

// A pseudo-terminal keeps no parity and character size; the C library reports EINVAL
// when that was all a request would have changed, which a reopen with parity always is.
bool PseudoTerminalWithoutParity(int fd, const termios& wanted) {
    struct stat info {};
    // Unix98 pseudo-terminal slaves have majors 136 to 143.
    if (fstat(fd, &info) != 0 || major(info.st_rdev) < 136 || major(info.st_rdev) > 143)
        return false;
    termios got{};
    if (tcgetattr(fd, &got) != 0) return false;
    constexpr tcflag_t kUnkept = PARENB | PARODD | CMSPAR | CSIZE;
    return got.c_iflag == wanted.c_iflag &&
           (got.c_cflag & ~kUnkept) == (wanted.c_cflag & ~kUnkept) &&
           cfgetospeed(&got) == cfgetospeed(&wanted);
}

termios RawLine(termios tio, const TDeviceControl& dcb, TRTSFlowControl rts) {
    cfmakeraw(&tio);
    tio.c_iflag = 0;
    if (dcb.flags & kParity) tio.c_iflag |= INPCK;
    if (dcb.flags & kOutX) tio.c_iflag |= IXON;
    if (dcb.flags & kInX) tio.c_iflag |= IXOFF;
    // No termios flag means "keep sending after sending Xoff" (kTxContinue), and IXANY,
    // "any character restarts output", is another thing: the flag is not mapped.
    constexpr std::array<tcflag_t, 4> kSizes = {CS5, CS6, CS7, CS8};
    // Linux has no DSR output flow nor DSR sensitivity (kOutxDsr, kDsrSensitivity); the
    // line stays local, as carrier sensitivity would block I/O on a missing carrier.
    tio.c_cflag = CREAD | CLOCAL | kSizes[static_cast<size_t>(dcb.byteSize - 5)];
    if (dcb.parity != prNone) tio.c_cflag |= PARENB;
    if (dcb.parity == prOdd || dcb.parity == prMark) tio.c_cflag |= PARODD;
    if (dcb.parity == prMark || dcb.parity == prSpace) tio.c_cflag |= CMSPAR;
    // termios knows 1 or 2 stop bits; a UART sends 1.5 for "2" at five data bits.
    if (dcb.stopBits != sbOneStopBit) tio.c_cflag |= CSTOPB;
    if ((dcb.flags & kOutxCts) || rts == rtsHandshake) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.xoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tio;
}

int SetAttributes(int fd, const termios& tio, int rate) {
    if (const speed_t speed = StandardSpeed(rate); speed != B0) {
        termios wanted = tio;
        if (cfsetispeed(&wanted, speed) != 0 || cfsetospeed(&wanted, speed) != 0) return errno;
        if (tcsetattr(fd, TCSANOW, &wanted) == 0) return 0;
        const int error = errno;
        return error == EINVAL && PseudoTerminalWithoutParity(fd, wanted) ? 0 : error;
    }
    const linux_serial::TLineFlags flags{tio.c_iflag, tio.c_oflag,      tio.c_cflag,
                                         tio.c_lflag, tio.c_cc[VSTART], tio.c_cc[VSTOP]};
    return linux_serial::SetLineWithRate(fd, flags, rate);
}

}  // namespace

int SetLine(int fd, const TDeviceControl& dcb, TDTRFlowControl dtr, TRTSFlowControl rts) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return errno;
    if (int error = SetAttributes(fd, RawLine(tio, dcb, rts), dcb.baudRate); error != 0)
        return error;
    if (dtr != dtrHandshake) SetModemLine(fd, TIOCM_DTR, dtr == dtrEnable);
    if (rts == rtsEnable || rts == rtsDisable) SetModemLine(fd, TIOCM_RTS, rts == rtsEnable);
    return 0;
}

int ReadModemSignals(int fd, TModemSignals& signals) {
    signals = {};
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) {
        const int error = errno;
        const bool noModemLines = error == ENOTTY || error == EINVAL || error == EIO;
        return noModemLines ? 0 : error;
    }
    if (bits & TIOCM_CTS) signals.Include(sigCts);
    if (bits & TIOCM_DSR) signals.Include(sigDsr);
    if (bits & TIOCM_RI) signals.Include(sigRing);
    if (bits & TIOCM_CD) signals.Include(sigRlsd);
    return 0;
}

void WaitDevice(int fd, bool forOutput, int ms) {
    pollfd pfd{fd, forOutput ? short{POLLOUT} : short{POLLIN}, 0};
    int rc;
    do {
        rc = poll(&pfd, 1, std::clamp(ms, 0, 10));
    } while (rc < 0 && errno == EINTR);
}

}  // namespace wct::com_port_linux
