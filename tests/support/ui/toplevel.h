#pragma once

// Finds and closes the top-level windows a widget test meets: the message boxes the program
// shows (modeless, so a test reads them while they are up) and the dialogs it opens.

#include <QApplication>
#include <QList>
#include <QStringList>
#include <QWidget>

class QMessageBox;

// The visible top-level windows of one kind, in the order Qt lists them.
template <typename Window> QList<Window*> VisibleWindows() {
    QList<Window*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Window*>(widget); window && window->isVisible()) {
            windows << window;
        }
    }
    return windows;
}

QList<QMessageBox*> VisibleMessageBoxes();

// The first visible message box, or nullptr when none is up.
QMessageBox* VisibleMessageBox();

QStringList VisibleMessageBoxTexts();

// The texts of every message box, taken one at a time as the user would close them: closing
// one lets the program show the next it has queued.
QStringList DrainMessages();

// Closes every message box, shown or not, and deletes those that delete themselves on close.
void CloseMessageBoxes();

// Closes every top-level window and deletes those that delete themselves on close.
void CloseAllWindows();
