#pragma once

// Failures shown to the user one at a time, each in a message box that does not block the event
// loop (a step waiting for the radio goes on while it is open). A text already shown or waiting
// is not queued again, so a failure that repeats does not stack boxes.

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>

class MessageQueue : public QObject {
    Q_OBJECT
public:
    explicit MessageQueue(QWidget* parentWindow);
    ~MessageQueue() override;

    void Show(const QString& text);
    // Messages wait while held (the window they belong to is not on screen yet); Release shows
    // the first of them.
    void Hold() { held = true; }
    void Release();
    // From now on boxes stand on their own, each a top-level window that keeps the program
    // running until it is closed (the main window has gone).
    void Detach();
    // The box on screen, if any (tests read it).
    QMessageBox* Current() const { return current; }
    const QStringList& Waiting() const { return waiting; }

private:
    void ShowNext();

    QPointer<QWidget> parentWindow;
    QPointer<QMessageBox> current;
    QString currentText;
    QStringList waiting;
    bool held = false;
};
