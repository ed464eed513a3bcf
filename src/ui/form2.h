#pragma once

// The "Serial Port" dialog: edits the station's port name and line speed and reopens the
// port with them. A plain top-level window, so Enter and Esc never press OK.

#include "core/status.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

class StationFeed;

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(StationFeed& feed, QWidget* parent = nullptr);

    // The serial devices the system reports, offered after COM1 to COM8.
    static QStringList SystemPorts();
    // Device names sorted so that numbered devices come in number order (/dev/ttyS2 before
    // /dev/ttyS10), each name once.
    static QStringList InNumberOrder(QStringList devices);

    QLabel* Label1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* Combo2 = nullptr;
    QPushButton* Command1 = nullptr;
    // Why the port did not open after OK; hidden until then.
    QLabel* portProblem = nullptr;

private:
    void Load();
    void Command1Click();
    void ShowProblem(const QString& text);
    // The outcome of the port opened after OK: the dialog closes, or says why not.
    void Opened(const Status& outcome, quint64 request);

    QPointer<StationFeed> feed;
    quint64 opening = 0; // the opening OK asked for, while it is under way
};
