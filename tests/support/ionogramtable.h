#pragma once

// An archived ionogram's table read back, by the program's own reader, as plain numbers: its
// delays, its rows' frequencies and SNR values.

#include <QByteArray>
#include <vector>

struct Table {
    std::vector<double> delaysMs;
    std::vector<double> frequenciesKhz;
    std::vector<std::vector<double>> snrDb;
};

// The archive's table: "#" comments, the header of delays, one row per step; empty when it is
// not such a table.
Table ReadTable(const QByteArray& csv);
