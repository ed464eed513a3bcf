#include "ui/ionogramwindow.h"

#include "core/units.h"
#include "ionogram/archive.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
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

const QString kNotScaled = QStringLiteral("Scaled values follow when the sweep is complete.");
const QString kLatestShown = QStringLiteral("Latest sweep. Page Up: archived sweeps of the day.");

// The MOF mark: a triangle this many lines high under the plot, its tip on the bottom edge.
constexpr double kMofMarkLines = 0.7;
// An archived table's name starts with the sweep's start, "20261207-101638": names in this order
// are sweeps in order of start.
constexpr int kStartNameLength = 15;

QString StartKey(const ionogram::IonogramSweep& sweep) {
    return ionogram::ArchiveBaseName(sweep.startUtc, sweep.chirpTime).left(kStartNameLength);
}

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
    scaledValues = new QLabel(kNotScaled, this);
    scaledValues->setObjectName(QStringLiteral("scaledValues"));
    scaledValues->setTextInteractionFlags(Qt::TextSelectableByMouse);
    scaledValues->setWordWrap(true);
    paging = new QLabel(kLatestShown, this);
    paging->setObjectName(QStringLiteral("paging"));
    previousButton = new QPushButton(QStringLiteral("&Previous"), this);
    previousButton->setToolTip(QStringLiteral("The sweep before, from the archive (Page Up)"));
    nextButton = new QPushButton(QStringLiteral("&Next"), this);
    nextButton->setToolTip(QStringLiteral("The sweep after (Page Down)"));
    latestButton = new QPushButton(QStringLiteral("&Latest"), this);
    latestButton->setToolTip(QStringLiteral("The sweep being received (End)"));
    for (QPushButton* button : {previousButton, nextButton, latestButton}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus); // the keys page wherever the focus is
    }
    connect(previousButton, &QPushButton::clicked, this, &IonogramWindow::ShowPrevious);
    connect(nextButton, &QPushButton::clicked, this, &IonogramWindow::ShowNext);
    connect(latestButton, &QPushButton::clicked, this, &IonogramWindow::ShowLatest);
    auto* pager = new QHBoxLayout();
    pager->addWidget(previousButton);
    pager->addWidget(nextButton);
    pager->addWidget(latestButton);
    pager->addWidget(paging, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(pager);
    column->addWidget(scaledValues);
    column->addWidget(canvas, 1);
    column->addWidget(pointed);
    const int line = fontMetrics().height();
    canvas->setMinimumSize(kMinimumWidthLines * line, kMinimumHeightLines * line);
    resize(kWidthLines * line, kHeightLines * line);
    ShowLatest();
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

QString IonogramWindow::ScaledText(const ionogram::ScaledSweep& scaled) {
    QStringList traces;
    for (const ionogram::ScaledTrace& trace : scaled.traces) {
        traces.append(QStringLiteral("%1: MOF %2 MHz, %3 ms")
                          .arg(trace.number)
                          .arg(trace.mofKhz / units::kKilohertzPerMegahertz, 0, 'f', 2)
                          .arg(trace.minDelayMs, 0, 'f', 2));
    }
    return traces.isEmpty() ? QStringLiteral("no trace") : traces.join(QStringLiteral(";  "));
}

void IonogramWindow::SetArchiveFolder(const QString& archiveFolder) {
    folder = archiveFolder;
}

void IonogramWindow::ShowSweep(const ionogram::IonogramSweep& shown, int columnBeingReceived) {
    if (shown.startUtc != sweep.startUtc) {
        if (!sweep.frequenciesKhz.empty()) {
            previous = std::move(sweep);
        }
        liveScaled.reset();
    }
    sweep = shown;
    receiving = columnBeingReceived;
    if (archived) {
        return; // kept for ShowLatest
    }
    setWindowTitle(ionogram::IonogramTitle(sweep));
    ShowScaledValues();
    canvas->update();
    Point(pointer);
}

void IonogramWindow::ShowScaled(const ionogram::IonogramSweep& scaledSweep,
                                const ionogram::ScaledSweep& scaled) {
    if (scaledSweep.startUtc != sweep.startUtc) {
        return;
    }
    liveScaled = scaled;
    if (!archived) {
        ShowScaledValues();
        canvas->update();
    }
}

void IonogramWindow::ShowPrevious() {
    Page(false);
}

void IonogramWindow::ShowNext() {
    Page(true);
}

void IonogramWindow::ShowLatest() {
    archived.reset();
    paging->setText(kLatestShown);
    nextButton->setEnabled(false);
    latestButton->setEnabled(false);
    setWindowTitle(ionogram::IonogramTitle(sweep));
    ShowScaledValues();
    canvas->update();
    Point(pointer);
}

void IonogramWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageUp:
        ShowPrevious();
        break;
    case Qt::Key_PageDown:
        ShowNext();
        break;
    case Qt::Key_End:
        ShowLatest();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

const ionogram::IonogramSweep& IonogramWindow::Shown() const {
    return archived ? *archived : sweep;
}

void IonogramWindow::Page(bool forward) {
    const ionogram::IonogramSweep& shown = Shown();
    // The day of the sweep on screen; before any sweep, today's.
    const QDate day = shown.startUtc.isValid() ? shown.startUtc.toUTC().date()
                                               : QDateTime::currentDateTimeUtc().date();
    const QString key = shown.startUtc.isValid() ? StartKey(shown) : QStringLiteral("~");
    const QStringList tables = ionogram::ArchivedTables(folder, day);
    // The live sweep's own table (once archived) is the latest, not a page before it.
    QStringList pages;
    for (const QString& path : tables) {
        const QString start = QFileInfo(path).fileName().left(kStartNameLength);
        if (forward ? start > key : start < key) {
            pages.append(path);
        }
    }
    const QString dayText = day.toString(Qt::ISODate);
    if (pages.isEmpty()) {
        if (forward) {
            ShowLatest();
        } else {
            paging->setText(QStringLiteral("No earlier sweep archived on %1 in %2.")
                                .arg(dayText, QDir::toNativeSeparators(folder)));
        }
        return;
    }
    // The nearest table that reads; damaged ones are passed over and named.
    QStringList damaged;
    std::optional<ionogram::IonogramSweep> read;
    QString path;
    for (qsizetype i = 0; i < pages.size() && !read; ++i) {
        path = forward ? pages[i] : pages[pages.size() - 1 - i];
        read = ionogram::ReadArchivedTable(path);
        if (!read) {
            damaged.append(QDir::toNativeSeparators(path));
        }
    }
    const QString unread =
        damaged.isEmpty() ? QString()
                          : QStringLiteral(" Not readable (damaged, or not an ionogram table): %1.")
                                .arg(damaged.join(QStringLiteral(", ")));
    if (!read) {
        paging->setText(unread.trimmed());
        return;
    }
    archived = std::move(read);
    archivedScaled = ionogram::ScaleSweep(*archived);
    paging->setText(QStringLiteral("Archived sweep %1 of %2 on %3.%4")
                        .arg(tables.indexOf(path) + 1)
                        .arg(tables.size())
                        .arg(dayText, unread));
    nextButton->setEnabled(true);
    latestButton->setEnabled(true);
    setWindowTitle(ionogram::IonogramTitle(*archived));
    ShowScaledValues();
    canvas->update();
    Point(pointer);
}

void IonogramWindow::ShowScaledValues() {
    const ionogram::ScaledSweep* scaled = archived     ? &archivedScaled
                                          : liveScaled ? &*liveScaled
                                                       : nullptr;
    scaledValues->setText(scaled ? ScaledText(*scaled) : kNotScaled);
}

void IonogramWindow::Paint(QPainter& painter, const QRect& area) {
    ionogram::IonogramPaintOptions options;
    options.receivingColumn = archived ? -1 : receiving;
    options.previous = previous && !archived ? &*previous : nullptr;
    layout = ionogram::PaintIonogram(painter, area, Shown(), options);
    PaintMofMarks(painter);
}

void IonogramWindow::PaintMofMarks(QPainter& painter) const {
    const ionogram::ScaledSweep* scaled = archived     ? &archivedScaled
                                          : liveScaled ? &*liveScaled
                                                       : nullptr;
    if (scaled == nullptr) {
        return;
    }
    const double height = kMofMarkLines * fontMetrics().height();
    const double bottom = layout.plot.bottom() + 1;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(kMofMarkColour));
    for (const ionogram::ScaledTrace& trace : scaled->traces) {
        const double x = layout.XOf(trace.mofKhz / units::kKilohertzPerMegahertz);
        const QPointF tip(x, bottom);
        const QPointF corners[] = {tip, tip + QPointF(-height / 2, height),
                                   tip + QPointF(height / 2, height)};
        painter.drawPolygon(corners, 3);
    }
    painter.restore();
}

void IonogramWindow::Point(std::optional<QPoint> position) {
    pointer = position;
    // The layout of what is on screen; before the first paint, of what will be.
    const ionogram::IonogramSweep& onScreen = Shown();
    if (layout.plot.isEmpty() || layout.cells != std::max(onScreen.DelayCount(), 1)) {
        layout = ionogram::LayoutIonogram(canvas->rect(), canvas->fontMetrics().height(), onScreen);
    }
    // The column on screen: this sweep's, or where it has none yet, the last sweep's.
    const bool previousShown = !archived && previous &&
                               previous->delayFromMs == sweep.delayFromMs &&
                               previous->delayToMs == sweep.delayToMs;
    std::optional<QString> text;
    std::optional<QString> noAudio;
    const ionogram::IonogramSweep* last = previousShown ? &*previous : nullptr;
    for (const ionogram::IonogramSweep* shown : {&onScreen, last}) {
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
