// The keyed merge on real SQLite databases, on each of its paths (the stored keys in memory
// written in batches, the same written row by row under a trigger, the keys in a temporary
// index) and under each key comparison (BINARY, NOCASE, RTRIM, a key field that is not text,
// with or without an index of its own): the records are those the engine's own comparison
// gives, other writers are respected, and a refused record ends the merge at its own row.
#include "app/base/failure.h"
#include "db/connection.h"
#include "db/keyed_merge.h"
#include "tests/support/database.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;

namespace {

using test::Database;

const MergeFields KeyMinMax{u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s};

// The table of every path and key comparison: the key field's declaration, and whether the
// table has a trigger (which makes the merge write each row as it comes).
void addShapes()
{
    QTest::addColumn<QString>("keyType"); // the key field's declaration, after its name
    QTest::addColumn<bool>("trigger");
    for (const char* collation : {"BINARY", "NOCASE", "RTRIM"}) {
        const QString c = QString::fromLatin1(collation);
        QTest::addRow("%s, keys in memory, batches", collation) << u"TEXT COLLATE "_s + c << false;
        QTest::addRow("%s, keys in memory, row by row", collation) << u"TEXT COLLATE "_s + c << true;
        QTest::addRow("%s, keys in an index", collation) << u"COLLATE "_s + c << false;
    }
    for (const char* type : {"INTEGER", "NUMERIC"}) {
        QTest::addRow("%s key, keys in an index", type) << QString::fromLatin1(type) << false;
        QTest::addRow("%s key, keys in an index, trigger", type) << QString::fromLatin1(type) << true;
    }
}

// tblData of that shape, with a trigger that records each insert when asked for.
QString shapedTable(const QString& keyType, bool trigger)
{
    QString sql = test::dataTable(u"Key %1, MinV REAL, MaxV REAL"_s.arg(keyType));
    if (trigger)
        sql += u";\nCREATE TABLE seen (k TEXT);\n"
               u"CREATE TRIGGER t AFTER INSERT ON tblData BEGIN INSERT INTO seen VALUES (new.Key); END"_s;
    return sql;
}

} // namespace

class TstKeyedMerge : public QObject {
    Q_OBJECT
private slots:
    void keyComparison_data();
    void keyComparison();
    void keyFold_data();
    void keyFold();
    void anotherWriterBetweenBatches_data();
    void anotherWriterBetweenBatches();
    void refusedRecordAfterSeveralBatches();
    void refusalFoundWhenTheBatchIsWritten_data();
    void refusalFoundWhenTheBatchIsWritten();
    void triggerSeesEveryRow();
    void manyNewRecordsAtOnce();
};

void TstKeyedMerge::keyComparison_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("added");
    const QStringList nocase{u"'ABC'|0.0|200.0"_s, u"'7'|1.0|100.0"_s, u"'dup'|5.0|6.0"_s};
    const QString nocaseTable =
        u"CREATE TABLE tblData (Key TEXT COLLATE NOCASE, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES ('ABC', 10, 20)"_s;
    QTest::newRow("COLLATE NOCASE, no index") << nocaseTable << nocase << "2";
    QTest::newRow("COLLATE NOCASE, index") << nocaseTable + u";\nCREATE INDEX ik ON tblData (Key)"_s << nocase << "2";
    QTest::newRow("COLLATE NOCASE, unique index")
        << nocaseTable + u";\nCREATE UNIQUE INDEX ik ON tblData (Key)"_s << nocase << "2";

    const QStringList integer{u"7|1.0|100.0"_s, u"'abc'|1.0|100.0"_s, u"'dup'|5.0|6.0"_s, u"'ABC'|0.0|200.0"_s};
    const QString integerTable =
        u"CREATE TABLE tblData (Key INTEGER, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES (7, 10, 20)"_s;
    QTest::newRow("INTEGER key, no index") << integerTable << integer << "3";
    QTest::newRow("INTEGER key, index") << integerTable + u";\nCREATE INDEX ik ON tblData (Key)"_s << integer << "3";

    QTest::newRow("COLLATE RTRIM: trailing spaces of a stored key ignored")
        << u"CREATE TABLE tblData (Key TEXT COLLATE RTRIM, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES ('abc  ', 10, 20)"_s
        << QStringList{u"'abc  '|1.0|100.0"_s, u"'7'|1.0|100.0"_s, u"'dup'|5.0|6.0"_s, u"'ABC'|0.0|200.0"_s} << "3";
    QTest::newRow("untyped key field: no conversion, binary comparison")
        << u"CREATE TABLE tblData (Key, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES ('ABC', 10, 20), (7, 10, 20)"_s
        << QStringList{u"'ABC'|0.0|200.0"_s, u"7|10.0|20.0"_s, u"'abc'|1.0|100.0"_s, u"'7'|1.0|100.0"_s,
                       u"'dup'|5.0|6.0"_s}
        << "3";
    QTest::newRow("NUMERIC key with COLLATE NOCASE")
        << u"CREATE TABLE tblData (Key NUMERIC COLLATE NOCASE, MinV REAL, MaxV REAL);\n"
           "INSERT INTO tblData VALUES ('ABC', 10, 20), (7, 10, 20)"_s
        << QStringList{u"'ABC'|0.0|200.0"_s, u"7|1.0|100.0"_s, u"'dup'|5.0|6.0"_s} << "1";

    const QStringList twice{u"'dup'|5.0|20.0"_s, u"'dup'|10.0|20.0"_s, u"'abc'|1.0|100.0"_s, u"'7'|1.0|100.0"_s,
                            u"'ABC'|0.0|200.0"_s};
    const QString twiceTable =
        u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES ('dup', 10, 20), ('dup', 10, 20)"_s;
    QTest::newRow("one key stored twice, no index") << twiceTable << twice << "3";
    QTest::newRow("one key stored twice, index")
        << twiceTable + u";\nCREATE INDEX ik ON tblData (Key)"_s << twice << "3";
}

void TstKeyedMerge::keyComparison()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, expected);
    QFETCH(QString, added);
    Database db(sql);
    {
        // the rows of keys.xls, as the load merges them
        const auto merge = KeyedMerge::open(*db.state.DBConnection, KeyMinMax);
        merge->merge(u"abc"_s, 1, 100, 2);
        merge->merge(u"7"_s, 1, 100, 3);
        merge->merge(u"dup"_s, 5, 6, 4);
        merge->merge(u"ABC"_s, 0, 200, 5);
        merge->commit();
        QCOMPARE(QString::number(merge->committedAdded()), added);
    }
    QCOMPARE(db.rows(u"SELECT quote(Key), quote(MinV), quote(MaxV) FROM tblData ORDER BY rowid"_s), expected);
}

void TstKeyedMerge::keyFold_data() { addShapes(); }

void TstKeyedMerge::keyFold()
{
    // Keys that differ by case, by trailing spaces, by letters that no built-in collation
    // folds (Cyrillic, Greek, the signs next to the ASCII letters), or only in how a number is
    // written: the records must be those the engine's own grouping under the key field's
    // declaration gives.
    QFETCH(QString, keyType);
    QFETCH(bool, trigger);
    QStringList keys;
    for (char c = 'A'; c <= 'Z'; ++c)
        keys << QString(QLatin1Char(c)) << QString(QLatin1Char(char(c - 'A' + 'a')));
    keys << u"ZAZ"_s << u"zaz"_s << u"Zaz"_s << u"@"_s << u"["_s << u"`"_s << u"{"_s << u"Ёж"_s << u"ёж"_s << u"ЁЖ"_s
         << u"Яблоко"_s << u"яблоко"_s << u"ЯБЛОКО"_s << u"ß"_s << u"SS"_s << u"ss"_s << u"İ"_s << u"ı"_s << u"Σ"_s
         << u"σ"_s << u"ς"_s << u"zaz"_s << u"A"_s << u"7"_s << u"007"_s << u"7.0"_s << u"7"_s;
    const QStringList stored{u"zaz"_s, u"ёж"_s, u"k  "_s, u"Zaz "_s, u"q"_s, u"7"_s};

    QString sql = shapedTable(keyType, trigger);
    // every row, stored or merged, in order, for the engine to group under the same declaration
    sql += u";\nCREATE TABLE allRows (k %1, lo REAL, hi REAL)"_s.arg(keyType);
    for (const QString& k : stored)
        sql += u";\nINSERT INTO tblData VALUES ('%1', 100, 100);\nINSERT INTO allRows VALUES ('%1', 100, 100)"_s.arg(k);
    for (qsizetype i = 0; i < keys.size(); ++i)
        sql += u";\nINSERT INTO allRows VALUES ('%1', %2, %2)"_s.arg(keys[i]).arg(i + 1);
    Database db(sql);

    qint64 added = 0;
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, KeyMinMax, 16);
        for (qsizetype i = 0; i < keys.size(); ++i)
            merge->merge(keys[i], double(i + 1), double(i + 1), i + 2);
        merge->commit();
        added = merge->committedAdded();
    }
    const QStringList expected =
        db.rows(u"SELECT (SELECT k FROM allRows f WHERE f.k = g.k ORDER BY rowid LIMIT 1), min(lo), max(hi) "
                "FROM allRows g GROUP BY k ORDER BY 1 COLLATE BINARY"_s);
    QCOMPARE(db.rows(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY 1 COLLATE BINARY"_s), expected);
    QCOMPARE(added, qint64(expected.size() - stored.size()));
    if (trigger) // the trigger saw each record inserted once: the stored ones, then the new ones
        QCOMPARE(db.rows(u"SELECT count(*) FROM seen"_s), QStringList{QString::number(added + stored.size())});
}

void TstKeyedMerge::anotherWriterBetweenBatches_data() { addShapes(); }

void TstKeyedMerge::anotherWriterBetweenBatches()
{
    // Another connection commits between two batches of a merge: it adds a key the merge meets
    // only in its second batch, and widens a record the merge widens again. The table must be
    // that of one serial order: one record per key, and both widenings kept.
    QFETCH(QString, keyType);
    QFETCH(bool, trigger);
    Database db(shapedTable(keyType, trigger) + u";\nINSERT INTO tblData VALUES ('a', 10, 20)"_s);
    QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"other"_s);
    other.setDatabaseName(db.path);
    QVERIFY(other.open());
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, KeyMinMax, 2);
        merge->merge(u"a"_s, 5, 25, 2); // a: 5 / 25
        merge->merge(u"b"_s, 1, 1, 3); // one batch of two rows, committed
        QSqlQuery q(other);
        QVERIFY(q.exec(u"UPDATE tblData SET MinV = 1, MaxV = 99 WHERE Key = 'a'"_s));
        QVERIFY(q.exec(u"INSERT INTO tblData VALUES ('c', 7, 8)"_s));
        merge->merge(u"a"_s, 3, 30, 4); // must not raise 1 to 3 nor lower 99 to 30
        merge->merge(u"c"_s, 6, 9, 5); // widens the record the other connection added
        merge->commit();
        QCOMPARE(merge->committedAdded(), 1);
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(u"other"_s);
    QCOMPARE(db.rows(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY Key"_s),
             (QStringList{u"a|1|99"_s, u"b|1|1"_s, u"c|6|9"_s}));
}

void TstKeyedMerge::refusedRecordAfterSeveralBatches()
{
    // Batches of 3: the refusal of the 11th key comes after three commits and one open batch.
    Database db(u"CREATE TABLE tblData (Key TEXT CHECK (Key <> 'bad'), MinV REAL, MaxV REAL)"_s);
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, KeyMinMax, 3);
        for (int i = 1; i <= 10; ++i)
            QVERIFY(merge->merge(u"k%1"_s.arg(i, 2, 10, QLatin1Char('0')), i, std::nullopt));
        QVERIFY(!merge->merge(u"k01"_s, 0, 50)); // widens the record of the first batch
        const auto f = failureOf([&] { merge->merge(u"bad"_s, 1, 1); });
        QVERIFY(f);
        QVERIFY2(f->description().contains(u"bad"_s), qPrintable(f->description()));
        merge->commit();
        QCOMPARE(merge->committedAdded(), 10);
    }
    QStringList expected{u"k01|0|50"_s};
    for (int i = 2; i <= 10; ++i)
        expected.append(u"k%1|%2|0"_s.arg(i, 2, 10, QLatin1Char('0')).arg(i));
    QCOMPARE(db.rows(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY Key"_s), expected);
    // Nothing of the merge is left in the connection.
    QCOMPARE(db.rows(u"SELECT count(*) FROM temp.sqlite_master"_s), QStringList{u"0"_s});
}

void TstKeyedMerge::refusalFoundWhenTheBatchIsWritten_data()
{
    // A batch is written when it commits, each record once with the values of all its rows;
    // the table's refusal must still end the load at the row that would have been refused,
    // with every row before it merged and none after it.
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("failingRow");
    QTest::addColumn<QStringList>("stored");
    const QString table = u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL CHECK (MaxV < 100))"_s;
    // row 3 widens the new record of row 2 beyond the check; the record would be written
    // with 150 at once, but row 2 on its own is valid
    QTest::newRow("new record widened beyond a check") << table << 3 << QStringList{u"k1|5|30"_s};
    // a stored record widened beyond the check at row 4, after a valid widening at row 3
    QTest::newRow("stored record widened beyond a check")
        << table + u";\nINSERT INTO tblData VALUES ('k0', 10, 20)"_s << 4 << QStringList{u"k0|5|50"_s, u"k1|5|30"_s};
}

void TstKeyedMerge::refusalFoundWhenTheBatchIsWritten()
{
    QFETCH(QString, sql);
    QFETCH(int, failingRow);
    QFETCH(QStringList, stored);
    Database db(sql);
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, KeyMinMax, 1000);
        merge->merge(u"k1"_s, 5, 30, 2);
        if (failingRow == 3) {
            merge->merge(u"k1"_s, 6, 150, 3); // refused only when written
        } else {
            merge->merge(u"k0"_s, 5, 50, 3);
            merge->merge(u"k0"_s, 1, 500, 4);
        }
        merge->merge(u"k2"_s, 1, 2, 5); // after the refused row: never merged
        const auto f = failureOf([&] { merge->commit(); });
        QVERIFY(f);
        QCOMPARE(f->number(), err::fromSqlite(275)); // SQLITE_CONSTRAINT_CHECK
        QCOMPARE(merge->failedRow(), std::optional<qint64>(failingRow));
        merge->commit(); // the rows before the refused one
        QCOMPARE(merge->failedRow(), std::nullopt);
        QCOMPARE(merge->committedAdded(), 1);
    }
    QCOMPARE(db.rows(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY Key"_s), stored);
}

void TstKeyedMerge::triggerSeesEveryRow()
{
    // Under a trigger the rows are written as they come: it sees every insert and every widening.
    Database db(
        u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL);\n"
        u"CREATE TABLE seen (what TEXT, k TEXT, lo REAL, hi REAL);\n"
        u"CREATE TRIGGER t1 AFTER INSERT ON tblData BEGIN INSERT INTO seen VALUES ('i', new.Key, new.MinV, new.MaxV); "
        u"END;\n"
        u"CREATE TRIGGER t2 AFTER UPDATE ON TBLDATA BEGIN INSERT INTO seen VALUES ('u', new.Key, new.MinV, new.MaxV); END"_s);
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, KeyMinMax);
        merge->merge(u"a"_s, 5, 30);
        merge->merge(u"a"_s, 4, 30);
        merge->merge(u"b"_s, 1, 1);
        merge->merge(u"a"_s, 4, 31);
        merge->commit();
    }
    QCOMPARE(db.rows(u"SELECT what, k, lo, hi FROM seen ORDER BY rowid"_s),
             (QStringList{u"i|a|5|30"_s, u"u|a|4|30"_s, u"i|b|1|1"_s, u"u|a|4|31"_s}));
}

void TstKeyedMerge::manyNewRecordsAtOnce()
{
    // New records, and the widenings of stored ones, are written many to a statement. The row
    // ids of new records must still be the ones the widenings of later batches update, and a
    // refusal among them must still end the load at its own row.
    Database db(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL CHECK (MaxV < 1000));\n"
                u"INSERT INTO tblData VALUES ('old', 1, 2)"_s);
    const auto key = [](int i) { return u"k%1"_s.arg(i, 3, 10, QLatin1Char('0')); };
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, KeyMinMax, 150);
        for (int i = 1; i <= 300; ++i) // batches of 150 rows: 150 new records, then 150 more
            merge->merge(key(i), i, i, i);
        for (int i = 1; i <= 300; i += 2) // widens records of both batches
            merge->merge(key(i), -i, 500 + i, 300 + i);
        merge->commit();
        QCOMPARE(merge->committedAdded(), 300);
    }
    QStringList expected{u"1|old|1|2"_s};
    for (int i = 1; i <= 300; ++i)
        expected.append(u"%1|%2|%3|%4"_s.arg(i + 1).arg(key(i)).arg(i % 2 == 1 ? -i : i).arg(i % 2 == 1 ? 500 + i : i));
    QCOMPARE(db.rows(u"SELECT rowid, Key, MinV, MaxV FROM tblData ORDER BY rowid"_s), expected);

    Database refusing(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL CHECK (MaxV < 1000))"_s);
    {
        const auto merge = KeyedMerge::open(*refusing.state.DBConnection, KeyMinMax);
        for (int i = 1; i <= 200; ++i) // row 150 is refused when its statement is written
            merge->merge(key(i), i, i == 150 ? 5000 : i, i);
        const auto f = failureOf([&] { merge->commit(); });
        QVERIFY(f);
        QCOMPARE(merge->failedRow(), std::optional<qint64>(150));
        merge->commit();
        QCOMPARE(merge->committedAdded(), 149);
    }
    QCOMPARE(refusing.rows(u"SELECT count(*), max(Key) FROM tblData"_s), QStringList{u"149|k149"_s});
    {
        // the 100th widening of a stored record (row 249) is refused
        const auto merge = KeyedMerge::open(*refusing.state.DBConnection, KeyMinMax);
        for (int i = 1; i <= 149; ++i)
            merge->merge(key(i), 0, i == 100 ? 5000 : 900, 149 + i);
        const auto f = failureOf([&] { merge->commit(); });
        QVERIFY(f);
        QCOMPARE(merge->failedRow(), std::optional<qint64>(249));
        merge->commit();
    }
    QCOMPARE(refusing.rows(u"SELECT count(*), sum(MinV = 0), sum(MaxV = 900) FROM tblData"_s),
             QStringList{u"149|99|99"_s});
}

QTEST_GUILESS_MAIN(TstKeyedMerge)
#include "tst_keyed_merge.moc"
