#include "support/ui/toplevel.h"

#include <QMessageBox>

QList<QMessageBox*> VisibleMessageBoxes() {
    return VisibleWindows<QMessageBox>();
}

QMessageBox* VisibleMessageBox() {
    return VisibleMessageBoxes().value(0, nullptr);
}

QStringList VisibleMessageBoxTexts() {
    QStringList texts;
    for (QMessageBox* box : VisibleMessageBoxes()) {
        texts << box->text();
    }
    return texts;
}

QStringList DrainMessages() {
    QStringList texts;
    for (QList<QMessageBox*> shown = VisibleMessageBoxes(); !shown.isEmpty();
         shown = VisibleMessageBoxes()) {
        texts << shown.last()->text();
        shown.last()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return texts;
}

void CloseMessageBoxes() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            box->close();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void CloseAllWindows() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        widget->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
