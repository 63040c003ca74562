// SPDX-License-Identifier: Apache-2.0
#include "serial/linux_serial.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace wct::linux_serial {

int SetLineWithRate(int fd, const TLineFlags& flags, int rate) {
    if (rate <= 0) return EINVAL;
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_iflag = flags.iflag;
    tio.c_oflag = flags.oflag;
    tio.c_lflag = flags.lflag;
    tio.c_cflag = flags.cflag & ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_cc[VSTART] = flags.vstart;
    tio.c_cc[VSTOP] = flags.vstop;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_ispeed = static_cast<speed_t>(rate);
    tio.c_ospeed = static_cast<speed_t>(rate);
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

int ReadLineCounters(int fd, TLineCounters& counters) {
    struct serial_icounter_struct icount {};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return errno;
    counters = {icount.frame, icount.overrun, icount.parity, icount.brk, icount.buf_overrun};
    return 0;
}

}  // namespace wct::linux_serial
