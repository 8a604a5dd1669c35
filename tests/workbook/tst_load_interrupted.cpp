// The load cut off and run again: kalder-load is killed once rows have been committed, then
// run again to the end; tblData must be the same, row for row, as after one uninterrupted load.
// The workbook (150,000 rows, about 30 % repeated keys, more than one batch of commits) is made
// by the committed generator as .csv, since an .xls sheet goes into the table in one batch.
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString Tool = QStringLiteral(KALDER_BINARY "/kalder-load");
constexpr int DataRows = 150000;

void exec(const QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
}

QStringList query(const QString& path, const QString& sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"probe"_s);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=30000"_s);
        if (!db.open())
            qFatal("cannot open %s", qPrintable(path));
        QSqlQuery q(db);
        if (q.exec(sql))
            while (q.next()) {
                QStringList cols;
                for (int i = 0; i < 4 && q.value(i).isValid(); ++i)
                    cols.append(q.value(i).toString());
                out.append(cols.join(QLatin1Char('|')));
            }
        else
            out.append(u"error: "_s + q.lastError().text());
    }
    QSqlDatabase::removeDatabase(u"probe"_s);
    return out;
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
    QProcess make;
    make.start(u"/usr/bin/python3"_s, {QStringLiteral(KALDER_SOURCE "/scripts/fixtures/make_load_big.py"), m_workbook,
                                        QString::number(DataRows)});
    if (!make.waitForFinished(-1) || make.exitCode() != 0)
        QSKIP("the workbook generator needs /usr/bin/python3 with python3-xlwt");
}

QString TstLoadInterrupted::makeDatabase(const QString& name)
{
    const QString path = m_dir.filePath(name);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"setup"_s);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot create %s", qPrintable(path));
        exec(db, u"CREATE TABLE tblData (id INTEGER PRIMARY KEY, Код TEXT, Мин REAL, Макс REAL, Дата TEXT)"_s);
        exec(db, u"CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER)"_s);
        db.close();
    }
    QSqlDatabase::removeDatabase(u"setup"_s);
    return path;
}

QStringList TstLoadInterrupted::arguments(const QString& db) const
{
    return {u"--locale"_s, u"C"_s, u"--db"_s, db, u"--workbook"_s, m_workbook, u"--header"_s, u"1"_s,
            u"--last"_s, QString::number(DataRows + 1), u"--link"_s, u"1:1:Код"_s, u"--link"_s, u"2:2:Мин"_s,
            u"--link"_s, u"3:3:Макс"_s};
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
