// SPDX-License-Identifier: Apache-2.0
#include "app/file_dialog.h"

#include <QFileDialog>

namespace wct {
namespace {

class TQtFileDialog : public TFileDialog {
public:
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                         const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
    }
};

TQtFileDialog qtDialog;
TFileDialog* installed = &qtDialog;

}  // namespace

TFileDialog& FileDialog() {
    return *installed;
}

void SetFileDialog(TFileDialog* dialog) {
    installed = dialog != nullptr ? dialog : &qtDialog;
}

}  // namespace wct
