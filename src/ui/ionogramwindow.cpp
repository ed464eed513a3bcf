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
#include <QSignalBlocker>
#include <QTabBar>
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
// How long the window's size must stay put before the stretched picture is painted whole again.
constexpr int kResizeSettledMs = 150;

QString StartKey(const ionogram::IonogramSweep& sweep) {
    return ionogram::ArchiveBaseName(sweep.startUtc, sweep.chirpTime).left(kStartNameLength);
}

// The end of an archived table's name that names its sounder: "-NAME.csv.gz", the name as the
// archive writes it.
QString SounderEnding(const QString& sounder) {
    const QDateTime any = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    return ionogram::ArchiveBaseName(any, 0, sounder)
               .mid(ionogram::ArchiveBaseName(any, 0).size()) +
           QStringLiteral(".csv.gz");
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
    sounderTabs = new QTabBar(this);
    sounderTabs->setObjectName(QStringLiteral("sounderTabs"));
    sounderTabs->setToolTip(QStringLiteral("The sounder whose ionogram is shown"));
    sounderTabs->setExpanding(false);
    sounderTabs->hide();
    connect(sounderTabs, &QTabBar::currentChanged, this, &IonogramWindow::ChooseTab);
    canvas = new IonogramCanvas(this);
    canvas->setObjectName(QStringLiteral("canvas"));
    settled.setSingleShot(true);
    settled.setInterval(kResizeSettledMs);
    connect(&settled, &QTimer::timeout, this, &IonogramWindow::Repaint);
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
    column->addWidget(sounderTabs);
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
    for (std::size_t i = 0; i < scaled.traces.size(); ++i) {
        const ionogram::ScaledTrace& trace = scaled.traces[i];
        // The mode beside the trace where the path is known and the trace says what it is.
        const bool moded = scaled.geometry && i < scaled.geometry->layers.size() &&
                           scaled.geometry->layers[i].error.empty();
        traces.append(QStringLiteral("%1: %2MOF %3 MHz, %4 ms")
                          .arg(trace.number)
                          .arg(moded ? QString::fromStdString(scaled.geometry->layers[i].mode) +
                                           QLatin1Char(' ')
                                     : QString())
                          .arg(trace.mofKhz / units::kKilohertzPerMegahertz, 0, 'f', 2)
                          .arg(trace.minDelayMs, 0, 'f', 2));
    }
    return traces.isEmpty() ? QStringLiteral("no trace") : traces.join(QStringLiteral(";  "));
}

void IonogramWindow::SetArchiveFolder(const QString& archiveFolder) {
    folder = archiveFolder;
}

void IonogramWindow::SetSounders(const QStringList& names) {
    const QString chosen = ShownSounder();
    sounders = names.size() >= 2 ? names : QStringList();
    // The live sweeps of sounders no longer followed go; with one or none, all share one place.
    for (auto it = lives.begin(); it != lives.end();) {
        it = it->first.isEmpty() || sounders.contains(it->first) ? std::next(it) : lives.erase(it);
    }
    {
        const QSignalBlocker quiet(sounderTabs);
        while (sounderTabs->count() > 0) {
            sounderTabs->removeTab(0);
        }
        for (const QString& name : sounders) {
            sounderTabs->addTab(name);
        }
        sounderTabs->setCurrentIndex(std::max(0, static_cast<int>(sounders.indexOf(chosen))));
    }
    sounderTabs->setVisible(!sounders.isEmpty());
    if (ShownSounder() != chosen) {
        ShowLatest();
    }
}

QString IonogramWindow::ShownSounder() const {
    return sounders.value(sounderTabs->currentIndex());
}

IonogramWindow::Live* IonogramWindow::LiveOf(const QString& sounder) {
    if (sounders.isEmpty()) {
        return &lives[QString()];
    }
    return sounders.contains(sounder) ? &lives[sounder] : nullptr;
}

const IonogramWindow::Live& IonogramWindow::ShownLive() const {
    static const Live kNone;
    const auto live = lives.find(ShownSounder());
    return live == lives.end() ? kNone : live->second;
}

void IonogramWindow::ChooseTab(int) {
    ShowLatest(); // another sounder's archive is paged from its latest sweep
}

void IonogramWindow::ShowSweep(const ionogram::IonogramSweep& shown, int columnBeingReceived) {
    Live* live = LiveOf(shown.sounder);
    if (live == nullptr) {
        return; // a sounder not followed
    }
    if (shown.startUtc != live->sweep.startUtc) {
        if (!live->sweep.frequenciesKhz.empty()) {
            live->previous = std::move(live->sweep);
        }
        live->scaled.reset();
    }
    live->sweep = shown;
    live->receiving = columnBeingReceived;
    if (archived || live != &ShownLive()) {
        return; // kept for ShowLatest, or for its tab
    }
    ShowChosenLive();
}

void IonogramWindow::ShowScaled(const ionogram::IonogramSweep& scaledSweep,
                                const ionogram::ScaledSweep& scaled) {
    Live* live = LiveOf(scaledSweep.sounder);
    if (live == nullptr || scaledSweep.startUtc != live->sweep.startUtc) {
        return;
    }
    live->scaled = scaled;
    if (!archived && live == &ShownLive()) {
        ShowScaledValues();
        Repaint();
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
    ShowChosenLive();
}

void IonogramWindow::ShowChosenLive() {
    setWindowTitle(ionogram::IonogramTitle(ShownLive().sweep));
    ShowScaledValues();
    Repaint();
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
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Ctrl+Tab and Ctrl+Shift+Tab: the next or the previous sounder's tab.
        if (event->modifiers().testFlag(Qt::ControlModifier) && sounderTabs->count() > 1) {
            const int step = event->key() == Qt::Key_Tab ? 1 : -1;
            sounderTabs->setCurrentIndex(
                (sounderTabs->currentIndex() + step + sounderTabs->count()) % sounderTabs->count());
        } else {
            QWidget::keyPressEvent(event);
        }
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

const ionogram::IonogramSweep& IonogramWindow::Shown() const {
    return archived ? *archived : ShownLive().sweep;
}

bool IonogramWindow::TableOfShownSounder(const QString& path) const {
    if (sounders.isEmpty()) {
        return true;
    }
    // "20261207-101638Z-c78-NAME.csv.gz": the chirp time has no "-", so what follows it is the
    // name, however many "-" it has itself.
    const QString name = QFileInfo(path).fileName();
    const qsizetype chirp = kStartNameLength + QStringLiteral("Z-c").size();
    const qsizetype afterChirp = name.indexOf(u'-', chirp);
    return afterChirp > 0 && name.mid(afterChirp) == SounderEnding(ShownSounder());
}

void IonogramWindow::Page(bool forward) {
    const ionogram::IonogramSweep& shown = Shown();
    // The day of the sweep on screen; before any sweep, today's.
    const QDate day = shown.startUtc.isValid() ? shown.startUtc.toUTC().date()
                                               : QDateTime::currentDateTimeUtc().date();
    const QString key = shown.startUtc.isValid() ? StartKey(shown) : QStringLiteral("~");
    QStringList tables = ionogram::ArchivedTables(folder, day);
    tables.removeIf([this](const QString& path) { return !TableOfShownSounder(path); });
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
    Repaint();
    Point(pointer);
}

void IonogramWindow::ShowScaledValues() {
    const std::optional<ionogram::ScaledSweep>& liveScaled = ShownLive().scaled;
    const ionogram::ScaledSweep* scaled = archived     ? &archivedScaled
                                          : liveScaled ? &*liveScaled
                                                       : nullptr;
    scaledValues->setText(scaled ? ScaledText(*scaled) : kNotScaled);
}

void IonogramWindow::Repaint() {
    pictureCurrent = false;
    canvas->update();
}

void IonogramWindow::Paint(QPainter& painter, const QRect& area) {
    const qreal ratio = canvas->devicePixelRatioF();
    const QSize pixels = area.size() * ratio;
    if (pictureCurrent && picture.size() != pixels) {
        // Being resized: the last picture stretched, the whole one once the size settles.
        painter.drawImage(area, picture);
        layout = ionogram::LayoutIonogram(area, canvas->fontMetrics().height(), Shown());
        if (stretchedTo != pixels) {
            stretchedTo = pixels;
            settled.start(); // counts from the last change of size, not the last paint
        }
        return;
    }
    if (!pictureCurrent) {
        picture = QImage(pixels, QImage::Format_RGB32);
        picture.setDevicePixelRatio(ratio);
        QPainter onPicture(&picture);
        onPicture.setFont(canvas->font());
        ionogram::IonogramPaintOptions options;
        const Live& live = ShownLive();
        options.receivingColumn = archived ? -1 : live.receiving;
        options.previous = live.previous && !archived ? &*live.previous : nullptr;
        layout =
            ionogram::PaintIonogram(onPicture, QRect(QPoint(0, 0), area.size()), Shown(), options);
        PaintMofMarks(onPicture);
        pictureCurrent = true;
    }
    painter.drawImage(area.topLeft(), picture);
}

void IonogramWindow::PaintMofMarks(QPainter& painter) const {
    const std::optional<ionogram::ScaledSweep>& liveScaled = ShownLive().scaled;
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
    const Live& live = ShownLive();
    const std::optional<ionogram::IonogramSweep>& previous = live.previous;
    const bool previousShown = !archived && previous &&
                               previous->delayFromMs == live.sweep.delayFromMs &&
                               previous->delayToMs == live.sweep.delayToMs;
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
