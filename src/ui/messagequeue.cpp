#include "ui/messagequeue.h"

#include <QCoreApplication>

MessageQueue::MessageQueue(QWidget* parentWindow) : parentWindow(parentWindow) {}

MessageQueue::~MessageQueue() {
    if (current) {
        current->deleteLater();
    }
}

void MessageQueue::Show(const QString& text) {
    if ((current && text == currentText) || waiting.contains(text)) {
        return;
    }
    waiting.append(text);
    if (!current) {
        ShowNext();
    }
}

void MessageQueue::Release() {
    held = false;
    if (!current) {
        ShowNext();
    }
}

void MessageQueue::Detach() {
    parentWindow = nullptr;
    held = false;
    if (current) {
        // A box of the closing window would close with it, and would not keep the program
        // running: it becomes a window of its own.
        const Qt::WindowFlags flags = current->windowFlags();
        current->setParent(nullptr, flags);
        current->show();
    }
}

void MessageQueue::ShowNext() {
    if (held || waiting.isEmpty()) {
        return;
    }
    currentText = waiting.takeFirst();
    auto* box = new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(),
                                currentText, QMessageBox::Ok, parentWindow);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QObject::destroyed, this, [this] {
        current = nullptr;
        currentText.clear();
        ShowNext();
    });
    current = box;
    box->show();
}
