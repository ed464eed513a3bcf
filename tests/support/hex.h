#pragma once

// Bytes written the way CI-V frames are written in documents and logs: "FE FE 00 4D 05 ... FD".

#include <QByteArray>
#include <QString>

QByteArray hex(const char* spaced);
QString toHex(const QByteArray& bytes); // "FE FE 00 ..." upper case, one blank between bytes
