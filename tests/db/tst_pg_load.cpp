// Loads into a PostgreSQL server of the test's own that only a server has to get right:
// several operators' processes loading one table at once (compared with every serial order
// of the same loads), a lock another load keeps past the bound, a server that goes away
// during a load, and the journal and the undo, which the server does not keep.
#include "app/base/failure.h"
#include "db/keyed_merge.h"
#include "db/load_journal.h"
#include "tests/support/engine_database.h"
#include "tests/support/load_form.h"
#include "tests/support/load_process.h"

#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <libpq-fe.h>
#include <thread>

using namespace kalder;
using namespace Qt::StringLiterals;
using test::EngineDatabase;
using test::Form;
using test::pgServer;

namespace {

const QString Fixtures = QStringLiteral(KALDER_FIXTURES "/load/");
const QString BigTables = u"CREATE TABLE \"tblData\" (id serial, \"Код\" text, \"Мин\" double precision, "
                          "\"Макс\" double precision, \"Дата\" text);\n"
                          "CREATE TABLE \"tblSettings\" (\"LastFileName\" text, \"StrNumWithCapt\" integer, "
                          "\"StrNumMAX\" integer)"_s;
const QString BigDump = u"SELECT \"Код\", \"Мин\", \"Макс\" FROM \"tblData\" ORDER BY \"Код\" COLLATE \"C\", id"_s;
const QString Plain =
    u"CREATE TABLE \"tblData\" (\"Key\" text, \"MinV\" double precision, \"MaxV\" double precision)"_s;
const QString Dump = u"SELECT \"Key\", \"MinV\", \"MaxV\" FROM \"tblData\" ORDER BY \"Key\""_s;
constexpr int Rows = 4000;
constexpr int Loads = 3;

} // namespace

class TstPgLoad : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { pgServer().stop(); }
    void loadsAtOnceEndAsASerialOrder_data();
    void loadsAtOnceEndAsASerialOrder();
    void keyComparedAsTheFieldCompares_data();
    void keyComparedAsTheFieldCompares();
    void numberKeyField();
    void keyWithACharacterTheServerCannotHold();
    void keyStoredByAnotherLoadMeanwhile();
    void lockKeptPastTheBound();
    void serverGoneDuringMerge();
    void serverGoneBeforeTheLoad();
    void noJournalOnTheServer();

private:
    QTemporaryDir m_dir;
    QStringList m_books;
};

void TstPgLoad::initTestCase()
{
    KALDER_REQUIRE_PG_SERVER();
    // Workbooks of overlapping keys: each repeats keys of its own and of the others.
    for (int i = 0; i < Loads; ++i) {
        const QString book = m_dir.filePath(u"book%1.csv"_s.arg(i));
        if (!test::makeBigCsv(book, Rows, 11 + i))
            QSKIP("the workbook generator (python3) cannot run here");
        m_books.append(book);
    }
}

void TstPgLoad::loadsAtOnceEndAsASerialOrder_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("no unique index: the loads take the table's lock") << BigTables;
    QTest::newRow("unique key: the server's upsert")
        << BigTables + u";\nCREATE UNIQUE INDEX ik ON \"tblData\" (\"Код\")"_s;
}

void TstPgLoad::loadsAtOnceEndAsASerialOrder()
{
    QFETCH(QString, sql);
    // Every serial order of the loads, each into a database of its own.
    QList<int> order(Loads);
    std::iota(order.begin(), order.end(), 0);
    QList<QStringList> serial;
    do {
        EngineDatabase db(u"postgres"_s, sql);
        for (int i : order) {
            QProcess p;
            p.start(test::LoadTool, test::loadArguments(db.location, m_books[i], Rows));
            QVERIFY(p.waitForFinished(-1));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        }
        serial.append(db.rows(BigDump));
    } while (std::next_permutation(order.begin(), order.end()));

    EngineDatabase db(u"postgres"_s, sql);
    QList<QProcess*> running;
    for (const QString& book : std::as_const(m_books)) {
        auto* p = new QProcess(this);
        p->start(test::LoadTool, test::loadArguments(db.location, book, Rows));
        running.append(p);
    }
    for (QProcess* p : std::as_const(running)) {
        QVERIFY(p->waitForFinished(-1));
        QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0, p->readAllStandardError().constData());
        delete p;
    }
    const QStringList together = db.rows(BigDump);
    QVERIFY(together.size() > Rows / 2); // the workbooks share most of their keys
    QVERIFY2(serial.contains(together), "the loads at once ended as no serial order of them");
}

void TstPgLoad::keyComparedAsTheFieldCompares_data()
{
    // The server compares keys by the key field's type and collation: the merge must find the
    // records a query on the field would find, stored before the load or added by it.
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("expected");
    const QString ci = u"CREATE COLLATION ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false);\n"_s;
    const QString table =
        u"CREATE TABLE \"tblData\" (\"Key\" %1, \"MinV\" double precision, \"MaxV\" double precision);\n"
        "INSERT INTO \"tblData\" VALUES ('%2', 10, 20)"_s;
    const QStringList caseless{u"abc|0|200"_s, u"dup|5|6"_s, u"x7|1|100"_s};
    QTest::newRow("case-insensitive collation")
        << ci + table.arg(u"text COLLATE ci"_s, u"ABC"_s) << QStringList{u"ABC|0|200"_s, u"dup|5|6"_s, u"x7|1|100"_s};
    QTest::newRow("case-insensitive collation, unique key")
        << ci + table.arg(u"text COLLATE ci"_s, u"ABC"_s) + u";\nCREATE UNIQUE INDEX ik ON \"tblData\" (\"Key\")"_s
        << QStringList{u"ABC|0|200"_s, u"dup|5|6"_s, u"x7|1|100"_s};
    QTest::newRow("case-insensitive collation, nothing stored")
        << ci + table.arg(u"text COLLATE ci"_s, u"zzz"_s) + u";\nDELETE FROM \"tblData\""_s << caseless;
    QTest::newRow("binary collation") << table.arg(u"text COLLATE \"C\""_s, u"ABC"_s)
                                      << QStringList{u"ABC|0|200"_s, u"abc|1|100"_s, u"dup|5|6"_s, u"x7|1|100"_s};
    QTest::newRow("fixed-width text: trailing spaces do not count")
        << table.arg(u"char(5)"_s, u"ABC"_s)
        << QStringList{u"ABC  |0|200"_s, u"abc  |1|100"_s, u"dup  |5|6"_s, u"x7   |1|100"_s};
}

void TstPgLoad::keyComparedAsTheFieldCompares()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, expected);
    EngineDatabase db(u"postgres"_s, sql);
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s});
        merge->merge(u"abc"_s, 1, 100, 2);
        merge->merge(u"x7"_s, 1, 100, 3);
        merge->merge(u"dup"_s, 5, 6, 4);
        merge->merge(u"ABC"_s, 0, 200, 5);
        merge->merge(u"dup "_s.trimmed(), 5, 6, 6);
        merge->commit();
    }
    QStringList got = db.rows(u"SELECT \"Key\", \"MinV\", \"MaxV\" FROM \"tblData\" ORDER BY \"Key\" COLLATE \"C\""_s);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    QCOMPARE(got, expected);
}

void TstPgLoad::numberKeyField()
{
    // A whole-number key field: "7" and "07" are one key; a text it cannot hold is refused at its row.
    EngineDatabase db(u"postgres"_s, u"CREATE TABLE \"tblData\" (\"Key\" integer, \"MinV\" double precision, "
                                     "\"MaxV\" double precision)"_s);
    const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s});
    merge->merge(u"7"_s, 5, 6, 2);
    merge->merge(u"07"_s, 1, 9, 3);
    merge->merge(u"x"_s, 1, 1, 4);
    const auto f = failureOf([&] { merge->commit(); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::ServerRefused);
    QVERIFY2(f->description().contains(u"«x»"_s), qPrintable(f->description()));
    QCOMPARE(merge->failedRow(), std::optional<qint64>(4));
    merge->commit();
    QCOMPARE(db.rows(Dump), QStringList{u"7|1|9"_s});
}

void TstPgLoad::keyWithACharacterTheServerCannotHold()
{
    // A text on the server cannot hold the character 0: that row is refused, the rows before
    // it stay, and a check before a load lists it and goes on.
    EngineDatabase db(u"postgres"_s, Plain);
    const QString bad = u"b"_s + QChar(0) + u"c"_s;
    for (const bool rehearsal : {true, false}) {
        struct Refusals : MergeObserver {
            QList<qint64> rows;
            void refused(qint64 row, std::string_view, const Failure&) override { rows.append(row); }
        } refusals;
        MergeOptions options;
        options.rehearsal = rehearsal;
        options.observer = &refusals;
        const auto merge =
            KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s}, options);
        merge->merge(u"a"_s, 1, 2, 2);
        const auto f = failureOf([&] {
            merge->merge(bad, 1, 2, 3);
            merge->merge(u"d"_s, 1, 2, 4);
            merge->commit();
        });
        if (rehearsal) {
            QVERIFY(!f);
            QCOMPARE(refusals.rows, QList<qint64>{3});
            continue;
        }
        QVERIFY(f);
        QCOMPARE(f->number(), err::ServerRefused);
        QCOMPARE(merge->failedRow(), std::optional<qint64>(3));
        merge->commit();
    }
    QCOMPARE(db.rows(Dump), QStringList{u"a|1|2"_s});
}

void TstPgLoad::keyStoredByAnotherLoadMeanwhile()
{
    // Under a unique key: another connection stores a key of the batch and commits only while
    // the batch is being written. The batch then widens that record rather than failing.
    EngineDatabase db(u"postgres"_s, Plain + u";\nCREATE UNIQUE INDEX ik ON \"tblData\" (\"Key\")"_s);
    std::atomic<bool> inserted{false};
    std::thread other([&] {
        PGconn* c = PQconnectdb(
            qPrintable(u"host=%1 user=%2 dbname=%3"_s.arg(pgServer().socketDir(), test::PgServer::user(), db.name)));
        PQclear(PQexec(c, "BEGIN"));
        PQclear(PQexec(c, "INSERT INTO \"tblData\" VALUES ('k2', 5, 6)"));
        inserted = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        PQclear(PQexec(c, "COMMIT"));
        PQfinish(c);
    });
    while (!inserted)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::optional<Failure> f;
    qint64 added = -1;
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s});
        merge->merge(u"k1"_s, 1, 2, 2);
        merge->merge(u"k2"_s, 1, 100, 3);
        merge->merge(u"k3"_s, 3, 4, 4);
        f = failureOf([&] { merge->commit(); });
        added = merge->committedAdded();
    }
    other.join();
    QVERIFY2(!f, f ? qPrintable(f->text()) : "");
    QCOMPARE(added, 2);
    QCOMPARE(db.rows(Dump), (QStringList{u"k1|1|2"_s, u"k2|1|100"_s, u"k3|3|4"_s}));
}

void TstPgLoad::lockKeptPastTheBound()
{
    // Another load holds the table's lock; this one waits for the connection's bound and stops.
    EngineDatabase db(u"postgres"_s, Plain);
    db.state.DBConnection->setBusyTimeout(300);
    Connection other;
    other.Open(connectionStringFor(db.location));
    QSqlQuery hold(other.database());
    QVERIFY(hold.exec(u"BEGIN"_s));
    QVERIFY(hold.exec(
        u"SELECT pg_advisory_xact_lock(hashtextextended('kalder.load:' || to_regclass('\"tblData\"')::oid, 0))"_s));
    const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s}, 10);
    merge->merge(u"a"_s, 1, 2, 2);
    const auto f = failureOf([&] { merge->commit(); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::LockTimeout);
    QVERIFY2(f->description().contains(u"занята загрузкой другого оператора"_s), qPrintable(f->description()));
    QVERIFY(hold.exec(u"COMMIT"_s));
    QCOMPARE(db.rows(Dump), QStringList{});
}

void TstPgLoad::serverGoneDuringMerge()
{
    // Batches of 10: three are committed, the fourth is in hand when the server stops.
    EngineDatabase db(u"postgres"_s, Plain);
    std::optional<Failure> f;
    {
        const auto merge = KeyedMerge::open(*db.state.DBConnection, {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s}, 10);
        for (int i = 1; i <= 35; ++i)
            merge->merge(u"k%1"_s.arg(i, 2, 10, QLatin1Char('0')), i, 2 * i, i);
        QCOMPARE(merge->committedAdded(), 30);
        QVERIFY(pgServer().stop());
        f = failureOf([&] {
            for (int i = 36; i <= 50; ++i)
                merge->merge(u"k%1"_s.arg(i, 2, 10, QLatin1Char('0')), i, 2 * i, i);
            merge->commit();
        });
        QCOMPARE(merge->committedAdded(), 30);
        QCOMPARE(merge->failedRow(), std::nullopt); // no row's fault
    }
    QVERIFY(pgServer().start());
    QVERIFY(f);
    QCOMPARE(f->number(), err::ServerGone);
    QVERIFY2(f->description().contains(u"соединение с сервером базы данных потеряно"_s), qPrintable(f->description()));
    QStringList committed;
    for (int i = 1; i <= 30; ++i)
        committed.append(u"k%1|%2|%3"_s.arg(i, 2, 10, QLatin1Char('0')).arg(i).arg(2 * i));
    QCOMPARE(db.rows(Dump), committed);
}

void TstPgLoad::serverGoneBeforeTheLoad()
{
    // The window's load on a connection whose server has gone: one clear message.
    EngineDatabase db(u"postgres"_s, Plain);
    db.state.journalNoticeShown = true;
    QVERIFY(pgServer().stop());
    Form form({u"1:1:Key"_s, u"2:2:MinV"_s, u"3:3:MaxV"_s});
    const bool failed = form.update(db.state, Fixtures + u"fail.xls"_s, 1, 40, QLocale::c());
    QVERIFY(pgServer().start());
    QVERIFY(failed);
    QCOMPARE(form.dialogs.shown.size(), 1);
    QVERIFY2(form.dialogs.shown[0].text.endsWith(u" (%1)"_s.arg(err::ServerGone)),
             qPrintable(form.dialogs.shown[0].text));
    QCOMPARE(form.countNew.text(), u"0"_s);
}

void TstPgLoad::noJournalOnTheServer()
{
    EngineDatabase db(u"postgres"_s, Plain);
    Form form({u"1:1:Key"_s, u"2:2:MinV"_s, u"3:3:MaxV"_s});
    QCOMPARE(form.update(db.state, Fixtures + u"fail.xls"_s, 1, 11, QLocale::c()), false);
    QCOMPARE(form.dialogs.shown.size(), 1); // once a session, before the first load
    QVERIFY2(form.dialogs.shown[0].text.contains(u"на сервере PostgreSQL журнал загрузок не ведётся"_s),
             qPrintable(form.dialogs.shown[0].text));
    QCOMPARE(db.rows(u"SELECT count(*) FROM \"tblData\""_s), QStringList{u"10"_s});
    QCOMPARE(lastLoad(*db.state.DBConnection, u"tblData"_s), std::nullopt);
    QVERIFY(journalUnavailable(*db.state.DBConnection));
    // The command of the window says why.
    QProcess undo;
    undo.start(test::LoadTool, {u"--db"_s, db.location, u"--undo"_s});
    QVERIFY(undo.waitForFinished(-1));
    const QString said = QString::fromUtf8(undo.readAllStandardOutput());
    QVERIFY2(said.contains(u"Отмена загрузки невозможна: на сервере PostgreSQL журнал загрузок не ведётся"_s),
             qPrintable(said));
    const auto f = failureOf([&] { undoLastLoad(*db.state.DBConnection, u"tblData"_s); });
    QVERIFY(f);
    QVERIFY2(f->description().contains(u"невозможна"_s), qPrintable(f->description()));
    QCOMPARE(db.rows(u"SELECT count(*) FROM \"tblData\""_s), QStringList{u"10"_s});
}

QTEST_GUILESS_MAIN(TstPgLoad)
#include "tst_pg_load.moc"
