#pragma once

// The live ionogram: the sweep being received, column by column, over the last complete one,
// painted by the same function as the archive's picture and sized by the font, so it follows
// the screen's resolution. Pointing at a cell shows its frequency, delay and SNR underneath.

#include "ionogram/ionogram.h"
#include "ionogram/ionogramimage.h"

#include <QWidget>
#include <optional>

class QLabel;

class IonogramWindow : public QWidget {
    Q_OBJECT
public:
    explicit IonogramWindow(QWidget* parent = nullptr);

    // "7.300 MHz, delay 5.00 ms (1499 km), SNR 30.0 dB"; "no audio" in place of a NaN SNR.
    static QString DescribeCell(double frequencyKhz, double delayMs, float snrDb);

    // What the pointer is over; a hint while it is over no cell.
    QLabel* pointed = nullptr;
    // The picture itself.
    QWidget* canvas = nullptr;

public slots:
    // The sweep as it stands, columnBeingReceived marked (-1: none). A sweep with another start
    // than the one shown replaces it, and the one shown is kept as the last complete sweep.
    void ShowSweep(const ionogram::IonogramSweep& sweep, int columnBeingReceived);

private:
    friend class IonogramCanvas;
    void Paint(QPainter& painter, const QRect& area);
    void Point(std::optional<QPoint> position);

    ionogram::IonogramSweep sweep;
    std::optional<ionogram::IonogramSweep> previous;
    int receiving = -1;
    ionogram::IonogramLayout layout; // as last painted, for pointing
    std::optional<QPoint> pointer;
};
