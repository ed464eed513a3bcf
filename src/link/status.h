#pragma once

// Outcome of an operation that can fail, carrying a message written for the user.
// Handlers return it instead of throwing, so no exception ever crosses Qt's event loop.

#include <QString>
#include <utility>

class Status {
public:
    static Status Ok() { return Status(); }
    static Status Error(QString message) { return Status(std::move(message)); }

    bool IsOk() const { return !failed; }
    const QString& Message() const { return message; }

private:
    Status() = default;
    explicit Status(QString text) : failed(true), message(std::move(text)) {}

    bool failed = false;
    QString message;
};
