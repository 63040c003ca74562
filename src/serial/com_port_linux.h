// SPDX-License-Identifier: Apache-2.0
// The port's Linux part: termios, the modem-line ioctls and the waits on the descriptor,
// behind TCustomComPort (the termios2 calls are in linux_serial.cpp). Each call returns
// 0 or the errno of the failure; the port turns that into its exception.
#pragma once

#include "serial/com_port.h"

namespace wct::com_port_linux {

// Puts the line settings of `dcb` and the DTR and RTS lines on the tty.
int SetLine(int fd, const TDeviceControl& dcb, TDTRFlowControl dtr, TRTSFlowControl rts);

// The input modem lines; none on a device that has no modem lines.
int ReadModemSignals(int fd, TModemSignals& signals);

// Waits up to `ms` (10 ms at most, so that a deadline on the tick counter is seen) for
// the device to become readable (`forOutput` false) or writable.
void WaitDevice(int fd, bool forOutput, int ms);

}  // namespace wct::com_port_linux
