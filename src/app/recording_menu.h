// SPDX-License-Identifier: Apache-2.0
// TRecordingMenu: the Link menu's recording of the wire traffic. "Record..." asks for a
// file (next to the last recording, or else in the home folder) and records into it, as
// a pcapng capture for Wireshark when the file is named *.pcapng (the bench's recording),
// "Stop Recording" ends that; the file being recorded is named in red in the menu bar's
// free corner, so that the controls below keep their place. A recording that stops on a
// write error is noticed within half a second and said in a message box. Main thread
// only; the recording must outlive it.
#pragma once

#include <QObject>
#include <QTimer>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;

namespace wct::testbench {
class TBenchRecording;
}

namespace wct {

class TRecordingMenu : public QObject {
public:
    TRecordingMenu(QMainWindow& window, testbench::TBenchRecording& recording);

    // Adds "Record..." and "Stop Recording" to `menu`.
    void AddTo(QMenu& menu);
    const testbench::TBenchRecording& Recording() const { return recording_; }
    // Ends the recording, if one runs; says so when it did not keep everything.
    void Stop();

private:
    void RecordClick();
    void ShowState();

    QMainWindow& window_;
    testbench::TBenchRecording& recording_;
    QAction* record_ = nullptr;
    QAction* stopRecording_ = nullptr;
    QLabel* label_ = nullptr;
    QTimer check_;
};

}  // namespace wct
