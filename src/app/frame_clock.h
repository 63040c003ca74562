// SPDX-License-Identifier: Apache-2.0
// TFrameClock: the pace of the main window's live views. A view with something new to draw
// asks for a frame; kFrameMs later every view that follows the clock draws, in the order it
// began to follow, in one pass of the event loop, so the window paints once for all of
// them. Five frames a second is faster than anyone reads a number; at the line's rate most
// frames' texts would never be seen. Main thread only.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace wct {

class TFrameClock {
public:
    static constexpr int kFrameMs = 200;

    TFrameClock();

    // Starts a frame unless one is pending.
    void Request();
    // `draw` runs at every frame for as long as `view` lives.
    void Follow(QObject* view, std::function<void()> draw);

private:
    QTimer timer_;
};

}  // namespace wct
