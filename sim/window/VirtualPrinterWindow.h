#pragma once

#include "sim/printer/VirtualPrinter.h"

#include <QList>
#include <QTime>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class PaperRollWidget;

// A lamp of the printer's panel: a painted round light with its caption.
class LampWidget : public QWidget {
    Q_OBJECT
public:
    LampWidget(const QString& caption, const QColor& colour, QWidget* parent = nullptr);
    void setOn(bool on);
    bool isOn() const { return on_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    QColor colour_;
    bool on_ = false;
};

// "Impressora virtual": the paper roll, the panel's lamps and switches, the
// print speed, and a log of every byte received and sent.
class VirtualPrinterWindow : public QWidget {
    Q_OBJECT
public:
    explicit VirtualPrinterWindow(VirtualPrinter* printer, QWidget* parent = nullptr);

    // The log's lines, everything logged so far included; received bytes are
    // gathered 16 to a line.
    QStringList logLines();
    // Writes the paper as PNG; false, with the operator told why, on failure.
    bool savePaper(const QString& path);

private:
    struct Pending {
        QTime time;
        PrinterLogEntry entry;
    };

    QWidget* makeLamps();
    QWidget* makeControls();
    QWidget* makeState();
    QLayout* makeButtons();
    QLayout* makeLog();
    void connectControls();
    void refresh();
    void logged(const PrinterLogEntry& entry);
    void flushLog();
    void savePaperClicked();

    VirtualPrinter* printer_;
    PaperRollWidget* roll_;
    LampWidget* onlineLamp_;
    LampWidget* paperLamp_;
    LampWidget* drawerLamp_;
    QCheckBox* paperOut_;
    QCheckBox* offline_;
    QComboBox* model_;
    QSpinBox* speed_;
    QProgressBar* buffer_;
    QLabel* settings_;
    QPlainTextEdit* log_;
    QPushButton* clearButton_;
    QPushButton* saveButton_;
    QPushButton* resetButton_;
    QPushButton* feedButton_;
    QList<Pending> pendingLog_;
    QTimer logTimer_;
};
