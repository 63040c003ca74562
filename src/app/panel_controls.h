// SPDX-License-Identifier: Apache-2.0
// The controls the main window's panels are made of, made alike: named, with the
// bench's design values.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>

class QGroupBox;
class QObject;
class QLabel;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace wct {

class TBrakeInterlock;
class TClickGuard;
class TStringGrid;

// A button named after its caption whose clicks run `handler` through `clicks`, while
// `owner` lives.
QPushButton* Button(TClickGuard& clicks, QObject* owner, const QString& caption,
                    std::function<void()> handler);
QSpinBox* SpinEdit(const char* name, int min, int max, int value);
// A grid named `name` of `rows` rows counting its header row, which holds `headers`; its
// rows are labelled from `firstLabel` on (TStringGrid::LabelRows).
TStringGrid* Grid(const char* name, std::initializer_list<const char*> headers,
                  std::initializer_list<int> widths, int rows, int firstLabel);
// An edit `chars` characters wide.
QLineEdit* Edit(const char* name, const char* text, int chars);
// A read-only memo of unwrapped lines.
QPlainTextEdit* Memo(const char* name);
QLabel* Label(const QString& text, const char* name = "");
// Lays `layout` out in `group` captioned `title`.
void Fill(QGroupBox& group, const QString& title, QLayout* layout);
// The console a spin edit names: the low eight bits of its value.
uint8_t ConsoleOf(const QSpinBox& spin);
// Marks the label of `row` in red, saying why, while the interlock holds console `id`'s
// brake at 0; false, and nothing marked, when it does not.
bool MarkIfHeld(TStringGrid& grid, int row, const TBrakeInterlock& interlock, int id);

}  // namespace wct
