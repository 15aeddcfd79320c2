#include "link/comport/ComLed.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {
// How long a ring indication keeps the lamp lit.
constexpr int ringMs = 200;
constexpr int glyphSize = 21;

QColor kindColour(TLedKind kind) {
    switch (kind) {
    case lkRedLight:
        return QColor(230, 30, 30);
    case lkGreenLight:
        return QColor(30, 220, 40);
    case lkBlueLight:
        return QColor(40, 90, 240);
    case lkYellowLight:
        return QColor(250, 220, 20);
    case lkPurpleLight:
        return QColor(170, 50, 210);
    case lkBulb:
    case lkCustom:
        break;
    }
    return QColor(255, 230, 120);
}

void paintLight(QPainter& p, QColor colour, bool on) {
    const QRectF body(1.5, 1.5, glyphSize - 3, glyphSize - 3);
    const QColor face = on ? colour : colour.darker(320);
    QRadialGradient shade(body.center() - QPointF(3, 3), body.width() * 0.7);
    shade.setColorAt(0, on ? face.lighter(170) : face.lighter(130));
    shade.setColorAt(0.6, face);
    shade.setColorAt(1, face.darker(on ? 140 : 120));
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(shade);
    p.drawEllipse(body);
    // A glint, so a lit lamp reads as lit even in grey.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, on ? 200 : 70));
    p.drawEllipse(QRectF(body.left() + 4, body.top() + 3, 5, 4));
}

void paintBulb(QPainter& p, bool on) {
    const QRectF glass(3.5, 1.5, glyphSize - 7, glyphSize - 8);
    QRadialGradient glow(glass.center(), glass.width() * 0.7);
    glow.setColorAt(0, on ? QColor(255, 255, 210) : QColor(235, 235, 235));
    glow.setColorAt(1, on ? QColor(255, 200, 40) : QColor(150, 150, 150));
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(glow);
    p.drawEllipse(glass);
    const QRectF base(glyphSize / 2.0 - 3.5, glass.bottom() - 1, 7, 6.5);
    p.setBrush(QColor(120, 120, 120));
    p.drawRect(base);
    p.drawLine(QPointF(base.left(), base.top() + 2.5), QPointF(base.right(), base.top() + 2.5));
    if (on) {
        p.setPen(QPen(QColor(200, 120, 0), 1));
        p.drawLine(QPointF(glass.center().x() - 2, glass.center().y() + 1),
                   QPointF(glass.center().x() + 2, glass.center().y() + 1));
    }
}
} // namespace

TComLed::TComLed(QWidget* parent) : QWidget(parent) {
    resize(25, 25);
    link_.OnConn = [this](TCustomComPort*, bool on) { SignalChange(on); };
    ringTimer_.setInterval(ringMs);
    ringTimer_.setSingleShot(true);
    connect(&ringTimer_, &QTimer::timeout, this, [this] { setStateFromPort(lsOff); });
}

TComLed::~TComLed() {
    if (comPort_) {
        disconnect(portDestroyed_);
        comPort_->UnRegisterLink(&link_);
    }
}

QPixmap TComLed::KindGlyph(TLedKind kind, bool on) {
    QPixmap glyph(glyphSize, glyphSize);
    glyph.fill(Qt::transparent);
    if (kind == lkCustom)
        return glyph;
    QPainter p(&glyph);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == lkBulb)
        paintBulb(p, on);
    else
        paintLight(p, kindColour(kind), on);
    return glyph;
}

void TComLed::SetComPort(TCustomComPort* Value) {
    if (Value == comPort_)
        return;
    if (comPort_) {
        disconnect(portDestroyed_);
        comPort_->UnRegisterLink(&link_);
    }
    comPort_ = Value;
    if (!Value) {
        setStateFromPort(lsOff);
        return;
    }
    Value->RegisterLink(&link_);
    // A port that goes away unbinds its LEDs.
    portDestroyed_ = connect(Value, &QObject::destroyed, this, [this] { comPort_ = nullptr; });
    if (Value->Connected())
        setStateFromPort(IsStateOn() ? lsOn : lsOff);
}

void TComLed::SetLedSignal(TComLedSignal Value) {
    ledSignal_ = Value;
    link_.Clear();
    auto change = [this](TCustomComPort*, bool on) { SignalChange(on); };
    switch (Value) {
    case lsConn:
        link_.OnConn = change;
        break;
    case lsCTS:
        link_.OnCTSChange = change;
        break;
    case lsDSR:
        link_.OnDSRChange = change;
        break;
    case lsRLSD:
        link_.OnRLSDChange = change;
        break;
    case lsRing:
        link_.OnRing = [this](TCustomComPort*) { RingDetect(); };
        break;
    case lsRx:
        link_.OnRx = change;
        break;
    case lsTx:
        link_.OnTx = change;
        break;
    }
}

void TComLed::SetKind(TLedKind Value) {
    if (Value == kind_)
        return;
    kind_ = Value;
    glyphsLoaded_ = false;
    update();
}

void TComLed::SetState(TLedState Value) {
    if (comPort_)
        throw EComPort(EComPort::LedStateWithPort);
    setStateFromPort(Value);
}

void TComLed::setStateFromPort(TLedState state) {
    if (state == state_)
        return;
    state_ = state;
    DoChange();
    update();
}

void TComLed::SetGlyphOn(const QPixmap& glyph) {
    glyphOn_ = glyph;
    update();
}

void TComLed::SetGlyphOff(const QPixmap& glyph) {
    glyphOff_ = glyph;
    update();
}

bool TComLed::IsStateOn() const {
    if (!comPort_)
        return false;
    switch (ledSignal_) {
    case lsConn:
        return comPort_->Connected();
    case lsCTS:
        return comPort_->Signals().Contains(csCTS);
    case lsDSR:
        return comPort_->Signals().Contains(csDSR);
    case lsRLSD:
        return comPort_->Signals().Contains(csRLSD);
    case lsRing:
    case lsRx:
    case lsTx:
        break;
    }
    return false;
}

void TComLed::SignalChange(bool on) {
    setStateFromPort(on ? lsOn : lsOff);
    QCoreApplication::processEvents();
}

void TComLed::RingDetect() {
    setStateFromPort(lsOn);
    ringTimer_.start();
}

void TComLed::DoChange() {
    if (OnChange)
        OnChange(this, state_);
}

void TComLed::loadGlyphs() {
    if (glyphsLoaded_ || kind_ == lkCustom)
        return;
    glyphOn_ = KindGlyph(kind_, true);
    glyphOff_ = KindGlyph(kind_, false);
    glyphsLoaded_ = true;
}

void TComLed::paintEvent(QPaintEvent*) {
    loadGlyphs();
    const QPixmap& glyph = (isEnabled() && state_ == lsOn) ? glyphOn_ : glyphOff_;
    if (glyph.isNull())
        return;
    const QSize size = glyph.deviceIndependentSize().toSize();
    QPainter p(this);
    p.drawPixmap(std::max(0, (width() - size.width()) / 2),
                 std::max(0, (height() - size.height()) / 2), glyph);
}

void TComLed::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(event);
}
