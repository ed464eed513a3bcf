#pragma once

// The day plot: the MOF and LOF of every scaled trace against UTC time over one day (0 to 24 h),
// trace 1 large and the others small, one colour per sounder, with a legend and the amateur HF
// bands of the user's IARU region as faint strips, so that a ham sees at a glance which bands
// were open and when. Painted with QPainter into an image, without a window, as the ionogram is.

#include "core/status.h"
#include "ionogram/dayfile.h"
#include "ionogram/ionogramchoice.h"

#include <QImage>
#include <QPointF>
#include <QSize>
#include <vector>

namespace ionogram {

constexpr QSize kDayPlotSize{1200, 700};

struct AmateurBand {
    const char* name; // "80 m"
    double lowKhz;
    double highKhz;
};

// The HF bands (160 to 10 m) of IARU region 1, 2 or 3; region 1's for any other number.
std::vector<AmateurBand> AmateurBands(int iaruRegion);

// Where a sweep at hoursUtc (0 to 24) with a frequency of mhz lies in a picture of size.
QPointF DayPlotPoint(QSize size, double hoursUtc, double mhz);

// What the plot marks for each trace: its MOF and LOF, or foF2 over the path's midpoint (rows
// without one, and E modes, are left out).
enum class DayQuantity { Mof, MidpointFoF2 };

// The picture of one UTC day's rows. Text needs a QGuiApplication (the windowless station runs
// one on the offscreen platform); without one only the marks, bands and frame are painted.
QImage RenderDayPlot(const std::vector<DayRow>& rows, const QDate& dayUtc, int iaruRegion,
                     QSize size = kDayPlotSize, DayQuantity quantity = DayQuantity::Mof);

// Reads the day file of dayUtc in folder and writes scaled-YYYY-MM-DD.png beside it, whole.
Status WriteDayPlot(const QString& folder, const QDate& dayUtc, int iaruRegion);

} // namespace ionogram
