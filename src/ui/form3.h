#pragma once

// The "Radio" dialog: edits the CI-V address of the radio, in hexadecimal, in the main
// station's `radioAdress`. A plain top-level window, so Enter and Esc never press OK.

#include "link/civ.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <optional>

class StationFeed;

class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(StationFeed& feed, QWidget* parent = nullptr);

    // The address the text spells in hexadecimal (blanks around it ignored), or why it is
    // not one: civ::ParseAddress.
    using Parsed = civ::ParsedAddress;
    static Parsed ParseAddress(const QString& text);

    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    // Why the typed address was refused; hidden until then.
    QLabel* addressProblem = nullptr;

private:
    void Load();
    void Command1Click();
    void ShowProblem(const QString& text);

    QPointer<StationFeed> feed;
};
