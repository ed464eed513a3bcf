#include "support/gzip.h"

#include "ionogram/archive.h"

QByteArray Gunzip(const QByteArray& data) {
    return ionogram::Gunzip(data).value_or(QByteArray());
}
