#include "ui/propagationwindow.h"

#include "core/units.h"
#include "geo/pathmuf.h"
#include "ionogram/dayplot.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// The first size and the least, in lines of the font: room for the plot's 24 hours and bands.
constexpr int kWidthLines = 64;
constexpr int kHeightLines = 38;
constexpr int kMinimumWidthLines = 36;
constexpr int kMinimumHeightLines = 20;
constexpr double kLongestPathKm = 20000; // half the globe
constexpr int kAnswerLines = 2;          // the MUF answer's room, kept when the window is short
constexpr char kAskMyPath[] =
    "Type a locator (JN18eu), a latitude and longitude (48.86,2.37) or a distance in km (2000).";

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
    showFoF2 =
        new QCheckBox(QStringLiteral("Show &foF2 over the midpoints instead of the MOF"), this);
    showFoF2->setToolTip(QStringLiteral("foF2 over the midpoint of each path whose two ends "
                                        "are known, read from its scaled traces"));
    myPath = new QLineEdit(this);
    myPath->setObjectName(QStringLiteral("myPath"));
    myPath->setPlaceholderText(QStringLiteral("locator, LAT,LON or km"));
    myPathMuf = new QLabel(QString::fromLatin1(kAskMyPath), this);
    myPathMuf->setObjectName(QStringLiteral("myPathMuf"));
    myPathMuf->setWordWrap(true);
    myPathMuf->setTextInteractionFlags(Qt::TextSelectableByMouse);
    myPathMuf->setMinimumHeight(kAnswerLines * myPathMuf->fontMetrics().lineSpacing());
    audioDelay = new QLabel(this);
    audioDelay->setObjectName(QStringLiteral("audioDelay"));
    audioDelay->setWordWrap(true);
    audioDelay->setTextInteractionFlags(Qt::TextSelectableByMouse);
    audioDelay->hide();

    connect(previousDay, &QPushButton::clicked, this, [this] { ShowDay(day.addDays(-1)); });
    connect(nextDay, &QPushButton::clicked, this, [this] { ShowDay(day.addDays(1)); });
    connect(todayButton, &QPushButton::clicked, this, [this] { ShowDay(this->today()); });
    connect(date, &QDateEdit::dateChanged, this, &PropagationWindow::ShowDay);
    connect(showFoF2, &QCheckBox::toggled, this, [this] {
        picture = QImage();
        canvas->update();
    });
    connect(myPath, &QLineEdit::textChanged, this, &PropagationWindow::AnswerMyPath);

    auto* buttons = new QHBoxLayout();
    buttons->addWidget(previousDay);
    buttons->addWidget(date);
    buttons->addWidget(nextDay);
    buttons->addWidget(todayButton);
    buttons->addWidget(summary, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(canvas, 1);
    column->addWidget(showFoF2);
    auto* myPathBox = new QGroupBox(QStringLiteral("MUF for my path"), this);
    auto* myPathRow = new QHBoxLayout();
    auto* myPathLabel = new QLabel(QStringLiteral("&To:"), myPathBox);
    myPathLabel->setBuddy(myPath);
    myPathRow->addWidget(myPathLabel);
    myPathRow->addWidget(myPath);
    myPathRow->addStretch(1);
    auto* myPathColumn = new QVBoxLayout(myPathBox);
    myPathColumn->addLayout(myPathRow);
    myPathColumn->addWidget(myPathMuf);
    column->addWidget(myPathBox);
    column->addWidget(audioDelay);
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

QString PropagationWindow::PathMufText(const QString& asked,
                                       const std::optional<geo::Position>& station,
                                       const std::vector<ionogram::DayRow>& rows) {
    const QString typed = asked.trimmed();
    if (typed.isEmpty()) {
        return QString::fromLatin1(kAskMyPath);
    }
    geo::AskedPath path;
    QString km = typed;
    km.remove(QStringLiteral("km"), Qt::CaseInsensitive);
    bool isDistance = false;
    path.distanceKm = km.trimmed().toDouble(&isDistance);
    if (isDistance && !(path.distanceKm > 0 && path.distanceKm <= kLongestPathKm)) {
        return QStringLiteral("A distance lies between 1 and %1 km.").arg(kLongestPathKm);
    }
    if (!isDistance) {
        const geo::PositionText place = geo::ParsePosition(typed.toStdString());
        if (!place.position) {
            return QString::fromStdString(place.error) + ". " + kAskMyPath;
        }
        if (!station) {
            return QStringLiteral("Your station's position is not set, so the path to a place "
                                  "is unknown: type its distance in km instead, or set the "
                                  "station's locator (--locator, or Locator in the settings' "
                                  "group station).");
        }
        path.to = place.position;
    }
    // The latest reading of each path: its rows come in time order.
    std::vector<geo::MidpointReading> readings;
    std::vector<const ionogram::DayRow*> readFrom;
    for (const ionogram::DayRow& row : rows) {
        if (!row.path || !row.mode.endsWith('F') || std::isnan(row.fof2Mhz) ||
            std::isnan(row.m3000)) {
            continue;
        }
        const geo::MidpointReading reading{*row.path, row.fof2Mhz * units::kKilohertzPerMegahertz,
                                           row.m3000};
        auto same = std::find_if(readFrom.begin(), readFrom.end(), [&](const auto* earlier) {
            return earlier->sounder == row.sounder;
        });
        if (same == readFrom.end()) {
            readings.push_back(reading);
            readFrom.push_back(&row);
        } else {
            readings[same - readFrom.begin()] = reading;
            *same = &row;
        }
    }
    const geo::PathMuf muf = geo::MufForPath(station, path, readings);
    if (muf.reading < 0) {
        return QStringLiteral("No foF2 over a path's midpoint on this day yet: it comes from the "
                              "scaled sweeps of a sounder whose position is set, with the "
                              "station's.");
    }
    const ionogram::DayRow& row = *readFrom[muf.reading];
    const QString source = QStringLiteral("the midpoint of the path to %1 (foF2 %2 MHz at %3 UTC)")
                               .arg(row.sounder)
                               .arg(row.fof2Mhz, 0, 'f', 1)
                               .arg(row.sweepStartUtc.toUTC().toString(QStringLiteral("HH:mm")));
    const QString offset = QStringLiteral("%1 km from your path's midpoint%2")
                               .arg(std::round(muf.midpointOffsetKm))
                               .arg(path.to ? QString() : QStringLiteral(" along that path"));
    if (!muf.applies) {
        return QStringLiteral("The nearest reading, %1, lies %2: beyond %3 km the estimate does "
                              "not apply.")
            .arg(source, offset)
            .arg(geo::kFarthestMidpointKm);
    }
    return QStringLiteral("MUF about %1 MHz over %2 km (%3 %4), from %5, %6.")
        .arg(muf.mufKhz / units::kKilohertzPerMegahertz, 0, 'f', 1)
        .arg(std::round(muf.distanceKm))
        .arg(muf.hops)
        .arg(muf.hops == 1 ? QStringLiteral("hop") : QStringLiteral("hops"))
        .arg(source, offset);
}

void PropagationWindow::SetStationPosition(std::optional<geo::Position> position) {
    station = position;
    AnswerMyPath();
}

void PropagationWindow::AnswerMyPath() {
    myPathMuf->setText(PathMufText(myPath->text(), station, rows));
}

void PropagationWindow::ShowAudioDelaySuggestion(const QString& text) {
    audioDelay->setText(text);
    audioDelay->setVisible(!text.isEmpty());
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
    AnswerMyPath();
    picture = QImage();
    canvas->update();
}

void PropagationWindow::Paint(QPainter& painter, const QRect& area) {
    if (picture.size() != area.size()) {
        picture =
            ionogram::RenderDayPlot(rows, day, region, area.size(),
                                    showFoF2->isChecked() ? ionogram::DayQuantity::MidpointFoF2
                                                          : ionogram::DayQuantity::Mof);
    }
    painter.drawImage(area.topLeft(), picture);
}
