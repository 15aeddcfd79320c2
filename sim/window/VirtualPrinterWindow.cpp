#include "sim/window/VirtualPrinterWindow.h"
#include "sim/printer/HexDump.h"

#include "sim/paper/PaperPages.h"
#include "sim/printer/PrinterWords.h"
#include "sim/window/PaperRollWidget.h"
#include "windowkit/Messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int LogBytesPerLine = 16;

QString hexText(const QByteArray& bytes) {
    return hexDumpLine(bytes, LogBytesPerLine);
}

QString styleName(PrintStyle style) {
    if (style.wide)
        return style.bold ? QStringLiteral("expandido negrito") : QStringLiteral("expandido");
    return style.bold ? QStringLiteral("enfatizado") : QStringLiteral("normal");
}

QString yesNo(bool yes) {
    return yes ? QStringLiteral("sim") : QStringLiteral("não");
}

QString settingsText(const VirtualPrinter& printer) {
    const int feed = printer.lastLineFeed();
    const QString lineFeed = feed < 0 ? QStringLiteral("nenhum") : lineCount(feed);
    return QStringLiteral("CTS (pronta): %1    Ocupada: %2\n"
                          "Modo de impressão: %3\n"
                          "Colunas: %4    Página: %5 linhas\n"
                          "Último avanço: %6\n"
                          "Sensor de papel: %7    Teclado: %8\n"
                          "Sinalização RTS: %9\n")
               .arg(yesNo(printer.ready()), yesNo(printer.busy()), styleName(printer.style()))
               .arg(printer.columnsPerLine())
               .arg(printer.pageLines())
               .arg(lineFeed, onOff(printer.paperSensor()), onOff(printer.keyboard()),
                    printer.rtsSignalling() ? QStringLiteral("autenticação")
                                            : QStringLiteral("on/off-line")) +
           QStringLiteral("Modo dump: %1    Gaveta aberta %2 vez(es)\n"
                          "Bytes perdidos (buffer cheio): %3")
               .arg(onOff(printer.dumpMode()))
               .arg(printer.drawerOpenings())
               .arg(printer.lostBytes());
}

} // namespace

LampWidget::LampWidget(const QString& caption, const QColor& colour, QWidget* parent)
    : QWidget(parent), caption_(caption), colour_(colour) {
    setMinimumSize(sizeHint());
}

void LampWidget::setOn(bool on) {
    if (on_ == on)
        return;
    on_ = on;
    update();
}

QSize LampWidget::sizeHint() const {
    return {fontMetrics().horizontalAdvance(caption_) + 28, std::max(20, fontMetrics().height())};
}

void LampWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF light(2, (height() - 14) / 2.0, 14, 14);
    QRadialGradient glow(light.center() - QPointF(2, 2), 9);
    const QColor base = on_ ? colour_ : QColor(0x55, 0x55, 0x55);
    glow.setColorAt(0, base.lighter(on_ ? 170 : 130));
    glow.setColorAt(1, base);
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
    p.setBrush(glow);
    p.drawEllipse(light);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRectF(22, 0, width() - 22, height()), Qt::AlignVCenter | Qt::AlignLeft, caption_);
}

VirtualPrinterWindow::VirtualPrinterWindow(VirtualPrinter* printer, QWidget* parent)
    : QWidget(parent, Qt::Window), printer_(printer) {
    setObjectName(QStringLiteral("VirtualPrinterWindow"));
    setWindowTitle(QStringLiteral("Impressora virtual"));
    roll_ = new PaperRollWidget(printer_, this);
    // The paper takes the whole width on top and the panel sits beside the
    // log below it, so the window is little wider than the paper and fits
    // beside the main window on a common screen.
    auto* side = new QVBoxLayout;
    side->addWidget(makeLamps());
    side->addWidget(makeControls());
    side->addWidget(makeState());
    side->addLayout(makeButtons());
    side->addStretch(1);
    auto* lower = new QHBoxLayout;
    lower->addLayout(side);
    lower->addLayout(makeLog(), 1);
    auto* top = new QVBoxLayout(this);
    top->addWidget(roll_, 1);
    top->addLayout(lower);
    connectControls();
    // The log is written in batches: a file send delivers a byte at a time.
    logTimer_.setInterval(100);
    logTimer_.setSingleShot(true);
    connect(&logTimer_, &QTimer::timeout, this, &VirtualPrinterWindow::flushLog);
    refresh();
}

QWidget* VirtualPrinterWindow::makeLamps() {
    auto* lamps = new QGroupBox(QStringLiteral("Painel"), this);
    onlineLamp_ = new LampWidget(QStringLiteral("On-line"), QColor(0x2E, 0xC4, 0x4A), lamps);
    paperLamp_ = new LampWidget(QStringLiteral("Papel"), QColor(0x2E, 0xC4, 0x4A), lamps);
    drawerLamp_ = new LampWidget(QStringLiteral("Gaveta"), QColor(0xF2, 0xB1, 0x1C), lamps);
    onlineLamp_->setObjectName(QStringLiteral("OnlineLamp"));
    paperLamp_->setObjectName(QStringLiteral("PaperLamp"));
    drawerLamp_->setObjectName(QStringLiteral("DrawerLamp"));
    auto* lampRow = new QHBoxLayout(lamps);
    lampRow->addWidget(onlineLamp_);
    lampRow->addWidget(paperLamp_);
    lampRow->addWidget(drawerLamp_);
    return lamps;
}

QWidget* VirtualPrinterWindow::makeControls() {
    auto* controls = new QGroupBox(QStringLiteral("Controles"), this);
    paperOut_ = new QCheckBox(QStringLiteral("Sem papel"), controls);
    offline_ = new QCheckBox(QStringLiteral("Off-line"), controls);
    model_ = new QComboBox(controls);
    model_->addItem(QStringLiteral("Korvexa Dual"));
    model_->addItem(QStringLiteral("Korvex BM 40/48 (compatível)"));
    speed_ = new QSpinBox(controls);
    speed_->setRange(0, int(VirtualPrinter::MaxLinesPerSecond));
    speed_->setSuffix(QStringLiteral(" linhas/s"));
    speed_->setSpecialValueText(QStringLiteral("sem limite")); // 0: as fast as bytes arrive
    buffer_ = new QProgressBar(controls);
    buffer_->setFormat(QStringLiteral("%v de %m bytes"));
    paperOut_->setObjectName(QStringLiteral("PaperOutSwitch"));
    offline_->setObjectName(QStringLiteral("OfflineSwitch"));
    model_->setObjectName(QStringLiteral("ModelSwitch"));
    speed_->setObjectName(QStringLiteral("PrintSpeed"));
    buffer_->setObjectName(QStringLiteral("BufferFill"));
    auto* form = new QFormLayout(controls);
    form->addRow(paperOut_);
    form->addRow(offline_);
    form->addRow(QStringLiteral("Modelo:"), model_);
    form->addRow(QStringLiteral("Velocidade:"), speed_);
    form->addRow(QStringLiteral("Buffer:"), buffer_);
    return controls;
}

QWidget* VirtualPrinterWindow::makeState() {
    auto* state = new QGroupBox(QStringLiteral("Estado"), this);
    settings_ = new QLabel(state);
    settings_->setObjectName(QStringLiteral("PrinterSettings"));
    settings_->setTextFormat(Qt::PlainText);
    (new QVBoxLayout(state))->addWidget(settings_);
    return state;
}

QLayout* VirtualPrinterWindow::makeButtons() {
    clearButton_ = new QPushButton(QStringLiteral("Limpar papel"), this);
    saveButton_ = new QPushButton(QStringLiteral("Salvar PNG..."), this);
    resetButton_ = new QPushButton(QStringLiteral("Reset"), this);
    feedButton_ = new QPushButton(QStringLiteral("Avanço"), this);
    feedButton_->setObjectName(QStringLiteral("FeedKey"));
    feedButton_->setToolTip(
        QStringLiteral("A tecla de avanço do painel: uma linha em branco, com o teclado ligado"));
    clearButton_->setObjectName(QStringLiteral("ClearPaperButton"));
    saveButton_->setObjectName(QStringLiteral("SavePngButton"));
    resetButton_->setObjectName(QStringLiteral("ResetButton"));
    resetButton_->setToolTip(
        QStringLiteral("Desliga e liga a impressora: esvazia o buffer, sai do modo dump e "
                       "apaga os caracteres programados"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(feedButton_);
    buttons->addWidget(clearButton_);
    buttons->addWidget(saveButton_);
    buttons->addWidget(resetButton_);
    return buttons;
}

QLayout* VirtualPrinterWindow::makeLog() {
    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("ByteLog"));
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(5000);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    log_->setMinimumHeight(120);
    auto* logColumn = new QVBoxLayout;
    logColumn->addWidget(new QLabel(QStringLiteral("Bytes recebidos (←) e enviados (→):"), this));
    logColumn->addWidget(log_, 1);
    return logColumn;
}

void VirtualPrinterWindow::connectControls() {
    connect(paperOut_, &QCheckBox::toggled, printer_, &VirtualPrinter::setPaperOut);
    connect(offline_, &QCheckBox::toggled, printer_, &VirtualPrinter::setOffline);
    connect(model_, &QComboBox::currentIndexChanged, this, [this](int index) {
        printer_->setModel(index == 1 ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    });
    connect(speed_, &QSpinBox::valueChanged, this,
            [this](int lines) { printer_->setLinesPerSecond(lines); });
    connect(clearButton_, &QPushButton::clicked, printer_, &VirtualPrinter::clearPaper);
    connect(saveButton_, &QPushButton::clicked, this, &VirtualPrinterWindow::savePaperClicked);
    connect(resetButton_, &QPushButton::clicked, printer_, &VirtualPrinter::powerReset);
    connect(feedButton_, &QPushButton::clicked, printer_, &VirtualPrinter::pressFeedKey);
    connect(printer_, &VirtualPrinter::stateChanged, this, &VirtualPrinterWindow::refresh);
    connect(printer_, &VirtualPrinter::logged, this, &VirtualPrinterWindow::logged);
}

void VirtualPrinterWindow::refresh() {
    onlineLamp_->setOn(!printer_->offline());
    paperLamp_->setOn(!printer_->paperOut());
    drawerLamp_->setOn(printer_->drawerOpen());
    const QSignalBlocker b1(paperOut_), b2(offline_), b3(model_), b4(speed_);
    paperOut_->setChecked(printer_->paperOut());
    offline_->setChecked(printer_->offline());
    model_->setCurrentIndex(printer_->model() == PrinterModel::Compatible ? 1 : 0);
    const double lines = printer_->linesPerSecond();
    speed_->setValue(lines > 0 ? std::max(1, int(std::lround(lines))) : 0);
    buffer_->setRange(0, printer_->bufferSize());
    buffer_->setValue(printer_->bufferFill());
    settings_->setText(settingsText(*printer_));
}

void VirtualPrinterWindow::logged(const PrinterLogEntry& entry) {
    pendingLog_.append({QTime::currentTime(), entry});
    if (!logTimer_.isActive())
        logTimer_.start();
}

void VirtualPrinterWindow::flushLog() {
    QStringList lines;
    QByteArray gathered;
    QTime gatheredAt;
    const auto flushGathered = [&] {
        for (qsizetype i = 0; i < gathered.size(); i += LogBytesPerLine)
            lines << QStringLiteral("%1  ← %2")
                         .arg(gatheredAt.toString(QStringLiteral("HH:mm:ss.zzz")),
                              hexText(gathered.mid(i, LogBytesPerLine)));
        gathered.clear();
    };
    for (const Pending& p : std::as_const(pendingLog_)) {
        const QString time = p.time.toString(QStringLiteral("HH:mm:ss.zzz"));
        switch (p.entry.kind) {
        case PrinterLogEntry::Kind::Received:
            if (gathered.isEmpty())
                gatheredAt = p.time;
            gathered += p.entry.bytes;
            continue;
        case PrinterLogEntry::Kind::Sent:
            flushGathered();
            lines << QStringLiteral("%1  → %2").arg(time, hexText(p.entry.bytes));
            continue;
        case PrinterLogEntry::Kind::Command:
        case PrinterLogEntry::Kind::Event:
            flushGathered();
            lines << QStringLiteral("%1    %2").arg(time, p.entry.text);
            continue;
        case PrinterLogEntry::Kind::Warning:
            flushGathered();
            lines << QStringLiteral("%1  ! %2").arg(time, p.entry.text);
            continue;
        }
    }
    flushGathered();
    pendingLog_.clear();
    for (const QString& line : std::as_const(lines))
        log_->appendPlainText(line);
}

QStringList VirtualPrinterWindow::logLines() {
    flushLog();
    return log_->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A long roll is saved as pages (PaperPages.h), as tellumo-printer saves it,
// in the window's look at twice its zoom.
bool VirtualPrinterWindow::savePaper(const QString& path) {
    PaperPages pages(path, PaperPages::LargestScale);
    for (const PaperLine& line : printer_->paper().lines())
        pages.add(line);
    if (pages.finish(0))
        return true;
    Messages::warningBox(QStringLiteral("Não foi possível salvar o papel em %1.").arg(path));
    return false;
}

void VirtualPrinterWindow::savePaperClicked() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Salvar o papel como PNG"),
                                     QStringLiteral("papel.png"), QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty())
        savePaper(path);
}
