// SPDX-License-Identifier: Apache-2.0
// TComLed: a 25 x 25 lamp that shows one line signal of a bound port, on or off. The
// rules (which signal, when it lights, how long a ring lasts) are TComLedLogic's; this
// widget holds the glyphs, draws them and runs the ring timer. The six built-in kinds draw their 15
// x 15 glyphs here; lkCustom shows the two glyphs assigned to it, made transparent on the colour of
// their bottom-left pixel.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include "serial/com_led_logic.h"

namespace wct {

class TComLed : public QWidget {
public:
    explicit TComLed(QWidget* parent = nullptr);

    TCustomComPort* ComPort() const { return logic_.ComPort(); }
    void SetComPort(TCustomComPort* port) { logic_.SetComPort(port); }
    TComLedSignal LedSignal() const { return logic_.LedSignal(); }
    void SetLedSignal(TComLedSignal value) { logic_.SetLedSignal(value); }
    TLedState State() const { return logic_.State(); }
    // Raises EComPort 19 while a port is bound.
    void SetState(TLedState value) { logic_.SetState(value); }
    int RingDuration() const { return logic_.RingDuration(); }
    void SetRingDuration(int ms) { logic_.SetRingDuration(ms); }
    TComLedLogic& Logic() { return logic_; }

    TLedKind Kind() const { return kind_; }
    // Loads the kind's built-in pair (lkCustom keeps the glyphs it has).
    void SetKind(TLedKind value);
    const QPixmap& GlyphOn() const { return glyphOn_; }
    const QPixmap& GlyphOff() const { return glyphOff_; }
    // Ignored unless Kind is lkCustom.
    void SetGlyphOn(const QPixmap& glyph);
    void SetGlyphOff(const QPixmap& glyph);

    // The built-in glyph of a kind other than lkCustom.
    static QPixmap BuiltInGlyph(TLedKind kind, TLedState state);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void LoadBuiltIn();

    TComLedLogic logic_;
    QTimer ringTimer_;
    TLedKind kind_ = lkRedLight;
    QPixmap glyphOn_;
    QPixmap glyphOff_;
};

}  // namespace wct
