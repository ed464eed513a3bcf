#include "ui/propagationwindow.h"

#include "ionogram/dayplot.h"

#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The first size and the least, in lines of the font: room for the plot's 24 hours and bands.
constexpr int kWidthLines = 64;
constexpr int kHeightLines = 38;
constexpr int kMinimumWidthLines = 36;
constexpr int kMinimumHeightLines = 20;

} // namespace

// The painted day plot; the window paints it.
class DayPlotCanvas : public QWidget {
public:
    explicit DayPlotCanvas(PropagationWindow* window) : QWidget(window), window(window) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        window->Paint(painter, rect());
    }

private:
    PropagationWindow* window;
};

PropagationWindow::PropagationWindow(QWidget* parent, std::function<QDate()> today)
    : QWidget(parent, Qt::Window), today(std::move(today)), region(ionogram::kDefaultIaruRegion) {
    setWindowTitle(QStringLiteral("Propagation"));
    previousDay = new QPushButton(QStringLiteral("&Previous day"), this);
    previousDay->setShortcut(Qt::Key_PageUp);
    nextDay = new QPushButton(QStringLiteral("&Next day"), this);
    nextDay->setShortcut(Qt::Key_PageDown);
    todayButton = new QPushButton(QStringLiteral("&Today"), this);
    todayButton->setShortcut(Qt::Key_End);
    date = new QDateEdit(this);
    date->setObjectName(QStringLiteral("date"));
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    date->setToolTip(QStringLiteral("The UTC day shown"));
    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    canvas = new DayPlotCanvas(this);
    canvas->setObjectName(QStringLiteral("canvas"));

    connect(previousDay, &QPushButton::clicked, this, [this] { ShowDay(day.addDays(-1)); });
    connect(nextDay, &QPushButton::clicked, this, [this] { ShowDay(day.addDays(1)); });
    connect(todayButton, &QPushButton::clicked, this, [this] { ShowDay(this->today()); });
    connect(date, &QDateEdit::dateChanged, this, &PropagationWindow::ShowDay);

    auto* buttons = new QHBoxLayout();
    buttons->addWidget(previousDay);
    buttons->addWidget(date);
    buttons->addWidget(nextDay);
    buttons->addWidget(todayButton);
    buttons->addWidget(summary, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(canvas, 1);
    const int line = fontMetrics().height();
    canvas->setMinimumSize(kMinimumWidthLines * line, kMinimumHeightLines * line);
    resize(kWidthLines * line, kHeightLines * line);
    ShowDay(this->today());
}

QDate PropagationWindow::DefaultToday() {
    return QDateTime::currentDateTimeUtc().date();
}

QString PropagationWindow::DaySummary(const std::vector<ionogram::DayRow>& rows, const QDate& day,
                                      const QString& folder) {
    QDateTime last;
    int sweeps = 0;
    for (const ionogram::DayRow& row : rows) {
        if (row.sweepStartUtc != last) { // a sweep's rows follow each other
            ++sweeps;
            last = row.sweepStartUtc;
        }
    }
    const QString dayText = day.toString(Qt::ISODate);
    if (sweeps == 0) {
        return QStringLiteral("No sweep scaled on %1 in %2.")
            .arg(dayText, QDir::toNativeSeparators(folder));
    }
    return QStringLiteral("%1 %2 scaled on %3, the last at %4 UTC")
        .arg(sweeps)
        .arg(sweeps == 1 ? QStringLiteral("sweep") : QStringLiteral("sweeps"))
        .arg(dayText, last.toUTC().toString(QStringLiteral("HH:mm:ss")));
}

void PropagationWindow::SetArchiveFolder(const QString& archiveFolder) {
    folder = archiveFolder;
    Reload();
}

void PropagationWindow::SetIaruRegion(int iaruRegion) {
    region = iaruRegion;
    picture = QImage();
    canvas->update();
}

void PropagationWindow::ShowDay(const QDate& shown) {
    if (!shown.isValid()) {
        return;
    }
    day = shown;
    following = day == today();
    const QSignalBlocker quiet(date); // the date edit follows without calling back
    date->setDate(day);
    nextDay->setEnabled(day < today());
    todayButton->setEnabled(day != today());
    Reload();
}

void PropagationWindow::ShowScaled(const ionogram::IonogramSweep& sweep,
                                   const ionogram::ScaledSweep&) {
    const QDate sweepDay = sweep.startUtc.toUTC().date();
    if (sweepDay == day) {
        Reload();
    } else if (following && sweepDay > day) {
        ShowDay(sweepDay); // past midnight UTC: the new day's file, as the station writes it
    } else {
        nextDay->setEnabled(day < today());
        todayButton->setEnabled(day != today());
    }
}

void PropagationWindow::Reload() {
    rows = folder.isEmpty() ? std::vector<ionogram::DayRow>() : ionogram::ReadDayFile(folder, day);
    summary->setText(DaySummary(rows, day, folder));
    picture = QImage();
    canvas->update();
}

void PropagationWindow::Paint(QPainter& painter, const QRect& area) {
    if (picture.size() != area.size()) {
        picture = ionogram::RenderDayPlot(rows, day, region, area.size());
    }
    painter.drawImage(area.topLeft(), picture);
}
