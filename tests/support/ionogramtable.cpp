#include "support/ionogramtable.h"

#include "ionogram/archive.h"

Table ReadTable(const QByteArray& csv) {
    Table table;
    const std::optional<ionogram::IonogramSweep> sweep = ionogram::ParseCsvText(csv);
    if (!sweep) {
        return table;
    }
    for (int cell = 0; cell < sweep->DelayCount(); ++cell) {
        table.delaysMs.push_back(sweep->DelayMs(cell));
    }
    table.frequenciesKhz = sweep->frequenciesKhz;
    for (const std::vector<float>& row : sweep->snrDb) {
        table.snrDb.emplace_back(row.begin(), row.end());
    }
    return table;
}
