#pragma once

// Reads the archive's gzip files back in tests (the program writes them through zlib).

#include <QByteArray>

// The data inside a gzip stream (ionogram::Gunzip); empty when the stream is damaged or cut short.
QByteArray Gunzip(const QByteArray& data);
