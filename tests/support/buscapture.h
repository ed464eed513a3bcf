#pragma once

// Recorded CI-V bus traffic (tests/data/*-bus.txt): one frame a line as hex bytes ("FE FE 94 E0
// 03 FD"), '#' starts a comment.

#include <QByteArray>
#include <QList>
#include <QString>

// The frames of the capture at path, in order. Empty, with a warning that says why, when the
// file cannot be read or a line is not whole hex bytes.
QList<QByteArray> ReadCaptureFrames(const QString& path);
