#pragma once

// The day plot of the scaled sweeps, as the archive folder holds it: live, redrawn whenever a
// sweep of the day on screen is scaled, and any earlier day of the archive, chosen by date or
// day by day. Painted to the window's size from the day file, so it stays sharp at any size. It
// shows the traces' MOF, or foF2 over each path's midpoint; and it answers "what MUF for my
// path?" from the latest foF2 over the nearest midpoint of the day shown.

#include "geo/position.h"
#include "ionogram/dayfile.h"
#include "ionogram/ionogram.h"
#include "ionogram/scaler.h"

#include <QDate>
#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QLabel;
class QPushButton;

class PropagationWindow : public QWidget {
    Q_OBJECT
public:
    // today: the current UTC date (the window opens on it and follows it with each sweep).
    explicit PropagationWindow(QWidget* parent = nullptr,
                               std::function<QDate()> today = DefaultToday);

    static QDate DefaultToday();

    // "12 sweeps scaled on 2026-12-07, the last at 19:04:20 UTC"; "No sweep scaled on
    // 2026-12-07 in FOLDER.".
    static QString DaySummary(const std::vector<ionogram::DayRow>& rows, const QDate& day,
                              const QString& folder);

    // The answer to "MUF for my path": asked is a locator, "LAT,LON" or a distance in km (from
    // station, which a place needs); rows are the day's, the latest reading of each path used.
    static QString PathMufText(const QString& asked, const std::optional<geo::Position>& station,
                               const std::vector<ionogram::DayRow>& rows);

    // Where the day files are read; the day on screen is read again.
    void SetArchiveFolder(const QString& folder);
    void SetStationPosition(std::optional<geo::Position> position);
    void SetIaruRegion(int region);
    QDate Day() const { return day; }

    QWidget* canvas = nullptr;
    QDateEdit* date = nullptr;
    QPushButton* previousDay = nullptr;
    QPushButton* nextDay = nullptr;
    QPushButton* todayButton = nullptr;
    // How many sweeps the day holds, or why it holds none.
    QLabel* summary = nullptr;
    // Checked: the plot shows foF2 over the midpoints instead of the MOF and LOF.
    QCheckBox* showFoF2 = nullptr;
    // MUF for my path: what the user types, and the answer.
    QLineEdit* myPath = nullptr;
    QLabel* myPathMuf = nullptr;
    // The audio delay the station suggests; hidden until it suggests one.
    QLabel* audioDelay = nullptr;

public slots:
    void ShowDay(const QDate& day);
    // A sweep was scaled (its rows already in the day file): its day is read again when on
    // screen, and the window moves on to a new day when it was showing the day that ended.
    void ShowScaled(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled);
    void ShowAudioDelaySuggestion(const QString& text);

private:
    friend class DayPlotCanvas;
    void Reload();
    void Paint(QPainter& painter, const QRect& area);
    void AnswerMyPath();

    std::function<QDate()> today;
    QString folder;
    int region;
    QDate day;
    bool following = true; // the day shown is today's: a new day's sweep moves it on
    std::optional<geo::Position> station;
    std::vector<ionogram::DayRow> rows;
    QImage picture; // rows painted at the canvas's size, made again when either changes
};
