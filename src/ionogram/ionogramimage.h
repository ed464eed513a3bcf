#pragma once

// The ionogram as a picture: frequency across (MHz), delay up (ms) with the one-way path c·τ in
// km on a second scale, SNR in a perceptually even palette (viridis) with a colour bar, and a
// title with the chirp time, profile and sweep start. Painted with QPainter on a QImage, so a
// station without windows writes the same picture the live window shows.

#include "ionogram/ionogram.h"

#include <QImage>
#include <QRgb>
#include <QSize>

namespace ionogram {

constexpr QSize kIonogramImageSize{1200, 700};
constexpr double kPaletteLowDb = 0; // palette range of SNR
constexpr double kPaletteHighDb = 30;

// Viridis at fraction 0..1 (clamped).
QRgb Viridis(double fraction);

// Text needs a QGuiApplication (a windowless station runs one on the offscreen platform);
// under a QCoreApplication only the columns and the frame are painted.
QImage RenderIonogram(const IonogramSweep& sweep, QSize size = kIonogramImageSize);

} // namespace ionogram
