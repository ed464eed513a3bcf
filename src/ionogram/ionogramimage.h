#pragma once

// The ionogram as a picture: frequency across (MHz), delay up (ms) with the one-way path c·τ in
// km on a second scale, SNR in a perceptually even palette (viridis) with a colour bar, and a
// title with the chirp time, profile and sweep start. One painting function draws it with any
// QPainter into any rectangle, sized by the font, so the archive's PNG and the live window show
// the same picture.

#include "ionogram/ionogram.h"

#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <optional>

class QPainter;

namespace ionogram {

constexpr QSize kIonogramImageSize{1200, 700};
constexpr double kPaletteLowDb = 0; // palette range of SNR
constexpr double kPaletteHighDb = 30;

// Viridis at fraction 0..1 (clamped).
QRgb Viridis(double fraction);

// "Ionogram, chirp time 78 s, Cyprus, sweep from 2026-12-07 10:16:38 UTC".
QString IonogramTitle(const IonogramSweep& sweep);

// Where the plot lies in the picture and its scales: frequency across, delay up.
struct IonogramLayout {
    QRect plot;
    double lowMhz = 0;
    double highMhz = 0;
    double stepKhz = 0; // each step is a strip this wide, centred on its frequency
    double fromMs = 0;
    double toMs = 0;
    int cells = 1; // delay cells of a column, cell 0 at the bottom

    double XOf(double mhz) const;
    double YOf(double ms) const;
    // The strip of pixels a step's column fills: whole pixels, each strip ending where the next
    // begins, so there are no seams.
    QRect Strip(double frequencyKhz) const;
    // The rows of the plot a delay cell fills (cell 0 at the bottom).
    QRect CellRect(double frequencyKhz, int cell) const;
};

// The layout of sweep's picture in area, with margins in units of the font's line height. The
// frequency axis spans the sweep's band (2 to 30 MHz when it has none) and every step's strip.
IonogramLayout LayoutIonogram(const QRect& area, int lineHeight, const IonogramSweep& sweep);

// The step and delay cell under a point, or nothing outside the plot and its columns.
struct IonogramCell {
    int step = 0;
    int cell = 0;
};
std::optional<IonogramCell> CellAt(const IonogramLayout& layout, const IonogramSweep& sweep,
                                   QPoint point);

struct IonogramPaintOptions {
    int receivingColumn = -1; // the step being received, marked with a line; -1 for none
    // The last complete sweep, shown where sweep has no column yet.
    const IonogramSweep* previous = nullptr;
    // Labels need fonts, which need a QGuiApplication; without one only columns and frames.
    bool text = true;
};

// Paints the whole picture into area with painter's font; returns the layout used.
IonogramLayout PaintIonogram(QPainter& painter, const QRect& area, const IonogramSweep& sweep,
                             const IonogramPaintOptions& options = {});

// The picture for the archive. Text needs a QGuiApplication (a windowless station runs one on
// the offscreen platform); under a QCoreApplication only the columns and the frame are painted.
QImage RenderIonogram(const IonogramSweep& sweep, QSize size = kIonogramImageSize);

} // namespace ionogram
