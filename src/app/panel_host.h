// SPDX-License-Identifier: Apache-2.0
// TPanelHost: what the main window's panels share, and the window gives them: the
// protocol, the trace, the window's messages, the click guard that runs their buttons,
// the frame clock of the live views, the port the link bar works on, and the status
// bar's note of what the window waits for. Main thread only.
#pragma once

#include <string>

namespace wct {

class TClickGuard;
class TComPort;
class TFrameClock;
class TMiraWirelessProtocol;

class TPanelHost {
public:
    virtual TMiraWirelessProtocol& Protocol() = 0;
    virtual TClickGuard& Clicks() = 0;
    virtual TFrameClock& Frames() = 0;
    // Trace lines that must reach the trace whatever the protocol's state.
    virtual void Trace(const std::string& line) = 0;
    // An information box; nothing once the window is closing.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual bool Closing() const = 0;
    // ComPort1 until "Connect", then the protocol's own port.
    virtual TComPort* CurrentPort() const = 0;

    // Says in the status bar what a waiting handler waits for, for its lifetime.
    class TWaitNote {
    public:
        TWaitNote(TPanelHost& host, std::string what) : host_(host) {
            host_.BeginWait(std::move(what));
        }
        ~TWaitNote() { host_.EndWait(); }
        TWaitNote(const TWaitNote&) = delete;
        TWaitNote& operator=(const TWaitNote&) = delete;

    private:
        TPanelHost& host_;
    };

protected:
    ~TPanelHost() = default;

private:
    virtual void BeginWait(std::string what) = 0;
    virtual void EndWait() = 0;
};

}  // namespace wct
