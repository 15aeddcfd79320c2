#pragma once

#include "link/comport/ComPort.h"

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

// The signal a bound LED shows.
enum TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedKind {
    lkRedLight,
    lkGreenLight,
    lkBlueLight,
    lkYellowLight,
    lkPurpleLight,
    lkBulb,
    lkCustom
};
enum TLedState { lsOff, lsOn };

// A 25 x 25 lamp showing one signal of a port, or, bound to no port, a state
// the program sets. Every change it receives from the port makes it process
// all pending events, so the port's Open, Close and Write may run other
// handlers before they return.
class TComLed : public QWidget {
    Q_OBJECT
public:
    explicit TComLed(QWidget* parent = nullptr);
    ~TComLed() override;

    TCustomComPort* ComPort() const { return comPort_; }
    void SetComPort(TCustomComPort* Value);
    TComLedSignal LedSignal() const { return ledSignal_; }
    void SetLedSignal(TComLedSignal Value);
    TLedKind Kind() const { return kind_; }
    void SetKind(TLedKind Value);
    TLedState State() const { return state_; }
    // Raises EComPort code 19 while bound to a port.
    void SetState(TLedState Value);

    // The glyphs lkCustom shows.
    void SetGlyphOn(const QPixmap& glyph);
    void SetGlyphOff(const QPixmap& glyph);
    QPixmap GlyphOn() const { return glyphOn_; }
    QPixmap GlyphOff() const { return glyphOff_; }

    // Whether a bound port's present state has the LED on.
    bool IsStateOn() const;

    std::function<void(TComLed* Sender, TLedState State)> OnChange;

    QSize sizeHint() const override { return {25, 25}; }

    // The painted glyph of a kind other than lkCustom, on or off.
    static QPixmap KindGlyph(TLedKind kind, bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    virtual void DoChange();

private:
    void setStateFromPort(TLedState state);
    void SignalChange(bool on);
    void RingDetect();
    void loadGlyphs();

    QPointer<TCustomComPort> comPort_;
    QMetaObject::Connection portDestroyed_;
    TComLedSignal ledSignal_ = lsConn;
    TLedKind kind_ = lkRedLight;
    TLedState state_ = lsOff;
    QPixmap glyphOn_, glyphOff_;
    bool glyphsLoaded_ = false;
    QTimer ringTimer_;
    TComLink link_;
};
