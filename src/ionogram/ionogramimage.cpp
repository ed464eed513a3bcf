#include "ionogram/ionogramimage.h"

#include "core/units.h"

#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>

namespace ionogram {

namespace {

// matplotlib's viridis at 0, 0.1, ... 1.
constexpr std::array<QRgb, 11> kViridis = {0x440154, 0x482475, 0x414487, 0x355f8d,
                                           0x2a788e, 0x21918c, 0x22a884, 0x44bf70,
                                           0x7ad151, 0xbddf26, 0xfde725};
constexpr QRgb kNoAudio = 0xd0d0d0;
constexpr QRgb kBackground = 0xffffff;
constexpr QRgb kReceiving = 0xff2020; // outline of the column being received: no viridis hue
// The picture's parts in line heights of its font (15 pixels in the archive's PNG).
constexpr double kMarginLeft = 4.7;
constexpr double kMarginRight = 11.3;
constexpr double kMarginTop = 3.3;
constexpr double kMarginBottom = 3.7;
constexpr double kTickLength = 0.33;
constexpr double kLabelGap = 0.27;
constexpr double kBarWidth = 1.2;
constexpr double kBarGap = 5.3; // from the plot's right edge to the colour bar
constexpr double kFrequencyLabelWidth = 5.3;
constexpr double kPathLabelWidth = 4;
constexpr double kBarLabelWidth = 3.3;
constexpr int kPlainLineHeight = 15; // without fonts (no QGuiApplication)
constexpr double kFrequencyTickMhz = 2;
constexpr double kDefaultLowMhz = SounderProfile{}.lowFrequency / units::kKilohertzPerMegahertz;
constexpr double kDefaultHighMhz = SounderProfile{}.highFrequency / units::kKilohertzPerMegahertz;
constexpr int kWantedTicks = 8;
constexpr double kBarStepDb = 10;
constexpr double kTickSlack = 1e-9; // so a tick at the range's end is drawn despite rounding

// A round step (1, 2 or 5 times a power of ten) giving about `wanted` ticks over span.
double TickStep(double span, int wanted) {
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (raw <= factor * power) {
            return factor * power;
        }
    }
    return 10 * power;
}

} // namespace

QRgb Viridis(double fraction) {
    const double position = std::clamp(fraction, 0.0, 1.0) * (kViridis.size() - 1);
    const auto below = std::min<std::size_t>(std::size_t(position), kViridis.size() - 2);
    const double t = position - double(below);
    auto mix = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    const QRgb a = kViridis[below];
    const QRgb b = kViridis[below + 1];
    return qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
}

QString IonogramTitle(const IonogramSweep& sweep) {
    const QString start = sweep.startUtc.isValid()
                              ? sweep.startUtc.toUTC().toString("yyyy-MM-dd HH:mm:ss") + " UTC"
                              : QString("(no steps)");
    const QString profile = sweep.profile.isEmpty() ? QString() : ", " + sweep.profile;
    return QString("Ionogram, chirp time %1 s%2, sweep from %3")
        .arg(QString::number(sweep.chirpTime, 'g', 10), profile, start);
}

double IonogramLayout::XOf(double mhz) const {
    return plot.left() + (mhz - lowMhz) / (highMhz - lowMhz) * plot.width();
}

double IonogramLayout::YOf(double ms) const {
    return plot.bottom() - (ms - fromMs) / (toMs - fromMs) * plot.height();
}

QRect IonogramLayout::Strip(double frequencyKhz) const {
    const int left =
        int(std::floor(XOf((frequencyKhz - stepKhz / 2) / units::kKilohertzPerMegahertz)));
    const int right =
        int(std::floor(XOf((frequencyKhz + stepKhz / 2) / units::kKilohertzPerMegahertz)));
    return QRect(left, plot.top(), std::max(1, right - left), plot.height());
}

QRect IonogramLayout::CellRect(double frequencyKhz, int cell) const {
    const QRect strip = Strip(frequencyKhz);
    const int row = cells - 1 - cell; // from the top
    const int top = plot.top() + int(std::ceil(double(row) * plot.height() / cells));
    const int bottom = plot.top() + int(std::ceil(double(row + 1) * plot.height() / cells));
    return QRect(strip.left(), top, strip.width(), std::max(1, bottom - top));
}

IonogramLayout LayoutIonogram(const QRect& area, int lineHeight, const IonogramSweep& sweep) {
    IonogramLayout layout;
    const auto em = [lineHeight](double lines) { return int(std::lround(lines * lineHeight)); };
    layout.plot = QRect(area.left() + em(kMarginLeft), area.top() + em(kMarginTop),
                        std::max(1, area.width() - em(kMarginLeft) - em(kMarginRight)),
                        std::max(1, area.height() - em(kMarginTop) - em(kMarginBottom)));

    // Frequency axis: the swept band, each step a strip as wide as the step.
    const std::vector<double>& khz = sweep.frequenciesKhz;
    layout.stepKhz = SounderProfile{}.stepSize;
    if (khz.size() >= 2) {
        layout.stepKhz = std::max(1.0, (khz.back() - khz.front()) / double(khz.size() - 1));
    }
    const bool band = sweep.highKhz > sweep.lowKhz;
    layout.lowMhz = band ? sweep.lowKhz / units::kKilohertzPerMegahertz : kDefaultLowMhz;
    layout.highMhz = band ? sweep.highKhz / units::kKilohertzPerMegahertz : kDefaultHighMhz;
    if (!khz.empty()) {
        const auto [lo, hi] = std::minmax_element(khz.begin(), khz.end());
        layout.lowMhz =
            std::min(layout.lowMhz, (*lo - layout.stepKhz / 2) / units::kKilohertzPerMegahertz);
        layout.highMhz =
            std::max(layout.highMhz, (*hi + layout.stepKhz / 2) / units::kKilohertzPerMegahertz);
    }
    layout.fromMs = sweep.delayFromMs;
    layout.toMs = sweep.delayToMs;
    layout.cells = std::max(sweep.DelayCount(), 1);
    return layout;
}

std::optional<IonogramCell> CellAt(const IonogramLayout& layout, const IonogramSweep& sweep,
                                   QPoint point) {
    const QRect& plot = layout.plot;
    if (!plot.contains(point)) {
        return std::nullopt;
    }
    for (std::size_t step = 0; step < sweep.frequenciesKhz.size(); ++step) {
        const QRect strip = layout.Strip(sweep.frequenciesKhz[step]);
        if (point.x() >= strip.left() && point.x() <= strip.right()) {
            const int row = (point.y() - plot.top()) * layout.cells / plot.height();
            return IonogramCell{int(step), std::clamp(layout.cells - 1 - row, 0, layout.cells - 1)};
        }
    }
    return std::nullopt;
}

namespace {

// One step's column: a strip image one pixel wide, cell 0 at the bottom, scaled into place.
// *lastRight: the right edge of the column painted before, at a lower frequency; a column moved
// off the grid by less than half a step reaches back to it, so no sliver of background shows
// between neighbours, while a column left out still shows as a gap.
void PaintColumn(QPainter& painter, const IonogramLayout& layout, double frequencyKhz,
                 const std::vector<float>& row, std::optional<int>* lastRight) {
    QImage strip(1, layout.cells, QImage::Format_RGB32);
    const bool usable = IonogramSweep::Usable(row) && int(row.size()) == layout.cells;
    for (int cell = 0; cell < layout.cells; ++cell) {
        const QRgb colour = usable ? Viridis((row[std::size_t(cell)] - kPaletteLowDb) /
                                             (kPaletteHighDb - kPaletteLowDb))
                                   : kNoAudio;
        strip.setPixel(0, layout.cells - 1 - cell, colour);
    }
    QRect area = layout.Strip(frequencyKhz);
    if (*lastRight && **lastRight < area.left() && area.left() - **lastRight < area.width() / 2) {
        area.setLeft(**lastRight);
    }
    *lastRight = area.left() + area.width();
    painter.drawImage(area, strip);
}

// The columns of sweep; where it has none yet, those of the previous sweep at the same
// frequencies (when it covered the same delays).
void PaintColumns(QPainter& painter, const IonogramLayout& layout, const IonogramSweep& sweep,
                  const IonogramSweep* previous) {
    const bool samePlot = previous != nullptr && previous->delayFromMs == sweep.delayFromMs &&
                          previous->delayToMs == sweep.delayToMs;
    std::vector<double> shown; // frequencies with a column of the previous sweep
    std::optional<int> lastRight;
    if (samePlot) {
        const std::size_t steps = std::min(previous->frequenciesKhz.size(), previous->snrDb.size());
        for (std::size_t step = 0; step < steps; ++step) {
            if (IonogramSweep::Usable(previous->snrDb[step])) {
                PaintColumn(painter, layout, previous->frequenciesKhz[step], previous->snrDb[step],
                            &lastRight);
                shown.push_back(previous->frequenciesKhz[step]);
            }
        }
    }
    lastRight.reset();
    const double half = layout.stepKhz / 2;
    const std::size_t steps = std::min(sweep.frequenciesKhz.size(), sweep.snrDb.size());
    for (std::size_t step = 0; step < steps; ++step) {
        const double khz = sweep.frequenciesKhz[step];
        const bool covered = std::any_of(
            shown.begin(), shown.end(), [khz, half](double f) { return std::abs(f - khz) < half; });
        if (IonogramSweep::Usable(sweep.snrDb[step]) || !covered) {
            PaintColumn(painter, layout, khz, sweep.snrDb[step], &lastRight);
        }
    }
}

void PaintLabels(QPainter& painter, const QRect& area, const IonogramLayout& layout,
                 const IonogramSweep& sweep) {
    const QRect& plot = layout.plot;
    const int textHeight = painter.fontMetrics().height();
    const auto em = [textHeight](double lines) { return int(std::lround(lines * textHeight)); };
    const int tick = std::max(1, em(kTickLength));
    const int gap = em(kLabelGap);

    // Frequency ticks every 2 MHz.
    for (double mhz = std::ceil(layout.lowMhz / kFrequencyTickMhz) * kFrequencyTickMhz;
         mhz <= layout.highMhz; mhz += kFrequencyTickMhz) {
        const int x = int(std::lround(layout.XOf(mhz)));
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + tick);
        const int width = em(kFrequencyLabelWidth);
        painter.drawText(QRect(x - width / 2, plot.bottom() + tick, width, textHeight),
                         Qt::AlignHCenter | Qt::AlignTop, QString::number(mhz, 'g', 4));
    }
    painter.drawText(
        QRect(plot.left(), plot.bottom() + tick + textHeight, plot.width(), textHeight + gap),
        Qt::AlignHCenter | Qt::AlignBottom, "Frequency (MHz)");

    // Delay on the left, one-way path on the right.
    const double fromMs = layout.fromMs;
    const double toMs = layout.toMs;
    const double msStep = TickStep(toMs - fromMs, kWantedTicks);
    for (double ms = std::ceil(fromMs / msStep) * msStep; ms <= toMs + kTickSlack; ms += msStep) {
        const int y = int(std::lround(layout.YOf(ms)));
        painter.drawLine(plot.left() - tick, y, plot.left(), y);
        painter.drawText(QRect(area.left(), y - textHeight / 2,
                               plot.left() - area.left() - tick - gap, textHeight),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(ms, 'g', 4));
    }
    const double kmStep = TickStep((toMs - fromMs) * kKmPerMs, kWantedTicks);
    for (double km = std::ceil(fromMs * kKmPerMs / kmStep) * kmStep; km <= toMs * kKmPerMs;
         km += kmStep) {
        const int y = int(std::lround(layout.YOf(km / kKmPerMs)));
        painter.drawLine(plot.right(), y, plot.right() + tick, y);
        painter.drawText(
            QRect(plot.right() + tick + gap, y - textHeight / 2, em(kPathLabelWidth), textHeight),
            Qt::AlignLeft | Qt::AlignVCenter, QString::number(km, 'g', 5));
    }
    painter.save();
    painter.translate(area.left() + textHeight, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, -textHeight, plot.height(), textHeight),
                     Qt::AlignCenter, "Group delay (ms)");
    painter.restore();
    painter.save();
    painter.translate(plot.right() + em(kBarGap) - gap, plot.center().y());
    painter.rotate(90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), textHeight), Qt::AlignCenter,
                     "One-way path c\u00b7\u03c4 (km)");
    painter.restore();

    // Colour bar.
    const QRect bar(plot.right() + em(kBarGap), plot.top(), std::max(1, em(kBarWidth)),
                    plot.height());
    for (int y = bar.top(); y <= bar.bottom(); ++y) {
        painter.setPen(QColor(Viridis(double(bar.bottom() - y) / bar.height())));
        painter.drawLine(bar.left(), y, bar.right(), y);
    }
    painter.setPen(Qt::black);
    painter.drawRect(bar);
    for (double db = kPaletteLowDb; db <= kPaletteHighDb; db += kBarStepDb) {
        const int y = int(std::lround(
            bar.bottom() - (db - kPaletteLowDb) / (kPaletteHighDb - kPaletteLowDb) * bar.height()));
        painter.drawLine(bar.right(), y, bar.right() + tick, y);
        painter.drawText(
            QRect(bar.right() + tick + gap, y - textHeight / 2, em(kBarLabelWidth), textHeight),
            Qt::AlignLeft | Qt::AlignVCenter, QString::number(db) + " dB");
    }

    painter.save();
    QFont titleFont = painter.font();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.drawText(QRect(area.left(), area.top(), area.width(), plot.top() - area.top()),
                     Qt::AlignCenter, IonogramTitle(sweep));
    painter.restore();
}

} // namespace

IonogramLayout PaintIonogram(QPainter& painter, const QRect& area, const IonogramSweep& sweep,
                             const IonogramPaintOptions& options) {
    const int lineHeight = options.text ? painter.fontMetrics().height() : kPlainLineHeight;
    const IonogramLayout layout = LayoutIonogram(area, lineHeight, sweep);
    painter.save();
    painter.fillRect(area, QColor(kBackground));
    PaintColumns(painter, layout, sweep, options.previous);
    const int receiving = options.receivingColumn;
    if (receiving >= 0 && receiving < int(sweep.frequenciesKhz.size())) {
        painter.setPen(QPen(QColor(kReceiving), std::max(1, lineHeight / 8)));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(layout.Strip(sweep.frequenciesKhz[std::size_t(receiving)]));
    }
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(layout.plot);
    if (options.text) {
        PaintLabels(painter, area, layout, sweep);
    }
    painter.restore();
    return layout;
}

QImage RenderIonogram(const IonogramSweep& sweep, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    IonogramPaintOptions options;
    // Fonts need a QGuiApplication (offscreen will do): no labels without one.
    options.text = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    PaintIonogram(painter, QRect(QPoint(0, 0), size), sweep, options);
    painter.end();
    return image;
}

} // namespace ionogram
