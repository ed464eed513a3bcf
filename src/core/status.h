#pragma once

// Outcome of an operation that can fail, carrying a message written for the user: the whole
// message with its advice, and a short reason for places with room for a few words only (the
// status line). Handlers return it instead of throwing, so no exception crosses Qt's event loop.

#include <QString>
#include <utility>

class Status {
public:
    static Status Ok() { return Status(); }
    // reason: the gist in a few words ("there is no such device"); the message when empty.
    static Status Error(QString message, QString reason = QString()) {
        return Status(std::move(message), std::move(reason));
    }
    // What a request ends with once the program is closing and nothing more is sent.
    static Status Closing() {
        return Error(QStringLiteral("Tavmirok is closing; nothing more is sent."),
                     QStringLiteral("closing"));
    }

    bool IsOk() const { return !failed; }
    const QString& Message() const { return message; }
    const QString& Reason() const { return reason.isEmpty() ? message : reason; }

private:
    Status() = default;
    Status(QString text, QString shortReason)
        : failed(true), message(std::move(text)), reason(std::move(shortReason)) {}

    bool failed = false;
    QString message;
    QString reason;
};
