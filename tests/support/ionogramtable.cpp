#include "support/ionogramtable.h"

#include <QList>

Table ReadTable(const QByteArray& csv) {
    Table table;
    for (const QByteArray& line : csv.split('\n')) {
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> fields = line.split(',');
        std::vector<double> values;
        for (qsizetype i = 1; i < fields.size(); ++i) {
            values.push_back(fields[i].toDouble());
        }
        if (fields.first() == "frequency_khz") {
            table.delaysMs = values;
        } else {
            table.frequenciesKhz.push_back(fields.first().toDouble());
            table.snrDb.push_back(values);
        }
    }
    return table;
}
