// Loads that share their database with other writers, each as a process of its own: two
// kalder-load at once on one database, and another program that commits between the batches
// of a load. The table afterwards must be that of one of the serial orders, and every load
// must report success. Then databases that cannot be written, as a user without the right to.
#include "tests/support/load_process.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kalder::test;

namespace {

const QString Success = u"information\tKalder\tОбработка данных успешно завершена"_s;
const QString Writer = QStringLiteral(KALDER_SOURCE "/tests/workbook/concurrent_writer.py");
const QString Dump = u"SELECT Код, quote(Мин), quote(Макс) FROM tblData ORDER BY Код, Мин, Макс"_s;

// Runs a load to its end; its standard output.
QString load(const QString& db, const QString& workbook, int rows)
{
    QProcess p;
    p.start(LoadTool, loadArguments(db, workbook, rows));
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return u"exit %1: %2"_s.arg(p.exitCode()).arg(QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString writer(const QString& db, const QString& workbook, bool now)
{
    QProcess p;
    QStringList args{Writer, db, workbook};
    if (now)
        args.append(u"--now"_s);
    p.start(u"/usr/bin/python3"_s, args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return u"error: "_s + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

class TstLoadConcurrent : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void twoLoadsAtOnce();
    void writerBetweenBatches();
    void databaseThatCannotBeWritten_data();
    void databaseThatCannotBeWritten();

private:
    QTemporaryDir m_dir;
    QString m_first, m_second;
    static constexpr int Rows = 200000; // two batches of commits each
};

void TstLoadConcurrent::initTestCase()
{
    QVERIFY(QFileInfo(LoadTool).isExecutable());
    m_first = m_dir.filePath(u"first.csv"_s);
    m_second = m_dir.filePath(u"second.csv"_s);
    if (!makeBigCsv(m_first, Rows, 7) || !makeBigCsv(m_second, Rows, 8))
        QSKIP("the workbook generator needs /usr/bin/python3");
}

void TstLoadConcurrent::twoLoadsAtOnce()
{
    // The two workbooks share most of their keys, with other values.
    QStringList serial;
    for (const auto& [a, b] : {std::pair{m_first, m_second}, std::pair{m_second, m_first}}) {
        const QString db = makeLoadDatabase(m_dir.filePath(u"serial%1.db"_s).arg(serial.size()));
        QVERIFY(load(db, a, Rows).contains(Success));
        QVERIFY(load(db, b, Rows).contains(Success));
        serial.append(queryFile(db, Dump).join(QLatin1Char('\n')));
    }

    const QString db = makeLoadDatabase(m_dir.filePath(u"together.db"_s));
    QProcess one, two;
    one.start(LoadTool, loadArguments(db, m_first, Rows));
    two.start(LoadTool, loadArguments(db, m_second, Rows));
    QVERIFY(one.waitForFinished(-1) && two.waitForFinished(-1));
    for (QProcess* p : {&one, &two}) {
        QCOMPARE(p->exitCode(), 0);
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        QVERIFY2(out.contains(Success), qPrintable(out));
    }
    QCOMPARE(queryFile(db, u"SELECT count(*) = count(DISTINCT Код) FROM tblData"_s), QStringList{u"1"_s});
    const QString together = queryFile(db, Dump).join(QLatin1Char('\n'));
    QVERIFY2(serial.contains(together), "the table is that of neither serial order");
}

void TstLoadConcurrent::writerBetweenBatches()
{
    // The writer's serial orders: before the load, and after it.
    QStringList serial;
    {
        const QString db = makeLoadDatabase(m_dir.filePath(u"writer-first.db"_s));
        QVERIFY(!writer(db, m_first, true).startsWith(u"error"_s));
        QVERIFY(load(db, m_first, Rows).contains(Success));
        serial.append(queryFile(db, Dump).join(QLatin1Char('\n')));
    }
    {
        const QString db = makeLoadDatabase(m_dir.filePath(u"writer-last.db"_s));
        QVERIFY(load(db, m_first, Rows).contains(Success));
        QVERIFY(!writer(db, m_first, true).startsWith(u"error"_s));
        serial.append(queryFile(db, Dump).join(QLatin1Char('\n')));
    }

    const QString db = makeLoadDatabase(m_dir.filePath(u"writer-between.db"_s));
    QProcess other;
    other.start(u"/usr/bin/python3"_s, {Writer, db, m_first});
    QVERIFY(other.waitForStarted(-1));
    const QString out = load(db, m_first, Rows);
    QVERIFY2(out.contains(Success), qPrintable(out));
    QVERIFY(other.waitForFinished(-1));
    QCOMPARE(other.exitCode(), 0);
    const int atCommit = QString::fromUtf8(other.readAllStandardOutput()).trimmed().toInt();
    const int total = queryFile(db, u"SELECT count(*) FROM tblData"_s).value(0).toInt();
    // the writer committed while the load still had rows to write
    QVERIFY2(atCommit > 0 && atCommit < total, qPrintable(u"%1 of %2"_s.arg(atCommit).arg(total)));
    QCOMPARE(queryFile(db, u"SELECT count(*) = count(DISTINCT Код) FROM tblData"_s), QStringList{u"1"_s});
    QVERIFY2(serial.contains(queryFile(db, Dump).join(QLatin1Char('\n'))), "the table is that of neither serial order");
}

void TstLoadConcurrent::databaseThatCannotBeWritten_data()
{
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<bool>("fileWritable");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a file without the right to write") << true << false << u"доступна только для чтения"_s;
    QTest::newRow("a folder without the right to write") << false << true << u"Нет права записи в папку"_s;
}

void TstLoadConcurrent::databaseThatCannotBeWritten()
{
    // Permissions do not stop the superuser: as root the load runs as an unprivileged user.
    QFETCH(bool, folderWritable);
    QFETCH(bool, fileWritable);
    QFETCH(QString, expected);
    QStringList runAs;
    if (geteuid() == 0) {
        if (QStandardPaths::findExecutable(u"setpriv"_s).isEmpty())
            QSKIP("running as root without setpriv: no user for whom the permissions hold");
        runAs = {u"setpriv"_s, u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s, u"--"_s};
    }
    QTemporaryDir top;
    QFile::setPermissions(top.path(), QFile::permissions(top.path()) | QFile::ExeOther | QFile::ReadOther);
    const QString folder = top.filePath(u"db"_s);
    QVERIFY(QDir().mkdir(folder));
    const QString db = makeLoadDatabase(folder + u"/data.db"_s);
    const QString workbook = top.filePath(u"small.csv"_s);
    QVERIFY(QFile::copy(m_first, workbook));
    QFile::setPermissions(workbook, QFile::ReadOwner | QFile::ReadOther);
    const QFile::Permissions read = QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup;
    const QFile::Permissions all = read | QFile::WriteOwner | QFile::WriteOther | QFile::WriteGroup;
    const QFile::Permissions enter = QFile::ExeOwner | QFile::ExeOther | QFile::ExeGroup;
    QFile::setPermissions(db, fileWritable ? all : read);
    QFile::setPermissions(folder, (folderWritable ? all : read) | enter);

    QProcess p;
    const QStringList args = loadArguments(db, workbook, 1000);
    if (runAs.isEmpty())
        p.start(LoadTool, args);
    else
        p.start(runAs.takeFirst(), runAs + QStringList{LoadTool} + args);
    QVERIFY(p.waitForFinished(-1));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QFile::setPermissions(folder, all | enter);
    if (p.exitCode() != 0 && out.isEmpty())
        QSKIP(qPrintable(u"kalder-load cannot run as an unprivileged user here: "_s +
                         QString::fromUtf8(p.readAllStandardError())));
    QVERIFY2(out.contains(u"exclamation\txls_DataUpdate\t"_s) && out.contains(expected) && out.contains(db),
             qPrintable(out));
    QVERIFY2(!out.contains(Success), qPrintable(out));
    QCOMPARE(queryFile(db, u"SELECT count(*) FROM tblData"_s), QStringList{u"0"_s});
}

QTEST_GUILESS_MAIN(TstLoadConcurrent)
#include "tst_load_concurrent.moc"
