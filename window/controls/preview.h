// What a load rehearsed without writing found, as the preview window shows it.
#pragma once

#include <QList>
#include <QString>

#include <limits>

namespace kalder {

struct PreviewReport {
    // A record the load would add or widen; NaN where a value is not loaded or holds no number.
    struct Record {
        enum class Change { Added, Widened };
        QString key;
        Change change = Change::Added;
        double oldMin = std::numeric_limits<double>::quiet_NaN(), oldMax = std::numeric_limits<double>::quiet_NaN();
        double newMin = std::numeric_limits<double>::quiet_NaN(), newMax = std::numeric_limits<double>::quiet_NaN();
    };
    // A row the load could not take: a minimum or maximum that is no number, or a record the
    // table refuses.
    struct Rejection {
        qint64 row = 0;
        int column = 0; // 0: the row's record as a whole
        QString text; // the cell's displayed text, or the row's key
        QString reason;
    };

    qint64 rowsRead = 0; // the rows below the header row up to the last row
    qint64 rowsSkipped = 0; // of them, rows with an empty key
    qint64 added = 0, widened = 0, unchanged = 0;
    QList<Record> records; // the records added or widened
    QList<Rejection> rejections;
};

} // namespace kalder
