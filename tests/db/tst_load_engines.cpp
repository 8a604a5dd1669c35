// The load's cases on both engines from one table, so that the engines cannot drift apart:
// each case runs on an SQLite file and on a database of a PostgreSQL server of the test's own
// (skipped, with the reason, where no server can run), with and without a unique index on the
// key field.
#include "app/base/failure.h"
#include "db/keyed_merge.h"
#include "tests/support/engine_database.h"
#include "tests/support/load_form.h"
#include "workbook/data_load.h"

#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;
using test::EngineDatabase;
using test::Form;
using test::pgServer;

namespace {

const QString Fixtures = QStringLiteral(KALDER_FIXTURES "/load/");
const QString Plain =
    u"CREATE TABLE \"tblData\" (\"Key\" TEXT, \"MinV\" DOUBLE PRECISION, \"MaxV\" DOUBLE PRECISION)"_s;
const QString Unique = u";\nCREATE UNIQUE INDEX ik ON \"tblData\" (\"Key\")"_s;
const QString Dump = u"SELECT \"Key\", \"MinV\", \"MaxV\" FROM \"tblData\" ORDER BY \"Key\""_s;
const QStringList All{u"1:1:Key"_s, u"2:3:MinV"_s, u"3:4:MaxV"_s};
const QStringList Three{u"1:1:Key"_s, u"2:2:MinV"_s, u"3:3:MaxV"_s};

// The keys of basic.xls as both engines order them (bytes: digits, upper case, quote).
const QStringList Basic{u"12345|1|2"_s, u"15.03.2023|1|2"_s, u"A-1|3|31"_s,   u"B-2|7|8"_s,
                        u"C-3|0|0"_s,   u"D-4|1.5|2.25"_s,   u"O'Brien|2|2"_s};

QStringList firstRows(int n, int from = 1)
{
    QStringList out;
    for (int i = from; i < from + n; ++i)
        out.append(u"K%1|%2|%3"_s.arg(i, 3, 10, QLatin1Char('0')).arg(i).arg(2 * i));
    return out;
}

QString notNullTable(int stored)
{
    QString sql = u"CREATE TABLE \"tblData\" (\"Key\" TEXT, \"Name\" TEXT NOT NULL, \"MinV\" DOUBLE PRECISION, "
                  "\"MaxV\" DOUBLE PRECISION)"_s;
    for (int i = 1; i <= stored; ++i)
        sql += u";\nINSERT INTO \"tblData\" VALUES ('K%1', 'x', %2, %3)"_s.arg(i, 3, 10, QLatin1Char('0'))
                   .arg(i)
                   .arg(2 * i);
    return sql;
}

} // namespace

// The server's cases need the server; the file's run anywhere.
#define requireEngine(engine)                                                                                          \
    do {                                                                                                               \
        if ((engine) == QLatin1String("postgres"))                                                                     \
            KALDER_REQUIRE_PG_SERVER();                                                                                \
    } while (false)

class TstLoadEngines : public QObject {
    Q_OBJECT
private slots:
    void cleanupTestCase() { pgServer().stop(); }
    void load_data();
    void load();
    void preview_data();
    void preview();
    void mergeKeysOfAnyCharacters_data();
    void mergeKeysOfAnyCharacters();
    void mergeRefusalAfterSeveralBatches_data();
    void mergeRefusalAfterSeveralBatches();
    void refusalFarIntoALargeBatch_data() { mergeRefusalAfterSeveralBatches_data(); }
    void refusalFarIntoALargeBatch();
};

void TstLoadEngines::load_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<int>("lastRow");
    QTest::addColumn<int>("sqliteNumber"); // the failure's number; 0: the load succeeds
    QTest::addColumn<int>("serverNumber");
    QTest::addColumn<int>("failingRow");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("countNew");

    struct Case {
        const char* name;
        QString sql, workbook;
        QStringList links;
        int lastRow, sqliteNumber, serverNumber, failingRow;
        QStringList expected;
        QString countNew;
    };
    const QString nulls =
        Plain + u";\nINSERT INTO \"tblData\" VALUES ('W1', 10, 20), ('N1', NULL, NULL), ('M1', 10, NULL)"_s;
    const QString check = u"CREATE TABLE \"tblData\" (\"Key\" TEXT, \"MinV\" DOUBLE PRECISION CHECK (\"MinV\" < 40), "
                          "\"MaxV\" DOUBLE PRECISION)"_s;
    const QList<Case> cases{
        {"keys with quotes, repeats and blanks", Plain, u"basic.xls"_s, All, 12, 0, 0, 0, Basic, u"7"_s},
        {"only the key loaded",
         Plain,
         u"basic.xls"_s,
         {u"1:1:Key"_s},
         12,
         0,
         0,
         0,
         {u"12345|NULL|NULL"_s, u"15.03.2023|NULL|NULL"_s, u"A-1|NULL|NULL"_s, u"B-2|NULL|NULL"_s, u"C-3|NULL|NULL"_s,
          u"D-4|NULL|NULL"_s, u"O'Brien|NULL|NULL"_s},
         u"7"_s},
        {"empty cells widen a stored record nothing",
         Plain + u";\nINSERT INTO \"tblData\" VALUES ('C-3', 2, 3)"_s,
         u"basic.xls"_s,
         All,
         12,
         0,
         0,
         0,
         {u"12345|1|2"_s, u"15.03.2023|1|2"_s, u"A-1|3|31"_s, u"B-2|7|8"_s, u"C-3|2|3"_s, u"D-4|1.5|2.25"_s,
          u"O'Brien|2|2"_s},
         u"6"_s},
        {"empty cells give a new record 0 beside stored ones",
         Plain + u";\nINSERT INTO \"tblData\" VALUES ('Z', 1, 1)"_s, u"basic.xls"_s, All, 12, 0, 0, 0,
         Basic + QStringList{u"Z|1|1"_s}, u"7"_s},
        {"Null minimum and maximum kept",
         nulls,
         u"widen.xls"_s,
         Three,
         8,
         0,
         0,
         0,
         {u"M1|10|NULL"_s, u"N1|NULL|NULL"_s, u"T1|5|30"_s, u"T2|5|30"_s, u"T3|15|15"_s, u"W1|5|30"_s},
         u"3"_s},
        {"a maximum that is no number half-way", Plain, u"fail.xls"_s, Three, 101, err::TypeMismatch, err::TypeMismatch,
         51, firstRows(49), u"49"_s},
        {"a record the table refuses (NOT NULL)", notNullTable(48), u"fail.xls"_s, Three, 101, err::fromSqlite(1299),
         err::ServerRefused, 50, firstRows(48), u"0"_s},
        {"a record the table refuses (CHECK)", check, u"fail.xls"_s, Three, 101, err::fromSqlite(275),
         err::ServerRefused, 41, firstRows(39), u"39"_s},
    };
    for (const QString& engine : test::Engines)
        for (const bool unique : {false, true})
            for (const Case& c : cases)
                QTest::newRow(qPrintable(
                    u"%1%2: %3"_s.arg(engine, unique ? u", unique key"_s : QString(), QString::fromUtf8(c.name))))
                    << engine << (unique ? c.sql + Unique : c.sql) << c.workbook << c.links << c.lastRow
                    << c.sqliteNumber << c.serverNumber << c.failingRow << c.expected << c.countNew;
}

void TstLoadEngines::load()
{
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    QFETCH(QString, workbook);
    QFETCH(QStringList, links);
    QFETCH(int, lastRow);
    QFETCH(int, sqliteNumber);
    QFETCH(int, serverNumber);
    QFETCH(int, failingRow);
    QFETCH(QStringList, expected);
    QFETCH(QString, countNew);
    requireEngine(engine);
    EngineDatabase db(engine, sql);
    db.state.journalNoticeShown = true; // the server keeps no journal; its notice is another test's
    Form form(links);
    const bool failed = form.update(db.state, Fixtures + workbook, 1, lastRow, QLocale::c());
    const int number = engine == QLatin1String("sqlite") ? sqliteNumber : serverNumber;
    QCOMPARE(failed, number != 0);
    if (number) {
        QCOMPARE(form.dialogs.shown.size(), 1);
        const QString text = form.dialogs.shown[0].text;
        QCOMPARE(form.dialogs.shown[0].title, u"xls_DataUpdate"_s);
        QVERIFY2(text.endsWith(u" (%1)"_s.arg(number)), qPrintable(text));
        QVERIFY2(text.contains(QString::number(failingRow)), qPrintable(text));
    } else {
        QCOMPARE(form.dialogs.texts(), QStringList{});
    }
    QCOMPARE(db.rows(Dump), expected);
    QCOMPARE(form.countNew.text(), countNew);
    QCOMPARE(form.pb.value(), 0.f);
    QCOMPARE(form.pointer.shape(), Pointer::Default);

    // Run again, it changes nothing: the load is idempotent.
    if (!number) {
        Form again(links);
        again.dialogs.replies = {true};
        QCOMPARE(again.update(db.state, Fixtures + workbook, 1, lastRow, QLocale::c()), false);
        QCOMPARE(db.rows(Dump), expected);
        QCOMPARE(again.countNew.text(), u"0"_s);
    }
}

void TstLoadEngines::preview_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("refused"); // records the table refuses, besides row 51's maximum
    const QString nullable = notNullTable(48).replace(u"NOT NULL"_s, QString());
    for (const QString& engine : test::Engines) {
        // K049..K100 are new but K050, whose row is rejected; K010 is widened back to 10
        QTest::newRow(qPrintable(engine)) << engine << nullable << 51 << 0;
        QTest::newRow(qPrintable(engine + u", unique key"_s)) << engine << nullable + Unique << 51 << 0;
        // a new record has no name: the table refuses each, and the check goes on
        QTest::newRow(qPrintable(engine + u", new records refused"_s)) << engine << notNullTable(48) << 0 << 51;
    }
}

void TstLoadEngines::preview()
{
    // The check before a load writes nothing, and tells what the load would do.
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    QFETCH(int, added);
    QFETCH(int, refused);
    requireEngine(engine);
    EngineDatabase db(engine, sql + u";\nUPDATE \"tblData\" SET \"MinV\" = 100 WHERE \"Key\" = 'K010'"_s);
    const QString all = u"SELECT \"Key\", \"Name\", \"MinV\", \"MaxV\" FROM \"tblData\" ORDER BY \"Key\""_s;
    const QStringList before = db.rows(all);
    Form form(Three);
    PreviewReport report;
    QCOMPARE(form.preview(db.state, Fixtures + u"fail.xls"_s, 1, 101, report, QLocale::c()), false);
    QCOMPARE(db.rows(all), before);
    QCOMPARE(report.rowsRead, 100);
    QCOMPARE(report.added, added);
    QCOMPARE(report.widened, 1);
    QCOMPARE(report.unchanged, 47);
    QCOMPARE(report.rejections.size(), 1 + refused);
    QVERIFY(std::any_of(report.rejections.cbegin(), report.rejections.cend(), [](const PreviewReport::Rejection& r) {
        return r.row == 51 && r.column == 3; // the maximum that is no number
    }));
    const auto k010 = std::find_if(report.records.cbegin(), report.records.cend(),
                                   [](const PreviewReport::Record& r) { return r.key == u"K010"_s; });
    QVERIFY(k010 != report.records.cend());
    QCOMPARE(k010->change, PreviewReport::Record::Change::Widened);
    QCOMPARE(k010->oldMin, 100.0);
    QCOMPARE(k010->newMin, 10.0);
    QCOMPARE(k010->newMax, 20.0);
}

void TstLoadEngines::mergeKeysOfAnyCharacters_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("sql");
    for (const QString& engine : test::Engines) {
        QTest::newRow(qPrintable(engine)) << engine << Plain;
        QTest::newRow(qPrintable(engine + u", unique key"_s)) << engine << Plain + Unique;
    }
}

void TstLoadEngines::mergeKeysOfAnyCharacters()
{
    // Keys that a bulk transfer must escape, into an empty table, then widened.
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    requireEngine(engine);
    EngineDatabase db(engine, sql);
    const QStringList keys{u"a\tb"_s, u"back\\slash"_s, u"line\nbreak"_s, u"\\N"_s,
                           u"cr\r"_s, u"ключ «1»"_s,    u"'; --"_s};
    for (const double shift : {0.0, 1.0}) {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s});
        for (int i = 0; i < keys.size(); ++i)
            merge->merge(keys[i], i - shift, i + 0.25 + shift, i + 2);
        merge->commit();
        QCOMPARE(merge->committedAdded(), shift == 0 ? keys.size() : 0);
    }
    QStringList expected;
    for (int i = 0; i < keys.size(); ++i)
        expected.append(u"%1|%2|%3"_s.arg(keys[i]).arg(i - 1).arg(i + 1.25));
    QStringList got = db.rows(Dump);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    QCOMPARE(got, expected);
}

void TstLoadEngines::mergeRefusalAfterSeveralBatches_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("sql");
    const QString table =
        u"CREATE TABLE \"tblData\" (\"Key\" TEXT CHECK (\"Key\" <> 'bad'), \"MinV\" DOUBLE PRECISION, "
        "\"MaxV\" DOUBLE PRECISION)"_s;
    for (const QString& engine : test::Engines) {
        QTest::newRow(qPrintable(engine)) << engine << table;
        QTest::newRow(qPrintable(engine + u", unique key"_s)) << engine << table + Unique;
    }
}

void TstLoadEngines::mergeRefusalAfterSeveralBatches()
{
    // Batches of 3: the refusal of the 11th key comes after three commits and one open batch;
    // every row before it stays, with the widening of a record of the first batch.
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    requireEngine(engine);
    EngineDatabase db(engine, sql);
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s}, 3);
        for (int i = 1; i <= 10; ++i)
            merge->merge(u"k%1"_s.arg(i, 2, 10, QLatin1Char('0')), i, std::nullopt, i);
        merge->merge(u"k01"_s, 0, 50, 11);
        std::optional<Failure> f = failureOf([&] { merge->merge(u"bad"_s, 1, 1, 12); });
        if (!f)
            f = failureOf([&] { merge->commit(); }); // found when the batch is written
        QVERIFY(f);
        QVERIFY2(f->description().contains(u"bad"_s), qPrintable(f->description()));
        QCOMPARE(merge->failedRow(), std::optional<qint64>(12));
        merge->commit();
        QCOMPARE(merge->committedAdded(), 10);
    }
    QStringList expected{u"k01|0|50"_s};
    for (int i = 2; i <= 10; ++i)
        expected.append(u"k%1|%2|0"_s.arg(i, 2, 10, QLatin1Char('0')).arg(i));
    QCOMPARE(db.rows(Dump), expected);
}

void TstLoadEngines::refusalFarIntoALargeBatch()
{
    // One batch of 2,500 rows whose row 2,202 the table refuses, after rows that widen records
    // of the same batch: the rows before it stay, exactly as if written one by one.
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    requireEngine(engine);
    EngineDatabase db(engine, sql);
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s});
        for (int row = 2; row <= 2501; ++row) {
            const int i = row % 1500; // rows 1502 on widen the records of rows 2 to 1001
            const auto f = failureOf([&] {
                merge->merge(row == 2202 ? u"bad"_s : u"k%1"_s.arg(i, 4, 10, QLatin1Char('0')), -row, row, row);
            });
            QVERIFY(!f);
        }
        const auto f = failureOf([&] { merge->commit(); });
        QVERIFY(f);
        QCOMPARE(merge->failedRow(), std::optional<qint64>(2202));
        merge->commit();
        QCOMPARE(merge->committedAdded(), 1500);
    }
    QStringList expected;
    for (int i = 0; i < 1500; ++i) {
        const int first = i < 2 ? i + 1500 : i; // keys 0 and 1 first come at rows 1500 and 1501
        const int last = first + 1500 <= 2201 ? first + 1500 : first;
        expected.append(u"k%1|%2|%3"_s.arg(i, 4, 10, QLatin1Char('0')).arg(-last).arg(last));
    }
    QStringList got = db.rows(Dump);
    QCOMPARE(got.size(), expected.size());
    QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(TstLoadEngines)
#include "tst_load_engines.moc"
