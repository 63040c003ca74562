// SPDX-License-Identifier: Apache-2.0
#include "app/com_led.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

namespace wct {
namespace {

constexpr int kGlyphSize = 15;

QPixmap Transparent(const QPixmap& glyph) {
    QPixmap copy = glyph;
    if (!copy.isNull()) {
        const QColor key = glyph.toImage().pixelColor(0, glyph.height() - 1);
        copy.setMask(copy.createMaskFromColor(key, Qt::MaskInColor));
    }
    return copy;
}

QColor LightColour(TLedKind kind) {
    switch (kind) {
        case lkRedLight:
            return QColor(230, 30, 30);
        case lkGreenLight:
            return QColor(30, 200, 40);
        case lkBlueLight:
            return QColor(40, 90, 245);
        case lkYellowLight:
            return QColor(245, 215, 30);
        case lkPurpleLight:
            return QColor(175, 45, 215);
        case lkBulb:
        case lkCustom:
            break;
    }
    return QColor(255, 240, 150);
}

}  // namespace

QPixmap TComLed::BuiltInGlyph(TLedKind kind, TLedState state) {
    QPixmap glyph(kGlyphSize, kGlyphSize);
    glyph.fill(Qt::transparent);
    QPainter p(&glyph);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour = LightColour(kind);
    const bool on = state == lsOn;
    // Lit: the colour glowing from a white highlight; dark: the colour deep in shadow.
    const QColor face = on ? colour : colour.darker(kind == lkBulb ? 190 : 330);
    const QColor rim = on ? colour.darker(150) : QColor(50, 50, 50);
    if (kind == lkBulb) {
        QRadialGradient glow(QPointF(6, 4.5), 6);
        glow.setColorAt(0, on ? Qt::white : face.lighter(130));
        glow.setColorAt(1, face);
        p.setPen(QPen(rim, 1));
        p.setBrush(glow);
        p.drawEllipse(QRectF(2.5, 0.5, 10, 10));
        p.setBrush(QColor(150, 150, 150));
        p.setPen(QPen(QColor(80, 80, 80), 1));
        p.drawRect(QRectF(5.5, 10.5, 4, 3));
        return glyph;
    }
    QRadialGradient glow(QPointF(5.5, 5), 8);
    glow.setColorAt(0, on ? Qt::white : face.lighter(160));
    glow.setColorAt(0.35, on ? colour.lighter(130) : face);
    glow.setColorAt(1, on ? colour : face.darker(130));
    p.setPen(QPen(rim, 1));
    p.setBrush(glow);
    p.drawEllipse(QRectF(1, 1, 13, 13));
    return glyph;
}

TComLed::TComLed(QWidget* parent) : QWidget(parent) {
    setFixedSize(25, 25);
    logic_.Repaint = [this] { update(); };
    ringTimer_.setSingleShot(true);
    logic_.StartRingTimer = [this](int ms) { ringTimer_.start(ms); };
    connect(&ringTimer_, &QTimer::timeout, this, [this] { logic_.RingOver(); });
    LoadBuiltIn();
}

void TComLed::LoadBuiltIn() {
    if (kind_ == lkCustom) return;
    glyphOn_ = BuiltInGlyph(kind_, lsOn);
    glyphOff_ = BuiltInGlyph(kind_, lsOff);
}

void TComLed::SetKind(TLedKind value) {
    if (value == kind_) return;
    kind_ = value;
    LoadBuiltIn();
    update();
}

void TComLed::SetGlyphOn(const QPixmap& glyph) {
    if (kind_ != lkCustom) return;
    glyphOn_ = Transparent(glyph);
    update();
}

void TComLed::SetGlyphOff(const QPixmap& glyph) {
    if (kind_ != lkCustom) return;
    glyphOff_ = Transparent(glyph);
    update();
}

void TComLed::paintEvent(QPaintEvent*) {
    if (glyphOn_.isNull() || glyphOff_.isNull()) LoadBuiltIn();
    const QPixmap& glyph = !isEnabled() || State() == lsOff ? glyphOff_ : glyphOn_;
    if (glyph.isNull()) return;
    QPainter p(this);
    p.drawPixmap(std::max(0, (width() - glyph.width()) / 2),
                 std::max(0, (height() - glyph.height()) / 2), glyph);
}

void TComLed::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

}  // namespace wct
