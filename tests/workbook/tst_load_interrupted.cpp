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

QStringList query(const QString& path, const QString& sql)
{
    return queryFile(path, sql);
}

} // namespace

class TstLoadInterrupted : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void killedLoadRunAgainGivesTheSameTable();

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

QString TstLoadInterrupted::makeDatabase(const QString& name)
{
    return makeLoadDatabase(m_dir.filePath(name));
}

QStringList TstLoadInterrupted::arguments(const QString& db) const
{
    return loadArguments(db, m_workbook, DataRows);
}

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

QTEST_GUILESS_MAIN(TstLoadInterrupted)
#include "tst_load_interrupted.moc"
