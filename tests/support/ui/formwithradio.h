#pragma once

// The main window on a settings file, wired to a simulated radio at 4E, with a fake clock the
// test moves: arming at 10:00:00 and stepping the sweep's marks. Shared by the widget tests that
// drive a sweep.

#include "support/radiosimprocess.h"
#include "support/settingsfile.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"

#include <QLocale>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>

inline constexpr double kArmClock = 36000;    // 10:00:00
inline constexpr double kFirstStep = 36098.5; // first step for chirp time 78 armed at 10:00:00
inline constexpr int kParkHz = 2000000;
inline constexpr int kStepHz = 100000;
inline constexpr int kWaitMs = 10000; // generous upper bound for a round trip on a busy machine

inline int StepHz(int step) {
    return kParkHz + kStepHz * (step + 1);
}

// The set-frequency frame to the radio at 4E, written out digit by digit.
QString SetFrame(int hz);

// The main window on a settings file, wired to a simulated radio at 4E, with a fake clock.
struct FormWithRadio {
    QTemporaryDir dir;
    RadioSimProcess sim;
    std::atomic<double> now = kArmClock; // read on the station's thread too
    QString settingsFile;
    std::unique_ptr<Form1> form;
    QStringList shown; // every non-empty text written to the frequency display

    // Starts the radio and writes a settings file naming it (or `port`, when given).
    void StartRadio(const QStringList& args = {}, const QString& port = QString()) {
        const QString device = sim.Start(args);
        QVERIFY2(!device.isEmpty(), qPrintable(sim.ErrorString()));
        settingsFile = dir.filePath(QStringLiteral("Tavmirok.conf"));
        WriteSettingsFile(settingsFile, {.comPort = port.isEmpty() ? device : port,
                                         .radioAddress = QStringLiteral("78")});
    }
    void OpenWindow() {
        QLocale::setDefault(QLocale(QLocale::English)); // the display's digit grouping
        form = std::make_unique<Form1>(Form1::Options{[this] { return now.load(); }, settingsFile});
        QObject::connect(&form->Feed(), &StationFeed::DisplayText, form.get(),
                         [this](const QString& text) {
                             if (!text.isEmpty()) {
                                 shown << text;
                             }
                         });
        form->Load();
        form->show();
        QCoreApplication::processEvents(); // load-time messages show once the window is up
    }
    // Start at 10:00:00: the radio is parked at 2 MHz and the first step is due at 10:01:38.5.
    void Arm() {
        now = kArmClock;
        QTest::mouseClick(form->StartButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(form->Label3->text(), QStringLiteral("waiting..."), kWaitMs);
        QCOMPARE(form->Feed().Snap().nextStepTime, kFirstStep);
        QTRY_COMPARE_WITH_TIMEOUT(Frames().size(), 1, kWaitMs);
    }
    // Moves the clock to step k's half-second mark and waits until the step has been taken.
    void ClockToStep(int step) {
        now = kFirstStep + step;
        QTRY_COMPARE_WITH_TIMEOUT(form->Feed().Snap().stepHz, StepHz(step), kWaitMs);
    }
    // The same, and waits until the radio has received `frames` frames in all.
    void Step(int step, int frames) {
        ClockToStep(step);
        QTRY_COMPARE_WITH_TIMEOUT(Frames().size(), frames, kWaitMs);
    }
    // Every frame the radio received, in order, as hex.
    QStringList Frames() const {
        QStringList frames;
        for (const QString& line : sim.LogLines()) {
            const QString traffic = line.section(QLatin1Char(' '), 1);
            if (!traffic.startsWith(QLatin1String("stray")) &&
                !traffic.startsWith(QLatin1String("cut"))) {
                frames << traffic;
            }
        }
        return frames;
    }
    QString Stored(const QString& key) const { return StoredSetting(settingsFile, key); }
};

// Configure > Serial Port: types the port and speed and presses OK; true once the port opened.
inline bool ChoosePort(Form1& form, const QString& port, const QString& speed) {
    form.SerialPort->trigger();
    Form2* dialog = form.SerialPortDialog();
    dialog->Combo1->setEditText(port);
    dialog->Combo2->setEditText(speed);
    QSignalSpy told(&form.Feed(), &StationFeed::Connected);
    QTest::mouseClick(dialog->Command1, Qt::LeftButton);
    return QTest::qWaitFor([&told] { return !told.isEmpty(); }, kWaitMs) &&
           form.Feed().Snap().rig.connected;
}

// Configure > Radioaddress: types the address in hex and presses OK; returns once it is in force.
inline void ChooseAddress(Form1& form, const QString& hex) {
    form.RadioAddress->trigger();
    form.RadioDialog()->Text1->setText(hex);
    QTest::mouseClick(form.RadioDialog()->Command1, Qt::LeftButton);
    form.Feed().Sync();
}

// Runs a fixture step and leaves the test function when it failed.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed()) {                                                          \
            return;                                                                                \
        }                                                                                          \
    } while (false)
