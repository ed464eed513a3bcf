#pragma once

// The live ionogram: the sweep being received, column by column, over the last complete one,
// painted by the same function as the archive's picture and sized by the font, so it follows
// the screen's resolution. Pointing at a cell shows its frequency, delay and SNR underneath.
// While several sounders are followed, a tab for each chooses the one shown; each keeps its own
// sweeps, and the choice stays while the others' sweeps come in.

#include "ionogram/ionogram.h"
#include "ionogram/ionogramimage.h"
#include "ionogram/scaler.h"

#include <QImage>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <map>
#include <optional>

class QLabel;
class QPushButton;
class QTabBar;

class IonogramWindow : public QWidget {
    Q_OBJECT
public:
    explicit IonogramWindow(QWidget* parent = nullptr);

    // "7.300 MHz, delay 5.00 ms (1499 km), SNR 30.0 dB"; "no audio" in place of a NaN SNR.
    static QString DescribeCell(double frequencyKhz, double delayMs, float snrDb);
    // "1: MOF 13.45 MHz, 5.92 ms;  2: MOF 9.80 MHz, 11.40 ms"; "no trace".
    static QString ScaledText(const ionogram::ScaledSweep& scaled);

    // The MOF marks' colour, drawn under the plot's bottom edge pointing at it.
    static constexpr QRgb kMofMarkColour = 0xe41a1c;

    // Where the archive's tables are read from when paging.
    void SetArchiveFolder(const QString& folder);
    // The sounders followed, in their order: with two or more, a tab each chooses the one shown
    // (the one chosen stays where it is still followed), sweeps go to their sounder's tab and
    // paging keeps to its tables. With one or none, every sweep is shown, as from one sounder.
    void SetSounders(const QStringList& names);
    // The sounder whose sweeps are shown; empty with fewer than two followed.
    QString ShownSounder() const;

    // One tab per sounder followed (Ctrl+Tab: the next); hidden with fewer than two.
    QTabBar* sounderTabs = nullptr;

    // The scaled values of the sweep on screen.
    QLabel* scaledValues = nullptr;
    // Which sweep is shown when paging, or why there is none to page to.
    QLabel* paging = nullptr;
    QPushButton* previousButton = nullptr;
    QPushButton* nextButton = nullptr;
    QPushButton* latestButton = nullptr;

    // What the pointer is over; a hint while it is over no cell.
    QLabel* pointed = nullptr;
    // The picture itself.
    QWidget* canvas = nullptr;

public slots:
    // The sweep as it stands, columnBeingReceived marked (-1: none). A sweep with another start
    // than the one shown replaces it, and the one shown is kept as the last complete sweep.
    // While an archived sweep is paged to, the live one is kept and shown again by ShowLatest.
    void ShowSweep(const ionogram::IonogramSweep& sweep, int columnBeingReceived);
    // The scaled values of a sweep, shown when it is the live one on screen.
    void ShowScaled(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled);
    // The archived sweep of the day before (after) the one shown; after the last, the latest.
    void ShowPrevious();
    void ShowNext();
    void ShowLatest();

protected:
    // Page Up, Page Down and End page wherever the focus is in the window; Ctrl+Tab and
    // Ctrl+Shift+Tab choose the next and the previous sounder.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The live sweeps of one sounder (or of all, with fewer than two followed).
    struct Live {
        ionogram::IonogramSweep sweep;
        std::optional<ionogram::IonogramSweep> previous;
        int receiving = -1;
        std::optional<ionogram::ScaledSweep> scaled; // of sweep, once it is scaled
    };
    // Where a sweep of this sounder goes; nothing for a sounder not followed.
    Live* LiveOf(const QString& sounder);
    Live& ShownLive() { return lives[ShownSounder()]; }
    const Live& ShownLive() const;
    void ChooseTab(int index);
    // The live sweep of the sounder chosen, repainted with its title and values.
    void ShowChosenLive();
    // Whether an archived table of this day belongs to the sounder shown.
    bool TableOfShownSounder(const QString& path) const;

    // The sweep on screen: the archived one paged to, else the live one.
    const ionogram::IonogramSweep& Shown() const;
    void Page(bool forward);
    void ShowScaledValues();
    void PaintMofMarks(QPainter& painter) const;

    friend class IonogramCanvas;
    void Paint(QPainter& painter, const QRect& area);
    // The picture changed: painted afresh at the next paint.
    void Repaint();
    void Point(std::optional<QPoint> position);

    QStringList sounders;
    std::map<QString, Live> lives;   // by sounder; "" with fewer than two followed
    ionogram::IonogramLayout layout; // as last painted, for pointing
    // The picture as last painted whole. While the window is being resized it is only stretched
    // to the new size, and painted whole again once the size has settled: painting runs on the
    // thread that times the radio's tuning, so a resize must not paint the whole picture at every
    // step of the drag.
    QImage picture;
    bool pictureCurrent = false;
    QSize stretchedTo;
    QTimer settled;
    std::optional<QPoint> pointer;
    QString folder;
    std::optional<ionogram::IonogramSweep> archived;
    ionogram::ScaledSweep archivedScaled;
};
