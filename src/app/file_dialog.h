// SPDX-License-Identifier: Apache-2.0
// How the windows ask the operator for a file to write: QFileDialog unless a test
// installs its own answer.
#pragma once

#include <QString>

class QWidget;

namespace wct {

class TFileDialog {
public:
    virtual ~TFileDialog() = default;
    // The file chosen to save to, starting from `suggested`; empty when cancelled.
    virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                                 const QString& filter) = 0;
};

TFileDialog& FileDialog();
// Installs an implementation (nullptr restores QFileDialog). The caller keeps ownership.
void SetFileDialog(TFileDialog* dialog);

}  // namespace wct
