#include "ionogram/ionogramimage.h"

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
constexpr int kMarginLeft = 70;
constexpr int kMarginRight = 170;
constexpr int kMarginTop = 50;
constexpr int kMarginBottom = 55;
constexpr int kTickLength = 5;
constexpr int kLabelGap = 4;
constexpr int kBarWidth = 18;
constexpr int kBarGap = 80; // from the plot's right edge to the colour bar
constexpr double kFrequencyTickMhz = 2;
constexpr double kDefaultLowMhz = SounderProfile{}.lowFrequency / 1000;
constexpr double kDefaultHighMhz = SounderProfile{}.highFrequency / 1000;
constexpr double kKhzPerMhz = 1000;
constexpr int kWantedTicks = 8;
constexpr double kBarStepDb = 10;

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

QImage RenderIonogram(const IonogramSweep& sweep, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    const QRect plot(kMarginLeft, kMarginTop, size.width() - kMarginLeft - kMarginRight,
                     size.height() - kMarginTop - kMarginBottom);

    // Frequency axis: the swept band, each step a strip as wide as the step.
    const std::vector<double>& khz = sweep.frequenciesKhz;
    double stepKhz = SounderProfile{}.stepSize;
    if (khz.size() >= 2) {
        stepKhz = std::max(1.0, (khz.back() - khz.front()) / double(khz.size() - 1));
    }
    double lowMhz = kDefaultLowMhz;
    double highMhz = kDefaultHighMhz;
    if (!khz.empty()) {
        const auto [lo, hi] = std::minmax_element(khz.begin(), khz.end());
        lowMhz = std::min(lowMhz, (*lo - stepKhz / 2) / kKhzPerMhz);
        highMhz = std::max(highMhz, (*hi + stepKhz / 2) / kKhzPerMhz);
    }
    auto xOf = [&](double mhz) {
        return plot.left() + (mhz - lowMhz) / (highMhz - lowMhz) * plot.width();
    };
    const double fromMs = sweep.delayFromMs;
    const double toMs = sweep.delayToMs;
    auto yOf = [&](double ms) {
        return plot.bottom() - (ms - fromMs) / (toMs - fromMs) * plot.height();
    };

    // The columns: one strip image per step, cell 0 at the bottom.
    const int cells = sweep.DelayCount();
    for (std::size_t step = 0; step < khz.size(); ++step) {
        QImage strip(1, std::max(cells, 1), QImage::Format_RGB32);
        const std::vector<float>& row = sweep.snrDb[step];
        const bool usable = IonogramSweep::Usable(row) && int(row.size()) == cells;
        for (int cell = 0; cell < cells; ++cell) {
            const QRgb colour =
                usable ? Viridis((row[cell] - kPaletteLowDb) / (kPaletteHighDb - kPaletteLowDb))
                       : kNoAudio;
            strip.setPixel(0, cells - 1 - cell, colour);
        }
        // Whole pixels, each strip ending where the next begins: no seams between columns.
        const int left = int(std::floor(xOf((khz[step] - stepKhz / 2) / kKhzPerMhz)));
        const int right = int(std::floor(xOf((khz[step] + stepKhz / 2) / kKhzPerMhz)));
        painter.drawImage(QRect(left, plot.top(), std::max(1, right - left), plot.height()), strip);
    }

    painter.setPen(Qt::black);
    painter.drawRect(plot);
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        painter.end(); // fonts need a QGuiApplication (offscreen will do): no labels without
        return image;
    }
    const QFontMetrics metrics = painter.fontMetrics();
    const int textHeight = metrics.height();

    // Frequency ticks every 2 MHz.
    for (double mhz = std::ceil(lowMhz / kFrequencyTickMhz) * kFrequencyTickMhz; mhz <= highMhz;
         mhz += kFrequencyTickMhz) {
        const int x = int(std::lround(xOf(mhz)));
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + kTickLength);
        const QString label = QString::number(mhz, 'g', 4);
        painter.drawText(QRect(x - 40, plot.bottom() + kTickLength, 80, textHeight),
                         Qt::AlignHCenter | Qt::AlignTop, label);
    }
    painter.drawText(QRect(plot.left(), plot.bottom() + kTickLength + textHeight, plot.width(),
                           textHeight + kLabelGap),
                     Qt::AlignHCenter | Qt::AlignBottom, "Frequency (MHz)");

    // Delay on the left, one-way path on the right.
    const double msStep = TickStep(toMs - fromMs, kWantedTicks);
    for (double ms = std::ceil(fromMs / msStep) * msStep; ms <= toMs + 1e-9; ms += msStep) {
        const int y = int(std::lround(yOf(ms)));
        painter.drawLine(plot.left() - kTickLength, y, plot.left(), y);
        painter.drawText(
            QRect(0, y - textHeight / 2, plot.left() - kTickLength - kLabelGap, textHeight),
            Qt::AlignRight | Qt::AlignVCenter, QString::number(ms, 'g', 4));
    }
    const double kmStep = TickStep((toMs - fromMs) * kKmPerMs, kWantedTicks);
    for (double km = std::ceil(fromMs * kKmPerMs / kmStep) * kmStep; km <= toMs * kKmPerMs;
         km += kmStep) {
        const int y = int(std::lround(yOf(km / kKmPerMs)));
        painter.drawLine(plot.right(), y, plot.right() + kTickLength, y);
        painter.drawText(
            QRect(plot.right() + kTickLength + kLabelGap, y - textHeight / 2, 60, textHeight),
            Qt::AlignLeft | Qt::AlignVCenter, QString::number(km, 'g', 5));
    }
    painter.save();
    painter.translate(textHeight, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, -textHeight, plot.height(), textHeight),
                     Qt::AlignCenter, "Group delay (ms)");
    painter.restore();
    painter.save();
    painter.translate(plot.right() + kBarGap - kLabelGap, plot.center().y());
    painter.rotate(90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), textHeight), Qt::AlignCenter,
                     "One-way path c\u00b7\u03c4 (km)");
    painter.restore();

    // Colour bar.
    const QRect bar(plot.right() + kBarGap, plot.top(), kBarWidth, plot.height());
    for (int y = bar.top(); y <= bar.bottom(); ++y) {
        painter.setPen(QColor(Viridis(double(bar.bottom() - y) / bar.height())));
        painter.drawLine(bar.left(), y, bar.right(), y);
    }
    painter.setPen(Qt::black);
    painter.drawRect(bar);
    for (double db = kPaletteLowDb; db <= kPaletteHighDb; db += kBarStepDb) {
        const int y = int(std::lround(
            bar.bottom() - (db - kPaletteLowDb) / (kPaletteHighDb - kPaletteLowDb) * bar.height()));
        painter.drawLine(bar.right(), y, bar.right() + kTickLength, y);
        painter.drawText(
            QRect(bar.right() + kTickLength + kLabelGap, y - textHeight / 2, 50, textHeight),
            Qt::AlignLeft | Qt::AlignVCenter, QString::number(db) + " dB");
    }

    const QString start = sweep.startUtc.isValid()
                              ? sweep.startUtc.toUTC().toString("yyyy-MM-dd HH:mm:ss") + " UTC"
                              : QString("(no steps)");
    const QString profile = sweep.profile.isEmpty() ? QString() : ", " + sweep.profile;
    QFont titleFont = painter.font();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.drawText(QRect(0, 0, size.width(), kMarginTop), Qt::AlignCenter,
                     QString("Ionogram, chirp time %1 s%2, sweep from %3")
                         .arg(QString::number(sweep.chirpTime, 'g', 10), profile, start));
    painter.end();
    return image;
}

} // namespace ionogram
