#include "ionogram/dayplot.h"

#include "core/units.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace ionogram {

namespace {

constexpr double kHoursPerDay = 24;
constexpr double kLowestMhz = 0;
constexpr double kHighestMhz = 30;
constexpr int kHourTick = 3;
constexpr int kMhzTick = 5;
constexpr int kMarginLeft = 60;
constexpr int kMarginRight = 60;
constexpr int kMarginTop = 40;
constexpr int kMarginBottom = 45;
constexpr int kMainMark = 7; // px: trace 1's MOF
constexpr int kOtherMark = 4;
constexpr int kLegendRow = 18;
constexpr int kBandAlpha = 40;

// Colours that stay apart on white, for the sounders in the order they first appear.
constexpr QRgb kSounderColours[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0x9467bd,
                                    0xff7f0e, 0x8c564b, 0xe377c2, 0x17becf};

// The bands shared by all regions, and those that differ (ITU allocations, 160 to 10 m).
const std::vector<AmateurBand> kRegion1 = {{"160 m", 1810, 2000},    {"80 m", 3500, 3800},
                                           {"60 m", 5351.5, 5366.5}, {"40 m", 7000, 7200},
                                           {"30 m", 10100, 10150},   {"20 m", 14000, 14350},
                                           {"17 m", 18068, 18168},   {"15 m", 21000, 21450},
                                           {"12 m", 24890, 24990},   {"10 m", 28000, 29700}};

QRect PlotArea(QSize size) {
    return QRect(kMarginLeft, kMarginTop, size.width() - kMarginLeft - kMarginRight,
                 size.height() - kMarginTop - kMarginBottom);
}

} // namespace

QPointF DayPlotPoint(QSize size, double hoursUtc, double mhz) {
    const QRect plot = PlotArea(size);
    return {plot.left() + plot.width() * hoursUtc / kHoursPerDay,
            plot.bottom() - plot.height() * (mhz - kLowestMhz) / (kHighestMhz - kLowestMhz)};
}

std::vector<AmateurBand> AmateurBands(int iaruRegion) {
    std::vector<AmateurBand> bands = kRegion1;
    if (iaruRegion == 2) {
        bands[0].lowKhz = 1800;
        bands[1].highKhz = 4000;
        bands[3].highKhz = 7300;
    } else if (iaruRegion == 3) {
        bands[0].lowKhz = 1800;
        bands[1].highKhz = 3900;
    }
    return bands;
}

QImage RenderDayPlot(const std::vector<DayRow>& rows, const QDate& dayUtc, int iaruRegion,
                     QSize size, DayQuantity quantity) {
    const bool fof2 = quantity == DayQuantity::MidpointFoF2;
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool text = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    const QRect plot = PlotArea(size);
    auto x = [&](double hours) { return DayPlotPoint(size, hours, 0).x(); };
    auto y = [&](double mhz) { return DayPlotPoint(size, 0, mhz).y(); };

    for (const AmateurBand& band : AmateurBands(iaruRegion)) {
        const double top = y(band.highKhz / units::kKilohertzPerMegahertz);
        const double bottom = y(band.lowKhz / units::kKilohertzPerMegahertz);
        painter.fillRect(QRectF(plot.left(), top, plot.width(), std::max(1.0, bottom - top)),
                         QColor(128, 128, 128, kBandAlpha));
        if (text) {
            painter.setPen(Qt::gray);
            painter.drawText(QPointF(plot.right() + 6, (top + bottom) / 2 + 4), band.name);
        }
    }
    painter.setPen(Qt::black);
    painter.drawRect(plot);
    for (int hour = 0; hour <= kHoursPerDay; hour += kHourTick) {
        painter.drawLine(QPointF(x(hour), plot.bottom()), QPointF(x(hour), plot.bottom() + 5));
        if (text) {
            painter.drawText(QRectF(x(hour) - 30, plot.bottom() + 6, 60, 16), Qt::AlignCenter,
                             QString("%1:00").arg(hour, 2, 10, QChar('0')));
        }
    }
    for (int mhz = int(kLowestMhz); mhz <= kHighestMhz; mhz += kMhzTick) {
        painter.drawLine(QPointF(plot.left() - 5, y(mhz)), QPointF(plot.left(), y(mhz)));
        if (text) {
            painter.drawText(QRectF(plot.left() - 40, y(mhz) - 8, 32, 16),
                             Qt::AlignRight | Qt::AlignVCenter, QString::number(mhz));
        }
    }
    if (text) {
        painter.drawText(QRectF(0, 8, size.width(), 20), Qt::AlignCenter,
                         (fof2 ? QString("foF2 over each path's midpoint on %1 (UTC), from the "
                                         "scaled traces, trace 1 large; MHz")
                               : QString("Scaled ionograms of %1 (UTC): MOF (filled) and LOF "
                                         "(open), trace 1 large; MHz"))
                             .arg(dayUtc.toString("yyyy-MM-dd")));
        painter.drawText(QRectF(0, size.height() - 20, size.width(), 18), Qt::AlignCenter, "UTC");
    }

    QStringList sounders;
    painter.setClipRect(plot.adjusted(-kMainMark, -kMainMark, kMainMark, kMainMark));
    for (const DayRow& row : rows) {
        if (row.sweepStartUtc.toUTC().date() != dayUtc || row.trace.number <= 0 ||
            (fof2 && (std::isnan(row.fof2Mhz) || !row.mode.endsWith('F')))) {
            continue;
        }
        if (!sounders.contains(row.sounder)) {
            sounders.append(row.sounder);
        }
        const QColor colour(
            kSounderColours[sounders.indexOf(row.sounder) % std::size(kSounderColours)]);
        const double hours = row.sweepStartUtc.toUTC().time().msecsSinceStartOfDay() /
                             units::kMillisecondsPerSecond / units::kSecondsPerHour;
        const double radius = (row.trace.number == 1 ? kMainMark : kOtherMark) / 2.0;
        painter.setPen(QPen(colour, 1.5));
        painter.setBrush(colour);
        if (fof2) {
            painter.drawEllipse(QPointF(x(hours), y(row.fof2Mhz)), radius, radius);
            continue;
        }
        painter.drawEllipse(QPointF(x(hours), y(row.trace.mofKhz / units::kKilohertzPerMegahertz)),
                            radius, radius);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPointF(x(hours), y(row.trace.lofKhz / units::kKilohertzPerMegahertz)),
                            radius, radius);
    }
    painter.setClipping(false);
    if (text) {
        for (int i = 0; i < sounders.size(); ++i) {
            const QColor colour(kSounderColours[i % std::size(kSounderColours)]);
            const QPointF at(plot.left() + 12, plot.top() + 14 + i * kLegendRow);
            painter.setPen(colour);
            painter.setBrush(colour);
            painter.drawEllipse(at, kMainMark / 2.0, kMainMark / 2.0);
            painter.setPen(Qt::black);
            painter.drawText(at + QPointF(10, 5), sounders[i]);
        }
    }
    painter.end();
    return image;
}

Status WriteDayPlot(const QString& folder, const QDate& dayUtc, int iaruRegion) {
    const QString path = QDir(folder).filePath(DayPlotName(dayUtc));
    const QImage image = RenderDayPlot(ReadDayFile(folder, dayUtc), dayUtc, iaruRegion);
    QSaveFile file(path);
    if (QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") &&
        file.commit()) {
        return Status::Ok();
    }
    const QString reason = file.errorString();
    return Status::Error(QString("The day plot could not be saved as %1 (%2). Check that the "
                                 "archive folder is writable and the disk has room; it is drawn "
                                 "again after the next sweep.")
                             .arg(QDir::toNativeSeparators(path), reason),
                         QString("day plot not written: %1").arg(reason));
}

} // namespace ionogram
