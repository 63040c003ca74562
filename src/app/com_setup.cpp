// SPDX-License-Identifier: Apache-2.0
#include "app/com_setup.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
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
    // Everything has its parent before a port list that cannot be read ends the building.
    auto* group = new QGroupBox(" Settings ", this);
    auto* settings = new QGridLayout(group);
    const std::pair<const char*, TComProperty> rows[] = {
        {"Port", cpPort},          {"Baud rate", cpBaudRate}, {"Data bits", cpDataBits},
        {"Stop bits", cpStopBits}, {"Parity", cpParity},      {"Flow control", cpFlowControl},
    };
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(rows[i].first, group);
        auto* combo = new TComComboBox(group);
        combo->setObjectName(QString("Combo%1").arg(i + 1));
        combo->setMinimumWidth(129);
        combo->SetComProperty(rows[i].second);
        label->setBuddy(combo);
        settings->addWidget(label, i, 0);
        settings->addWidget(combo, i, 1);
        combos_[static_cast<size_t>(i)] = combo;
    }

    auto* ok = new QPushButton("OK");
    ok->setObjectName("OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton("Cancel");
    cancel->setObjectName("Cancel");
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
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
