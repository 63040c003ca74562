// SPDX-License-Identifier: Apache-2.0
// The Linux calls whose kernel declarations cannot share a file with <termios.h>.
// Each returns 0 or the errno of the failure.
#pragma once

namespace wct::linux_serial {

// The termios flags the port has worked out, apart from the speed.
struct TLineFlags {
    unsigned iflag = 0;
    unsigned oflag = 0;
    unsigned cflag = 0;  // speed bits are ignored
    unsigned lflag = 0;
    unsigned char vstart = 17;
    unsigned char vstop = 19;
};

// Applies the flags with an arbitrary rate (termios2, BOTHER) in one call, so the line
// never passes through B0, which on a real UART drops DTR and RTS.
int SetLineWithRate(int fd, const TLineFlags& flags, int rate);

struct TLineCounters {
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int brk = 0;
    int bufOverrun = 0;
};

// The driver's cumulative line-error counters; ENOTTY or EINVAL when it keeps none.
int ReadLineCounters(int fd, TLineCounters& counters);

}  // namespace wct::linux_serial
