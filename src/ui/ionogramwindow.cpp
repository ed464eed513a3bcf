#include "ui/ionogramwindow.h"

#include "core/units.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

namespace {

// The window's first size, in lines of its font: room for 280 columns and 400 delay cells.
constexpr int kWidthLines = 64;
constexpr int kHeightLines = 36;
constexpr int kMinimumWidthLines = 30;
constexpr int kMinimumHeightLines = 18;

const QString kHint = QStringLiteral("Point at the ionogram to read a cell's frequency, delay and "
                                     "SNR.");

} // namespace

// The painted ionogram; the window does the painting and reads the pointer.
class IonogramCanvas : public QWidget {
public:
    explicit IonogramCanvas(IonogramWindow* window) : QWidget(window), window(window) {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        window->Paint(painter, rect());
    }
    void mouseMoveEvent(QMouseEvent* event) override { window->Point(event->position().toPoint()); }
    void leaveEvent(QEvent*) override { window->Point(std::nullopt); }

private:
    IonogramWindow* window;
};

IonogramWindow::IonogramWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(ionogram::IonogramTitle(sweep));
    canvas = new IonogramCanvas(this);
    canvas->setObjectName(QStringLiteral("canvas"));
    pointed = new QLabel(kHint, this);
    pointed->setObjectName(QStringLiteral("pointed"));
    pointed->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* column = new QVBoxLayout(this);
    column->addWidget(canvas, 1);
    column->addWidget(pointed);
    const int line = fontMetrics().height();
    canvas->setMinimumSize(kMinimumWidthLines * line, kMinimumHeightLines * line);
    resize(kWidthLines * line, kHeightLines * line);
}

QString IonogramWindow::DescribeCell(double frequencyKhz, double delayMs, float snrDb) {
    const QString snr = std::isnan(snrDb) ? QStringLiteral("no audio")
                                          : QStringLiteral("SNR %1 dB").arg(snrDb, 0, 'f', 1);
    return QStringLiteral("%1 MHz, delay %2 ms (%3 km), %4")
        .arg(frequencyKhz / units::kKilohertzPerMegahertz, 0, 'f', 3)
        .arg(delayMs, 0, 'f', 2)
        .arg(delayMs * ionogram::kKmPerMs, 0, 'f', 0)
        .arg(snr);
}

void IonogramWindow::ShowSweep(const ionogram::IonogramSweep& shown, int columnBeingReceived) {
    if (shown.startUtc != sweep.startUtc && !sweep.frequenciesKhz.empty()) {
        previous = std::move(sweep);
    }
    sweep = shown;
    receiving = columnBeingReceived;
    setWindowTitle(ionogram::IonogramTitle(sweep));
    canvas->update();
    Point(pointer);
}

void IonogramWindow::Paint(QPainter& painter, const QRect& area) {
    ionogram::IonogramPaintOptions options;
    options.receivingColumn = receiving;
    options.previous = previous ? &*previous : nullptr;
    layout = ionogram::PaintIonogram(painter, area, sweep, options);
}

void IonogramWindow::Point(std::optional<QPoint> position) {
    pointer = position;
    // The layout of what is on screen; before the first paint, of what will be.
    if (layout.plot.isEmpty() || layout.cells != std::max(sweep.DelayCount(), 1)) {
        layout = ionogram::LayoutIonogram(canvas->rect(), canvas->fontMetrics().height(), sweep);
    }
    // The column on screen: this sweep's, or where it has none yet, the last sweep's.
    const bool previousShown = previous && previous->delayFromMs == sweep.delayFromMs &&
                               previous->delayToMs == sweep.delayToMs;
    std::optional<QString> text;
    std::optional<QString> noAudio;
    for (const ionogram::IonogramSweep* shown : {&sweep, previousShown ? &*previous : nullptr}) {
        if (shown == nullptr || !position) {
            continue;
        }
        const auto cell = ionogram::CellAt(layout, *shown, *position);
        if (!cell || std::size_t(cell->step) >= shown->snrDb.size()) {
            continue;
        }
        const std::size_t step = std::size_t(cell->step);
        const std::vector<float>& row = shown->snrDb[step];
        const double khz = shown->frequenciesKhz[step];
        const double ms = shown->DelayMs(cell->cell);
        if (ionogram::IonogramSweep::Usable(row) && std::size_t(cell->cell) < row.size()) {
            text = DescribeCell(khz, ms, row[std::size_t(cell->cell)]);
            break;
        }
        if (!noAudio) {
            noAudio = DescribeCell(khz, ms, std::nanf(""));
        }
    }
    pointed->setText(text ? *text : noAudio ? *noAudio : kHint);
}
