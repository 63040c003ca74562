// SPDX-License-Identifier: Apache-2.0
#include "app/recording_menu.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/file_dialog.h"
#include "app/panel_controls.h"
#include "common/user_messages.h"
#include "testbench/bench_recording.h"

namespace wct {
namespace {

// The recording's texts begin in lower case, to follow a program's name.
std::string Sentence(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace

TRecordingMenu::TRecordingMenu(QMainWindow& window, testbench::TBenchRecording& recording)
    : window_(window), recording_(recording) {
    label_ = Label("", "RecordingLabel");
    label_->setStyleSheet("color: #b00000; padding-right: 6px;");
    window.menuBar()->setCornerWidget(label_);
    check_.setInterval(500);
    connect(&check_, &QTimer::timeout, this, [this] {
        if (recording_.Broken()) Stop();
    });
}

void TRecordingMenu::AddTo(QMenu& menu) {
    // A failure is shown rather than thrown through Qt.
    record_ = menu.addAction("&Record...", this, [this] {
        try {
            RecordClick();
        } catch (const std::exception& e) {
            UserMessages().ShowException(e);
        }
    });
    record_->setObjectName("Record");
    stopRecording_ = menu.addAction("&Stop Recording", this, [this] { Stop(); });
    stopRecording_->setObjectName("StopRecording");
    ShowState();
}

void TRecordingMenu::RecordClick() {
    if (recording_.Recording()) return;
    const QString last = QString::fromStdString(recording_.Path());
    const QString folder = last.isEmpty() ? QDir::homePath() : QFileInfo(last).absolutePath();
    const QString suggested = QDir(folder).filePath(
        "wct-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".rec");
    const QString path = FileDialog().SaveFileName(
        &window_, "Record the Wire Traffic", suggested,
        "Wire recordings (*.rec);;Wireshark captures (*.pcapng);;All files (*)");
    if (path.isEmpty()) return;
    try {
        recording_.Start(path.toStdString(), "wirelessconsoletest " WCT_VERSION);
    } catch (const std::runtime_error& e) {
        UserMessages().MessageDlg(Sentence(e.what()), TMsgDlgType::mtError, mbOK);
        return;
    }
    check_.start();
    ShowState();
}

void TRecordingMenu::Stop() {
    if (!recording_.Recording()) return;
    check_.stop();
    const std::vector<std::string> errors = recording_.Stop();
    ShowState();
    for (const std::string& error : errors)
        UserMessages().MessageDlg(Sentence(error), TMsgDlgType::mtError, mbOK);
}

void TRecordingMenu::ShowState() {
    const bool recording = recording_.Recording();
    record_->setEnabled(!recording);
    stopRecording_->setEnabled(recording);
    const QString path = QString::fromStdString(recording_.Path());
    // Shown anew, so that the menu bar makes room for the file's name.
    label_->setText(recording ? "Recording to " + QFileInfo(path).fileName() : QString());
    label_->setToolTip(path);
    label_->setVisible(recording);
}

}  // namespace wct
