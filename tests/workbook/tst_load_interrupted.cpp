// The load cut off and run again: kalder-load is killed once rows have been committed, then
// run again to the end; tblData must be the same, row for row, as after one uninterrupted load.
// The workbook (150,000 rows, about 30 % repeated keys, more than one batch of commits) is made
// by the committed generator as .csv, since an .xls sheet goes into the table in one batch.
#include "tests/support/load_process.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

using namespace kalder::test;
const QString Tool = LoadTool;
constexpr int DataRows = 150000;

QStringList query(const QString& path, const QString& sql) { return queryFile(path, sql); }

} // namespace

class TstLoadInterrupted : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void killedLoadRunAgainGivesTheSameTable();
    void previewAndUndoFromTheCommandLine();
    void killedUndoLeavesOneOfTheTables();

private:
    QString makeDatabase(const QString& name);
    QStringList arguments(const QString& db) const;
    QTemporaryDir m_dir;
    QString m_workbook;
};

void TstLoadInterrupted::initTestCase()
{
    QVERIFY(QFileInfo(Tool).isExecutable());
    m_workbook = m_dir.filePath(u"big.csv"_s);
    if (!makeBigCsv(m_workbook, DataRows))
        QSKIP("the workbook generator needs /usr/bin/python3");
}

QString TstLoadInterrupted::makeDatabase(const QString& name) { return makeLoadDatabase(m_dir.filePath(name)); }

QStringList TstLoadInterrupted::arguments(const QString& db) const { return loadArguments(db, m_workbook, DataRows); }

void TstLoadInterrupted::killedLoadRunAgainGivesTheSameTable()
{
    const QString dump = u"SELECT id, Код, quote(Мин), quote(Макс) FROM tblData ORDER BY id"_s;

    const QString whole = makeDatabase(u"whole.db"_s);
    QProcess once;
    once.start(Tool, arguments(whole));
    QVERIFY(once.waitForFinished(-1));
    QCOMPARE(once.exitCode(), 0);
    const QString output = QString::fromUtf8(once.readAllStandardOutput());
    QVERIFY2(output.contains(u"information\tKalder\tОбработка данных успешно завершена"_s), qPrintable(output));
    const QStringList expected = query(whole, dump);
    QVERIFY(expected.size() > DataRows / 2);

    // Killed as soon as a batch is in the table.
    const QString cut = makeDatabase(u"cut.db"_s);
    QProcess killed;
    killed.start(Tool, arguments(cut));
    QVERIFY(killed.waitForStarted(-1));
    int seen = 0;
    while (killed.state() == QProcess::Running) {
        seen = query(cut, u"SELECT count(*) FROM tblData"_s).value(0).toInt();
        if (seen > 0) {
            killed.kill();
            break;
        }
        QThread::msleep(5);
    }
    QVERIFY(killed.waitForFinished(-1));
    QCOMPARE(killed.exitStatus(), QProcess::CrashExit);
    const int stored = query(cut, u"SELECT count(*) FROM tblData"_s).value(0).toInt();
    QVERIFY2(stored > 0 && stored < expected.size(), qPrintable(QString::number(stored)));

    QProcess again;
    again.start(Tool, arguments(cut));
    QVERIFY(again.waitForFinished(-1));
    QCOMPARE(again.exitCode(), 0);
    const QString last = QString::fromUtf8(again.readAllStandardOutput()).trimmed().split(QLatin1Char('\n')).last();
    QCOMPARE(last, u"counts\t%1\t%2"_s.arg(expected.size()).arg(expected.size() - stored));
    QCOMPARE(query(cut, dump), expected);
}

void TstLoadInterrupted::previewAndUndoFromTheCommandLine()
{
    const QString dump = u"SELECT id, Код, quote(Мин), quote(Макс) FROM tblData ORDER BY id"_s;
    const QString db = makeDatabase(u"cli.db"_s);
    const auto run = [&](const QStringList& more) {
        QProcess p;
        p.start(Tool, more);
        if (!p.waitForFinished(-1) || p.exitCode() != 0)
            return QStringList{u"exit %1"_s.arg(p.exitCode())};
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(QLatin1Char('\n'));
    };
    // the preview prints its totals and writes nothing
    const QStringList preview = run(arguments(db) << u"--preview"_s);
    QCOMPARE(query(db, u"SELECT count(*) FROM tblData"_s), QStringList{u"0"_s});
    const QString totals = preview.filter(QRegularExpression(u"^totals\t"_s)).value(0);
    QVERIFY2(!totals.isEmpty(), qPrintable(preview.join(u"\n"_s)));
    const QStringList t = totals.split(QLatin1Char('\t'));
    QCOMPARE(t.value(1), QString::number(DataRows)); // rows read
    QCOMPARE(t.value(6), u"0"_s); // none the load cannot take

    QVERIFY(run(arguments(db)).join(u"\n"_s).contains(u"Обработка данных успешно завершена"_s));
    QCOMPARE(t.value(3), query(db, u"SELECT count(*) FROM tblData"_s).value(0)); // the records the preview foresaw

    const QStringList undone = run({u"--db"_s, db, u"--undo"_s});
    QVERIFY2(undone.value(0).startsWith(u"question\tKalder\tОтменить загрузку"_s), qPrintable(undone.join(u"\n"_s)));
    QVERIFY2(undone.join(u"\n"_s).contains(u"information\tKalder\tЗагрузка отменена"_s),
             qPrintable(undone.join(u"\n"_s)));
    QCOMPARE(query(db, dump), QStringList{});
    QCOMPARE(run({u"--db"_s, db, u"--undo"_s, u"--preview"_s}), QStringList{u"exit 2"_s}); // bad usage
}

void TstLoadInterrupted::killedUndoLeavesOneOfTheTables()
{
    // The undo is one transaction: killed at any moment, it leaves the loaded table or the
    // table before the load, never a part of either.
    const QString dump = u"SELECT id, Код, quote(Мин), quote(Макс) FROM tblData ORDER BY id"_s;
    const QStringList before{u"1|ART-0000011|1.0|2.0"_s};
    for (const int delay : {0, 40, 120, 400}) {
        const QString db = makeLoadDatabase(m_dir.filePath(u"undo%1.db"_s.arg(delay)),
                                            {u"INSERT INTO tblData (Код, Мин, Макс) VALUES ('ART-0000011', 1, 2)"_s});
        QProcess load;
        load.start(Tool, arguments(db));
        QVERIFY(load.waitForFinished(-1));
        const QStringList loaded = query(db, dump);
        QProcess undo;
        undo.start(Tool, {u"--db"_s, db, u"--undo"_s});
        QVERIFY(undo.waitForStarted(-1));
        QThread::msleep(static_cast<unsigned long>(delay));
        undo.kill();
        QVERIFY(undo.waitForFinished(-1));
        const QStringList now = query(db, dump);
        QVERIFY2(now == loaded || now == before, qPrintable(u"after %1 ms: %2 rows"_s.arg(delay).arg(now.size())));
    }
}

QTEST_GUILESS_MAIN(TstLoadInterrupted)
#include "tst_load_interrupted.moc"
