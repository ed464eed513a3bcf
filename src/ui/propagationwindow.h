#pragma once

// The day plot of the scaled sweeps, as the archive folder holds it: live, redrawn whenever a
// sweep of the day on screen is scaled, and any earlier day of the archive, chosen by date or
// day by day. Painted to the window's size from the day file, so it stays sharp at any size.

#include "ionogram/dayfile.h"
#include "ionogram/ionogram.h"
#include "ionogram/scaler.h"

#include <QDate>
#include <QImage>
#include <QWidget>
#include <functional>
#include <vector>

class QDateEdit;
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

    // Where the day files are read; the day on screen is read again.
    void SetArchiveFolder(const QString& folder);
    void SetIaruRegion(int region);
    QDate Day() const { return day; }

    QWidget* canvas = nullptr;
    QDateEdit* date = nullptr;
    QPushButton* previousDay = nullptr;
    QPushButton* nextDay = nullptr;
    QPushButton* todayButton = nullptr;
    // How many sweeps the day holds, or why it holds none.
    QLabel* summary = nullptr;

public slots:
    void ShowDay(const QDate& day);
    // A sweep was scaled (its rows already in the day file): its day is read again when on
    // screen, and the window moves on to a new day when it was showing the day that ended.
    void ShowScaled(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled);

private:
    friend class DayPlotCanvas;
    void Reload();
    void Paint(QPainter& painter, const QRect& area);

    std::function<QDate()> today;
    QString folder;
    int region;
    QDate day;
    bool following = true; // the day shown is today's: a new day's sweep moves it on
    std::vector<ionogram::DayRow> rows;
    QImage picture; // rows painted at the canvas's size, made again when either changes
};
