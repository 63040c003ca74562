// The Linux calls whose kernel declarations cannot share a file with <termios.h>.
// Each returns 0 or the errno of the failure.
#pragma once

namespace wct::linux_serial {

// Sets an arbitrary rate (termios2, BOTHER) on a tty whose other settings are applied.
int SetArbitraryBaudRate(int fd, int rate);

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
