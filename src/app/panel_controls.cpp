// SPDX-License-Identifier: Apache-2.0
#include "app/panel_controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/click_guard.h"
#include "app/string_grid.h"
#include "protocol/brake_interlock.h"

namespace wct {

QPushButton* Button(TClickGuard& clicks, QObject* owner, const QString& caption,
                    std::function<void()> handler) {
    auto* button = new QPushButton(caption);
    button->setObjectName(caption);
    QObject::connect(button, &QPushButton::clicked, owner,
                     [&clicks, button, handler = std::move(handler)] { clicks.Run(button, handler); });
    return button;
}

QSpinBox* SpinEdit(const char* name, int min, int max, int value) {
    auto* spin = new QSpinBox;
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setValue(value);
    return spin;
}

TStringGrid* Grid(const char* name, std::initializer_list<const char*> headers,
                  std::initializer_list<int> widths, int rows, int firstLabel) {
    auto* grid = new TStringGrid(static_cast<int>(headers.size()), rows);
    grid->setObjectName(name);
    grid->SetColWidths(widths);
    int col = 0;
    for (const char* header : headers) grid->SetCell(col++, 0, header);
    grid->LabelRows(firstLabel);
    return grid;
}

QLineEdit* Edit(const char* name, const char* text, int chars) {
    auto* edit = new QLineEdit(text);
    edit->setObjectName(name);
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance('W') * chars + 12);
    return edit;
}

QPlainTextEdit* Memo(const char* name) {
    auto* memo = new QPlainTextEdit;
    memo->setObjectName(name);
    memo->setReadOnly(true);
    memo->setUndoRedoEnabled(false);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    return memo;
}

QLabel* Label(const QString& text, const char* name) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    return label;
}

void Fill(QGroupBox& group, const QString& title, QLayout* layout) {
    group.setTitle(title);
    group.setLayout(layout);
}

uint8_t ConsoleOf(const QSpinBox& spin) {
    return static_cast<uint8_t>(spin.value() & 0xFF);
}

bool MarkIfHeld(TStringGrid& grid, int row, const TBrakeInterlock& interlock, int id) {
    if (id < 0 || id > 255 || !interlock.Cut(static_cast<uint8_t>(id))) return false;
    grid.MarkRow(row, QColor(255, 120, 120), "Heart rate above its maximum: brake held at 0");
    return true;
}

}  // namespace wct
