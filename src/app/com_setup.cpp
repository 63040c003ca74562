#include "app/com_setup.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <memory>

namespace wct {

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    select_.OnChanged = [this](TComponent*) { Mirror(); };
    connect(this, &QComboBox::activated, this, [this](int index) { select_.Change(index); });
}

void TComComboBox::Mirror() {
    const QSignalBlocker quiet(this);
    QStringList items;
    for (const std::string& item : select_.Items()) items.append(QString::fromStdString(item));
    bool same = count() == items.size();
    for (int i = 0; same && i < count(); ++i) same = itemText(i) == items[i];
    if (!same) {
        clear();
        addItems(items);
    }
    setCurrentIndex(select_.ItemIndex());
}

TComSetupFrm::TComSetupFrm(QWidget* parent) : QDialog(parent) {
    setObjectName("ComSetupFrm");
    setWindowTitle("Setup");
    setFixedSize(231, 216);
    auto* group = new QGroupBox(" Settings ", this);
    group->setGeometry(8, 8, 217, 169);
    const std::pair<const char*, TComProperty> rows[] = {
        {"Port", cpPort},         {"Baud rate", cpBaudRate}, {"Data bits", cpDataBits},
        {"Stop bits", cpStopBits}, {"Parity", cpParity},      {"Flow control", cpFlowControl},
    };
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(rows[i].first, group);
        label->setGeometry(8, 20 + 24 * i, 70, 16);
        auto* combo = new TComComboBox(group);
        combo->setObjectName(QString("Combo%1").arg(i + 1));
        combo->setGeometry(80, 16 + 24 * i, 129, 22);
        combo->SetComProperty(rows[i].second);
        label->setBuddy(combo);
        combos_[static_cast<size_t>(i)] = combo;
    }
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("OK");
    ok->setGeometry(70, 184, 75, 25);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("Cancel");
    cancel->setGeometry(150, 184, 75, 25);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    for (size_t i = 1; i < combos_.size(); ++i) setTabOrder(combos_[i - 1], combos_[i]);
    setTabOrder(combos_.back(), ok);
    setTabOrder(ok, cancel);
}

void ShowSettingsDialog(TCustomComPort& port, QWidget* parent) {
    const auto dialog = std::make_unique<TComSetupFrm>(parent);
    for (TComComboBox* combo : dialog->Combos()) combo->SetComPort(&port);
    for (TComComboBox* combo : dialog->Combos()) combo->UpdateSettings();
    if (dialog->exec() != QDialog::Accepted) return;
    dialog->hide();
    port.BeginUpdate();
    try {
        for (TComComboBox* combo : dialog->Combos()) combo->ApplySettings();
    } catch (...) {
        port.EndUpdate();
        throw;
    }
    port.EndUpdate();
}

}  // namespace wct
